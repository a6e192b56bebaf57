// Masked copies of an SD picture with one, three and four channels, the mask set on about half
// of the pixels in runs, as subtitle masks are. Reports pixels per second.
#include <algorithm>
#include <random>
#include <string>

#include "kernel_bench_support.h"
#include "primitives/masked_copy.h"

namespace d2u {
namespace bench {
namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;

std::vector<Ipp8u> RunMask() {
    std::vector<Ipp8u> mask(kWidth * kHeight);
    std::mt19937 random(71);
    std::geometric_distribution<int> runLength(1.0 / 24);
    Ipp8u value = 0;
    for (size_t at = 0; at < mask.size();) {
        size_t end = std::min(mask.size(), at + 1 + static_cast<size_t>(runLength(random)));
        for (; at < end; ++at) mask[at] = value;
        value = value ? 0 : 255;
    }
    return mask;
}

void CopyMasked(benchmark::State& state, int channels) {
    decltype(&ippiCopy_8u_C1MR) copy =
        channels == 1 ? &ippiCopy_8u_C1MR : (channels == 3 ? &ippiCopy_8u_C3MR : &ippiCopy_8u_C4MR);
    int step = kWidth * channels;
    std::vector<Ipp8u> source = RandomBytes(static_cast<size_t>(step) * kHeight, 72);
    std::vector<Ipp8u> destination = RandomBytes(source.size(), 73);
    std::vector<Ipp8u> mask = RunMask();
    for (auto _ : state) {
        IppStatus status = copy(source.data(), step, destination.data(), step,
                                IppiSize{kWidth, kHeight}, mask.data(), kWidth);
        benchmark::DoNotOptimize(status);
        benchmark::ClobberMemory();
    }
    ReportItems(state, static_cast<int64_t>(kWidth) * kHeight, "pixels");
}

const bool registered = [] {
    for (int channels : {1, 3, 4}) {
        RegisterAtEveryLevel("masked_copy/c" + std::to_string(channels),
                             [channels](benchmark::State& state) { CopyMasked(state, channels); });
    }
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
