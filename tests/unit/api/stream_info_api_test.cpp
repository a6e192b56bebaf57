// Output size: the frames handed out are scaled until it is switched off.
#include <gtest/gtest.h>

#include <vector>

#include "d2udir.h"
#include "support/api_streams.h"

namespace d2u {
namespace test {
namespace {

void ExpectOutputInfo(D2uHandle handle, int32_t width, int32_t height) {
    int32_t w = 0, h = 0, bits = 0;
    EXPECT_EQ(GetOutputInfo(&w, &h, &bits, handle), 0);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_EQ(bits, 32);
}

// Refused sizes change nothing; a size scales every plane of the frames handed out; 0 x 0 ends it.
TEST(OutputSize, ScalesTheFramesHandedOutUntilSwitchedOff) {
    OpenFile file(IpbStream().path);
    ASSERT_EQ(file.result, 0);
    for (int32_t bad : {-2, 1 << 20}) {
        EXPECT_EQ(D2uDirSetOutputSize(file.handle, bad, 100), -1) << bad;
        EXPECT_EQ(D2uDirSetOutputSize(file.handle, 100, bad), -1) << bad;
    }
    ExpectOutputInfo(file.handle, 352, 288);
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, 720, 144), 0);
    ExpectOutputInfo(file.handle, 720, 144);
    D2uFrame* frame = file.Next();
    ExpectShows(frame, IpbStream().layout.pictures[0]);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Y.width, 720);
    EXPECT_EQ(frame->Y.height, 144);
    EXPECT_EQ(frame->U.width, 360);
    EXPECT_EQ(frame->V.height, 72);
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, 0, 0), 0);
    ExpectOutputInfo(file.handle, 352, 288);
    frame = file.Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Y.width, 352);
    EXPECT_EQ(frame->height, 288);
}

}  // namespace
}  // namespace test
}  // namespace d2u
