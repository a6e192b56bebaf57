#include "subtitle/subtitle_placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace d2u {
namespace {

SubtitleRecord Record(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t width,
                      int32_t height) {
    SubtitleRecord record{};
    record.x1 = x1;
    record.y1 = y1;
    record.x2 = x2;
    record.y2 = y2;
    record.width = width;
    record.height = height;
    return record;
}

SubtitleScaling Scaling(double sx, double sy, int32_t maxWidth = 720, int32_t maxHeight = 576) {
    SubtitleScaling scaling;
    scaling.xFactor = sx;
    scaling.yFactor = sy;
    scaling.maxWidth = maxWidth;
    scaling.maxHeight = maxHeight;
    return scaling;
}

void ExpectUnscaled(const SubtitlePlacement& placement, const SubtitleRecord& record) {
    EXPECT_FALSE(placement.scaled);
    EXPECT_EQ(placement.x1, record.x1);
    EXPECT_EQ(placement.y1, record.y1);
    EXPECT_EQ(placement.x2, record.x2);
    EXPECT_EQ(placement.y2, record.y2);
    EXPECT_EQ(placement.width, record.width);
    EXPECT_EQ(placement.height, record.height);
}

TEST(SubtitlePlacement, FactorsWithinOnePercentOfOneChangeNothing) {
    SubtitleRecord record = Record(100, 400, 300, 440, 200, 40);
    ExpectUnscaled(PlaceSubtitle(record, Scaling(1.005, 0.995)), record);
    ExpectUnscaled(PlaceSubtitle(record, Scaling(0.995, 1.005)), record);
    EXPECT_TRUE(PlaceSubtitle(record, Scaling(1.02, 1.0)).scaled);
    EXPECT_TRUE(PlaceSubtitle(record, Scaling(1.0, 1.02)).scaled);
}

TEST(SubtitlePlacement, ScaledPictureIsCentredOnTheMaximumWidth) {
    // x1 + x2 = 1152 at factor 1.25 gives Xs + X2s = 1440, twice the maximum width.
    SubtitlePlacement placement =
        PlaceSubtitle(Record(476, 400, 676, 440, 200, 40), Scaling(1.25, 1.25));
    ASSERT_TRUE(placement.scaled);
    EXPECT_EQ(placement.width, 250);
    EXPECT_EQ(placement.height, 50);
    // Xs 595, X2s 845, shift 720 - 360.
    EXPECT_EQ(placement.x1, 235);
    EXPECT_EQ(placement.x2, 485);
    // Y2s 550 divided by S / maxW = 2; y1 keeps the scaled height above it.
    EXPECT_EQ(placement.y2, 275);
    EXPECT_EQ(placement.y1, 225);
}

TEST(SubtitlePlacement, SumEqualToTheMaximumWidthMeansNoShift) {
    SubtitlePlacement placement =
        PlaceSubtitle(Record(188, 400, 388, 440, 200, 40), Scaling(1.25, 1.25));
    ASSERT_TRUE(placement.scaled);
    EXPECT_EQ(placement.x1, 235);  // Xs
    EXPECT_EQ(placement.x2, 485);  // X2s
    EXPECT_EQ(placement.y1, 500);  // Ys
    EXPECT_EQ(placement.y2, 550);  // Y2s
}

TEST(SubtitlePlacement, BottomBeyondTheMaximumHeightMovesThePictureUp) {
    // S = 360: Y2n = 550 / 0.5 = 1100 > 576.
    SubtitlePlacement placement =
        PlaceSubtitle(Record(44, 400, 244, 440, 200, 40), Scaling(1.25, 1.25));
    ASSERT_TRUE(placement.scaled);
    EXPECT_EQ(placement.y2, 576);
    EXPECT_EQ(placement.y1, 500 - 550 + 576);
    EXPECT_EQ(placement.x1, 235);
    EXPECT_EQ(placement.x2, 485);
}

TEST(SubtitlePlacement, PictureWiderThanTheMaximumIsFittedKeepingTheFactorRatio) {
    SubtitlePlacement placement =
        PlaceSubtitle(Record(10, 500, 710, 540, 700, 40), Scaling(1.5, 1.2));
    ASSERT_TRUE(placement.scaled);
    EXPECT_DOUBLE_EQ(placement.xFactor, 720.0 / 700.0);
    EXPECT_DOUBLE_EQ(placement.yFactor, 720.0 / 700.0 * 1.2 / 1.5);
    EXPECT_GE(placement.width, 719);
    EXPECT_LE(placement.width, 720);
    EXPECT_EQ(placement.height, static_cast<int32_t>(40 * (720.0 / 700.0 * 1.2 / 1.5)));
}

TEST(SubtitlePlacement, MissingMaximumSizeZeroSumOrUnusableFactorsLeaveThePicture) {
    SubtitleRecord record = Record(100, 400, 300, 440, 200, 40);
    ExpectUnscaled(PlaceSubtitle(record, Scaling(1.5, 1.5, 0, 0)), record);
    ExpectUnscaled(PlaceSubtitle(record, Scaling(1.5, 1.5, 720, 0)), record);
    ExpectUnscaled(PlaceSubtitle(record, Scaling(1.5, 1.5, -720, 576)), record);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    ExpectUnscaled(PlaceSubtitle(record, Scaling(nan, 1.5)), record);
    ExpectUnscaled(PlaceSubtitle(record, Scaling(1.5, infinity)), record);
    ExpectUnscaled(PlaceSubtitle(record, Scaling(-2.0, 1.5)), record);
    ExpectUnscaled(PlaceSubtitle(record, Scaling(0.0, 0.0)), record);
    // x1 0 and x2 1 scaled by 0.5 truncate to 0 + 0.
    SubtitleRecord corner = Record(0, 10, 1, 11, 1, 1);
    ExpectUnscaled(PlaceSubtitle(corner, Scaling(0.5, 0.5)), corner);
}

TEST(SubtitlePlacement, ExtremeFactorsAndSizesStayFinite) {
    SubtitleRecord record = Record(700, 570, 720, 576, 20, 6);
    for (double factor : {1e-12, 1e-3, 50.0, 1e12, 1e300}) {
        for (int32_t maxSize : {1, 720, 2147483647}) {
            SubtitlePlacement placement =
                PlaceSubtitle(record, Scaling(factor, 1.0 / factor, maxSize, maxSize));
            EXPECT_LE(std::abs(static_cast<double>(placement.x1)), 1 << 30);
            EXPECT_LE(std::abs(static_cast<double>(placement.y1)), 1 << 30);
            EXPECT_GE(placement.width, 0);
            EXPECT_GE(placement.height, 0);
        }
    }
}

}  // namespace
}  // namespace d2u
