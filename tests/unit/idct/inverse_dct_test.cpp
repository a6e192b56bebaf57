#include "primitives/inverse_dct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "idct_reference.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

using Block = std::vector<Ipp16s>;

Block TransformAt(KernelLevel level, const Block& input) {
    InstallKernels(level);
    alignas(16) Ipp16s source[64];
    std::copy(input.begin(), input.end(), source);
    Block output(64);
    ippiDCT8x8Inv_16s_C1R(source, output.data(), 16);
    InstallBestKernels();
    return output;
}

std::vector<Ipp8u> ClipTransformAt(KernelLevel level, const Block& input, int add, Ipp8u low,
                                   Ipp8u high) {
    InstallKernels(level);
    std::vector<Ipp8u> output(64);
    ippiDCT8x8InvLSClip_16s8u_C1R(input.data(), output.data(), 8, add, low, high);
    InstallBestKernels();
    return output;
}

// Blocks that stress the versions differently: random in and beyond the coefficient range,
// sparse, DC only, one coefficient, and the extremes with the signs of a basis function.
std::vector<Block> TestBlocks() {
    std::mt19937 random(1180);
    std::vector<Block> blocks;
    for (int i = 0; i < 2000; ++i) {
        Block block(64, 0);
        switch (i % 5) {
            case 0:
                for (Ipp16s& value : block) value = static_cast<Ipp16s>(random());
                break;
            case 1:
                for (Ipp16s& value : block)
                    value = static_cast<Ipp16s>(int(random() % 4096) - 2048);
                break;
            case 2:
                for (int k = 0; k < 4; ++k) {
                    block[random() % 64] = static_cast<Ipp16s>(int(random() % 601) - 300);
                }
                break;
            case 3:
                block[0] = static_cast<Ipp16s>(int(random() % 4400) - 2200);
                break;
            default:
                block[random() % 64] = static_cast<Ipp16s>(random() % 2 ? 2047 : -2048);
                break;
        }
        blocks.push_back(block);
    }
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            Block block(64);
            for (int i = 0; i < 64; ++i) {
                double sign = test::DctBasis(i / 8, v) * test::DctBasis(i % 8, u);
                block[i] = static_cast<Ipp16s>(sign >= 0 ? 2047 : -2048);
            }
            blocks.push_back(block);
        }
    }
    blocks.push_back(Block(64, 2047));
    blocks.push_back(Block(64, -2048));
    blocks.push_back(Block(64, 32767));
    blocks.push_back(Block(64, -32768));
    return blocks;
}

bool HaveSimd() {
    return DetectKernelLevel() != KernelLevel::kScalar;
}

// Every SIMD level this machine runs, so that each version is compared on its own.
std::vector<KernelLevel> SimdLevels() {
    std::vector<KernelLevel> levels;
    for (int level = 1; level <= static_cast<int>(DetectKernelLevel()); ++level) {
        levels.push_back(static_cast<KernelLevel>(level));
    }
    return levels;
}

TEST(InverseDct, SimdVersionsMatchTheScalarOneBitForBit) {
    if (!HaveSimd()) GTEST_SKIP() << "no SIMD level on this machine";
    for (const Block& block : TestBlocks()) {
        ASSERT_EQ(TransformAt(KernelLevel::kScalar, block),
                  TransformAt(DetectKernelLevel(), block));
    }
}

TEST(InverseDct, EveryDcValueMatchesBetweenVersions) {
    if (!HaveSimd()) GTEST_SKIP() << "no SIMD level on this machine";
    for (KernelLevel level : SimdLevels()) {
        for (int dc = -2100; dc <= 2100; ++dc) {
            Block block(64, 0);
            block[0] = static_cast<Ipp16s>(dc);
            ASSERT_EQ(TransformAt(KernelLevel::kScalar, block), TransformAt(level, block))
                << "dc " << dc << " level " << static_cast<int>(level);
        }
    }
}

TEST(InverseDct, ClippedOutputMatchesBetweenVersions) {
    if (!HaveSimd()) GTEST_SKIP() << "no SIMD level on this machine";
    for (KernelLevel level : SimdLevels()) {
        std::mt19937 random(5);
        for (const Block& block : TestBlocks()) {
            int add = static_cast<int>(random() % 512) - 256;
            Ipp8u low = static_cast<Ipp8u>(random() % 64);
            Ipp8u high = static_cast<Ipp8u>(192 + random() % 64);
            ASSERT_EQ(ClipTransformAt(KernelLevel::kScalar, block, add, low, high),
                      ClipTransformAt(level, block, add, low, high))
                << "level " << static_cast<int>(level);
        }
    }
}

// Inputs anywhere in the coefficient range transform without overflow: within one of the
// double-precision transform, and beyond the range as if saturated.
TEST(InverseDct, ExtremeInputsStayWithinOneOfTheExactTransform) {
    for (KernelLevel level : {KernelLevel::kScalar, DetectKernelLevel()}) {
        for (const Block& block : TestBlocks()) {
            double in[8][8];
            for (int i = 0; i < 64; ++i) {
                in[i / 8][i % 8] = std::min(2047, std::max(-2048, static_cast<int>(block[i])));
            }
            double exact[8][8];
            test::InverseDct(in, exact);
            Block output = TransformAt(level, block);
            for (int i = 0; i < 64; ++i) {
                ASSERT_LE(std::fabs(output[i] - exact[i / 8][i % 8]), 1.0) << "position " << i;
            }
        }
    }
}

TEST(InverseDct, ClippedOutputIsTheTransformPlusTheValueWithinTheClipRange) {
    Block block(64, 0);
    block[0] = 1200;  // samples of 150
    block[1] = -600;  // a horizontal ramp around them
    Block plain = TransformAt(DetectKernelLevel(), block);
    for (int add : {0, 128, -100}) {
        std::vector<Ipp8u> clipped = ClipTransformAt(DetectKernelLevel(), block, add, 16, 235);
        for (int i = 0; i < 64; ++i) {
            int expected = std::min(235, std::max(16, plain[i] + add));
            EXPECT_EQ(clipped[i], expected) << "add " << add << " position " << i;
        }
    }
    EXPECT_NE(ippiDCT8x8InvLSClip_16s8u_C1R(block.data(), nullptr, 8, 0, 0, 255), ippStsNoErr);
    std::vector<Ipp8u> out(64);
    EXPECT_NE(ippiDCT8x8InvLSClip_16s8u_C1R(block.data(), out.data(), 8, 0, 200, 100), ippStsNoErr);
}

TEST(InverseDct, WritesEightRowsAtTheStepAndNothingElse) {
    for (KernelLevel level : {KernelLevel::kScalar, DetectKernelLevel()}) {
        InstallKernels(level);
        Block block(64, 0);
        block[0] = 800;
        const int step = 40;  // bytes
        std::vector<Ipp16s> wide(8 * step / 2 + 8, Ipp16s{-7});
        ippiDCT8x8Inv_16s_C1R(block.data(), wide.data() + 4, step);
        std::vector<Ipp8u> bytes(8 * 24, 9);
        ippiDCT8x8InvLSClip_16s8u_C1R(block.data(), bytes.data() + 3, 24, 0, 0, 255);
        for (size_t i = 0; i < wide.size(); ++i) {
            bool inside = i >= 4 && i - 4 < 8 * step / 2 && (i - 4) % (step / 2) < 8;
            EXPECT_EQ(wide[i], inside ? 100 : -7) << "element " << i;
        }
        for (size_t i = 0; i < bytes.size(); ++i) {
            bool inside = i >= 3 && i - 3 < 8 * 24 && (i - 3) % 24 < 8;
            EXPECT_EQ(bytes[i], inside ? 100 : 9) << "byte " << i;
        }
    }
    InstallBestKernels();
}

}  // namespace
}  // namespace d2u
