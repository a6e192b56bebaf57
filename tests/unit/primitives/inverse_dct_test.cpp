// The inverse DCT: the IEEE 1180-1990 accuracy test, and every level against the scalar version
// on every entry the decoder uses.
#include "primitives/inverse_dct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <vector>

#include "kernel_levels.h"

namespace d2u {
namespace {

using Block = std::vector<Ipp16s>;

// c(u) * cos((2x + 1) * u * pi / 16), [u][x].
const struct Basis {
    double at[8][8];
} kBasis = [] {
    Basis basis;
    for (int n = 0; n < 64; ++n) {
        basis.at[n / 8][n % 8] = (n < 8 ? std::sqrt(0.125) : 0.5) *
                                 std::cos((2 * (n % 8) + 1) * (n / 8) * std::acos(-1.0) / 16);
    }
    return basis;
}();

// The double-precision 8x8 transform, forward or inverse, rows then columns.
void Transform(const double in[64], double out[64], bool inverse) {
    auto weight = [inverse](int i, int k) { return inverse ? kBasis.at[i][k] : kBasis.at[k][i]; };
    double rows[64];
    for (int n = 0; n < 64; ++n) {
        rows[n] = 0;
        for (int i = 0; i < 8; ++i) rows[n] += in[n / 8 * 8 + i] * weight(i, n % 8);
    }
    for (int n = 0; n < 64; ++n) {
        out[n] = 0;
        for (int i = 0; i < 8; ++i) out[n] += weight(i, n / 8) * rows[i * 8 + n % 8];
    }
}

int32_t RoundClip(double value, int32_t low, int32_t high) {
    return static_cast<int32_t>(std::clamp(std::floor(value + 0.5), double(low), double(high)));
}

constexpr int kBlocks = 10000;
const struct Range {
    int32_t low, high, sign;
} kRanges[] = {{256, 255, 1}, {5, 5, 1}, {300, 300, 1}, {256, 255, -1}, {5, 5, -1}, {300, 300, -1}};

// The accuracy test's coefficient blocks: random samples in [-low, high] from the procedure's
// generator (32-bit arithmetic), times the sign, transformed forward in double precision, rounded
// and clipped to the coefficient range.
std::vector<Block> Ieee1180Blocks(const Range& range) {
    uint32_t state = 1;
    std::vector<Block> blocks;
    for (int n = 0; n < kBlocks; ++n) {
        double samples[64], coefficients[64];
        for (double& sample : samples) {
            state = state * 1103515245u + 12345u;
            const double x = static_cast<double>(state & 0x7FFFFFFEu) / 0x7FFFFFFF;
            sample =
                range.sign * (static_cast<int32_t>(x * (range.low + range.high + 1)) - range.low);
        }
        Transform(samples, coefficients, false);
        Block& block = blocks.emplace_back(64);
        for (int i = 0; i < 64; ++i) block[i] = Ipp16s(RoundClip(coefficients[i], -2048, 2047));
    }
    return blocks;
}

// Both full entries at the installed level: 64 samples, then the 64 bytes of the intra entry.
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

// Each block's kernel output against the double-precision inverse of its coefficients, rounded
// and clipped, position by position.
TEST(InverseDct, MeetsTheIeee1180Limits) {
    for (const Range& range : kRanges) {
        int64_t sum[64] = {}, squares[64] = {};
        int peak = 0;
        for (const Block& input : Ieee1180Blocks(range)) {
            double coefficients[64], reference[64];
            std::copy(input.begin(), input.end(), coefficients);
            Transform(coefficients, reference, true);
            const Block output = Transforms(input);
            for (int i = 0; i < 64; ++i) {
                const int error =
                    std::clamp<int>(output[i], -256, 255) - RoundClip(reference[i], -256, 255);
                sum[i] += error;
                squares[i] += error * error;
                peak = std::max(peak, std::abs(error));
            }
        }
        double worstMse = 0, worstMean = 0, mse = 0, mean = 0;
        for (int i = 0; i < 64; ++i) {
            worstMse = std::max(worstMse, double(squares[i]) / kBlocks);
            worstMean = std::max(worstMean, std::fabs(double(sum[i]) / kBlocks));
            mse += double(squares[i]) / (64.0 * kBlocks);
            mean += double(sum[i]) / (64.0 * kBlocks);
        }
        std::printf(
            "IEEE 1180 [-%d, %d] sign %+d: peak %d, mse %.4f (worst position %.4f), mean "
            "%.4f (worst position %.4f)\n",
            range.low, range.high, range.sign, peak, mse, worstMse, mean, worstMean);
        EXPECT_LE(peak, 1);
        EXPECT_LE(worstMse, 0.06);
        EXPECT_LE(worstMean, 0.015);
        EXPECT_LE(mse, 0.02);
        EXPECT_LE(std::fabs(mean), 0.0015);
    }
}

// Blocks that take the versions down different paths: the accuracy test's; random in and beyond
// the coefficient range, sparse, one extreme coefficient; every DC value; DC with the last
// coefficient (as mismatch control leaves many blocks), with one more in row 0, row 7 or column 7;
// the extremes with the signs of each basis function; constant extremes; then one coefficient at
// each position, alone or with the last one, at and beyond the ends of the range and small, and
// pairs at random positions. The SIMD versions have short cuts for sparse blocks, so that every
// position and the saturation of every value matter.
std::vector<Block> Blocks() {
    std::vector<Block> blocks;
    for (const Range& range : kRanges) {
        for (const Block& block : Ieee1180Blocks(range)) blocks.push_back(block);
    }
    std::mt19937 random(1180);
    for (int n = 0; n < 1600; ++n) {
        Block& block = blocks.emplace_back(64, 0);
        for (int i = 0; i < 64; ++i) {
            if (n % 4 == 0) block[i] = Ipp16s(random());
            if (n % 4 == 1) block[i] = Ipp16s(int(random() % 4096) - 2048);
        }
        if (n % 4 == 2) {
            for (int k = 0; k < 4; ++k) block[random() % 64] = Ipp16s(int(random() % 601) - 300);
        }
        if (n % 4 == 3) block[random() % 64] = Ipp16s(random() % 2 ? 2047 : -2048);
    }
    for (int dc = -2100; dc <= 2100; ++dc) blocks.emplace_back(64, 0)[0] = Ipp16s(dc);
    for (int dc = -2050; dc <= 2050; dc += 41) {
        for (int last : {-32768, -2049, -2048, -1111, -2, -1, 1, 2, 999, 2047, 2048, 32767}) {
            Block block(64, 0);
            block[0] = Ipp16s(dc);
            block[63] = Ipp16s(last);
            blocks.push_back(block);
            for (int other : {1, 7, 56, 62})
                blocks.emplace_back(block)[other] = Ipp16s(last % 7 + 1);
        }
    }
    for (int uv = 0; uv < 64; ++uv) {
        Block& block = blocks.emplace_back(64);
        for (int i = 0; i < 64; ++i) {
            block[i] = kBasis.at[uv / 8][i / 8] * kBasis.at[uv % 8][i % 8] >= 0 ? 2047 : -2048;
        }
    }
    for (int value : {2047, -2048, 32767, -32768}) blocks.emplace_back(64, Ipp16s(value));
    const int values[] = {-32768, -2049, -2048, -1000, -1, 1, 3, 1500, 2047, 2048, 32767};
    const int lasts[] = {0, -32768, -2048, -1, 1, 2047, 32767};
    for (int position = 0; position < 64; ++position) {
        for (int value : values) {
            for (int last : lasts) {
                Block& block = blocks.emplace_back(64, 0);
                block[63] = Ipp16s(last);
                block[position] = Ipp16s(value);
            }
        }
    }
    random.seed(2047);
    for (int n = 0; n < 3000; ++n) {
        Block& block = blocks.emplace_back(64, 0);
        for (int k = 0; k < 2; ++k) {
            const int value = values[random() % std::size(values)];
            block[random() % 64] = Ipp16s(n % 2 ? value : int(random() % 61) - 30);
        }
        block[63] = Ipp16s(lasts[n % std::size(lasts)]);
    }
    return blocks;
}

// Each block through both full entries; at the same level, the entries the coefficient reader
// uses for the blocks they take must give the same numbers.
std::vector<Block> RunAll(const std::vector<Block>& blocks) {
    std::vector<Block> results;
    for (size_t n = 0; n < blocks.size(); ++n) {
        const Block& result = results.emplace_back(Transforms(blocks[n]));
        alignas(16) Ipp16s source[64];
        std::copy(blocks[n].begin(), blocks[n].end(), source);
        auto same = [&result](const auto* actual, int from) {
            return std::equal(actual, actual + 64, result.begin() + from);
        };
        alignas(16) Ipp16s residual[64];
        Ipp8u bytes[64];
        if (std::all_of(source, source + 64,
                        [](Ipp16s c) { return c >= idct::kInputMin && c <= idct::kInputMax; })) {
            idct::InverseInRange(source, residual, 16);
            idct::InverseIntraInRange(source, bytes, 8);
            EXPECT_TRUE(same(residual, 0)) << "in-range entry, block " << n;
            EXPECT_TRUE(same(bytes, 64)) << "in-range intra entry, block " << n;
            if (std::all_of(source + 1, source + 63, [](Ipp16s c) { return c == 0; })) {
                idct::InverseIntraCorners(source[0], source[63], bytes, 8);
                EXPECT_TRUE(same(bytes, 64)) << "intra corners entry, block " << n;
            }
        }
        // The decoder hands a block with one coefficient besides the last to this entry without
        // building it: only that coefficient is in the block.
        const auto coded = std::count_if(source, source + 63, [](Ipp16s c) { return c != 0; });
        for (int position = 0; position < 63 && coded <= 1; ++position) {
            if (coded == 1 && source[position] == 0) continue;
            alignas(32) Ipp16s block[64] = {};
            block[position] = source[position];
            idct::InverseTwoCoefficients(block, source[position], position, source[63], residual,
                                         16);
            EXPECT_TRUE(same(residual, 0))
                << "two-coefficient entry at " << position << ", block " << n;
        }
    }
    return results;
}

TEST(InverseDct, EveryLevelMatchesTheScalarVersionBitForBit) {
    const std::vector<Block> blocks = Blocks();
    test::ExpectEveryLevelGivesTheScalarResult([&blocks] { return RunAll(blocks); });
}

// A missing block on either side is refused before anything is read or written.
TEST(InverseDct, MissingBlocksAreRefused) {
    Ipp16s coefficients[64] = {}, samples[64];
    Ipp8u bytes[64];
    EXPECT_EQ(ippiDCT8x8Inv_16s_C1R(nullptr, samples, 16), ippStsNullPtrErr);
    EXPECT_EQ(ippiDCT8x8Inv_16s_C1R(coefficients, nullptr, 16), ippStsNullPtrErr);
    EXPECT_EQ(ippiDCT8x8InvIntra_16s8u_C1R(nullptr, bytes, 8), ippStsNullPtrErr);
    EXPECT_EQ(ippiDCT8x8InvIntra_16s8u_C1R(coefficients, nullptr, 8), ippStsNullPtrErr);
}

}  // namespace
}  // namespace d2u
