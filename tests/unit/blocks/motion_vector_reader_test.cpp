#include "decoder/motion_vector_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "decoder/mpeg_vlc_tables.h"
#include "input/bitstream_data_source.h"
#include "test_bits.h"

namespace d2u {
namespace {

using test::TestBits;

// The motion_code codeword of a value, looked up in the table's input.
void PutMotionCode(TestBits& bits, int32_t motionCode) {
    const Ipp32s* p = CMpegVlcTables::InputTable(CMpegVlcTables::kMotionCode);
    int longest = p[0];
    p += 2 + p[1];
    for (int length = 1; length <= longest; ++length) {
        int count = *p++;
        for (int i = 0; i < count; ++i, p += 2) {
            if (p[1] == motionCode) {
                bits.PutValue(static_cast<uint32_t>(p[0]), length);
                return;
            }
        }
    }
    FAIL() << "no codeword for " << motionCode;
}

class MotionVectors : public ::testing::Test {
protected:
    void Load(const TestBits& bits) {
        std::vector<uint8_t> bytes = bits.Bytes();
        bytes.resize(bytes.size() + 8, 0);
        source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        tables.Build();
        tables.SetDataSource(&source);
        reader.Init(&source, &tables);
    }
    size_t BitsRead() const {
        return static_cast<size_t>(source.wordPtr - source.buffer) * 32 +
               static_cast<size_t>(31 - source.bitOffset);
    }

    CBitstreamDataSource source;
    CMpegVlcTables tables;
    CMotionVectorReader reader;
};

// Whatever the predictor and code, the vector lands in [-16f, 16f) and differs from
// predictor + delta by a multiple of 32f (f = 2^r_size), for every f_code from 1 to 9.
TEST(MotionVectorComponent, WrapsAroundIntoTheRangeOfEveryFCode) {
    std::mt19937 random(9);
    for (int32_t rSize = 0; rSize <= 8; ++rSize) {
        const int32_t f = 1 << rSize;
        std::vector<int32_t> predictors = {-16 * f, -16 * f + 1, -1, 0, 1, 16 * f - 2, 16 * f - 1};
        for (int i = 0; i < 8; ++i)
            predictors.push_back(static_cast<int32_t>(random() % (32 * f)) - 16 * f);
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
                    ASSERT_GE(vector, -16 * f);
                    ASSERT_LT(vector, 16 * f);
                    ASSERT_EQ(((vector - predictor - delta) % (32 * f) + 32 * f) % (32 * f), 0)
                        << "r_size " << rSize << " code " << code << " residual " << residual
                        << " predictor " << predictor;
                }
            }
        }
    }
}

TEST(MotionVectorComponent, KnownValues) {
    struct Case {
        int32_t predictor, rSize, code, residual, fullPel, expected;
    } cases[] = {
        {0, 0, 3, 0, 0, 3}, {0, 0, 16, 0, 0, -16}, {0, 1, -1, 1, 0, -2},    {-31, 1, -1, 1, 0, 31},
        {6, 0, 1, 0, 1, 8}, {-7, 2, 0, 0, 0, -7},  {127, 3, 1, 0, 0, -128},
    };
    for (const Case& c : cases) {
        int32_t vector = c.predictor;
        CMotionVectorReader::DecodeMotionVectorComponent(&vector, c.rSize, c.code, c.residual,
                                                         c.fullPel);
        EXPECT_EQ(vector, c.expected) << "predictor " << c.predictor << " code " << c.code;
    }
}

TEST_F(MotionVectors, ReadsCodesAndResidualsAtEveryRSize) {
    std::mt19937 random(3);
    for (int32_t rSize = 0; rSize <= 8; ++rSize) {
        const int32_t f = 1 << rSize;
        TestBits bits;
        struct Component {
            int32_t code, residual;
        };
        std::vector<Component> components;
        for (int i = 0; i < 20; ++i) {
            Component c{static_cast<int32_t>(random() % 33) - 16, 0};
            if (c.code != 0 && rSize > 0) c.residual = static_cast<int32_t>(random() % f);
            PutMotionCode(bits, c.code);
            if (c.code != 0 && rSize > 0) bits.PutValue(static_cast<uint32_t>(c.residual), rSize);
            components.push_back(c);
        }
        Load(bits);
        int32_t vector[2] = {0, 0};
        int32_t expected[2] = {0, 0};
        for (size_t i = 0; i < components.size(); i += 2) {
            for (int t = 0; t < 2; ++t) {
                CMotionVectorReader::DecodeMotionVectorComponent(
                    &expected[t], rSize, components[i + t].code, components[i + t].residual, 0);
            }
            ASSERT_EQ(reader.ReadMotionVector(vector, nullptr, rSize, rSize, 0, 0, 0), 0);
            EXPECT_EQ(vector[0], expected[0]) << "r_size " << rSize;
            EXPECT_EQ(vector[1], expected[1]) << "r_size " << rSize;
        }
        EXPECT_EQ(BitsRead(), bits.Size()) << "r_size " << rSize;
    }
}

TEST_F(MotionVectors, ForbiddenFCodeFailsWithoutReading) {
    TestBits bits;
    bits.Put("010 010");
    Load(bits);
    int32_t vector[2] = {4, 6};
    for (int32_t bad : {-1, 15}) {
        EXPECT_NE(reader.ReadMotionVector(vector, nullptr, bad, 0, 0, 0, 0), 0);
        EXPECT_NE(reader.ReadMotionVector(vector, nullptr, 0, bad, 0, 0, 0), 0);
        EXPECT_NE(CMotionVectorReader::DecodeMotionVectorComponent(&vector[0], bad, 1, 0, 0), 0);
    }
    EXPECT_EQ(vector[0], 4);
    EXPECT_EQ(vector[1], 6);
    EXPECT_EQ(BitsRead(), 0u);
}

TEST_F(MotionVectors, FullPelAndFieldScaledVectors) {
    TestBits bits;
    bits.Put("010 010");  // +1, +1
    bits.Put("1 010");    // 0, +1
    Load(bits);
    int32_t fullPel[2] = {6, -4};
    ASSERT_EQ(reader.ReadMotionVector(fullPel, nullptr, 0, 0, 0, 0, 1), 0);
    EXPECT_EQ(fullPel[0], 8);   // 6 halves to 3, plus 1, doubled
    EXPECT_EQ(fullPel[1], -2);  // -2 + 1 = -1, doubled
    int32_t field[2] = {5, 10};
    ASSERT_EQ(reader.ReadMotionVector(field, nullptr, 0, 0, 0, 1, 0), 0);
    EXPECT_EQ(field[0], 5);
    EXPECT_EQ(field[1], 12);  // 10 in frame units is field 5, plus 1, back to frame units
}

TEST_F(MotionVectors, TwoFieldVectorsReadTheirOwnFieldSelects) {
    TestBits bits;
    bits.Put("1").Put("010 011");  // select 1, (+1, -1)
    bits.Put("0").Put("0010 1");   // select 0, (+2, 0)
    Load(bits);
    int32_t PMV[2][2][2] = {{{10, 4}, {0, 0}}, {{-3, 8}, {0, 0}}};
    int32_t select[2][2] = {{7, 7}, {7, 7}};
    ASSERT_EQ(reader.ReadMotionVectors(PMV, nullptr, select, 0, 2, 0, 0, 0, 0, 1), 0);
    EXPECT_EQ(select[0][0], 1);
    EXPECT_EQ(select[1][0], 0);
    EXPECT_EQ(PMV[0][0][0], 11);
    EXPECT_EQ(PMV[0][0][1], 2);  // 4 is field 2, minus 1, frame units 2
    EXPECT_EQ(PMV[1][0][0], -1);
    EXPECT_EQ(PMV[1][0][1], 8);
    EXPECT_EQ(select[0][1], 7);
    EXPECT_EQ(BitsRead(), bits.Size());
}

TEST_F(MotionVectors, OneVectorCopiesToTheSecondAndSharesItsFieldSelect) {
    TestBits bits;
    bits.Put("1").Put("010 1");  // field format: select 1, (+1, 0)
    bits.Put("011 011");         // frame format: no select, (-1, -1)
    bits.Put("010 010");         // dual prime: no select, (+1, +1)
    Load(bits);
    int32_t PMV[2][2][2] = {};
    int32_t select[2][2] = {};
    int32_t dmvector[2] = {5, 5};
    ASSERT_EQ(reader.ReadMotionVectors(PMV, dmvector, select, 1, 1, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(select[0][1], 1);
    EXPECT_EQ(select[1][1], 1);
    EXPECT_EQ(PMV[1][1][0], 1);
    EXPECT_EQ(PMV[1][1][1], 0);
    ASSERT_EQ(reader.ReadMotionVectors(PMV, dmvector, select, 1, 1, 1, 0, 0, 0, 0), 0);
    EXPECT_EQ(PMV[0][1][0], 0);
    EXPECT_EQ(PMV[0][1][1], -1);
    EXPECT_EQ(PMV[1][1][1], -1);
    EXPECT_EQ(dmvector[0], 5);
    ASSERT_EQ(reader.ReadMotionVectors(PMV, dmvector, select, 1, 1, 0, 0, 0, 1, 0), 0);
    EXPECT_EQ(PMV[0][1][0], 1);
    EXPECT_EQ(dmvector[0], 0);
    EXPECT_EQ(dmvector[1], 0);
    EXPECT_EQ(BitsRead(), bits.Size());
}

TEST_F(MotionVectors, AFailedVerticalCodeKeepsTheNewHorizontalComponent) {
    TestBits bits;
    bits.Put("010").Put("0000 0000 000");  // +1, then no codeword
    Load(bits);
    int32_t vector[2] = {2, 7};
    EXPECT_NE(reader.ReadMotionVector(vector, nullptr, 0, 0, 0, 1, 0), 0);
    EXPECT_EQ(vector[0], 3);
    EXPECT_EQ(vector[1], 7);
}

}  // namespace
}  // namespace d2u
