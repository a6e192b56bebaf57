// 8x8 inverse DCT, into 16-bit residuals and with add, clip and 8-bit store (intra blocks).
// Sparse blocks hold what coded blocks usually do (a few low coefficients), dense ones a full
// block of random coefficients. Reports blocks per second.
#include <random>

#include "kernel_bench_support.h"
#include "primitives/inverse_dct.h"

namespace d2u {
namespace bench {
namespace {

constexpr int kBlocks = 1024;

std::vector<Ipp16s> Coefficients(bool dense) {
    if (dense) return RandomSamples(64 * kBlocks, idct::kInputMin, idct::kInputMax, 31);
    std::vector<Ipp16s> blocks(64 * kBlocks, 0);
    std::vector<Ipp16s> values = RandomSamples(blocks.size(), -300, 300, 32);
    std::mt19937 random(33);
    std::geometric_distribution<int> position(0.15);
    for (int block = 0; block < kBlocks; ++block) {
        for (int i = 0; i < 6; ++i)
            blocks[64 * block + (position(random) & 63)] = values[64 * block + i];
    }
    return blocks;
}

void InverseToResidual(benchmark::State& state, bool dense) {
    std::vector<Ipp16s> blocks = Coefficients(dense);
    alignas(16) Ipp16s out[64];
    for (auto _ : state) {
        for (int block = 0; block < kBlocks; ++block) {
            ippiDCT8x8Inv_16s_C1R(&blocks[64 * block], out, 8 * sizeof(Ipp16s));
            benchmark::DoNotOptimize(out[0]);
        }
    }
    ReportItems(state, kBlocks, "blocks");
}

void InverseToPixels(benchmark::State& state, bool dense) {
    std::vector<Ipp16s> blocks = Coefficients(dense);
    alignas(16) Ipp8u out[64];
    for (auto _ : state) {
        for (int block = 0; block < kBlocks; ++block) {
            ippiDCT8x8InvLSClip_16s8u_C1R(&blocks[64 * block], out, 8, 128, 0, 255);
            benchmark::DoNotOptimize(out[0]);
        }
    }
    ReportItems(state, kBlocks, "blocks");
}

const bool registered = [] {
    for (bool dense : {false, true}) {
        const std::string shape = dense ? "dense" : "sparse";
        RegisterAtEveryLevel("idct/residual_" + shape,
                             [dense](benchmark::State& state) { InverseToResidual(state, dense); });
        RegisterAtEveryLevel("idct/clip_8u_" + shape,
                             [dense](benchmark::State& state) { InverseToPixels(state, dense); });
    }
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
