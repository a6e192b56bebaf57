#include "decoder/block_reconstructor.h"

#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_vlc_tables.h"
#include "input/bitstream_data_source.h"
#include "primitives/inverse_dct.h"
#include "primitives/reconstruct_dct_block.h"

namespace d2u {
namespace {

constexpr int32_t kFirstChromaBlock = 4;
constexpr int kLumaRowBytes = 16 * 2;
constexpr int kChromaRowBytes = 8 * 2;

bool IsLuma(int32_t block) {
    return block < kFirstChromaBlock;
}

// Index of the block's DC predictor: luma, Cb (even chroma blocks), Cr (odd ones).
int32_t PredictorIndex(int32_t block) {
    return IsLuma(block) ? 0 : ((block & 1) == 0 ? 1 : 2);
}

}  // namespace

int32_t CBlockReconstructor::Init(MpegHeaders* headerRecord, CMpegVlcTables* tables,
                                  CBitstreamDataSource* source) {
    headers = headerRecord;
    vlcTables = tables;
    dataSource = source;
    return 0;
}

int32_t CBlockReconstructor::ReconstructIntraMpeg1(int32_t block, int16_t* destination,
                                                   int32_t* dcPredictors) {
    if (!Ready() || !destination || !dcPredictors) return ippStsNullPtrErr;
    if (block < 0) return ippStsBadArgErr;
    bool luma = IsLuma(block);
    return ippiReconstructDCTBlockIntra_MPEG1_32s(
        &dataSource->wordPtr, &dataSource->bitOffset,
        vlcTables->Table(luma ? CMpegVlcTables::kDctDcSizeLuminance
                              : CMpegVlcTables::kDctDcSizeChrominance),
        vlcTables->Table(CMpegVlcTables::kDctCoefficientsZero), headers->picture.scan,
        headers->currentQuantiser,
        luma ? headers->intra_quantiser_matrix : headers->chroma_intra_quantiser_matrix,
        &dcPredictors[PredictorIndex(block)], destination, nullptr);
}

int32_t CBlockReconstructor::ReconstructIntraMpeg2(int32_t block, int16_t* destination,
                                                   int32_t* dcPredictors) {
    if (!Ready() || !destination || !dcPredictors) return ippStsNullPtrErr;
    if (block < 0) return ippStsBadArgErr;
    bool luma = IsLuma(block);
    int32_t acTable = headers->picture.intra_vlc_format == 1 ? CMpegVlcTables::kDctCoefficientsOne
                                                             : CMpegVlcTables::kDctCoefficientsZero;
    int32_t lastIndex = 0;
    return ippiReconstructDCTBlockIntra_MPEG2_32s(
        &dataSource->wordPtr, &dataSource->bitOffset,
        vlcTables->Table(luma ? CMpegVlcTables::kDctDcSizeLuminance
                              : CMpegVlcTables::kDctDcSizeChrominance),
        vlcTables->Table(acTable), headers->picture.scan, headers->currentQuantiser,
        luma ? headers->intra_quantiser_matrix : headers->chroma_intra_quantiser_matrix,
        &dcPredictors[PredictorIndex(block)],
        3 - static_cast<int32_t>(headers->picture.intra_dc_precision & 3), destination, &lastIndex);
}

int32_t CBlockReconstructor::ReconstructNonIntraMpeg1(int32_t block, int16_t* residual) {
    if (!Ready() || !residual) return ippStsNullPtrErr;
    if (block < 0 || block >= MaxBlocks()) return ippStsBadArgErr;
    int32_t lastIndex = 0;
    int32_t status = ippiReconstructDCTBlock_MPEG1_32s(
        &dataSource->wordPtr, &dataSource->bitOffset,
        vlcTables->Table(CMpegVlcTables::kDctCoefficientsFirst),
        vlcTables->Table(CMpegVlcTables::kDctCoefficientsZero), headers->picture.scan,
        headers->currentQuantiser, headers->non_intra_quantiser_matrix, scratch, &lastIndex);
    if (status != ippStsNoErr) return status;
    return PlaceResidual(block, residual);
}

int32_t CBlockReconstructor::ReconstructNonIntraMpeg2(int32_t block, int16_t* residual) {
    if (!Ready() || !residual) return ippStsNullPtrErr;
    if (block < 0 || block >= MaxBlocks()) return ippStsBadArgErr;
    int32_t lastIndex = 0;
    int32_t status = ippiReconstructDCTBlock_MPEG2_32s(
        &dataSource->wordPtr, &dataSource->bitOffset,
        vlcTables->Table(CMpegVlcTables::kDctCoefficientsFirst),
        vlcTables->Table(CMpegVlcTables::kDctCoefficientsZero), headers->picture.scan,
        headers->currentQuantiser,
        ChromaNonIntraMatrix(block) ? headers->chroma_non_intra_quantiser_matrix
                                    : headers->non_intra_quantiser_matrix,
        scratch, &lastIndex);
    if (status != ippStsNoErr) return status;
    return PlaceResidual(block, residual);
}

// 4:2:0 streams cannot load a chroma matrix of their own (the two are the same), so only the
// other chroma formats look at it.
bool CBlockReconstructor::ChromaNonIntraMatrix(int32_t block) const {
    return !IsLuma(block) && headers->sequence.chroma_format == 2;
}

int32_t CBlockReconstructor::MaxBlocks() const {
    return headers->sequence.chroma_format == 2 ? kBlocksPerMacroblock422 : kBlocksPerMacroblock;
}

int32_t CBlockReconstructor::PlaceResidual(int32_t block, int16_t* residual) {
    if (!IsLuma(block) && headers->sequence.chroma_format == 2) {
        // Cb 8x16 from element 256, Cr 8x16 from 384; the lower blocks 6 and 7 take rows 8
        // to 15, or with field DCT the odd rows.
        int16_t* plane = residual + ((block & 1) ? 384 : 256);
        int32_t half = ((block - kFirstChromaBlock) >> 1) & 1;
        if (headers->macroblock.dct_type == 1)
            return ippiDCT8x8Inv_16s_C1R(scratch, plane + 8 * half, 2 * kChromaRowBytes);
        return ippiDCT8x8Inv_16s_C1R(scratch, plane + 64 * half, kChromaRowBytes);
    }
    if (!IsLuma(block)) {
        return ippiDCT8x8Inv_16s_C1R(scratch, residual + 64 * block, kChromaRowBytes);
    }
    if (headers->macroblock.dct_type == 1) {
        // Field DCT: blocks 0 and 1 fill the even rows, 2 and 3 the odd rows.
        return ippiDCT8x8Inv_16s_C1R(scratch, residual + 8 * block, 2 * kLumaRowBytes);
    }
    int32_t start = (block / 2) * 128 + (block % 2) * 8;
    return ippiDCT8x8Inv_16s_C1R(scratch, residual + start, kLumaRowBytes);
}

}  // namespace d2u
