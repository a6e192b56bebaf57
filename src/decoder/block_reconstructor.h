// Turns the coded coefficients of one 8x8 block into dequantised DCT coefficients (intra
// blocks) or into the block's part of the macroblock residual (non-intra blocks).
//
// Residual layout of a non-intra macroblock (signed 16-bit elements): elements 0 to 255 are
// the 16x16 luma residual, 16 per row. 4:2:0: chroma block k (4 Cb, 5 Cr) takes elements 64k
// to 64k + 63, 8 per row. 4:2:2: Cb is 8x16 from element 256 (block 4 the upper rows, block 6
// the lower ones) and Cr 8x16 from element 384 (blocks 5 and 7). With field DCT the luma blocks
// 0 and 1 hold the even rows and blocks 2 and 3 the odd rows; in 4:2:2 likewise chroma blocks
// 4 and 5 the even rows and 6 and 7 the odd rows.
#pragma once

#include <cstdint>

#include "primitives/ipp_types.h"
#include "primitives/reconstruct_dct_block.h"

namespace d2u {

class CBitstreamDataSource;
class CMpegVlcTables;
struct MpegHeaders;

class CBlockReconstructor {
public:
    CBlockReconstructor() = default;
    virtual ~CBlockReconstructor() = default;

    int32_t Init(MpegHeaders* headers, CMpegVlcTables* tables, CBitstreamDataSource* source);

    // block: 0 to 3 luma, 4 Cb, 5 (and above) Cr. destination: 64 coefficients in raster
    // order. dcPredictors: luma, Cb and Cr predictors.
    int32_t ReconstructIntraMpeg1(int32_t block, int16_t* destination, int32_t* dcPredictors);
    int32_t ReconstructIntraMpeg2(int32_t block, int16_t* destination, int32_t* dcPredictors);
    // block: 0 to 5 (4:2:0) or 7 (4:2:2). residual: the macroblock's residual buffer (layout
    // above).
    int32_t ReconstructNonIntraMpeg1(int32_t block, int16_t* residual);
    int32_t ReconstructNonIntraMpeg2(int32_t block, int16_t* residual);
    // Every coded block of a non-intra macroblock, block b coded when bit blocks - 1 - b of
    // `pattern` is set; the same result as ReconstructNonIntraMpeg1/2 for each.
    int32_t ReconstructNonIntraMacroblock(uint32_t pattern, int16_t* residual);
    // Every coded block of an intra macroblock (pattern as above), block b into
    // destination + 64 * b; the same result as ReconstructIntraMpeg1/2 for each. With `samples`,
    // each block also goes into the picture there once read (IntraMacroblockBlocks).
    int32_t ReconstructIntraMacroblock(uint32_t pattern, int16_t* destination,
                                       int32_t* dcPredictors,
                                       const IntraSamples* samples = nullptr);
    // Matrices, scan, tables and formats may change from picture to picture: called before each,
    // once its headers are read.
    void StartPicture();

    static constexpr int32_t kBlocksPerMacroblock = 6;
    static constexpr int32_t kBlocksPerMacroblock422 = 8;

private:
    bool Ready() const { return dataSource && vlcTables && headers; }
    int32_t PlaceResidual(int32_t block, int16_t* residual);
    int32_t MaxBlocks() const;
    bool ChromaNonIntraMatrix(int32_t block) const;
    void ScaleNonIntraMatrices();
    void ScaleIntraMatrices();

    CBitstreamDataSource* dataSource = nullptr;
    CMpegVlcTables* vlcTables = nullptr;
    MpegHeaders* headers = nullptr;
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
