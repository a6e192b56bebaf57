// Pictures' memory and copies: a set's copy-only pictures get planes on demand, and copies
// refuse pictures of another size.
#include "picture/yuv_frame.h"

#include <gtest/gtest.h>

#include <cstring>

namespace d2u {
namespace {

// The set's pictures after blackCount have a table and the planes' shape, but no plane memory
// until they ask for it; then a copy of a black picture fills them.
TEST(YuvFrame, CopyOnlyPicturesOfASetGetPlanesOnDemand) {
    CYUVFrame black;
    CYUVFrame copy;
    CYUVFrame* const set[] = {&black, &copy};
    ASSERT_EQ(CYUVFrame::AllocateSet(set, 2, 1, 40, 24, 0, 1), 0);
    ASSERT_NE(black.Y.data, nullptr);
    EXPECT_EQ(copy.Y.data, nullptr);
    EXPECT_EQ(copy.U.pitch, black.U.pitch);
    ASSERT_NE(copy.mbInfo, nullptr);
    EXPECT_NE(copy.mbInfo->entries, nullptr);
    EXPECT_EQ(copy.CopyPicture(black), -1);

    ASSERT_EQ(copy.AllocateDescribedPlanes(), 0);
    ASSERT_EQ(copy.CopyPicture(black), 0);
    EXPECT_EQ(copy.U.data[copy.U.pitch * copy.U.height - 1], 128);
    EXPECT_EQ(copy.Y.data[copy.Y.pitch * copy.Y.height - 1], 0);
    uint8_t* const planes = copy.Y.data;
    EXPECT_EQ(copy.AllocateDescribedPlanes(), 0);
    EXPECT_EQ(copy.Y.data, planes);
}

TEST(YuvFrame, CopyFromRefusesAnotherDisplaySize) {
    CYUVFrame source;
    CYUVFrame same;
    CYUVFrame other;
    ASSERT_EQ(source.Allocate(48, 32), 0);
    ASSERT_EQ(same.Allocate(48, 32), 0);
    ASSERT_EQ(other.Allocate(48, 16), 0);
    std::memset(source.Y.data, 77, static_cast<size_t>(source.Y.pitch) * source.Y.height);
    source.temporalReference = 5;

    EXPECT_EQ(other.CopyFrom(source), -1);
    EXPECT_EQ(other.Y.data[0], 0);
    EXPECT_EQ(other.temporalReference, 0);
    EXPECT_EQ(same.CopyFrom(source), 0);
    EXPECT_EQ(same.Y.data[same.Y.pitch * same.Y.height - 1], 77);
    EXPECT_EQ(same.temporalReference, 5);
}

}  // namespace
}  // namespace d2u
