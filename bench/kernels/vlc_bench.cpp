// Decoding single codewords with the decoder's own tables: coefficient tables (run/level) and
// value tables (address increment, motion code). Reports codewords per second.
#include "decoder/mpeg_vlc_tables.h"
#include "kernel_bench_support.h"
#include "decoder/vlc_huffman.h"
#include "vlc_code_book.h"
#include "vlc_stream_writer.h"

namespace d2u {
namespace bench {
namespace {

constexpr int kCodewords = 1 << 16;

struct CodewordStream {
    std::vector<Ipp32u> words;
    int count = 0;
};

CodewordStream MakeStream(int32_t tableIndex, bool runLevel) {
    VlcCodeBook book(CMpegVlcTables::InputTable(tableIndex), runLevel, 1234u + tableIndex);
    VlcStreamWriter writer(99u);
    CodewordStream stream;
    for (; stream.count < kCodewords; ++stream.count) writer.Put(book.Draw());
    stream.words = writer.Finish();
    return stream;
}

void DecodeCodewords(benchmark::State& state, int32_t tableIndex, bool runLevel) {
    CMpegVlcTables tables;
    if (tables.Build() != 0) {
        state.SkipWithError("the decode tables could not be built");
        return;
    }
    const IppVCHuffmanSpec_32s* table = tables.Table(tableIndex);
    CodewordStream stream = MakeStream(tableIndex, runLevel);
    for (auto _ : state) {
        Ipp32u* word = stream.words.data();
        int offset = 31;
        Ipp32s sum = 0;
        for (int i = 0; i < stream.count; ++i) {
            Ipp32s value = 0, run = 0;
            IppStatus status = runLevel
                                   ? VCHuffmanDecodeRunLevel(&word, &offset, &run, &value, table)
                                   : ippiVCHuffmanDecodeOne_1u32s(&word, &offset, &value, table);
            sum += value + run + status;
        }
        benchmark::DoNotOptimize(sum);
    }
    ReportItems(state, stream.count, "codewords");
}

const bool registered = [] {
    struct Case {
        const char* name;
        int32_t table;
        bool runLevel;
    };
    const Case cases[] = {
        {"vlc/coefficients_table_zero", CMpegVlcTables::kDctCoefficientsZero, true},
        {"vlc/coefficients_table_one", CMpegVlcTables::kDctCoefficientsOne, true},
        {"vlc/macroblock_address_increment", CMpegVlcTables::kMacroblockAddressIncrement, false},
        {"vlc/macroblock_type_b", CMpegVlcTables::kMacroblockTypeB, false},
        {"vlc/motion_code", CMpegVlcTables::kMotionCode, false},
    };
    for (const Case& c : cases) {
        RegisterAtEveryLevel(
            c.name, [c](benchmark::State& state) { DecodeCodewords(state, c.table, c.runLevel); });
    }
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
