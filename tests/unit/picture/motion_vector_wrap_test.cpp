// Vector components wrap back into the f_code range at either end. A frame vector predicted
// from a field vector of frame pictures (kept doubled) starts outside the range, so a
// difference of either sign may leave it on either side.
#include <gtest/gtest.h>

#include "decoder/motion_vector_reader.h"

namespace d2u {
namespace {

struct WrapCase {
    int32_t predictor, rSize, motionCode, residual, expected;
};

TEST(MotionVectorWrapTest, ComponentsWrapAtBothEndsOfTheRange) {
    const WrapCase cases[] = {
        {10, 0, 8, 0, -14},    // inside, leaves at the top
        {-10, 0, -8, 0, 14},   // inside, leaves at the bottom
        {30, 0, -14, 0, -16},  // doubled predictor above, negative difference stays above
        {-32, 0, 14, 0, 14},   // doubled predictor below, positive difference stays below
        {120, 2, -3, 1, -18},  // f_code 3: 120 - 10 = 110, one range (128) down
        {-128, 2, 2, 3, 8},    // -128 + 8 = -120, one range up
        {5, 1, 0, 0, 5},       // no difference
    };
    for (const WrapCase& c : cases) {
        int32_t vector = c.predictor;
        EXPECT_EQ(CMotionVectorReader::DecodeMotionVectorComponent(&vector, c.rSize, c.motionCode,
                                                                   c.residual, 0),
                  0);
        EXPECT_EQ(vector, c.expected) << "predictor " << c.predictor << " code " << c.motionCode;
    }
}

}  // namespace
}  // namespace d2u
