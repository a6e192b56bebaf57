#include "decoder/block_reconstructor.h"

#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_vlc_tables.h"

namespace d2u {
namespace {

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

void CBlockReconstructor::StartPicture(const MpegHeaders& headers) {
    scaledQuantiser = scaledIntraQuantiser = -1;
    readNonIntra = nullptr;
    readIntra = nullptr;
    if (!vlcTables) return;
    const bool mpeg2 = headers.sequence.mpeg2 != 0;
    chroma422 = headers.sequence.chroma_format == 2;
    scan = headers.picture.scan;
    matrices[0] = headers.intra_quantiser_matrix;
    matrices[1] = headers.non_intra_quantiser_matrix;
    matrices[2] = headers.chroma_intra_quantiser_matrix;
    matrices[3] = headers.chroma_non_intra_quantiser_matrix;
    const int32_t blocks = chroma422 ? kBlocksPerMacroblock422 : kBlocksPerMacroblock;
    nonIntraBlocks.firstTable = vlcTables->Table(CMpegVlcTables::kDctCoefficientsFirst);
    nonIntraBlocks.otherTable = vlcTables->Table(CMpegVlcTables::kDctCoefficientsZero);
    nonIntraBlocks.blockCount = blocks;
    nonIntraBlocks.luma = &scaledLuma;
    // 4:2:0 streams cannot load a chroma matrix of their own (the two are the same).
    nonIntraBlocks.chroma = chroma422 ? &scaledChroma : &scaledLuma;
    nonIntraBlocks.scratch = scratch;
    placements[0] = kPlacements[chroma422][0];
    placements[1] = kPlacements[chroma422][1];
    const int32_t acTable = mpeg2 && headers.picture.intra_vlc_format == 1
                                ? CMpegVlcTables::kDctCoefficientsOne
                                : CMpegVlcTables::kDctCoefficientsZero;
    intraBlocks.dcLuma = vlcTables->Table(CMpegVlcTables::kDctDcSizeLuminance);
    intraBlocks.dcChroma = vlcTables->Table(CMpegVlcTables::kDctDcSizeChrominance);
    intraBlocks.acTable = vlcTables->Table(acTable);
    intraBlocks.blockCount = blocks;
    intraBlocks.luma = &scaledIntraLuma;
    intraBlocks.chroma = &scaledIntraChroma;
    intraBlocks.dcShift = 3 - static_cast<int32_t>(headers.picture.intra_dc_precision & 3);
    // The records are checked here once; the macroblocks change only what they check themselves.
    readNonIntra = CheckedNonIntraMacroblockReader(nonIntraBlocks, !mpeg2);
    readIntra = CheckedIntraMacroblockReader(intraBlocks, !mpeg2);
}

int32_t CBlockReconstructor::ReadNonIntraMacroblock(BitReader& bits, uint32_t pattern,
                                                    bool fieldDct, int32_t quantiser,
                                                    int16_t* residual) {
    if (!readNonIntra || !residual || !bits.Valid()) return ippStsNullPtrErr;
    if (quantiser != scaledQuantiser) ScaleNonIntraMatrices(quantiser);
    nonIntraBlocks.pattern = pattern;
    nonIntraBlocks.placements = placements[fieldDct ? 1 : 0];
    nonIntraBlocks.residual = residual;
    return readNonIntra(bits, nonIntraBlocks);
}

int32_t CBlockReconstructor::ReadIntraMacroblock(BitReader& bits, uint32_t pattern,
                                                 int32_t quantiser, int16_t* destination,
                                                 int32_t* dcPredictors,
                                                 const IntraSamples* samples) {
    if (!readIntra || !destination || !dcPredictors || !bits.Valid()) return ippStsNullPtrErr;
    if (quantiser != scaledIntraQuantiser) ScaleIntraMatrices(quantiser);
    intraBlocks.pattern = pattern;
    intraBlocks.predictors = dcPredictors;
    intraBlocks.destination = destination;
    intraBlocks.samples = samples;
    return readIntra(bits, intraBlocks);
}

void CBlockReconstructor::ScaleIntraMatrices(int32_t quantiser) {
    scaledIntraQuantiser = quantiser;
    ScaleMatrix(scan, matrices[0], quantiser, true, &scaledIntraLuma);
    ScaleMatrix(scan, matrices[2], quantiser, true, &scaledIntraChroma);
}

void CBlockReconstructor::ScaleNonIntraMatrices(int32_t quantiser) {
    scaledQuantiser = quantiser;
    ScaleMatrix(scan, matrices[1], quantiser, false, &scaledLuma);
    if (chroma422) ScaleMatrix(scan, matrices[3], quantiser, false, &scaledChroma);
}

}  // namespace d2u
