// Skipping single B pictures and durations.
#include <gtest/gtest.h>

#include <vector>

#include "api_streams.h"
#include "d2udir.h"
#include "support/api_test_host.h"

namespace d2u {
namespace test {
namespace {

class FileHandle {
public:
    explicit FileHandle(const std::string& path) { result = D2uDirLoadFile(path.c_str(), &handle); }
    ~FileHandle() { FinishDecoding(&handle); }
    D2uFrame* Next() {
        D2uFrame* frame = nullptr;
        return GetMpegFrame(&frame, handle) == 0 ? frame : nullptr;
    }
    D2uHandle handle = 0;
    int32_t result = -1;
};

void ExpectPicture(const D2uFrame* frame, const CodedPicture& picture) {
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->temporalReference, picture.temporalReference);
    EXPECT_EQ(frame->pictureType, picture.pictureType);
}

TEST(SkipFrame, PassesOverABPictureOnly) {
    const auto& pictures = IpbStream().layout.pictures;  // I0 P3 B1 B2 P6 B4 B5 ...
    FileHandle file(IpbStream().path);
    ASSERT_EQ(file.result, 0);
    // Before the I picture: nothing is skipped, and it is the next frame.
    EXPECT_EQ(SkipFrame(file.handle), 1);
    ExpectPicture(file.Next(), pictures[0]);
    // Before the P picture: the same.
    EXPECT_EQ(D2uDirSkipFrame(file.handle), 1);
    ExpectPicture(file.Next(), pictures[1]);
    // Before B1: skipped, the next frame is B2.
    EXPECT_EQ(SkipFrame(file.handle), 0);
    ExpectPicture(file.Next(), pictures[3]);
    EXPECT_EQ(SkipFrame(file.handle), 1);
    ExpectPicture(file.Next(), pictures[4]);
}

TEST(SkipFrame, BufferedSkipsLookAtTheGivenBuffer) {
    const ApiStream& stream = IpbStream();
    const auto& pictures = stream.layout.pictures;
    D2uHandle handle = 0;
    InitDecoding(&handle);
    D2uFrame* frame = nullptr;
    std::vector<uint8_t> first = PictureChunk(stream.bytes, pictures[0]);
    ASSERT_EQ(GetMpegFrame2(&frame, first.data(), static_cast<int32_t>(first.size()), handle), 0);
    std::vector<uint8_t> p = PictureChunk(stream.bytes, pictures[1]);
    std::vector<uint8_t> b = PictureChunk(stream.bytes, pictures[2]);
    EXPECT_EQ(SkipFrame2(p.data(), static_cast<int32_t>(p.size()), handle), 1);
    EXPECT_EQ(D2uDirSkipFrame2(b.data(), static_cast<int32_t>(b.size()), handle), 0);
    FinishDecoding(&handle);
}

TEST(SkipDuration, OneSecondAt25FramesPerSecondIs25Pictures) {
    const ApiStream& stream = IpbStream();
    const auto& pictures = stream.layout.pictures;
    ASSERT_GT(pictures.size(), 26u);
    FileHandle file(stream.path);
    ASSERT_EQ(file.result, 0);
    for (int k = 0; k < 3; ++k) ASSERT_NE(file.Next(), nullptr);
    // From the start: the pictures before are forgotten.
    EXPECT_EQ(SkipDuration(file.handle, 1000, 1), 1000);
    const D2uFrame* frame = file.Next();
    ExpectPicture(frame, pictures[25]);
    // The references were rebuilt on the way: the picture matches the reference decoder.
    std::vector<YuvImage> reference = ReferenceFrames(stream);
    ASSERT_EQ(reference.size(), pictures.size());
    HostFrame copy = CopyFrame(*frame);
    for (int plane = 0; plane < 3; ++plane) {
        EXPECT_GE(
            PlanePsnr(copy.image.planes[plane], reference[pictures[25].displayIndex].planes[plane]),
            50.0)
            << plane;
    }
}

TEST(SkipDuration, FromTheCurrentPositionCountsOnFromThere) {
    const auto& pictures = IpbStream().layout.pictures;
    FileHandle file(IpbStream().path);
    ASSERT_EQ(file.result, 0);
    for (int k = 0; k < 5; ++k) ASSERT_NE(file.Next(), nullptr);
    // 400 ms at 25 frames/s: 10 pictures after the 5 handed out.
    EXPECT_EQ(D2uDirSkipDuration(file.handle, 400, 0), 400);
    ExpectPicture(file.Next(), pictures[15]);
}

TEST(SkipDuration, ReturnsOnlyWhatTheStreamHad) {
    const ApiStream& stream = IpbStream();
    FileHandle file(stream.path);
    ASSERT_EQ(file.result, 0);
    int32_t all = static_cast<int32_t>(stream.layout.pictures.size());
    EXPECT_EQ(SkipDuration(file.handle, 3600 * 1000, 1), all * 1000 / 25);
    EXPECT_EQ(SkipDuration(file.handle, 0, 1), 0);
}

TEST(SkipDuration, RoundsToWholePicturesAtNtscRates) {
    // frame_rate_code 4 is 30000/1001: one second holds 29 whole pictures, which last 967 ms.
    std::string path =
        WriteWorkFile("api_skip_ntsc.m2v", WithSequenceCodes(IpbStream().bytes, 2, 4));
    FileHandle file(path);
    ASSERT_EQ(file.result, 0);
    EXPECT_EQ(SkipDuration(file.handle, 1000, 1), 967);
    ExpectPicture(file.Next(), IpbStream().layout.pictures[29]);
}

TEST(SkipDuration, AnUnknownFrameRateSkipsNothing) {
    const auto& pictures = IpbStream().layout.pictures;
    std::string path =
        WriteWorkFile("api_skip_rate6.m2v", WithSequenceCodes(IpbStream().bytes, 2, 6));
    FileHandle file(path);
    ASSERT_EQ(file.result, 0);
    ExpectPicture(file.Next(), pictures[0]);
    EXPECT_EQ(SkipDuration(file.handle, 1000, 0), 0);
    ExpectPicture(file.Next(), pictures[1]);
}

}  // namespace
}  // namespace test
}  // namespace d2u
