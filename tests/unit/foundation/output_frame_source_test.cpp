#include "input/output_frame_source.h"

#include <gtest/gtest.h>

#include <cstring>

#include "d2udir.h"

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

TEST(OutputFrameSource, WithoutOutputSizeHandsOutTheInnerFrame) {
    FixedFrameSource inner(720, 576);
    COutputFrameSource source;
    source.SetDecoder(&inner);
    EXPECT_EQ(source.GetNextFrame(1), &inner.frame);
    EXPECT_EQ(source.GetWidth(), 720);
    EXPECT_EQ(source.GetHeight(), 576);
}

TEST(OutputFrameSource, OutputSizeScalesEveryPlane) {
    FixedFrameSource inner(720, 576);
    COutputFrameSource source;
    source.SetDecoder(&inner);
    source.SetOutputSize(352, 288);
    EXPECT_EQ(source.GetWidth(), 352);
    EXPECT_EQ(source.GetHeight(), 288);
    CYUVFrame* frame = source.GetNextFrame(1);
    ASSERT_NE(frame, nullptr);
    ASSERT_NE(frame, &inner.frame);
    EXPECT_EQ(frame->Y.width, 352);
    EXPECT_EQ(frame->Y.height, 288);
    EXPECT_EQ(frame->U.width, 176);
    EXPECT_EQ(frame->U.height, 144);
    EXPECT_EQ(frame->Y.data[0], 90);
    EXPECT_EQ(frame->Y.data[351 + 287 * frame->Y.pitch], 90);
    EXPECT_EQ(frame->U.data[100], 128);
    EXPECT_EQ(frame->temporalReference, 3);
    EXPECT_EQ(frame->pictureType, 2);

    source.SetOutputSize(0, 0);
    EXPECT_EQ(source.GetNextFrame(1), &inner.frame);
    EXPECT_EQ(source.GetWidth(), 720);
    source.SetOutputSize(200, 0);
    EXPECT_EQ(source.GetNextFrame(1), &inner.frame);
    source.SetOutputSize(-5, 100);  // refused sizes switch scaling off
    EXPECT_EQ(source.GetNextFrame(1), &inner.frame);
}

TEST(OutputFrameSource, WithoutWrapperNothingComesBack) {
    COutputFrameSource source;
    EXPECT_EQ(source.GetNextFrame(1), nullptr);
    EXPECT_EQ(source.GetDecoder(), nullptr);
    EXPECT_EQ(source.GetWidth(), -1);
    EXPECT_EQ(source.GetHeight(), -1);
    source.SetOutputSize(64, 48);
    EXPECT_EQ(source.GetNextFrame(1), nullptr);
}

TEST(DecodingHandles, InitAndFinish) {
    D2uHandle handle = 0;
    EXPECT_EQ(InitDecoding(&handle), 0);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(FinishDecoding(&handle), 0);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(D2uDirInitDecoding(&handle), 0);
    EXPECT_EQ(D2uDirFinishDecoding(&handle), 0);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(FinishDecoding(nullptr), 0);
    EXPECT_EQ(FinishDecoding(&handle), 0);  // an already closed handle
}

}  // namespace
}  // namespace d2u
