// Output size: the frames handed out are scaled until it is switched off.
#include <gtest/gtest.h>

#include <vector>

#include "d2udir.h"
#include "support/api_streams.h"

namespace d2u {
namespace test {
namespace {

// GetOutputInfo's result, width, height and bits per pixel.
std::vector<int32_t> OutputInfo(D2uHandle handle) {
    int32_t w = 0, h = 0, bits = 0;
    const int32_t result = GetOutputInfo(&w, &h, &bits, handle);
    return {result, w, h, bits};
}

// Refused sizes change nothing; a size scales every plane of the frames handed out; 0 x 0 ends it.
TEST(OutputSize, ScalesTheFramesHandedOutUntilSwitchedOff) {
    OpenFile file(IpbStream().path);
    ASSERT_EQ(file.result, 0);
    for (int32_t bad : {-2, 1 << 20}) {
        EXPECT_EQ(D2uDirSetOutputSize(file.handle, bad, 100), -1) << bad;
        EXPECT_EQ(D2uDirSetOutputSize(file.handle, 100, bad), -1) << bad;
    }
    EXPECT_EQ(OutputInfo(file.handle), (std::vector<int32_t>{0, 352, 288, 32}));
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, 720, 144), 0);
    EXPECT_EQ(OutputInfo(file.handle), (std::vector<int32_t>{0, 720, 144, 32}));
    D2uFrame* frame = file.Next();
    ExpectShows(frame, IpbStream().layout.pictures[0]);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(
        (std::vector<int32_t>{frame->Y.width, frame->Y.height, frame->U.width, frame->V.height}),
        (std::vector<int32_t>{720, 144, 360, 72}));
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, 0, 0), 0);
    EXPECT_EQ(OutputInfo(file.handle), (std::vector<int32_t>{0, 352, 288, 32}));
    frame = file.Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Y.width, 352);
    EXPECT_EQ(frame->height, 288);
}

}  // namespace
}  // namespace test
}  // namespace d2u
