#include "decoder/motion_vector_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "test_bits.h"

namespace d2u {
namespace {

using test::SourceOverBits;
using test::TestBits;

// Whatever the predictor (up to twice the range) and code, the vector lands in [-16f, 16f) and
// differs from predictor + delta by a multiple of 32f (f = 2^r_size), for every f_code from 1
// to 9.
TEST(MotionVectorComponent, WrapsAroundIntoTheRangeOfEveryFCode) {
    std::mt19937 random(9);
    for (int32_t rSize = 0; rSize <= 8; ++rSize) {
        const int32_t f = 1 << rSize;
        // Doubled field vectors of frame pictures reach twice the range.
        std::vector<int32_t> predictors = {-32 * f, -16 * f,    -16 * f + 1, -1,        0,
                                           1,       16 * f - 2, 16 * f - 1,  32 * f - 1};
        for (int i = 0; i < 8; ++i) predictors.push_back(int32_t(random() % (32 * f)) - 16 * f);
        for (int32_t code = -16; code <= 16; ++code) {
            for (int32_t residual : {0, f / 2, f - 1}) {
                if (code == 0 && residual != 0) continue;
                int32_t delta =
                    code == 0 ? 0 : (code > 0 ? 1 : -1) * ((std::abs(code) - 1) * f + residual + 1);
                for (int32_t predictor : predictors) {
                    int32_t vector = predictor;
                    ASSERT_EQ(CMotionVectorReader::DecodeMotionVectorComponent(&vector, rSize, code,
                                                                               residual, 0),
                              0);
                    ASSERT_TRUE(vector >= -16 * f && vector < 16 * f);
                    ASSERT_EQ(((vector - predictor - delta) % (32 * f) + 32 * f) % (32 * f), 0)
                        << "r_size " << rSize << " code " << code << " residual " << residual
                        << " predictor " << predictor;
                }
            }
        }
    }
}

class MotionVectors : public ::testing::Test {
protected:
    void Load(const TestBits& bits) {
        data.reset(new SourceOverBits(bits));
        reader.Init(&data->source, &data->tables);
    }
    std::unique_ptr<SourceOverBits> data;
    CMotionVectorReader reader;
};

TEST_F(MotionVectors, FullPelAndFieldScaledVectors) {
    Load(TestBits().Put("010 010 1 010"));  // (+1, +1), (0, +1)
    int32_t fullPel[2] = {6, -4};
    ASSERT_EQ(reader.ReadMotionVector(fullPel, nullptr, 0, 0, 0, 0, 1), 0);
    EXPECT_EQ(fullPel[0], 8);   // 6 halves to 3, plus 1, doubled
    EXPECT_EQ(fullPel[1], -2);  // -2 + 1 = -1, doubled
    int32_t field[2] = {5, 10};
    ASSERT_EQ(reader.ReadMotionVector(field, nullptr, 0, 0, 0, 1, 0), 0);
    EXPECT_EQ(field[0], 5);
    EXPECT_EQ(field[1], 12);  // 10 in frame units is field 5, plus 1, back to frame units
}

// A forbidden f_code fails without reading; a vertical code of no codeword fails after the
// horizontal component has been updated.
TEST_F(MotionVectors, BadFCodesAndCodesFail) {
    Load(TestBits().Put("010 0000 0000 000"));  // +1, then no codeword
    int32_t vector[2] = {2, 7};
    for (int32_t bad : {-1, 15}) {
        EXPECT_NE(reader.ReadMotionVector(vector, nullptr, bad, 0, 0, 0, 0), 0);
        EXPECT_NE(reader.ReadMotionVector(vector, nullptr, 0, bad, 0, 0, 0), 0);
        EXPECT_NE(CMotionVectorReader::DecodeMotionVectorComponent(&vector[0], bad, 1, 0, 0), 0);
    }
    EXPECT_EQ(data->BitsRead(), 0u);
    EXPECT_NE(reader.ReadMotionVector(vector, nullptr, 0, 0, 0, 1, 0), 0);
    EXPECT_EQ(vector[0], 3);
    EXPECT_EQ(vector[1], 7);
}

// The frame-vector path reads small r_sizes from a 64-bit window: on random bits (every bit
// offset, r_size up to 14 and mostly up to 3, codes and residuals crossing words, bits of no
// codeword now and then), from predictors anywhere a decoder holds them (up to twice the range,
// as doubled field vectors), it reads the same vectors and the same number of bits, and fails
// where the general path fails.
TEST(FrameVectors, AgreeWithTheGeneralPathOnRandomBits) {
    std::mt19937 random(21);
    TestBits bits;
    for (int i = 0; i < 1500; ++i) bits.PutValue(static_cast<uint32_t>(random()), 32);
    SourceOverBits fast(bits);
    SourceOverBits general(bits);
    CMotionVectorReader fastReader;
    CMotionVectorReader generalReader;
    fastReader.Init(&fast.source, &fast.tables);
    generalReader.Init(&general.source, &general.tables);
    int32_t a[2] = {0, 0};
    int32_t b[2] = {0, 0};
    int failures = 0;
    for (int i = 0; general.BitsRead() + 64 < bits.Size(); ++i) {
        const uint32_t sizes = i % 4 == 0 ? 15 : 4;
        const int32_t hSize = static_cast<int32_t>(random() % sizes);
        const int32_t vSize = static_cast<int32_t>(random() % sizes);
        if (i % 2 == 0) {
            for (int32_t t = 0; t < 2; ++t) {
                const uint32_t range = 64u << (t == 0 ? hSize : vSize);
                a[t] = b[t] =
                    static_cast<int32_t>(random() % range) - static_cast<int32_t>(range / 2);
            }
        }
        int32_t copy[2] = {-99, -99};
        const int32_t fastStatus = fastReader.ReadFrameVector(a, hSize, vSize, copy);
        const int32_t generalStatus =
            generalReader.ReadMotionVector(b, nullptr, hSize, vSize, 0, 0, 0);
        ASSERT_EQ(fastStatus == 0, generalStatus == 0) << "vector " << i;
        ASSERT_TRUE(a[0] == b[0] && a[1] == b[1]) << "vector " << i;
        if (fastStatus == 0) {
            ASSERT_EQ(fast.BitsRead(), general.BitsRead()) << "vector " << i;
            ASSERT_TRUE(copy[0] == a[0] && copy[1] == a[1]) << "vector " << i;
            continue;
        }
        // Both go on one bit after where the general path stopped.
        ++failures;
        general.source.SkipBits(1);
        const size_t position = general.BitsRead();
        fast.source.wordPtr = fast.source.buffer + position / 32;
        fast.source.bitOffset = 31 - static_cast<int32_t>(position % 32);
    }
    EXPECT_GT(failures, 0);
}

TEST(FrameVectors, BadFCodesAndCodesFail) {
    SourceOverBits data(TestBits().Put("010 0000 0000 000"));  // +1, then no codeword
    CMotionVectorReader reader;
    reader.Init(&data.source, &data.tables);
    int32_t vector[2] = {2, 7};
    for (int32_t bad : {-1, 15}) {
        EXPECT_NE(reader.ReadFrameVector(vector, bad, 0), 0);
        EXPECT_NE(reader.ReadFrameVector(vector, 0, bad), 0);
    }
    EXPECT_EQ(data.BitsRead(), 0u);
    EXPECT_NE(reader.ReadFrameVector(vector, 0, 0), 0);
    EXPECT_EQ(vector[0], 3);
    EXPECT_EQ(vector[1], 7);
}

}  // namespace
}  // namespace d2u
