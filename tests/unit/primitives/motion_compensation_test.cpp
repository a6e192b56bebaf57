// The motion-compensation kernels: the block footprint, and the SIMD versions against the
// scalar reference.
#include "primitives/motion_compensation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

// The installed kernels of one block shape.
struct Kernel {
    int width;
    int height;
    mc::BlockShape shape;
    mc::SingleKernel single() const { return mc::InstalledKernels().single[shape]; }
    mc::BidirectionalKernel bidirectional() const {
        return mc::InstalledKernels().bidirectional[shape];
    }
};

const Kernel kKernels[] = {
    {16, 16, mc::k16x16}, {16, 8, mc::k16x8}, {8, 8, mc::k8x8}, {8, 4, mc::k8x4}};
constexpr Ipp32s kFF = IPPVC_MC_APX_FF, kFH = IPPVC_MC_APX_FH, kHF = IPPVC_MC_APX_HF,
                 kHH = IPPVC_MC_APX_HH;
constexpr Ipp32s kModes[] = {kFF, kFH, kHF, kHH};

class MotionCompensationKernels : public ::testing::TestWithParam<KernelLevel> {
protected:
    void SetUp() override { InstallKernels(GetParam()); }
    void TearDown() override { InstallBestKernels(); }
};

// The reference block ends the allocation exactly where the block's footprint ends, so a read
// past it shows under AddressSanitizer; the destination likewise, and its columns beyond the
// block must keep their value.
TEST_P(MotionCompensationKernels, ReadsAndWritesOnlyTheBlockFootprint) {
    constexpr int kStep = 40;
    for (const Kernel& k : kKernels) {
        for (Ipp32s mode : kModes) {
            const int cols = k.width + ((mode & kHF) ? 1 : 0);
            const int rows = k.height + ((mode & kFH) ? 1 : 0);
            std::vector<Ipp8u> ref(static_cast<size_t>(kStep) * (rows - 1) + cols, 77);
            std::vector<Ipp16s> res(static_cast<size_t>(k.width) * k.height, 1);
            std::vector<Ipp8u> dst(static_cast<size_t>(kStep) * (k.height - 1) + k.width, 9);
            k.single()(ref.data(), kStep, res.data(), k.width * 2, dst.data(), kStep, mode);
            k.bidirectional()(ref.data(), kStep, mode, ref.data(), kStep, mode, res.data(),
                              k.width * 2, dst.data(), kStep);
            for (size_t i = 0; i < dst.size(); ++i)
                ASSERT_EQ(dst[i], static_cast<int>(i % kStep) < k.width ? 78 : 9)
                    << k.width << "x" << k.height << " mode " << mode;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, MotionCompensationKernels,
                         ::testing::Values(KernelLevel::kScalar, KernelLevel::kSse2,
                                           KernelLevel::kAvx2));

// Random references, residuals reaching both clips, steps and offsets (so unaligned rows, read and
// written): the SSE2 and the AVX2 kernels give the scalar result bit for bit.
TEST(MotionCompensationSimd, MatchesScalarOnRandomInput) {
    if (DetectKernelLevel() == KernelLevel::kScalar) GTEST_SKIP() << "no SIMD on this CPU";
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 300; ++trial) {
        const int refStep = 17 + static_cast<int>(rng() % 48);
        const int resStep = 2 * (16 + static_cast<int>(rng() % 8));
        std::vector<Ipp8u> refF(static_cast<size_t>(refStep) * 18 + 32);
        std::vector<Ipp8u> refB(refF.size());
        for (auto& v : refF) v = static_cast<Ipp8u>(rng());
        for (auto& v : refB) v = static_cast<Ipp8u>(rng());
        std::vector<Ipp16s> residual(static_cast<size_t>(resStep / 2) * 16);
        for (auto& v : residual) {
            uint32_t r = rng();
            v = (r & 7) == 0 ? static_cast<Ipp16s>(r >> 16)
                             : static_cast<Ipp16s>(static_cast<int>(r >> 20) % 600 - 300);
        }
        const Ipp8u* f = refF.data() + rng() % 15;
        const Ipp8u* b = refB.data() + rng() % 15;
        const int dstStep = 16 + static_cast<int>(rng() % 16);
        const size_t dstOffset = rng() % 8;
        for (const Kernel& k : kKernels) {
            for (Ipp32s modeF : kModes) {
                const Ipp32s modeB = kModes[rng() % 4];
                const KernelLevel levels[] = {KernelLevel::kScalar, KernelLevel::kSse2,
                                              KernelLevel::kAvx2};
                std::vector<Ipp8u> results[2][3];  // [bidirectional][level]
                for (int l = 0; l < 3; ++l) {
                    InstallKernels(levels[l]);
                    for (auto& r : results) r[l].assign(16 * 32 + 8, 0);
                    k.single()(f, refStep, residual.data(), resStep,
                               results[0][l].data() + dstOffset, dstStep, modeF);
                    k.bidirectional()(f, refStep, modeF, b, refStep, modeB, residual.data(),
                                      resStep, results[1][l].data() + dstOffset, dstStep);
                }
                for (int l = 1; l < 3; ++l) {
                    ASSERT_EQ(results[0][0], results[0][l])
                        << "single " << k.width << "x" << k.height << " mode " << modeF << " level "
                        << l;
                    ASSERT_EQ(results[1][0], results[1][l])
                        << "bidirectional " << k.width << "x" << k.height << " modes " << modeF
                        << "," << modeB << " level " << l;
                }
            }
        }
    }
    InstallBestKernels();
}

// The whole-macroblock kernels give what the three block kernels give (luma 16x16, Cb and Cr
// 8x8, each plane with its own step), at every level, with and without residual areas.
TEST(MotionCompensationMacroblock, MatchesTheBlockKernels) {
    std::mt19937 rng(4242);
    auto randomBytes = [&rng](size_t count) {
        std::vector<Ipp8u> bytes(count);
        for (auto& v : bytes) v = static_cast<Ipp8u>(rng());
        return bytes;
    };
    const std::vector<Ipp16s> zero(384, 0);
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kSse2, KernelLevel::kAvx2}) {
        InstallKernels(level);
        const mc::KernelTable& kernels = mc::InstalledKernels();
        for (int trial = 0; trial < 200; ++trial) {
            const Ipp32s refStep[2][3] = {
                {17 + static_cast<Ipp32s>(rng() % 40), 9 + static_cast<Ipp32s>(rng() % 30),
                 9 + static_cast<Ipp32s>(rng() % 30)},
                {17 + static_cast<Ipp32s>(rng() % 40), 9 + static_cast<Ipp32s>(rng() % 30),
                 9 + static_cast<Ipp32s>(rng() % 30)}};
            const Ipp32s dstStep[3] = {16 + static_cast<Ipp32s>(rng() % 20),
                                       8 + static_cast<Ipp32s>(rng() % 20),
                                       8 + static_cast<Ipp32s>(rng() % 20)};
            std::vector<Ipp8u> refs[2][3];
            mc::MacroblockReference reference[2];
            for (int s = 0; s < 2; ++s) {
                for (int k = 0; k < 3; ++k) {
                    refs[s][k] = randomBytes(static_cast<size_t>(refStep[s][k]) * 17 + 1);
                    reference[s].plane[k] = refs[s][k].data();
                    reference[s].step[k] = refStep[s][k];
                }
                reference[s].lumaMode = kModes[rng() % 4];
                reference[s].chromaMode = kModes[rng() % 4];
            }
            std::vector<Ipp16s> residual(384);
            for (auto& v : residual) v = static_cast<Ipp16s>(static_cast<int>(rng() % 700) - 350);
            const int areas = static_cast<int>(rng() % 8);
            const Ipp16s* blockResidual[3];
            const Ipp16s* expectedResidual[3];
            for (int k = 0; k < 3; ++k) {
                const size_t offset = k == 0 ? 0 : (k == 1 ? 256 : 320);
                blockResidual[k] = (areas >> k) & 1 ? residual.data() + offset : nullptr;
                expectedResidual[k] = (areas >> k) & 1 ? residual.data() + offset : zero.data();
            }
            for (int bidirectional = 0; bidirectional < 2; ++bidirectional) {
                std::vector<Ipp8u> expected[3];
                std::vector<Ipp8u> actual[3];
                mc::MacroblockTarget target{};
                for (int k = 0; k < 3; ++k) {
                    expected[k].assign(static_cast<size_t>(dstStep[k]) * 16, 0);
                    actual[k] = expected[k];
                    target.plane[k] = actual[k].data();
                    target.step[k] = dstStep[k];
                    target.residual[k] = blockResidual[k];
                    const mc::MacroblockReference& f = reference[0];
                    const mc::MacroblockReference& b = reference[1];
                    const Ipp32s resStep = k == 0 ? 32 : 16;
                    const Ipp32s modeF = k == 0 ? f.lumaMode : f.chromaMode;
                    const Ipp32s modeB = k == 0 ? b.lumaMode : b.chromaMode;
                    const Kernel& block = kKernels[k == 0 ? 0 : 2];
                    if (bidirectional) {
                        block.bidirectional()(f.plane[k], f.step[k], modeF, b.plane[k], b.step[k],
                                              modeB, expectedResidual[k], resStep,
                                              expected[k].data(), dstStep[k]);
                    } else {
                        block.single()(f.plane[k], f.step[k], expectedResidual[k], resStep,
                                       expected[k].data(), dstStep[k], modeF);
                    }
                }
                if (bidirectional) {
                    kernels.macroblockBidirectional(reference[0], reference[1], target);
                } else {
                    kernels.macroblock(reference[0], target);
                }
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(expected[k], actual[k])
                        << "plane " << k << (bidirectional ? " bidirectional" : " single")
                        << " areas " << areas;
            }
        }
    }
    InstallBestKernels();
}

}  // namespace
}  // namespace d2u
