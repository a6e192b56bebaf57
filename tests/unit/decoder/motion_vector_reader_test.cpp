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

using test::TestBits;
using test::WordCursor;

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
    void SetUp() override {
        tables.Build();
        reader.Init(&tables);
    }
    CMpegVlcTables tables;
    CMotionVectorReader reader;
};

TEST_F(MotionVectors, FullPelAndFieldScaledVectors) {
    WordCursor bits(TestBits().Put("010 010 1 010"));  // (+1, +1), (0, +1)
    int32_t fullPel[2] = {6, -4};
    ASSERT_EQ(reader.ReadMotionVector(bits.at, fullPel, 0, 0, 0, 1), 0);
    EXPECT_EQ(fullPel[0], 8);   // 6 halves to 3, plus 1, doubled
    EXPECT_EQ(fullPel[1], -2);  // -2 + 1 = -1, doubled
    int32_t field[2] = {5, 10};
    ASSERT_EQ(reader.ReadMotionVector(bits.at, field, 0, 0, 1, 0), 0);
    EXPECT_EQ(field[0], 5);
    EXPECT_EQ(field[1], 12);  // 10 in frame units is field 5, plus 1, back to frame units
}

// A forbidden f_code fails without reading, on both paths; a vertical code of no codeword fails
// after the horizontal component has been updated.
TEST_F(MotionVectors, BadFCodesAndCodesFail) {
    for (bool frame : {false, true}) {
        WordCursor bits(TestBits().Put("010 0000 0000 000"));  // +1, then no codeword
        auto read = [&](int32_t* vector, int32_t h, int32_t v) {
            return frame ? reader.ReadFrameVector(bits.at, vector, h, v)
                         : reader.ReadMotionVector(bits.at, vector, h, v, 0, 0);
        };
        int32_t vector[2] = {2, 7};
        for (int32_t bad : {-1, 15}) {
            EXPECT_NE(read(vector, bad, 0), 0);
            EXPECT_NE(read(vector, 0, bad), 0);
            EXPECT_NE(CMotionVectorReader::DecodeMotionVectorComponent(&vector[0], bad, 1, 0, 0),
                      0);
        }
        EXPECT_EQ(bits.BitsRead(), 0u);
        EXPECT_NE(read(vector, 0, 0), 0);
        EXPECT_EQ(vector[0], 3);
        EXPECT_EQ(vector[1], 7);
    }
}

// The frame-vector path reads small r_sizes from the reader's cache: on random bits (every bit
// offset, r_size up to 14 and mostly up to 3, codes and residuals crossing words, bits of no
// codeword now and then), from predictors anywhere a decoder holds them (up to twice the range,
// as doubled field vectors), it reads the same vectors and the same number of bits, and fails
// where the general path fails.
TEST_F(MotionVectors, FrameVectorsAgreeWithTheGeneralPathOnRandomBits) {
    std::mt19937 random(21);
    TestBits bits;
    for (int i = 0; i < 1500; ++i) bits.PutValue(static_cast<uint32_t>(random()), 32);
    WordCursor fast(bits);
    WordCursor general(bits);
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
        const int32_t fastStatus = reader.ReadFrameVector(fast.at, a, hSize, vSize, copy);
        const int32_t generalStatus = reader.ReadMotionVector(general.at, b, hSize, vSize, 0, 0);
        ASSERT_EQ(fastStatus == 0, generalStatus == 0) << "vector " << i;
        ASSERT_TRUE(a[0] == b[0] && a[1] == b[1]) << "vector " << i;
        if (fastStatus == 0) {
            ASSERT_EQ(fast.BitsRead(), general.BitsRead()) << "vector " << i;
            ASSERT_TRUE(copy[0] == a[0] && copy[1] == a[1]) << "vector " << i;
            continue;
        }
        // Both go on one bit after where the general path stopped.
        ++failures;
        general.at.Skip(1);
        const size_t position = general.BitsRead();
        fast.at = BitReader(fast.words.data() + position / 32, 31 - int(position % 32));
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace d2u
