// 8x8 inverse DCT, into 16-bit residuals and clipped to 8-bit samples (intra blocks).
// Sparse blocks hold a few coefficients at raster positions drawn towards the start (mostly in
// row 0 and 1, any column), zigzag blocks a few at zigzag positions drawn the same way (mostly
// in the top-left 4x4 corner, as coded blocks usually are), dense ones a full block of random
// coefficients. Mismatch blocks are zigzag ones, one in four of them DC only, after mismatch
// control (coefficient 63 toggled when the sum is even), as the decoder hands them over. Residual
// blocks mimic the non-intra blocks of a 6 Mbit/s stream: one coefficient besides the last one in
// 42% of them, two in 20%, three in 11%, four to nine in the rest, at zigzag positions drawn
// towards the start, small values, and the last coefficient +-1 in 81% of the blocks; single
// blocks are such blocks with just one coefficient besides the last one, which the two-value
// entry takes as the decoder hands them over: the coefficient, its position and the last one.
// Reports blocks per second.
#include <algorithm>
#include <random>
#include <string>
#include <utility>

#include "decoder/mpeg_tables.h"
#include "kernel_bench_support.h"
#include "primitives/inverse_dct.h"

namespace d2u {
namespace bench {
namespace {

constexpr int kBlocks = 1024;

enum class Shape { kSparse, kZigzag, kDense, kMismatch, kResidual, kSingle };

void ToggleLastIfEven(Ipp16s* coefficients) {
    int sum = 0;
    for (int i = 0; i < 64; ++i) sum += coefficients[i];
    if (sum % 2 == 0) coefficients[63] ^= 1;
}

std::vector<Ipp16s> ResidualCoefficients(bool single) {
    std::vector<Ipp16s> blocks(64 * kBlocks, 0);
    std::mt19937 random(34);
    std::discrete_distribution<int> count({0, 42, 20, 11, 9, 6, 5, 3, 2, 2});
    std::geometric_distribution<int> position(0.2);
    std::uniform_int_distribution<int> value(-40, 40);
    for (int block = 0; block < kBlocks; ++block) {
        Ipp16s* coefficients = &blocks[64 * block];
        for (int n = single ? 1 : count(random); n > 0;) {
            const int at = kZigzagScan[std::min(position(random), 62)];
            const int v = value(random);
            if (coefficients[at] != 0 || v == 0) continue;
            coefficients[at] = Ipp16s(v);
            --n;
        }
        if (random() % 100 < 81) coefficients[63] = random() % 2 ? 1 : -1;
    }
    return blocks;
}

std::vector<Ipp16s> Coefficients(Shape shape) {
    if (shape == Shape::kResidual || shape == Shape::kSingle) {
        return ResidualCoefficients(shape == Shape::kSingle);
    }
    if (shape == Shape::kDense) {
        return RandomSamples(64 * kBlocks, idct::kInputMin, idct::kInputMax, 31);
    }
    std::vector<Ipp16s> blocks(64 * kBlocks, 0);
    std::vector<Ipp16s> values = RandomSamples(blocks.size(), -300, 300, 32);
    std::mt19937 random(33);
    std::geometric_distribution<int> position(0.15);
    for (int block = 0; block < kBlocks; ++block) {
        Ipp16s* coefficients = &blocks[64 * block];
        if (shape == Shape::kMismatch && block % 4 == 0) {
            coefficients[0] = values[64 * block];
        } else {
            for (int i = 0; i < 6; ++i) {
                const int index = position(random) & 63;
                const int at = shape == Shape::kSparse ? index : int(kZigzagScan[index]);
                coefficients[at] = values[64 * block + i];
            }
        }
        if (shape == Shape::kMismatch) ToggleLastIfEven(coefficients);
    }
    return blocks;
}

void InverseToResidual(benchmark::State& state, Shape shape) {
    std::vector<Ipp16s> blocks = Coefficients(shape);
    alignas(16) Ipp16s out[64];
    for (auto _ : state) {
        for (int block = 0; block < kBlocks; ++block) {
            ippiDCT8x8Inv_16s_C1R(&blocks[64 * block], out, 8 * sizeof(Ipp16s));
            benchmark::DoNotOptimize(out[0]);
        }
    }
    ReportItems(state, kBlocks, "blocks");
}

void InverseToPixels(benchmark::State& state, Shape shape) {
    std::vector<Ipp16s> blocks = Coefficients(shape);
    alignas(16) Ipp8u out[64];
    for (auto _ : state) {
        for (int block = 0; block < kBlocks; ++block) {
            ippiDCT8x8InvIntra_16s8u_C1R(&blocks[64 * block], out, 8);
            benchmark::DoNotOptimize(out[0]);
        }
    }
    ReportItems(state, kBlocks, "blocks");
}

void InverseTwoValues(benchmark::State& state) {
    std::vector<Ipp16s> blocks = Coefficients(Shape::kSingle);
    std::vector<int> positions;
    for (int block = 0; block < kBlocks; ++block) {
        const Ipp16s* coefficients = &blocks[64 * block];
        positions.push_back(
            int(std::find_if(coefficients, coefficients + 63, [](Ipp16s c) { return c != 0; }) -
                coefficients));
    }
    alignas(16) Ipp16s out[64];
    for (auto _ : state) {
        for (int block = 0; block < kBlocks; ++block) {
            Ipp16s* coefficients = &blocks[64 * block];
            const int position = positions[block];
            idct::InverseTwoCoefficients(coefficients, coefficients[position], position,
                                         coefficients[63], out, 8 * sizeof(Ipp16s));
            benchmark::DoNotOptimize(out[0]);
        }
    }
    ReportItems(state, kBlocks, "blocks");
}

const bool registered = [] {
    const std::pair<Shape, const char*> shapes[] = {
        {Shape::kSparse, "sparse"},     {Shape::kZigzag, "zigzag"},     {Shape::kDense, "dense"},
        {Shape::kMismatch, "mismatch"}, {Shape::kResidual, "residual"}, {Shape::kSingle, "single"}};
    for (const auto& [shape, name] : shapes) {
        RegisterAtEveryLevel(std::string("idct/residual_") + name,
                             [shape](benchmark::State& state) { InverseToResidual(state, shape); });
        RegisterAtEveryLevel(std::string("idct/intra_8u_") + name,
                             [shape](benchmark::State& state) { InverseToPixels(state, shape); });
    }
    RegisterAtEveryLevel("idct/residual_two_values", InverseTwoValues);
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
