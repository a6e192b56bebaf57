// Turns the coded blocks of one macroblock into dequantised DCT coefficients (intra
// macroblocks) or into the macroblock's residual (non-intra macroblocks), with the quantiser
// matrices scaled for the quantiser in force.
//
// Residual layout of a non-intra macroblock (signed 16-bit elements): elements 0 to 255 are
// the 16x16 luma residual, 16 per row. 4:2:0: chroma block k (4 Cb, 5 Cr) takes elements 64k
// to 64k + 63, 8 per row. 4:2:2: Cb is 8x16 from element 256 (block 4 the upper rows, block 6
// the lower ones) and Cr 8x16 from element 384 (blocks 5 and 7). With field DCT the luma blocks
// 0 and 1 hold the even rows and blocks 2 and 3 the odd rows; in 4:2:2 likewise chroma blocks
// 4 and 5 the even rows and 6 and 7 the odd rows.
#pragma once

#include <cstdint>

#include "decoder/coefficient_reader.h"
#include "input/bit_reader.h"
#include "primitives/ipp_types.h"

namespace d2u {

class CMpegVlcTables;
struct MpegHeaders;

class CBlockReconstructor {
public:
    CBlockReconstructor() = default;
    virtual ~CBlockReconstructor() = default;

    void Init(const CMpegVlcTables* tables) { vlcTables = tables; }
    // Matrices, scan, tables and formats may change from picture to picture: called before each,
    // once its headers are read. The record's matrices must stay while the picture decodes.
    void StartPicture(const MpegHeaders& headers);

    // Every coded block of a non-intra macroblock, block b coded when bit blocks - 1 - b of
    // `pattern` is set, into `residual` (layout above).
    int32_t ReadNonIntraMacroblock(BitReader& bits, uint32_t pattern, bool fieldDct,
                                   int32_t quantiser, int16_t* residual);
    // Every coded block of an intra macroblock (pattern as above), block b into
    // destination + 64 * b. dcPredictors: luma, Cb and Cr predictors. With `samples`, each block
    // goes into the picture there once read (IntraMacroblockBlocks).
    int32_t ReadIntraMacroblock(BitReader& bits, uint32_t pattern, int32_t quantiser,
                                int16_t* destination, int32_t* dcPredictors,
                                const IntraSamples* samples);

    static constexpr int32_t kBlocksPerMacroblock = 6;
    static constexpr int32_t kBlocksPerMacroblock422 = 8;

private:
    void ScaleNonIntraMatrices(int32_t quantiser);
    void ScaleIntraMatrices(int32_t quantiser);

    const CMpegVlcTables* vlcTables = nullptr;
    // The picture's scan and matrices (intra, non-intra, chroma intra, chroma non-intra).
    const uint32_t* scan = nullptr;
    const uint16_t* matrices[4] = {};
    bool chroma422 = false;
    alignas(16) int16_t scratch[64] = {};
    // The non-intra matrices scaled by scaledQuantiser (-1: none yet in this picture).
    ScaledMatrix scaledLuma = {};
    ScaledMatrix scaledChroma = {};
    int32_t scaledQuantiser = -1;
    // The intra matrices scaled by scaledIntraQuantiser.
    ScaledMatrix scaledIntraLuma = {};
    ScaledMatrix scaledIntraChroma = {};
    int32_t scaledIntraQuantiser = -1;
    // What every macroblock of the picture shares, set by StartPicture; null readers before.
    NonIntraMacroblockBlocks nonIntraBlocks = {};
    IntraMacroblockBlocks intraBlocks = {};
    NonIntraMacroblockReader readNonIntra = nullptr;
    IntraMacroblockReader readIntra = nullptr;
    const ResidualPlacement* placements[2] = {};  // by dct_type
};

}  // namespace d2u
