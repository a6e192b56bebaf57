// The stream's byte order put right for one refill of the data source (640,000 bytes). Reports
// bytes per second.
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

const bool registered = [] {
    RegisterAtEveryLevel("byte_order/refill", SwapRefill);
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
