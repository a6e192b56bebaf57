#include "primitives/dequantise.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

struct Input {
    std::vector<Ipp16s> levels = std::vector<Ipp16s>(64, 0);
    std::vector<uint16_t> matrix = std::vector<uint16_t>(64, 16);
    Ipp32s quantiser = 1;
    Ipp32s dc = 0;
};

std::vector<Ipp16s> RunAt(KernelLevel level, dequant::Mode mode, const Input& input) {
    InstallKernels(level);
    std::vector<Ipp16s> out(64);
    dequant::Dequantise(mode, input.levels.data(), input.matrix.data(), input.quantiser, input.dc,
                        out.data());
    InstallBestKernels();
    return out;
}

// Random blocks of every density, levels in and beyond [-2048, 2047], weights with stray high
// bits, quantisers beyond the clamp, and the edges of each range.
std::vector<Input> RandomInputs() {
    std::mt19937 random(2048);
    std::vector<Input> inputs;
    for (int i = 0; i < 3000; ++i) {
        Input input;
        int density = static_cast<int>(random() % 65);
        for (int k = 0; k < density; ++k) {
            Ipp16s& level = input.levels[random() % 64];
            switch (random() % 4) {
                case 0:
                    level = static_cast<Ipp16s>(random());
                    break;
                case 1:
                    level = static_cast<Ipp16s>(int(random() % 4096) - 2048);
                    break;
                case 2:
                    level = static_cast<Ipp16s>(random() % 2 ? 2047 : -2048);
                    break;
                default:
                    level = static_cast<Ipp16s>(int(random() % 9) - 4);
                    break;
            }
        }
        for (uint16_t& weight : input.matrix) {
            weight = static_cast<uint16_t>(i % 3 == 0 ? random() : 1 + random() % 255);
        }
        input.quantiser = static_cast<Ipp32s>(random() % 140) - 4;
        input.dc = static_cast<Ipp32s>(random() % 6000) - 3000;
        inputs.push_back(input);
    }
    return inputs;
}

TEST(Dequantise, Sse2MatchesScalarBitForBitInEveryMode) {
    if (DetectKernelLevel() == KernelLevel::kScalar) GTEST_SKIP() << "no SSE2 on this machine";
    for (const Input& input : RandomInputs()) {
        for (int mode = 0; mode < dequant::kModeCount; ++mode) {
            auto m = static_cast<dequant::Mode>(mode);
            ASSERT_EQ(RunAt(KernelLevel::kScalar, m, input), RunAt(KernelLevel::kSse2, m, input))
                << "mode " << mode << " quantiser " << input.quantiser;
        }
    }
}

// The formulas checked on hand-made values, for every installed level.
TEST(Dequantise, FormulasOfBothStandards) {
    for (KernelLevel level : {KernelLevel::kScalar, DetectKernelLevel()}) {
        Input input;
        input.quantiser = 3;
        input.matrix[5] = 20;
        input.levels[5] = -7;  // intra: 2 * -7 * 20 * 3 = -840; non-intra: -15 * 60 = -900
        input.dc = 100;
        auto intra1 = RunAt(level, dequant::kIntraMpeg1, input);
        EXPECT_EQ(intra1[0], 100);
        EXPECT_EQ(intra1[5], -51);  // -840 / 16 = -52.5 -> -52, made odd
        EXPECT_EQ(intra1[63], 0);
        auto intra2 = RunAt(level, dequant::kIntraMpeg2, input);
        EXPECT_EQ(intra2[5], -26);  // -840 / 32 = -26.25
        EXPECT_EQ(intra2[63], 1);   // 100 - 26 is even
        auto nonIntra1 = RunAt(level, dequant::kNonIntraMpeg1, input);
        EXPECT_EQ(nonIntra1[5], -55);  // -900 / 16 = -56.25 -> -56, made odd
        auto nonIntra2 = RunAt(level, dequant::kNonIntraMpeg2, input);
        EXPECT_EQ(nonIntra2[5], -28);  // -900 / 32 = -28.125
        EXPECT_EQ(nonIntra2[0], 0);
        EXPECT_EQ(nonIntra2[63], 1);
    }
}

}  // namespace
}  // namespace d2u
