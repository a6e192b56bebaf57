// The IEEE 1180-1990 accuracy test of the inverse DCT: 10,000 random blocks for each input
// range and sign, transformed forward in double precision, rounded and clipped to the
// coefficient range, then inverse-transformed by the kernel and by the double-precision
// reference; the rounded and clipped results are compared position by position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "idct_reference.h"
#include "primitives/inverse_dct.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

constexpr int kBlocks = 10000;

// The random generator of the standard's test procedure (32-bit arithmetic).
class Ieee1180Random {
public:
    // A value in [-low, high].
    int32_t Next(int32_t low, int32_t high) {
        state_ = state_ * 1103515245u + 12345u;
        uint32_t i = state_ & 0x7FFFFFFEu;
        double x = static_cast<double>(i) / static_cast<double>(0x7FFFFFFF);
        x *= low + high + 1;
        return static_cast<int32_t>(x) - low;
    }

private:
    uint32_t state_ = 1;
};

int32_t Clip(double value, int32_t low, int32_t high) {
    double rounded = std::floor(value + 0.5);
    return static_cast<int32_t>(std::min<double>(high, std::max<double>(low, rounded)));
}

struct Errors {
    int64_t sum[64] = {};
    int64_t squares[64] = {};
    int peak = 0;
};

struct Range {
    int32_t low;
    int32_t high;
    int sign;
};

Errors RunCase(const Range& range, bool* scalarMatches) {
    Ieee1180Random random;
    Errors errors;
    *scalarMatches = true;
    for (int block = 0; block < kBlocks; ++block) {
        double samples[8][8];
        for (auto& row : samples) {
            for (double& sample : row) sample = range.sign * random.Next(range.low, range.high);
        }
        double transformed[8][8];
        test::ForwardDct(samples, transformed);
        alignas(16) Ipp16s coefficients[64];
        double rounded[8][8];
        for (int i = 0; i < 64; ++i) {
            coefficients[i] = static_cast<Ipp16s>(Clip(transformed[i / 8][i % 8], -2048, 2047));
            rounded[i / 8][i % 8] = coefficients[i];
        }
        double reference[8][8];
        test::InverseDct(rounded, reference);
        alignas(16) Ipp16s output[64];
        ippiDCT8x8Inv_16s_C1R(coefficients, output, 16);
        for (int i = 0; i < 64; ++i) {
            int32_t expected = Clip(reference[i / 8][i % 8], -256, 255);
            int32_t actual = std::min<int32_t>(255, std::max<int32_t>(-256, output[i]));
            int32_t error = actual - expected;
            errors.sum[i] += error;
            errors.squares[i] += error * error;
            errors.peak = std::max(errors.peak, std::abs(error));
        }
        if (block % 16 == 0 && InstalledKernelLevel() != KernelLevel::kScalar) {
            alignas(16) Ipp16s best[64];
            std::copy(output, output + 64, best);
            InstallKernels(KernelLevel::kScalar);
            ippiDCT8x8Inv_16s_C1R(coefficients, output, 16);
            InstallBestKernels();
            *scalarMatches = *scalarMatches && std::equal(best, best + 64, output);
        }
    }
    return errors;
}

class Ieee1180 : public ::testing::TestWithParam<Range> {};

TEST_P(Ieee1180, MeetsThePublishedLimits) {
    InstallBestKernels();
    const Range range = GetParam();
    bool scalarMatches = false;
    Errors errors = RunCase(range, &scalarMatches);
    EXPECT_TRUE(scalarMatches);
    EXPECT_LE(errors.peak, 1);
    double worstPositionMse = 0;
    double worstPositionMean = 0;
    int64_t totalSum = 0;
    int64_t totalSquares = 0;
    for (int i = 0; i < 64; ++i) {
        double mse = static_cast<double>(errors.squares[i]) / kBlocks;
        double mean = static_cast<double>(errors.sum[i]) / kBlocks;
        EXPECT_LE(mse, 0.06) << "position " << i;
        EXPECT_LE(std::fabs(mean), 0.015) << "position " << i;
        worstPositionMse = std::max(worstPositionMse, mse);
        worstPositionMean = std::max(worstPositionMean, std::fabs(mean));
        totalSum += errors.sum[i];
        totalSquares += errors.squares[i];
    }
    double overallMse = static_cast<double>(totalSquares) / (64.0 * kBlocks);
    double overallMean = static_cast<double>(totalSum) / (64.0 * kBlocks);
    EXPECT_LE(overallMse, 0.02);
    EXPECT_LE(std::fabs(overallMean), 0.0015);
    std::printf(
        "IEEE 1180 range [-%d, %d] sign %+d: peak %d, worst position mse %.6f, overall mse "
        "%.6f, worst position mean %.6f, overall mean %.6f\n",
        range.low, range.high, range.sign, errors.peak, worstPositionMse, overallMse,
        worstPositionMean, overallMean);
}

INSTANTIATE_TEST_SUITE_P(AllRangesAndSigns, Ieee1180,
                         ::testing::Values(Range{256, 255, 1}, Range{5, 5, 1}, Range{300, 300, 1},
                                           Range{256, 255, -1}, Range{5, 5, -1},
                                           Range{300, 300, -1}),
                         [](const ::testing::TestParamInfo<Range>& info) {
                             return "From" + std::to_string(info.param.low) + "To" +
                                    std::to_string(info.param.high) +
                                    (info.param.sign > 0 ? "Positive" : "Negated");
                         });

TEST(Ieee1180Zero, ZeroInputGivesZeroOutput) {
    for (KernelLevel level : {KernelLevel::kScalar, DetectKernelLevel()}) {
        InstallKernels(level);
        alignas(16) Ipp16s zero[64] = {};
        alignas(16) Ipp16s output[64];
        std::fill(output, output + 64, Ipp16s{77});
        ippiDCT8x8Inv_16s_C1R(zero, output, 16);
        for (Ipp16s value : output) EXPECT_EQ(value, 0);
    }
    InstallBestKernels();
}

}  // namespace
}  // namespace d2u
