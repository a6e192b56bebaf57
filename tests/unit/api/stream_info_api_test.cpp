// Output size and scaling, aspect ratio, frame rate, input size and position.
#include <gtest/gtest.h>

#include <vector>

#include "api_streams.h"
#include "d2udir.h"

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

// Planes are the display size rounded up to 16, their height to 32 in interlaced sequences.
TEST(OutputSize, InterlacedSequencesHavePlanesOf32RowMultiples) {
    const struct {
        const char *name, *flags;
        int32_t lumaRows;
    } cases[] = {{"api_progressive_72x720.m2v", "", 720},
                 {"api_interlaced_72x720.m2v", " -flags +ildct+ilme", 736}};
    for (const auto& c : cases) {
        const GeneratedStream stream =
            GenerateStream(c.name, TestPatternInput("72x720", "25", 2) + " -c:v mpeg2video" +
                                       c.flags + " -f mpeg2video {out}");
        OpenFile file(stream.path);
        ASSERT_EQ(file.result, 0) << c.name;
        const D2uFrame* frame = file.Next();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->height, 720);
        EXPECT_EQ(frame->Y.width, 80);
        EXPECT_EQ(frame->Y.height, c.lumaRows) << c.name;
        EXPECT_EQ(frame->U.height, c.lumaRows / 2) << c.name;
    }
}

// Aspect codes 1 to 3 and frame rate codes 1 to 5 have values; other codes leave the caller's.
// The two codes differ in each stream, so that reading one for the other shows.
TEST(SequenceCodes, AspectRatioAndFrameRate) {
    const struct {
        int aspectCode, frameRateCode;
        double ratio;
        float fps;
    } cases[] = {
        {3, 1, 16.0 / 9.0, float(24000.0 / 1001.0)}, {2, 5, 4.0 / 3.0, 30.0f}, {4, 8, -7.5, -3.0f}};
    for (const auto& c : cases) {
        std::string path =
            WriteWorkFile("api_codes_" + std::to_string(c.aspectCode) + ".m2v",
                          WithSequenceCodes(IpbStream().bytes, c.aspectCode, c.frameRateCode));
        OpenFile file(path);
        ASSERT_EQ(file.result, 0) << c.aspectCode;
        double ratio = -7.5;
        float fps = -3.0f;
        EXPECT_EQ(D2uDirGetAspectRatio(file.handle, &ratio), 0);
        EXPECT_EQ(
            c.aspectCode % 2 ? GetFPSInfo(file.handle, &fps) : D2uDirGetFPSInfo(file.handle, &fps),
            0);
        EXPECT_EQ(ratio, c.ratio) << c.aspectCode;
        EXPECT_EQ(fps, c.fps) << c.aspectCode;
    }
}

TEST(InputPosition, FollowsThePicturesAndRepositioningResumesAtTheNextSequenceHeader) {
    const GeneratedStream& stream = IpbStream();
    const auto& pictures = stream.layout.pictures;
    OpenFile file(stream.path);
    ASSERT_EQ(file.result, 0);
    uint64_t size = 0, position = 99;
    EXPECT_EQ(GetInputSize(file.handle, &size), 0);
    EXPECT_EQ(size, stream.bytes.size());
    EXPECT_EQ(GetInputPosition(file.handle, &position), 0);
    EXPECT_EQ(position, 0u);
    // After each picture: past its slices, not yet into the headers of the next one.
    for (size_t k = 0; k < 5; ++k) {
        ASSERT_NE(file.Next(), nullptr);
        EXPECT_EQ(D2uDirGetInputPosition(file.handle, &position), 0);
        EXPECT_GE(position + 8, pictures[k].end) << k;
        EXPECT_LE(position, pictures[k + 1].chunkStart + 4) << k;
    }
    size_t target = 0;
    while (target < pictures.size() &&
           (!pictures[target].startsSequence || pictures[target].chunkStart < size / 2)) {
        ++target;
    }
    ASSERT_LT(target + 2, pictures.size());
    EXPECT_EQ(D2uDirSetInputPosition(file.handle, static_cast<uint32_t>(size / 2), 0), 0);
    // The I picture found there comes first, then the B pictures that follow it.
    ExpectShows(file.Next(), pictures[target]);
    EXPECT_EQ(pictures[target].pictureType, 1);
    ExpectShows(file.Next(), pictures[target + 1]);
    ExpectShows(file.Next(), pictures[target + 2]);
}

}  // namespace
}  // namespace test
}  // namespace d2u
