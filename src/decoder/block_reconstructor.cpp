#include "decoder/block_reconstructor.h"

#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_vlc_tables.h"
#include "input/bitstream_data_source.h"
#include "primitives/inverse_dct.h"
#include "primitives/reconstruct_dct_block.h"

namespace d2u {
namespace {

constexpr int32_t kFirstChromaBlock = 4;

bool IsLuma(int32_t block) {
    return block < kFirstChromaBlock;
}

// Where a non-intra block's residual goes: the first element and the row step in bytes, by
// chroma format (4:2:2 or not), DCT type (field or frame) and block. Looked up rather than
// branched on: the blocks of a macroblock alternate between the cases.
constexpr ResidualPlacement kPlacements[2][2][8] = {
    // 4:2:0 (blocks 6 and 7 do not occur)
    {{{0, 32}, {8, 32}, {128, 32}, {136, 32}, {256, 16}, {320, 16}, {320, 16}, {320, 16}},
     {{0, 64}, {8, 64}, {16, 64}, {24, 64}, {256, 16}, {320, 16}, {320, 16}, {320, 16}}},
    // 4:2:2: Cb 8x16 from 256, Cr from 384; blocks 6 and 7 take the lower rows, or with field
    // DCT the odd rows.
    {{{0, 32}, {8, 32}, {128, 32}, {136, 32}, {256, 16}, {384, 16}, {320, 16}, {448, 16}},
     {{0, 64}, {8, 64}, {16, 64}, {24, 64}, {256, 32}, {384, 32}, {264, 32}, {392, 32}}}};

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
        &dcPredictors[DcPredictorIndex(block)], destination, nullptr);
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
        &dcPredictors[DcPredictorIndex(block)],
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

void CBlockReconstructor::StartPicture() {
    scaledQuantiser = scaledIntraQuantiser = -1;
    readNonIntra = nullptr;
    readIntra = nullptr;
    if (!Ready()) return;
    const bool mpeg2 = headers->sequence.mpeg2 != 0;
    const bool chroma422 = headers->sequence.chroma_format == 2;
    nonIntraBlocks.firstTable = vlcTables->Table(CMpegVlcTables::kDctCoefficientsFirst);
    nonIntraBlocks.otherTable = vlcTables->Table(CMpegVlcTables::kDctCoefficientsZero);
    nonIntraBlocks.blockCount = MaxBlocks();
    nonIntraBlocks.luma = &scaledLuma;
    nonIntraBlocks.chroma = chroma422 ? &scaledChroma : &scaledLuma;
    nonIntraBlocks.scratch = scratch;
    placements[0] = kPlacements[chroma422][0];
    placements[1] = kPlacements[chroma422][1];
    const int32_t acTable = mpeg2 && headers->picture.intra_vlc_format == 1
                                ? CMpegVlcTables::kDctCoefficientsOne
                                : CMpegVlcTables::kDctCoefficientsZero;
    intraBlocks.dcLuma = vlcTables->Table(CMpegVlcTables::kDctDcSizeLuminance);
    intraBlocks.dcChroma = vlcTables->Table(CMpegVlcTables::kDctDcSizeChrominance);
    intraBlocks.acTable = vlcTables->Table(acTable);
    intraBlocks.blockCount = MaxBlocks();
    intraBlocks.luma = &scaledIntraLuma;
    intraBlocks.chroma = &scaledIntraChroma;
    intraBlocks.dcShift = 3 - static_cast<int32_t>(headers->picture.intra_dc_precision & 3);
    // The records are checked here once; the macroblocks change only what they check themselves.
    readNonIntra = CheckedNonIntraMacroblockReader(nonIntraBlocks, !mpeg2);
    readIntra = CheckedIntraMacroblockReader(intraBlocks, !mpeg2);
}

int32_t CBlockReconstructor::ReconstructNonIntraMacroblock(uint32_t pattern, int16_t* residual) {
    if (!readNonIntra || !residual || !dataSource->wordPtr) return ippStsNullPtrErr;
    if (headers->currentQuantiser != scaledQuantiser) ScaleNonIntraMatrices();
    nonIntraBlocks.pattern = pattern;
    nonIntraBlocks.placements = placements[headers->macroblock.dct_type == 1];
    nonIntraBlocks.residual = residual;
    return readNonIntra(&dataSource->wordPtr, &dataSource->bitOffset, nonIntraBlocks);
}

int32_t CBlockReconstructor::ReconstructIntraMacroblock(uint32_t pattern, int16_t* destination,
                                                        int32_t* dcPredictors,
                                                        const IntraSamples* samples) {
    if (!readIntra || !destination || !dcPredictors || !dataSource->wordPtr)
        return ippStsNullPtrErr;
    if (headers->currentQuantiser != scaledIntraQuantiser) ScaleIntraMatrices();
    intraBlocks.pattern = pattern;
    intraBlocks.predictors = dcPredictors;
    intraBlocks.destination = destination;
    intraBlocks.samples = samples;
    return readIntra(&dataSource->wordPtr, &dataSource->bitOffset, intraBlocks);
}

void CBlockReconstructor::ScaleIntraMatrices() {
    scaledIntraQuantiser = headers->currentQuantiser;
    ScaleMatrix(headers->picture.scan, headers->intra_quantiser_matrix, scaledIntraQuantiser, true,
                &scaledIntraLuma);
    ScaleMatrix(headers->picture.scan, headers->chroma_intra_quantiser_matrix, scaledIntraQuantiser,
                true, &scaledIntraChroma);
}

void CBlockReconstructor::ScaleNonIntraMatrices() {
    scaledQuantiser = headers->currentQuantiser;
    ScaleMatrix(headers->picture.scan, headers->non_intra_quantiser_matrix, scaledQuantiser, false,
                &scaledLuma);
    if (headers->sequence.chroma_format == 2)
        ScaleMatrix(headers->picture.scan, headers->chroma_non_intra_quantiser_matrix,
                    scaledQuantiser, false, &scaledChroma);
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
    const ResidualPlacement& place =
        kPlacements[headers->sequence.chroma_format == 2][headers->macroblock.dct_type == 1][block];
    return ippiDCT8x8Inv_16s_C1R(scratch, residual + place.start, place.rowBytes);
}

}  // namespace d2u
