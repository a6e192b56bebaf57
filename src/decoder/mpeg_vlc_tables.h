// The variable-length codes of the MPEG video slice and macroblock layers (ISO/IEC 13818-2,
// Tables B.1 to B.15), built once per stream into decode tables, with the decode operations
// that the macroblock layer runs on the data source's shared bit position.
#pragma once

#include <cstdint>

#include "primitives/vlc_huffman.h"

namespace d2u {

class CBitstreamDataSource;

class CMpegVlcTables {
public:
    // Table indices. The macroblock_type tables sit at the picture_coding_type they serve.
    enum TableIndex : int32_t {
        kMacroblockAddressIncrement = 0,
        kMacroblockTypeI = 1,
        kMacroblockTypeP = 2,
        kMacroblockTypeB = 3,
        kCodedBlockPattern = 4,
        kMotionCode = 5,
        kDctDcSizeLuminance = 6,
        kDctDcSizeChrominance = 7,
        kDctCoefficientsFirst = 8,  // table zero, first coefficient of a non-intra block
        kDctCoefficientsZero = 9,   // table zero, every other coefficient
        kDctCoefficientsOne = 10,   // table one (intra_vlc_format 1)
        kTableCount = 11
    };

    // Value of the macroblock_escape codeword in the address increment table.
    static constexpr int32_t kAddressEscapeValue = 0xFFFF;
    // Status of an address increment with more escapes than any picture has macroblocks.
    static constexpr int32_t kTooManyEscapes = -1;

    CMpegVlcTables() = default;
    virtual ~CMpegVlcTables();
    CMpegVlcTables(const CMpegVlcTables&) = delete;
    CMpegVlcTables& operator=(const CMpegVlcTables&) = delete;

    int32_t Build();
    int32_t Free();
    void SetDataSource(CBitstreamDataSource* source) { dataSource = source; }

    int32_t DecodeMacroblockAddressIncrement(int32_t* value);
    // Decodes one codeword with the table at `index` (0 to 10).
    int32_t Decode(int32_t* value, int32_t index);
    int32_t DecodeCodedBlockPattern(int32_t* value);
    int32_t DecodeMotionCode(int32_t* value);

    const IppVCHuffmanSpec_32s* Table(int32_t index) const;
    // The constant input table behind each decode table, in the layout of the InitAlloc kernels.
    static const Ipp32s* InputTable(int32_t index);

private:
    IppVCHuffmanSpec_32s* tables[kTableCount] = {};
    CBitstreamDataSource* dataSource = nullptr;
};

}  // namespace d2u
