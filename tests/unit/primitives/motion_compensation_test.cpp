// The motion-compensation kernels: the block footprint, every level against the scalar version,
// and the macroblock kernels against the block ones.
#include "primitives/motion_compensation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "kernel_levels.h"

namespace d2u {
namespace {

// The installed kernels of one block shape.
struct Kernel {
    int width, height;
    mc::BlockShape shape;
    mc::SingleKernel single() const { return mc::InstalledKernels().single[shape]; }
    mc::BidirectionalKernel bidirectional() const {
        return mc::InstalledKernels().bidirectional[shape];
    }
};
const Kernel kKernels[] = {
    {16, 16, mc::k16x16}, {16, 8, mc::k16x8}, {8, 8, mc::k8x8}, {8, 4, mc::k8x4}};
constexpr Ipp32s kModes[] = {IPPVC_MC_APX_FF, IPPVC_MC_APX_FH, IPPVC_MC_APX_HF, IPPVC_MC_APX_HH};

// The reference block ends the allocation exactly where the block's footprint ends, so a read
// past it shows under AddressSanitizer; the destination likewise, and its columns beyond the
// block must keep their value.
TEST(MotionCompensation, EveryLevelReadsAndWritesOnlyTheBlockFootprint) {
    constexpr int kStep = 40;
    test::AtEveryLevel([] {
        for (const Kernel& k : kKernels) {
            for (Ipp32s mode : kModes) {
                const int cols = k.width + ((mode & IPPVC_MC_APX_HF) ? 1 : 0);
                const int rows = k.height + ((mode & IPPVC_MC_APX_FH) ? 1 : 0);
                std::vector<Ipp8u> ref(size_t{kStep} * (rows - 1) + cols, 77);
                std::vector<Ipp16s> res(size_t(k.width) * k.height, 1);
                std::vector<Ipp8u> dst(size_t{kStep} * (k.height - 1) + k.width, 9);
                k.single()(ref.data(), kStep, res.data(), k.width * 2, dst.data(), kStep, mode);
                k.bidirectional()(ref.data(), kStep, mode, ref.data(), kStep, mode, res.data(),
                                  k.width * 2, dst.data(), kStep);
                for (size_t i = 0; i < dst.size(); ++i)
                    ASSERT_EQ(dst[i], int(i % kStep) < k.width ? 78 : 9)
                        << k.width << "x" << k.height << " mode " << mode;
            }
        }
    });
}

// Random references, residuals reaching both clips, steps and offsets (so unaligned rows, read and
// written), every shape and every pair of modes.
TEST(MotionCompensation, EveryLevelGivesTheScalarBlocks) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 300; ++trial) {
        const int refStep = 17 + int(rng() % 48), resStep = 2 * (16 + int(rng() % 8));
        const std::vector<Ipp8u> refF = test::RandomVector(size_t(refStep) * 18 + 32, rng);
        const std::vector<Ipp8u> refB = test::RandomVector(refF.size(), rng);
        std::vector<Ipp16s> residual(size_t(resStep / 2) * 16);
        for (auto& v : residual) {
            const uint32_t r = static_cast<uint32_t>(rng());
            v = Ipp16s((r & 7) == 0 ? int(r >> 16) : int(r >> 20) % 600 - 300);
        }
        const Ipp8u* f = refF.data() + rng() % 15;
        const Ipp8u* b = refB.data() + rng() % 15;
        const int dstStep = 16 + int(rng() % 16), dstOffset = int(rng() % 8);
        test::ExpectEveryLevelGivesTheScalarResult([&] {
            std::vector<std::vector<Ipp8u>> results;
            for (const Kernel& k : kKernels) {
                for (Ipp32s modeF : kModes) {
                    auto& single = results.emplace_back(16 * 32 + 8, 0);
                    k.single()(f, refStep, residual.data(), resStep, single.data() + dstOffset,
                               dstStep, modeF);
                    for (Ipp32s modeB : kModes) {
                        auto& both = results.emplace_back(16 * 32 + 8, 0);
                        k.bidirectional()(f, refStep, modeF, b, refStep, modeB, residual.data(),
                                          resStep, both.data() + dstOffset, dstStep);
                    }
                }
            }
            return results;
        });
    }
}

// The whole-macroblock kernels give what the three block kernels give (luma 16x16, Cb and Cr
// 8x8, each plane with its own step), at every level, with and without residual areas.
TEST(MotionCompensation, MacroblockKernelsMatchTheBlockKernels) {
    std::mt19937 rng(4242);
    auto draw = [&rng](int count) { return Ipp32s(rng() % count); };
    const std::vector<Ipp16s> zero(384, 0);
    test::AtEveryLevel([&] {
        for (int trial = 0; trial < 200; ++trial) {
            std::vector<Ipp8u> refs[2][3];
            mc::MacroblockReference reference[2];
            for (int s = 0; s < 2; ++s) {
                for (int k = 0; k < 3; ++k) {
                    reference[s].step[k] = k == 0 ? 17 + draw(40) : 9 + draw(30);
                    refs[s][k] = test::RandomVector(size_t(reference[s].step[k]) * 17 + 1, rng);
                    reference[s].plane[k] = refs[s][k].data();
                }
                reference[s].lumaMode = kModes[draw(4)];
                reference[s].chromaMode = kModes[draw(4)];
            }
            const mc::MacroblockReference &f = reference[0], &b = reference[1];
            const Ipp32s dstStep[3] = {16 + draw(20), 8 + draw(20), 8 + draw(20)};
            std::vector<Ipp16s> residual(384);
            for (auto& v : residual) v = Ipp16s(draw(700) - 350);
            const int areas = draw(8);
            for (bool bidirectional : {false, true}) {
                std::vector<Ipp8u> expected[3], actual[3];
                mc::MacroblockTarget target{};
                for (int k = 0; k < 3; ++k) {
                    expected[k].assign(size_t(dstStep[k]) * 16, 0);
                    actual[k] = expected[k];
                    target.plane[k] = actual[k].data();
                    target.step[k] = dstStep[k];
                    target.residual[k] =
                        (areas >> k) & 1 ? &residual[k ? 64 * (k + 3) : 0] : nullptr;
                    const Ipp16s* res = target.residual[k] ? target.residual[k] : zero.data();
                    const Ipp32s modeF = k == 0 ? f.lumaMode : f.chromaMode, resStep = k ? 16 : 32;
                    const Kernel& block = kKernels[k == 0 ? 0 : 2];
                    if (bidirectional) {
                        block.bidirectional()(f.plane[k], f.step[k], modeF, b.plane[k], b.step[k],
                                              k == 0 ? b.lumaMode : b.chromaMode, res, resStep,
                                              expected[k].data(), dstStep[k]);
                    } else {
                        block.single()(f.plane[k], f.step[k], res, resStep, expected[k].data(),
                                       dstStep[k], modeF);
                    }
                }
                const mc::KernelTable& kernels = mc::InstalledKernels();
                bidirectional ? kernels.macroblockBidirectional(f, b, target)
                              : kernels.macroblock(f, target);
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(expected[k], actual[k]) << "plane " << k << " bidirectional "
                                                      << bidirectional << " areas " << areas;
            }
        }
    });
}

}  // namespace
}  // namespace d2u
