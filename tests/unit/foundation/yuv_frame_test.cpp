#include "decoder/yuv_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace d2u {
namespace {

// Planes cover whole macroblocks (or the decoder's coded height), chroma is half as wide and, in
// 4:2:0, half as tall; chroma pitches are multiples of 16; luma starts black and chroma mid-grey;
// bad sizes allocate nothing.
TEST(YUVFrame, AllocateGeometryAndInitialSamples) {
    const struct {
        int32_t width, height, codedHeight, format;
        int32_t lumaWidth, lumaHeight, chromaWidth, chromaHeight, chromaPitch;
    } cases[] = {
        {720, 576, 0, 1, 720, 576, 360, 288, 368},
        {100, 75, 0, 1, 112, 80, 56, 40, 64},
        {100, 75, 0, 2, 112, 80, 56, 80, 64},
        {720, 720, 736, 1, 720, 736, 360, 368, 368},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " format " +
                     std::to_string(c.format));
        CYUVFrame frame;
        ASSERT_EQ(frame.Allocate(c.width, c.height, c.codedHeight, c.format), 0);
        EXPECT_EQ(frame.Y.width, c.lumaWidth);
        EXPECT_EQ(frame.Y.pitch, c.lumaWidth);
        EXPECT_EQ(frame.Y.height, c.lumaHeight);
        EXPECT_EQ(frame.U.width, c.chromaWidth);
        EXPECT_EQ(frame.U.height, c.chromaHeight);
        EXPECT_EQ(frame.U.pitch, c.chromaPitch);
        EXPECT_EQ(frame.V.pitch, c.chromaPitch);
        EXPECT_EQ(frame.width, c.width);
        EXPECT_EQ(frame.height, c.height);
        EXPECT_EQ(frame.chromaFormat, c.format);
        EXPECT_EQ(frame.chromaWidth, c.width / 2);
        EXPECT_EQ(frame.chromaHeight, c.format == 1 ? c.height / 2 : c.height);
        for (int i = 0; i < frame.Y.pitch * frame.Y.height; ++i) ASSERT_EQ(frame.Y.data[i], 0);
        for (const YUVPlane* plane : {&frame.U, &frame.V}) {
            for (int i = 0; i < plane->pitch * plane->height; ++i) ASSERT_EQ(plane->data[i], 128);
        }
        ASSERT_EQ(frame.AllocateMbInfo(), 0);
        EXPECT_EQ(frame.mbInfo->columns, c.lumaWidth / 16);
        EXPECT_EQ(frame.mbInfo->rows, c.lumaHeight / 16);
    }
    CYUVFrame bad;
    EXPECT_EQ(bad.Allocate(-16, 16), -1);
    EXPECT_EQ(bad.Allocate(1 << 20, 16), -1);
    EXPECT_EQ(bad.Allocate(16, 16, 0, 3), -1);
    EXPECT_EQ(bad.Y.data, nullptr);
}

// Equal display sizes copy the planes and the description; different ones copy nothing.
TEST(YUVFrame, CopyFromNeedsEqualDisplaySizes) {
    CYUVFrame source, destination, taller;
    ASSERT_EQ(source.Allocate(48, 32), 0);
    ASSERT_EQ(destination.Allocate(48, 32), 0);
    ASSERT_EQ(taller.Allocate(48, 33), 0);  // same planes, different display height
    ASSERT_EQ(source.AllocateMbInfo(), 0);
    ASSERT_EQ(destination.AllocateMbInfo(), 0);
    std::memset(source.Y.data, 7, static_cast<size_t>(source.Y.pitch) * source.Y.height);
    std::memset(source.V.data, 9, static_cast<size_t>(source.V.pitch) * source.V.height);
    source.mbInfo->entries[5] = 42;
    source.pictureType = 2;
    source.temporalReference = 11;
    source.isKeyFrame = 1;
    source.topFieldFirst = 1;
    EXPECT_EQ(taller.CopyFrom(source), -1);
    EXPECT_EQ(taller.Y.data[0], 0);
    EXPECT_EQ(taller.pictureType, 0);
    ASSERT_EQ(destination.CopyFrom(source), 0);
    EXPECT_EQ(destination.Y.data[48 * 32 - 1], 7);
    EXPECT_EQ(destination.U.data[0], 128);
    EXPECT_EQ(destination.V.data[10], 9);
    EXPECT_EQ(destination.pictureType, 2);
    EXPECT_EQ(destination.temporalReference, 11);
    EXPECT_EQ(destination.isKeyFrame, 1);
    EXPECT_EQ(destination.topFieldFirst, 1);
    EXPECT_EQ(destination.mbInfo->entries[5], 42);
}

}  // namespace
}  // namespace d2u
