// Block reconstruction: a coded block read from the bit stream (DC difference, run/level
// codewords, end of block), inverse scan and inverse quantisation, on streams of blocks written
// from the decoder's own code tables. Reports blocks per second.
#include "decoder/mpeg_tables.h"
#include "decoder/mpeg_vlc_tables.h"
#include "kernel_bench_support.h"
#include "primitives/reconstruct_dct_block.h"
#include "vlc_code_book.h"
#include "vlc_stream_writer.h"

namespace d2u {
namespace bench {
namespace {

constexpr int kBlocks = 4096;
// Coefficients per block: 1 to this many, about what 6 Mbit/s spends on a coded block.
constexpr int kMostCoefficients = 16;
constexpr int kQuantiser = 8;

enum class BlockKind { kIntraMpeg2, kNonIntraMpeg2, kNonIntraMpeg1 };

bool IsCoefficient(const VlcCode& code) {
    return code.run != kVlcEndOfBlock && code.run != kVlcEscape;
}

// Appends the run/level codewords of one block after its first coefficient position, then
// the end of block.
void PutCoefficients(VlcStreamWriter& writer, VlcCodeBook& book, const VlcCode& endOfBlock,
                     int index, int coefficients) {
    for (int i = 1; i < coefficients; ++i) {
        const VlcCode& code = book.Draw(IsCoefficient);
        if (index + code.run + 1 > 63) break;
        index += code.run + 1;
        writer.Put(code);
    }
    writer.Put(endOfBlock);
}

struct BlockStream {
    std::vector<Ipp32u> words;
    std::vector<uint16_t> matrix = std::vector<uint16_t>(64, 16);
};

BlockStream MakeIntraStream(std::mt19937& random) {
    VlcCodeBook dcSizes(CMpegVlcTables::InputTable(CMpegVlcTables::kDctDcSizeLuminance), false, 7);
    VlcCodeBook coefficients(CMpegVlcTables::InputTable(CMpegVlcTables::kDctCoefficientsOne), true,
                             8);
    const VlcCode* endOfBlock = coefficients.Find(kVlcEndOfBlock, kVlcEndOfBlock);
    VlcStreamWriter writer(9);
    std::uniform_int_distribution<int> count(1, kMostCoefficients);
    for (int block = 0; block < kBlocks; ++block) {
        const VlcCode& size = dcSizes.Draw([](const VlcCode& code) { return code.value <= 8; });
        writer.Put(size);
        writer.PutRandomBits(size.value);
        PutCoefficients(writer, coefficients, *endOfBlock, 0, count(random));
    }
    BlockStream stream;
    stream.words = writer.Finish();
    return stream;
}

BlockStream MakeNonIntraStream(std::mt19937& random) {
    VlcCodeBook first(CMpegVlcTables::InputTable(CMpegVlcTables::kDctCoefficientsFirst), true, 10);
    VlcCodeBook others(CMpegVlcTables::InputTable(CMpegVlcTables::kDctCoefficientsZero), true, 11);
    const VlcCode* endOfBlock = others.Find(kVlcEndOfBlock, kVlcEndOfBlock);
    VlcStreamWriter writer(12);
    std::uniform_int_distribution<int> count(1, kMostCoefficients);
    for (int block = 0; block < kBlocks; ++block) {
        const VlcCode& code = first.Draw(IsCoefficient);
        writer.Put(code);
        PutCoefficients(writer, others, *endOfBlock, code.run, count(random));
    }
    BlockStream stream;
    stream.words = writer.Finish();
    return stream;
}

IppStatus ReconstructOne(BlockKind kind, const CMpegVlcTables& tables, Ipp32u** word, int* offset,
                         const uint16_t* matrix, Ipp32s* predictor, Ipp16s* block) {
    Ipp32s last = 0;
    switch (kind) {
        case BlockKind::kIntraMpeg2:
            return ippiReconstructDCTBlockIntra_MPEG2_32s(
                word, offset, tables.Table(CMpegVlcTables::kDctDcSizeLuminance),
                tables.Table(CMpegVlcTables::kDctCoefficientsOne), kZigzagScan, kQuantiser, matrix,
                predictor, 3, block, &last);
        case BlockKind::kNonIntraMpeg2:
            return ippiReconstructDCTBlock_MPEG2_32s(
                word, offset, tables.Table(CMpegVlcTables::kDctCoefficientsFirst),
                tables.Table(CMpegVlcTables::kDctCoefficientsZero), kZigzagScan, kQuantiser, matrix,
                block, &last);
        case BlockKind::kNonIntraMpeg1:
            return ippiReconstructDCTBlock_MPEG1_32s(
                word, offset, tables.Table(CMpegVlcTables::kDctCoefficientsFirst),
                tables.Table(CMpegVlcTables::kDctCoefficientsZero), kZigzagScan, kQuantiser, matrix,
                block, &last);
    }
    return ippStsBadArgErr;
}

// Reconstructs every block of the stream; false when one fails.
bool ReconstructAll(BlockKind kind, const CMpegVlcTables& tables, BlockStream& stream,
                    Ipp16s* block) {
    Ipp32u* word = stream.words.data();
    int offset = 31;
    Ipp32s predictor = 128;
    for (int i = 0; i < kBlocks; ++i) {
        if (ReconstructOne(kind, tables, &word, &offset, stream.matrix.data(), &predictor, block) !=
            ippStsNoErr) {
            return false;
        }
        benchmark::DoNotOptimize(block[0]);
    }
    return true;
}

void ReconstructBlocks(benchmark::State& state, BlockKind kind) {
    CMpegVlcTables tables;
    tables.Build();
    std::mt19937 random(5);
    BlockStream stream =
        kind == BlockKind::kIntraMpeg2 ? MakeIntraStream(random) : MakeNonIntraStream(random);
    alignas(16) Ipp16s block[64];
    if (!ReconstructAll(kind, tables, stream, block)) {
        state.SkipWithError("the written blocks did not decode");
        return;
    }
    for (auto _ : state) ReconstructAll(kind, tables, stream, block);
    ReportItems(state, kBlocks, "blocks");
}

const bool registered = [] {
    RegisterAtEveryLevel("reconstruct/intra_mpeg2", [](benchmark::State& state) {
        ReconstructBlocks(state, BlockKind::kIntraMpeg2);
    });
    RegisterAtEveryLevel("reconstruct/non_intra_mpeg2", [](benchmark::State& state) {
        ReconstructBlocks(state, BlockKind::kNonIntraMpeg2);
    });
    RegisterAtEveryLevel("reconstruct/non_intra_mpeg1", [](benchmark::State& state) {
        ReconstructBlocks(state, BlockKind::kNonIntraMpeg1);
    });
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
