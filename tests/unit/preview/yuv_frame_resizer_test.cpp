#include "preview/yuv_frame_resizer.h"

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

TEST(YUVFrameResizer, EqualSizesCopyAndLargerSizesScaleUp) {
    CYUVFrame source;
    ASSERT_EQ(source.Allocate(100, 75), 0);
    FillPlane(source.Y, [](int x, int y) { return uint8_t((x * 7 + y * 3) & 0xFF); });
    CYUVFrameResizer same;
    same.Init(112, 80);  // the same rounded planes
    CYUVFrame* copy = same.ResizeFrame(&source);
    EXPECT_EQ(std::memcmp(copy->Y.data, source.Y.data, 112 * 80), 0);

    CYUVFrameResizer larger;
    larger.Init(224, 160);
    CYUVFrame* up = larger.ResizeFrame(&source);
    EXPECT_EQ(up->Y.width, 224);
    EXPECT_EQ(up->Y.data[0], source.Y.data[0]);
}

TEST(YUVFrameResizer, WithoutInitOrSourceNothingIsWritten) {
    CYUVFrameResizer resizer;
    CYUVFrame source;
    ASSERT_EQ(source.Allocate(64, 64), 0);
    CYUVFrame* out = resizer.ResizeFrame(&source);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->Y.data, nullptr);
    resizer.Init(32, 32);
    EXPECT_EQ(resizer.ResizeFrame(nullptr)->Y.data[0], 0);
}

}  // namespace
}  // namespace d2u
