// The stream's byte order put right for one refill of the data source (640,000 bytes), and the
// search for the start codes in that much coded data. Reports bytes per second.
#include <cstring>

#include "kernel_bench_support.h"
#include "primitives/byte_order.h"

namespace d2u {
namespace bench {
namespace {

constexpr int32_t kWords = 160000;

void SwapRefill(benchmark::State& state) {
    const std::vector<uint8_t> bytes = RandomBytes(kWords * 4, 81);
    std::vector<uint32_t> words(kWords);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    for (auto _ : state) {
        SwapWordBytes(words.data(), kWords);
        benchmark::ClobberMemory();
    }
    ReportItems(state, int64_t{kWords} * 4, "bytes");
}

// Coded slice data as the decoder meets it: about one byte in 60 a 01 and one in 28 a zero, and
// a start code every 1,000 bytes, each of which the search finds in turn, as it lists the slices
// of a picture.
void SearchSlices(benchmark::State& state) {
    std::vector<uint8_t> bytes = RandomBytes(kWords * 4, 82);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t pick = bytes[i];
        bytes[i] = pick < 4 ? 1 : pick < 13 ? 0 : pick;
        if (i >= 2 && bytes[i] == 1 && bytes[i - 1] == 0 && bytes[i - 2] == 0) bytes[i] = 2;
    }
    for (size_t at = 1000; at + 4 <= bytes.size(); at += 1000) {
        bytes[at] = bytes[at + 1] = 0;
        bytes[at + 2] = 1;
        bytes[at + 3] = 0x05;
    }
    std::vector<uint32_t> words(kWords);
    for (size_t i = 0; i < words.size(); ++i) {
        words[i] = uint32_t{bytes[4 * i]} << 24 | uint32_t{bytes[4 * i + 1]} << 16 |
                   uint32_t{bytes[4 * i + 2]} << 8 | bytes[4 * i + 3];
    }
    const int64_t limit = int64_t{kWords} * 4;
    for (auto _ : state) {
        for (int64_t at = 0; at < limit; at = FindStartCodePrefix(words.data(), at, limit) + 4) {
        }
        benchmark::ClobberMemory();
    }
    ReportItems(state, limit, "bytes");
}

const bool registered = [] {
    RegisterAtEveryLevel("byte_order/refill", SwapRefill);
    RegisterAtEveryLevel("byte_order/start_code_search", SearchSlices);
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
