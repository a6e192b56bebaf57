#include "primitives/dequantise.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Random blocks of every density, levels in and beyond [-2048, 2047] and at its edges, small
// levels, weights with stray high bits, quantisers beyond the clamp.
TEST(Dequantise, Sse2MatchesScalarBitForBitInEveryMode) {
    if (DetectKernelLevel() == KernelLevel::kScalar) GTEST_SKIP() << "no SSE2 on this machine";
    std::mt19937 random(2048);
    for (int i = 0; i < 3000; ++i) {
        Input input;
        for (int k = static_cast<int>(random() % 65); k > 0; --k) {
            const int pick = static_cast<int>(random() % 4);
            const int values[4] = {Ipp16s(random()), int(random() % 4096) - 2048,
                                   random() % 2 ? 2047 : -2048, int(random() % 9) - 4};
            input.levels[random() % 64] = static_cast<Ipp16s>(values[pick]);
        }
        for (uint16_t& weight : input.matrix) {
            weight = static_cast<uint16_t>(i % 3 == 0 ? random() : 1 + random() % 255);
        }
        input.quantiser = static_cast<Ipp32s>(random() % 140) - 4;
        input.dc = static_cast<Ipp32s>(random() % 6000) - 3000;
        for (int mode = 0; mode < dequant::kModeCount; ++mode) {
            auto m = static_cast<dequant::Mode>(mode);
            ASSERT_EQ(RunAt(KernelLevel::kScalar, m, input), RunAt(KernelLevel::kSse2, m, input))
                << "mode " << mode << " quantiser " << input.quantiser;
        }
    }
}

// MPEG-1 makes even results odd towards zero; MPEG-2 makes the sum of all 64 odd by changing
// the last coefficient by one. Divisions truncate towards zero, results saturate.
TEST(Dequantise, FormulasOfBothStandards) {
    using namespace dequant;
    const struct {
        Mode mode;
        int position, level, weight, quantiser, dc;
        int expected, expectedLast;  // at the position, at 63
    } cases[] = {
        {kIntraMpeg1, 5, -7, 20, 3, 100, -51, 0},    // 2 * -7 * 20 * 3 / 16 = -52.5: -52, odd
        {kNonIntraMpeg1, 5, -7, 20, 3, 0, -55, 0},   // (2 * -7 - 1) * 60 / 16 = -56.25
        {kNonIntraMpeg1, 5, 2, 16, 2, 0, 9, 0},      // 5 * 32 / 16 = 10
        {kIntraMpeg1, 5, 1, 19, 2, 0, 3, 0},         // 76 / 16 = 4.75
        {kIntraMpeg1, 5, 0, 16, 3, 1024, 0, 0},      // an even sum stays
        {kIntraMpeg2, 5, -7, 20, 3, 100, -26, 1},    // -840 / 32 = -26.25; 100 - 26 is even
        {kIntraMpeg2, 5, -7, 20, 3, 101, -26, 0},    // the DC counts for the sum
        {kNonIntraMpeg2, 5, -7, 20, 3, 0, -28, 1},   // -900 / 32 = -28.125
        {kNonIntraMpeg2, 5, 1, 16, 2, 0, 3, 0},      // 3 * 32 / 32
        {kNonIntraMpeg2, 63, 1, 16, 4, 0, 7, 7},     // 6, made odd upwards
        {kNonIntraMpeg2, 63, -1, 16, 4, 0, -5, -5},  // -6, made odd upwards
        {kIntraMpeg2, 63, 1, 16, 3, 101, 2, 2},      // 3, and 101 + 3 is even: down
        {kNonIntraMpeg1, 1, 255, 255, 31, 0, 2047, 0},
        {kNonIntraMpeg1, 1, -255, 255, 31, 0, -2048, 0},
        {kNonIntraMpeg2, 1, 2047, 16, 2, 0, 2047, 0},
        {kIntraMpeg2, 1, -2048, 16, 2, 0, -2048, 1},
        {kIntraMpeg2, 5, 0, 16, 2, 3000, 0, 0},    // DC 2047
        {kIntraMpeg1, 5, 0, 16, 2, -3000, 0, 0}};  // DC -2048
    for (KernelLevel level : {KernelLevel::kScalar, DetectKernelLevel()}) {
        for (const auto& c : cases) {
            Input input;
            input.levels[c.position] = static_cast<Ipp16s>(c.level);
            input.matrix[c.position] = static_cast<uint16_t>(c.weight);
            input.quantiser = c.quantiser;
            input.dc = c.dc;
            std::vector<Ipp16s> out = RunAt(level, c.mode, input);
            EXPECT_EQ(out[c.position], c.expected) << "mode " << c.mode << " level " << c.level;
            EXPECT_EQ(out[63], c.expectedLast) << "mode " << c.mode << " level " << c.level;
            EXPECT_EQ(out[0], std::min(2047, std::max(-2048, c.dc)));
        }
    }
}

}  // namespace
}  // namespace d2u
