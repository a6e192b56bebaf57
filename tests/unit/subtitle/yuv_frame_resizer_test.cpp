#include "picture/yuv_frame_resizer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace d2u {
namespace {

void FillPlane(YUVPlane& plane, uint8_t (*value)(int x, int y)) {
    for (int y = 0; y < plane.height; ++y) {
        for (int x = 0; x < plane.width; ++x) plane.data[y * plane.pitch + x] = value(x, y);
    }
}

TEST(YUVFrameResizer, FullHdIntoAThumbnailUsesTheRoundedPlanes) {
    CYUVFrame source;
    ASSERT_EQ(source.Allocate(1920, 1080), 0);
    // Left half dark, right half bright; the padding rows (1080..1087) bright too.
    FillPlane(source.Y, [](int x, int) { return uint8_t(x < 960 ? 16 : 235); });
    FillPlane(source.U, [](int, int y) { return uint8_t(y < 272 ? 60 : 200); });
    CYUVFrameResizer resizer;
    resizer.Init(160, 90);
    CYUVFrame* out = resizer.ResizeFrame(&source);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->Y.width, 160);
    EXPECT_EQ(out->Y.height, 96);
    EXPECT_EQ(out->U.width, 80);
    EXPECT_EQ(out->U.height, 48);
    EXPECT_EQ(out->width, 160);
    EXPECT_EQ(out->height, 90);
    // Horizontal factor 1/12: column 79 covers source columns 948..959, column 80 960..971.
    EXPECT_EQ(out->Y.data[79], 16);
    EXPECT_EQ(out->Y.data[80], 235);
    EXPECT_EQ(out->Y.data[95 * out->Y.pitch + 159], 235);
    // Vertical factor 48/544 on chroma: row 23 lies above source row 272, row 24 below.
    EXPECT_EQ(out->U.data[23 * out->U.pitch], 60);
    EXPECT_EQ(out->U.data[24 * out->U.pitch], 200);
    EXPECT_EQ(out->V.data[0], 128);
}

}  // namespace
}  // namespace d2u
