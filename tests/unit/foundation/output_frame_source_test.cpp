#include "input/output_frame_source.h"

#include <gtest/gtest.h>

#include <cstring>

namespace d2u {
namespace {

// A frame source that hands out one fixed frame of a given size.
class FixedFrameSource : public CFrameSource {
public:
    FixedFrameSource(int32_t width, int32_t height) {
        frame.Allocate(width, height);
        std::memset(frame.Y.data, 90, static_cast<size_t>(frame.Y.pitch) * frame.Y.height);
        frame.temporalReference = 3;
        frame.pictureType = 2;
    }
    CYUVFrame* GetNextFrame(int32_t) override { return &frame; }
    int32_t GetWidth() override { return frame.width; }
    int32_t GetHeight() override { return frame.height; }
    CYUVFrame frame;
};

// Without a valid output size the inner frame is handed out as it is; with one, every plane is
// scaled and the picture's description travels with it.
TEST(OutputFrameSource, OutputSizeScalesEveryPlaneUntilSwitchedOff) {
    FixedFrameSource inner(720, 576);
    COutputFrameSource source;
    EXPECT_EQ(source.GetNextFrame(1), nullptr);
    EXPECT_EQ(source.GetWidth(), -1);
    source.SetDecoder(&inner);
    EXPECT_EQ(source.GetNextFrame(1), &inner.frame);
    source.SetOutputSize(352, 288);
    EXPECT_EQ(source.GetWidth(), 352);
    EXPECT_EQ(source.GetHeight(), 288);
    CYUVFrame* frame = source.GetNextFrame(1);
    ASSERT_NE(frame, nullptr);
    ASSERT_NE(frame, &inner.frame);
    EXPECT_EQ(frame->Y.width, 352);
    EXPECT_EQ(frame->Y.height, 288);
    EXPECT_EQ(frame->U.width, 176);
    EXPECT_EQ(frame->V.height, 144);
    EXPECT_EQ(frame->Y.data[351 + 287 * frame->Y.pitch], 90);
    EXPECT_EQ(frame->U.data[100], 128);
    EXPECT_EQ(frame->temporalReference, 3);
    EXPECT_EQ(frame->pictureType, 2);
    const int refused[][2] = {{0, 0}, {200, 0}, {-5, 100}};
    for (const auto& size : refused) {
        source.SetOutputSize(352, 288);
        source.SetOutputSize(size[0], size[1]);
        EXPECT_EQ(source.GetNextFrame(1), &inner.frame) << size[0] << "x" << size[1];
    }
}

}  // namespace
}  // namespace d2u
