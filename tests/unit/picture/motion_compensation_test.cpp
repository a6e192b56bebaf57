#include "primitives/motion_compensation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

struct Shape {
    int width;
    int height;
};

constexpr Shape kShapes[] = {{16, 16}, {16, 8}, {8, 8}, {8, 4}};
constexpr Ipp32s kModes[] = {IPPVC_MC_APX_FF, IPPVC_MC_APX_FH, IPPVC_MC_APX_HF, IPPVC_MC_APX_HH};

IppStatus RunSingle(Shape shape, const Ipp8u* ref, int refStep, const Ipp16s* res, int resStep,
                    Ipp8u* dst, int dstStep, int mode, int rounding = 0) {
    if (shape.width == 16 && shape.height == 16)
        return ippiMC16x16_8u_C1(ref, refStep, res, resStep, dst, dstStep, mode, rounding);
    if (shape.width == 16)
        return ippiMC16x8_8u_C1(ref, refStep, res, resStep, dst, dstStep, mode, rounding);
    if (shape.height == 8)
        return ippiMC8x8_8u_C1(ref, refStep, res, resStep, dst, dstStep, mode, rounding);
    return ippiMC8x4_8u_C1(ref, refStep, res, resStep, dst, dstStep, mode, rounding);
}

IppStatus RunBidirectional(Shape shape, const Ipp8u* refF, int stepF, int modeF, const Ipp8u* refB,
                           int stepB, int modeB, const Ipp16s* res, int resStep, Ipp8u* dst,
                           int dstStep, int rounding = 0) {
    if (shape.width == 16 && shape.height == 16)
        return ippiMC16x16B_8u_C1(refF, stepF, modeF, refB, stepB, modeB, res, resStep, dst,
                                  dstStep, rounding);
    if (shape.width == 16)
        return ippiMC16x8B_8u_C1(refF, stepF, modeF, refB, stepB, modeB, res, resStep, dst, dstStep,
                                 rounding);
    if (shape.height == 8)
        return ippiMC8x8B_8u_C1(refF, stepF, modeF, refB, stepB, modeB, res, resStep, dst, dstStep,
                                rounding);
    return ippiMC8x4B_8u_C1(refF, stepF, modeF, refB, stepB, modeB, res, resStep, dst, dstStep,
                            rounding);
}

class MotionCompensationKernels : public ::testing::Test {
protected:
    void TearDown() override { InstallBestKernels(); }
};

// A 2x2 neighbourhood a b / c d repeated over a 17x17 reference, zero residual.
std::vector<Ipp8u> Checker(Ipp8u a, Ipp8u b, Ipp8u c, Ipp8u d) {
    std::vector<Ipp8u> ref(17 * 17);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 17; ++x)
            ref[y * 17 + x] = (y & 1) ? ((x & 1) ? d : c) : ((x & 1) ? b : a);
    return ref;
}

TEST_F(MotionCompensationKernels, HalfSampleAveragesRoundUpLikeMpeg) {
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kAvx2}) {
        InstallKernels(level);
        std::vector<Ipp16s> zero(16 * 16, 0);
        Ipp8u out[16 * 16];
        // a=0 b=1 c=0 d=0: the four-sample average is (1 + 2) >> 2 = 0; averaging pairs twice
        // would give 1.
        std::vector<Ipp8u> ref = Checker(0, 1, 0, 0);
        ASSERT_EQ(ippiMC16x16_8u_C1(ref.data(), 17, zero.data(), 32, out, 16, IPPVC_MC_APX_HH, 0),
                  0);
        EXPECT_EQ(out[0], 0);
        ASSERT_EQ(ippiMC16x16_8u_C1(ref.data(), 17, zero.data(), 32, out, 16, IPPVC_MC_APX_HF, 0),
                  0);
        EXPECT_EQ(out[0], 1);   // (0 + 1 + 1) >> 1
        EXPECT_EQ(out[16], 0);  // second row: c d = 0 0
        // a=10 b=13 c=21 d=30.
        ref = Checker(10, 13, 21, 30);
        ippiMC8x8_8u_C1(ref.data(), 17, zero.data(), 16, out, 8, IPPVC_MC_APX_HF, 0);
        EXPECT_EQ(out[0], 12);  // (10 + 13 + 1) >> 1
        EXPECT_EQ(out[8], 26);  // (21 + 30 + 1) >> 1
        ippiMC8x8_8u_C1(ref.data(), 17, zero.data(), 16, out, 8, IPPVC_MC_APX_FH, 0);
        EXPECT_EQ(out[0], 16);  // (10 + 21 + 1) >> 1
        EXPECT_EQ(out[1], 22);  // (13 + 30 + 1) >> 1
        ippiMC8x8_8u_C1(ref.data(), 17, zero.data(), 16, out, 8, IPPVC_MC_APX_HH, 0);
        EXPECT_EQ(out[0], 19);  // (10 + 13 + 21 + 30 + 2) >> 2 = 76 >> 2
        // Rounding control 1 rounds down instead.
        ippiMC8x8_8u_C1(ref.data(), 17, zero.data(), 16, out, 8, IPPVC_MC_APX_HF, 1);
        EXPECT_EQ(out[0], 11);
        ippiMC8x8_8u_C1(ref.data(), 17, zero.data(), 16, out, 8, IPPVC_MC_APX_HH, 1);
        EXPECT_EQ(out[0], 18);  // (74 + 1) >> 2
        ippiMC8x8_8u_C1(ref.data(), 17, zero.data(), 16, out, 8, IPPVC_MC_APX_FF, 0);
        EXPECT_EQ(out[0], 10);
        EXPECT_EQ(out[9], 30);
    }
}

TEST_F(MotionCompensationKernels, ResidualIsAddedAndClipped) {
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kAvx2}) {
        InstallKernels(level);
        std::vector<Ipp8u> ref(16 * 16, 200);
        ref[1] = 5;
        std::vector<Ipp16s> res(16 * 16, 0);
        res[0] = 100;    // 300 -> 255
        res[1] = -10;    // -5 -> 0
        res[2] = 32767;  // no wrap-around
        res[3] = -32768;
        res[4] = -200;  // exactly 0
        res[5] = 55;    // exactly 255
        res[6] = -1;
        Ipp8u out[16 * 16];
        ASSERT_EQ(ippiMC16x16_8u_C1(ref.data(), 16, res.data(), 32, out, 16, 0, 0), 0);
        EXPECT_EQ(out[0], 255);
        EXPECT_EQ(out[1], 0);
        EXPECT_EQ(out[2], 255);
        EXPECT_EQ(out[3], 0);
        EXPECT_EQ(out[4], 0);
        EXPECT_EQ(out[5], 255);
        EXPECT_EQ(out[6], 199);
        EXPECT_EQ(out[7], 200);
    }
}

TEST_F(MotionCompensationKernels, BidirectionalAveragesTheTwoPredictionsRoundingUp) {
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kAvx2}) {
        InstallKernels(level);
        std::vector<Ipp8u> forward = Checker(0, 1, 0, 0);
        std::vector<Ipp8u> backward = Checker(3, 3, 8, 8);
        std::vector<Ipp16s> res(8 * 4, 0);
        res[8] = -3;
        Ipp8u out[8 * 4];
        // Forward HF: 1 (row 0), 0 (row 1). Backward FH: (3 + 8 + 1) >> 1 = 6 on every row.
        ASSERT_EQ(ippiMC8x4B_8u_C1(forward.data(), 17, IPPVC_MC_APX_HF, backward.data(), 17,
                                   IPPVC_MC_APX_FH, res.data(), 16, out, 8, 0),
                  0);
        EXPECT_EQ(out[0], 4);      // (1 + 6 + 1) >> 1
        EXPECT_EQ(out[8], 3 - 3);  // (0 + 6 + 1) >> 1 = 3, plus the residual -3
        // Each prediction is rounded before the average: HH of (0 1 / 0 0) is 0, not 0.75.
        ippiMC8x4B_8u_C1(forward.data(), 17, IPPVC_MC_APX_HH, forward.data(), 17, IPPVC_MC_APX_FF,
                         res.data(), 16, out, 8, 0);
        EXPECT_EQ(out[0], 0);  // (0 + 0 + 1) >> 1
        EXPECT_EQ(out[1], 1);  // (0 + 1 + 1) >> 1
    }
}

TEST_F(MotionCompensationKernels, NullPointersAreRejected) {
    Ipp8u buffer[17 * 17] = {};
    Ipp16s res[16 * 16] = {};
    EXPECT_NE(ippiMC16x16_8u_C1(nullptr, 17, res, 32, buffer, 16, 0, 0), 0);
    EXPECT_NE(ippiMC8x4_8u_C1(buffer, 17, nullptr, 16, buffer, 16, 0, 0), 0);
    EXPECT_NE(ippiMC8x8B_8u_C1(buffer, 17, 0, nullptr, 17, 0, res, 16, buffer, 8, 0), 0);
    EXPECT_NE(ippiMC16x8B_8u_C1(buffer, 17, 0, buffer, 17, 0, res, 32, nullptr, 16, 0), 0);
}

// The reference block is placed at the very end of an allocation of exactly the size the block
// needs, so any read past its footprint shows up under AddressSanitizer; the destination and
// residual likewise.
TEST_F(MotionCompensationKernels, ReadsAndWritesOnlyTheBlockFootprint) {
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kAvx2}) {
        InstallKernels(level);
        for (Shape shape : kShapes) {
            for (Ipp32s mode : kModes) {
                int cols = shape.width + ((mode & IPPVC_MC_APX_HF) ? 1 : 0);
                int rows = shape.height + ((mode & IPPVC_MC_APX_FH) ? 1 : 0);
                const int step = 40;
                std::vector<Ipp8u> ref(static_cast<size_t>(step) * (rows - 1) + cols, 77);
                std::vector<Ipp16s> res(static_cast<size_t>(shape.width) * shape.height, 1);
                std::vector<Ipp8u> dst(static_cast<size_t>(step) * (shape.height - 1) + shape.width,
                                       9);
                ASSERT_EQ(RunSingle(shape, ref.data(), step, res.data(), shape.width * 2,
                                    dst.data(), step, mode),
                          0);
                ASSERT_EQ(RunBidirectional(shape, ref.data(), step, mode, ref.data(), step, mode,
                                           res.data(), shape.width * 2, dst.data(), step),
                          0);
                for (int y = 0; y < shape.height; ++y) {
                    for (int x = 0; x < step && y * step + x < static_cast<int>(dst.size()); ++x) {
                        ASSERT_EQ(dst[y * step + x], x < shape.width ? 78 : 9)
                            << shape.width << "x" << shape.height << " mode " << mode;
                    }
                }
            }
        }
    }
}

struct RandomCase {
    std::vector<Ipp8u> refF, refB;
    std::vector<Ipp16s> residual;
    int refStep, resStep, offsetF, offsetB;
};

RandomCase MakeRandomCase(std::mt19937& rng) {
    RandomCase c;
    c.refStep = 17 + static_cast<int>(rng() % 48);
    c.resStep = 2 * (16 + static_cast<int>(rng() % 8));
    c.offsetF = static_cast<int>(rng() % 15);
    c.offsetB = static_cast<int>(rng() % 15);
    size_t refBytes = static_cast<size_t>(c.refStep) * 18 + 32;
    c.refF.resize(refBytes);
    c.refB.resize(refBytes);
    for (auto& v : c.refF) v = static_cast<Ipp8u>(rng());
    for (auto& v : c.refB) v = static_cast<Ipp8u>(rng());
    // Mostly small residuals, some large ones to reach both clips.
    c.residual.resize(static_cast<size_t>(c.resStep / 2) * 16);
    for (auto& v : c.residual) {
        uint32_t r = rng();
        v = (r & 7) == 0 ? static_cast<Ipp16s>(r >> 16)
                         : static_cast<Ipp16s>(static_cast<int>(r >> 20) % 600 - 300);
    }
    return c;
}

TEST_F(MotionCompensationKernels, SimdMatchesScalarOnRandomInput) {
    if (DetectKernelLevel() == KernelLevel::kScalar) GTEST_SKIP() << "no SIMD on this CPU";
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 300; ++trial) {
        RandomCase c = MakeRandomCase(rng);
        for (Shape shape : kShapes) {
            for (Ipp32s modeF : kModes) {
                Ipp32s modeB = kModes[rng() % 4];
                int rounding = static_cast<int>(rng() & 1);
                Ipp8u scalar[16 * 24], simd[16 * 24];
                std::fill(scalar, scalar + sizeof(scalar), 0);
                std::fill(simd, simd + sizeof(simd), 0);
                const Ipp8u* f = c.refF.data() + c.offsetF;
                const Ipp8u* b = c.refB.data() + c.offsetB;
                InstallKernels(KernelLevel::kScalar);
                RunSingle(shape, f, c.refStep, c.residual.data(), c.resStep, scalar, 24, modeF,
                          rounding);
                InstallBestKernels();
                RunSingle(shape, f, c.refStep, c.residual.data(), c.resStep, simd, 24, modeF,
                          rounding);
                ASSERT_EQ(std::vector<Ipp8u>(scalar, scalar + sizeof(scalar)),
                          std::vector<Ipp8u>(simd, simd + sizeof(simd)))
                    << "single " << shape.width << "x" << shape.height << " mode " << modeF;
                InstallKernels(KernelLevel::kScalar);
                RunBidirectional(shape, f, c.refStep, modeF, b, c.refStep, modeB, c.residual.data(),
                                 c.resStep, scalar, 24, rounding);
                InstallBestKernels();
                RunBidirectional(shape, f, c.refStep, modeF, b, c.refStep, modeB, c.residual.data(),
                                 c.resStep, simd, 24, rounding);
                ASSERT_EQ(std::vector<Ipp8u>(scalar, scalar + sizeof(scalar)),
                          std::vector<Ipp8u>(simd, simd + sizeof(simd)))
                    << "bidirectional " << shape.width << "x" << shape.height << " modes " << modeF
                    << "," << modeB;
            }
        }
    }
}

TEST_F(MotionCompensationKernels, BidirectionalWithTheSameReferenceTwiceEqualsSingle) {
    std::mt19937 rng(99);
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kAvx2}) {
        InstallKernels(level);
        for (int trial = 0; trial < 20; ++trial) {
            RandomCase c = MakeRandomCase(rng);
            for (Shape shape : kShapes) {
                for (Ipp32s mode : kModes) {
                    Ipp8u single[16 * 24] = {}, both[16 * 24] = {};
                    const Ipp8u* f = c.refF.data() + c.offsetF;
                    RunSingle(shape, f, c.refStep, c.residual.data(), c.resStep, single, 24, mode);
                    RunBidirectional(shape, f, c.refStep, mode, f, c.refStep, mode,
                                     c.residual.data(), c.resStep, both, 24);
                    ASSERT_EQ(0, std::memcmp(single, both, sizeof(single)));
                }
            }
        }
    }
}

}  // namespace
}  // namespace d2u
