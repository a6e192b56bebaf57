// The inverse DCT: the IEEE 1180-1990 accuracy test and the SIMD versions against the scalar
// one, on every entry the decoder uses.
#include "primitives/inverse_dct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

using Block = std::vector<Ipp16s>;

constexpr double kPi = 3.14159265358979323846;

// c(u) * cos((2x + 1) * u * pi / 16), the basis of ISO/IEC 13818-2 Annex A, [u][x].
struct Basis {
    double at[8][8];
    Basis() {
        for (int u = 0; u < 8; ++u) {
            for (int x = 0; x < 8; ++x) {
                at[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * kPi / 16);
            }
        }
    }
};
const Basis kBasis;

// The double-precision 8x8 transform, forward or inverse, rows then columns.
void Transform(const double in[64], double out[64], bool inverse) {
    double weight[8][8];  // of input index i in output index k
    for (int i = 0; i < 64; ++i) {
        weight[i / 8][i % 8] = inverse ? kBasis.at[i / 8][i % 8] : kBasis.at[i % 8][i / 8];
    }
    double rows[64];
    for (int n = 0; n < 64; ++n) {
        rows[n] = 0;
        for (int i = 0; i < 8; ++i) rows[n] += in[n / 8 * 8 + i] * weight[i][n % 8];
    }
    for (int n = 0; n < 64; ++n) {
        out[n] = 0;
        for (int i = 0; i < 8; ++i) out[n] += weight[i][n / 8] * rows[i * 8 + n % 8];
    }
}

// Both kernels at the installed level: 64 samples, then the 64 bytes of the intra kernel.
Block Transforms(const Block& input) {
    alignas(16) Ipp16s source[64];
    std::copy(input.begin(), input.end(), source);
    Block result(128);
    ippiDCT8x8Inv_16s_C1R(source, result.data(), 16);
    Ipp8u bytes[64];
    ippiDCT8x8InvIntra_16s8u_C1R(source, bytes, 8);
    std::copy(bytes, bytes + 64, result.begin() + 64);
    return result;
}

// Each block through Transforms; blocks within the input range also through the coefficient
// readers' entries, which must give the same numbers.
std::vector<Block> RunAll(KernelLevel level, const std::vector<Block>& blocks) {
    InstallKernels(level);
    std::vector<Block> results;
    for (size_t n = 0; n < blocks.size(); ++n) {
        results.push_back(Transforms(blocks[n]));
        alignas(16) Ipp16s source[64];
        std::copy(blocks[n].begin(), blocks[n].end(), source);
        if (std::all_of(source, source + 64,
                        [](Ipp16s c) { return c >= idct::kInputMin && c <= idct::kInputMax; })) {
            Block residual(64);
            Ipp8u bytes[64];
            idct::InverseInRange(source, residual.data(), 16);
            idct::InverseIntraInRange(source, bytes, 8);
            EXPECT_TRUE(std::equal(residual.begin(), residual.end(), results.back().begin()))
                << "in-range kernel, level " << int(level) << ", block " << n;
            EXPECT_TRUE(std::equal(bytes, bytes + 64, results.back().begin() + 64))
                << "in-range intra kernel, level " << int(level) << ", block " << n;
        }
    }
    InstallBestKernels();
    return results;
}

// ---- IEEE 1180: 10,000 random blocks for each input range and sign, transformed forward in
// double precision, rounded and clipped to the coefficient range, then inverse-transformed by
// the kernel and by the double-precision reference; the rounded and clipped results are
// compared position by position.

constexpr int kBlocks = 10000;

// The random generator of the test procedure (32-bit arithmetic): a value in [-low, high].
class Ieee1180Random {
public:
    int32_t Next(int32_t low, int32_t high) {
        state_ = state_ * 1103515245u + 12345u;
        double x = static_cast<double>(state_ & 0x7FFFFFFEu) / static_cast<double>(0x7FFFFFFF);
        return static_cast<int32_t>(x * (low + high + 1)) - low;
    }

private:
    uint32_t state_ = 1;
};

int32_t RoundClip(double value, int32_t low, int32_t high) {
    return static_cast<int32_t>(
        std::min<double>(high, std::max<double>(low, std::floor(value + 0.5))));
}

struct Range {
    int32_t low;
    int32_t high;
    int sign;
};

class Ieee1180 : public ::testing::TestWithParam<Range> {};

TEST_P(Ieee1180, MeetsThePublishedLimits) {
    const Range range = GetParam();
    InstallBestKernels();
    Ieee1180Random random;
    int64_t sum[64] = {};
    int64_t squares[64] = {};
    int peak = 0;
    for (int block = 0; block < kBlocks; ++block) {
        double samples[64], coefficients[64], reference[64];
        for (double& sample : samples) sample = range.sign * random.Next(range.low, range.high);
        Transform(samples, coefficients, false);
        Block input(64);
        for (int i = 0; i < 64; ++i)
            coefficients[i] = input[i] = Ipp16s(RoundClip(coefficients[i], -2048, 2047));
        Transform(coefficients, reference, true);
        Block output = Transforms(input);
        for (int i = 0; i < 64; ++i) {
            int error =
                std::min(255, std::max(-256, int(output[i]))) - RoundClip(reference[i], -256, 255);
            sum[i] += error;
            squares[i] += error * error;
            peak = std::max(peak, std::abs(error));
        }
        if (block % 16 == 0) {
            InstallKernels(KernelLevel::kScalar);
            ASSERT_EQ(Transforms(input), output) << "the scalar version differs, block " << block;
            InstallBestKernels();
        }
    }
    double worstMse = 0, worstMean = 0, mse = 0, mean = 0;
    for (int i = 0; i < 64; ++i) {
        worstMse = std::max(worstMse, double(squares[i]) / kBlocks);
        worstMean = std::max(worstMean, std::fabs(double(sum[i]) / kBlocks));
        mse += double(squares[i]) / (64.0 * kBlocks);
        mean += double(sum[i]) / (64.0 * kBlocks);
    }
    EXPECT_LE(peak, 1);
    EXPECT_LE(worstMse, 0.06);
    EXPECT_LE(worstMean, 0.015);
    EXPECT_LE(mse, 0.02);
    EXPECT_LE(std::fabs(mean), 0.0015);
    std::printf(
        "IEEE 1180 [-%d, %d] sign %+d: peak %d, mse %.4f (worst position %.4f), mean "
        "%.4f (worst position %.4f)\n",
        range.low, range.high, range.sign, peak, mse, worstMse, mean, worstMean);
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

// ---- Blocks that stress the versions differently: random in and beyond the coefficient
// range, sparse, one extreme coefficient, every DC value, DC with the last coefficient, the
// extremes with the signs of each basis function, and constant extremes.
std::vector<Block> TestBlocks() {
    std::mt19937 random(1180);
    std::vector<Block> blocks;
    for (int n = 0; n < 1600; ++n) {
        Block block(64, 0);
        for (int i = 0; i < 64; ++i) {
            if (n % 4 == 0) block[i] = Ipp16s(random());
            if (n % 4 == 1) block[i] = Ipp16s(int(random() % 4096) - 2048);
        }
        if (n % 4 == 2) {
            for (int k = 0; k < 4; ++k) block[random() % 64] = Ipp16s(int(random() % 601) - 300);
        }
        if (n % 4 == 3) block[random() % 64] = Ipp16s(random() % 2 ? 2047 : -2048);
        blocks.push_back(block);
    }
    for (int dc = -2100; dc <= 2100; ++dc) {
        blocks.push_back(Block(64, 0));
        blocks.back()[0] = Ipp16s(dc);
    }
    // DC and last coefficients only (as mismatch control leaves many blocks), one of them beyond
    // the coefficient range, and with one more coefficient in row 0, row 7 or column 7.
    const int lasts[] = {-32768, -2049, -2048, -1111, -2, -1, 1, 2, 999, 2047, 2048, 32767};
    for (int dc = -2050; dc <= 2050; dc += 41) {
        for (int last : lasts) {
            Block block(64, 0);
            block[0] = Ipp16s(dc);
            block[63] = Ipp16s(last);
            blocks.push_back(block);
            for (int other : {1, 7, 56, 62}) {
                blocks.push_back(block);
                blocks.back()[other] = Ipp16s(last % 7 + 1);
            }
        }
    }
    for (int uv = 0; uv < 64; ++uv) {
        Block block(64);
        for (int i = 0; i < 64; ++i) {
            block[i] = kBasis.at[uv / 8][i / 8] * kBasis.at[uv % 8][i % 8] >= 0 ? 2047 : -2048;
        }
        blocks.push_back(block);
    }
    for (int value : {2047, -2048, 32767, -32768}) blocks.push_back(Block(64, Ipp16s(value)));
    return blocks;
}

// Blocks with one coefficient at each position, alone or with the last one (as mismatch control
// leaves most coded blocks), at the ends of the coefficient range, beyond it and small; then pairs
// of coefficients at random positions, with and without the last one. The SIMD versions have
// short cuts for such blocks, so that every position and the saturation of both values matter.
std::vector<Block> SparseBlocks() {
    const int values[] = {-32768, -2049, -2048, -1000, -1, 1, 3, 1500, 2047, 2048, 32767};
    const int lasts[] = {0, -32768, -2048, -1, 1, 2047, 32767};
    std::vector<Block> blocks;
    for (int position = 0; position < 64; ++position) {
        for (int value : values) {
            for (int last : lasts) {
                Block block(64, 0);
                block[63] = Ipp16s(last);
                block[position] = Ipp16s(value);
                blocks.push_back(block);
            }
        }
    }
    std::mt19937 random(2047);
    for (int n = 0; n < 3000; ++n) {
        Block block(64, 0);
        for (int k = 0; k < 2; ++k) {
            const int value = values[random() % std::size(values)];
            block[random() % 64] = Ipp16s(n % 2 ? value : int(random() % 61) - 30);
        }
        block[63] = Ipp16s(lasts[n % std::size(lasts)]);
        blocks.push_back(block);
    }
    return blocks;
}

std::string Nonzero(const Block& block) {
    std::string text;
    for (int i = 0; i < 64; ++i) {
        if (block[i] != 0) text += " [" + std::to_string(i) + "] = " + std::to_string(block[i]);
    }
    return text;
}

// Every SIMD level of this machine gives the scalar numbers for every block.
TEST(InverseDct, SimdVersionsMatchTheScalarOneBitForBit) {
    if (DetectKernelLevel() == KernelLevel::kScalar) GTEST_SKIP() << "no SIMD on this machine";
    std::vector<Block> blocks = TestBlocks(), sparse = SparseBlocks();
    blocks.insert(blocks.end(), sparse.begin(), sparse.end());
    const std::vector<Block> scalar = RunAll(KernelLevel::kScalar, blocks);
    for (int level = 1; level <= static_cast<int>(DetectKernelLevel()); ++level) {
        const std::vector<Block> simd = RunAll(static_cast<KernelLevel>(level), blocks);
        for (size_t n = 0; n < blocks.size(); ++n) {
            ASSERT_EQ(simd[n], scalar[n])
                << "level " << level << ", block with" << Nonzero(blocks[n]);
        }
    }
}

// A missing block on either side is refused before anything is read or written.
TEST(InverseDct, MissingBlocksAreRefused) {
    Ipp16s coefficients[64] = {};
    Ipp16s samples[64];
    Ipp8u bytes[64];
    EXPECT_EQ(ippiDCT8x8Inv_16s_C1R(nullptr, samples, 16), ippStsNullPtrErr);
    EXPECT_EQ(ippiDCT8x8Inv_16s_C1R(coefficients, nullptr, 16), ippStsNullPtrErr);
    EXPECT_EQ(ippiDCT8x8InvIntra_16s8u_C1R(nullptr, bytes, 8), ippStsNullPtrErr);
    EXPECT_EQ(ippiDCT8x8InvIntra_16s8u_C1R(coefficients, nullptr, 8), ippStsNullPtrErr);
}

// The decoder hands its commonest blocks to the two-coefficient entry without building them:
// at every level it must give the scalar transform of the block it stands for, for each position
// but the last and values at and beyond the ends of the range.
TEST(InverseDct, TwoCoefficientEntryMatchesTheTransformOfItsBlock) {
    const int values[] = {-32768, -2049, -2048, -1000, -1, 0, 1, 3, 1500, 2047, 2048, 32767};
    const int lasts[] = {0, -32768, -2048, -1, 1, 2047, 32767};
    struct Case {
        int position, value, last;
        Block expected;
    };
    std::vector<Case> cases;
    InstallKernels(KernelLevel::kScalar);
    for (int position = 0; position < 63; ++position) {
        for (int value : values) {
            for (int last : lasts) {
                alignas(16) Ipp16s block[64] = {};
                block[position] = Ipp16s(value);
                block[63] = Ipp16s(last);
                Block expected(64);
                ippiDCT8x8Inv_16s_C1R(block, expected.data(), 16);
                cases.push_back({position, value, last, expected});
            }
        }
    }
    for (int level = 0; level <= static_cast<int>(DetectKernelLevel()); ++level) {
        InstallKernels(static_cast<KernelLevel>(level));
        for (const Case& c : cases) {
            // The coefficient reader's block: the value at its position, zeros elsewhere.
            alignas(32) Ipp16s block[64] = {};
            block[c.position] = Ipp16s(c.value);
            Block actual(64);
            idct::InverseTwoCoefficients(block, Ipp16s(c.value), c.position, Ipp16s(c.last),
                                         actual.data(), 16);
            ASSERT_EQ(actual, c.expected) << "level " << level << ", [" << c.position
                                          << "] = " << c.value << ", [63] = " << c.last;
        }
    }
    InstallBestKernels();
}

}  // namespace
}  // namespace d2u
