// The variable-length codes of the MPEG video slice and macroblock layers (ISO/IEC 13818-2,
// Tables B.1 to B.15), built once per stream into decode tables, with the decode operations
// of the macroblock layer at a reading position.
#pragma once

#include <cstdint>

#include "decoder/vlc_huffman.h"
#include "input/bit_reader.h"

namespace d2u {

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

    // Inline for the common codeword without escapes; the rest (escapes, bits of no
    // codeword) go through DecodeEscapedAddressIncrement.
    int32_t DecodeMacroblockAddressIncrement(BitReader& bits, int32_t* value) {
        const DirectTable& table = direct[kMacroblockAddressIncrement];
        if (table.codes && value) {
            const DirectCode code = table.codes[bits.Peek(table.longest)];
            if (code.length != 0) {
                bits.Skip(code.length);
                *value = code.value;
                return 0;
            }
        }
        return DecodeEscapedAddressIncrement(bits, value);
    }
    // Decodes one codeword with the table at `index` (0 to 10).
    int32_t Decode(BitReader& bits, int32_t* value, int32_t index);
    // macroblock_type of a picture_coding_type (1 I, 2 P, 3 B; other values as Decode).
    int32_t DecodeMacroblockType(BitReader& bits, int32_t* value, int32_t pictureCodingType) {
        if (pictureCodingType < kMacroblockTypeI || pictureCodingType > kMacroblockTypeB)
            return Decode(bits, value, pictureCodingType);
        return DecodeDirect(bits, value, pictureCodingType);
    }
    int32_t DecodeCodedBlockPattern(BitReader& bits, int32_t* value) {
        return DecodeDirect(bits, value, kCodedBlockPattern);
    }
    int32_t DecodeMotionCode(BitReader& bits, int32_t* value) {
        return DecodeDirect(bits, value, kMotionCode);
    }

    // One entry of the flat look-up tables of the macroblock-level codes (see below).
    struct DirectCode {
        int8_t value;
        uint8_t length;  // 0: no codeword (or the address escape): use Decode
    };
    // The macroblock_address_increment look-up, indexed by `longest` bits; the escape has
    // length 0. Null before Build.
    const DirectCode* AddressIncrementLookup(int32_t* longest) const {
        *longest = direct[kMacroblockAddressIncrement].longest;
        return direct[kMacroblockAddressIncrement].codes;
    }
    // The macroblock_type look-up of a picture_coding_type (1 I, 2 P, 3 B), indexed by
    // `longest` bits; null for other types and before Build.
    const DirectCode* MacroblockTypeLookup(int32_t pictureCodingType, int32_t* longest) const {
        if (pictureCodingType < kMacroblockTypeI || pictureCodingType > kMacroblockTypeB) {
            *longest = 0;
            return nullptr;
        }
        *longest = direct[pictureCodingType].longest;
        return direct[pictureCodingType].codes;
    }
    // The coded_block_pattern look-up, indexed by `longest` bits; null before Build.
    const DirectCode* CodedBlockPatternLookup(int32_t* longest) const {
        *longest = direct[kCodedBlockPattern].longest;
        return direct[kCodedBlockPattern].codes;
    }
    // The motion_code look-up, indexed by `longest` bits; null before Build.
    const DirectCode* MotionCodeLookup(int32_t* longest) const {
        *longest = direct[kMotionCode].longest;
        return direct[kMotionCode].codes;
    }

    const IppVCHuffmanSpec_32s* Table(int32_t index) const;
    // The constant input table behind each decode table, in the layout of the InitAlloc kernels.
    static const Ipp32s* InputTable(int32_t index);

private:
    // The macroblock-level codes (tables 0 to 5) are short: each gets a flat table indexed by
    // its longest codeword's worth of bits, so that one look-up decodes any codeword. Entries of
    // length 0 (the address escape, invalid bits) go through the general decode, which keeps
    // its statuses. Two bytes an entry keep the tables (5 KB together) in the first-level cache.
    static constexpr int32_t kDirectTableCount = kDctDcSizeLuminance;
    struct DirectTable {
        int32_t longest = 0;
        DirectCode* codes = nullptr;  // 1 << longest entries
    };
    void BuildDirectTable(int32_t index);
    int32_t DecodeEscapedAddressIncrement(BitReader& bits, int32_t* value);
    int32_t DecodeDirect(BitReader& bits, int32_t* value, int32_t index) {
        const DirectTable& table = direct[index];
        if (!table.codes || !value) return Decode(bits, value, index);
        const DirectCode code = table.codes[bits.Peek(table.longest)];
        if (code.length == 0) return Decode(bits, value, index);
        bits.Skip(code.length);
        *value = code.value;
        return 0;
    }

    IppVCHuffmanSpec_32s* tables[kTableCount] = {};
    DirectTable direct[kDirectTableCount];
};

}  // namespace d2u
