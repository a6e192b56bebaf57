// The decoder wrapper over ffmpeg streams: skipping across refills and a picture larger than the
// file buffer's refill point. Starting, the order of pictures and the end of the stream are the
// export tests' (api), the pictures themselves the conformance suite's.
#include <gtest/gtest.h>

#include <memory>

#include "decoder/mpeg_decoder_wraper.h"
#include "picture/yuv_frame.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {
namespace {

const char* const kSource = "ffmpeg -v error -f lavfi -i testsrc=size=";

bool FfmpegAvailable() {
    return CommandAvailable("ffmpeg");
}

std::string FfmpegLargePictures() {
    return CachedArtifact("headers_ffmpeg_large.m2v",
                          "ffmpeg -v error -f lavfi -i testsrc2=size=480x384:rate=25 -vf "
                          "noise=alls=40:allf=t -frames:v 12 -c:v mpeg2video -qscale:v 2 -g 4 "
                          "-bf 1 -f mpeg2video {out}");
}

std::string FfmpegHugePicture() {
    return CachedArtifact("headers_ffmpeg_huge.m2v",
                          "ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -vf "
                          "noise=alls=60:allf=t -frames:v 1 -c:v mpeg2video -qscale:v 1 -qmin 1 "
                          "-intra_vlc 1 -maxrate 200M -bufsize 200M -f mpeg2video {out}");
}

std::string FfmpegHugePictureYuv() {
    std::string stream = FfmpegHugePicture();
    if (stream.empty()) return "";
    return CachedArtifact("headers_ffmpeg_huge.yuv",
                          "ffmpeg -v error -i '" + stream + "' -f rawvideo -pix_fmt yuv420p {out}");
}

std::vector<uint8_t> Bytes(const YUVPlane& plane) {
    return std::vector<uint8_t>(plane.data, plane.data + plane.pitch * plane.height);
}

struct Snapshot {
    int32_t pictureType = 0;
    int32_t temporalReference = 0;
    std::vector<uint8_t> y, u, v;
};

Snapshot Take(const CYUVFrame& frame) {
    return {frame.pictureType, frame.temporalReference, Bytes(frame.Y), Bytes(frame.U),
            Bytes(frame.V)};
}

void ExpectSamePicture(const CYUVFrame* frame, const Snapshot& b, const std::string& what) {
    ASSERT_NE(frame, nullptr) << what;
    Snapshot a = Take(*frame);
    EXPECT_EQ(a.pictureType, b.pictureType) << what;
    EXPECT_EQ(a.temporalReference, b.temporalReference) << what;
    EXPECT_TRUE(a.y == b.y && a.u == b.u && a.v == b.v) << what << ": samples differ";
}

std::unique_ptr<CMpegDecoderWraper> Loaded(const std::string& path) {
    auto wrapper = std::make_unique<CMpegDecoderWraper>();
    if (wrapper->LoadFile(path.c_str()) != 0) return nullptr;
    return wrapper;
}

// Every picture a fresh file-driven wrapper hands out, in order.
std::vector<Snapshot> DecodeAll(const std::string& path) {
    std::vector<Snapshot> pictures;
    auto wrapper = Loaded(path);
    CYUVFrame* frame;
    while (wrapper && pictures.size() < 100000 && (frame = wrapper->GetNextFrame(1)) &&
           !wrapper->Ended()) {
        pictures.push_back(Take(*frame));
    }
    return pictures;
}

std::string Written(const std::vector<uint8_t>& bytes, const std::string& name) {
    std::string path = WorkPath(name);
    return WriteFileBytes(path, bytes) ? path : "";
}

#define REQUIRE_STREAM(path)                                        \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg not available"; \
    ASSERT_FALSE((path).empty()) << "the encoder failed"

// The large-picture stream behind bytes without start codes, so that a B picture begins
// before the point where the skip operations refill, and its slices reach past the point
// where the header reader refills: passing it moves the buffer under a saved position.
std::string LargePicturesBehindJunk() {
    std::string path = FfmpegLargePictures();
    if (path.empty()) return "";
    std::vector<uint8_t> bytes(100000, 0x5A);
    std::vector<uint8_t> stream = ReadFileBytes(path);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    return Written(bytes, "headers_large_behind_junk.m2v");
}

TEST(DecoderWraperSkip, SkipFrameDropsOnlyBPicturesAcrossRefills) {
    std::string path = LargePicturesBehindJunk();
    REQUIRE_STREAM(path);
    StreamLayout layout = ReadStreamLayout(ReadFileBytes(path));
    std::vector<Snapshot> all = DecodeAll(path);
    ASSERT_EQ(all.size(), layout.pictures.size());
    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    int restoredAfterRefill = 0;
    for (size_t i = 0; i < layout.pictures.size(); ++i) {
        uint64_t bufferStartBefore = wrapper->BufferStart();
        bool isB = layout.pictures[i].pictureType == 3;
        EXPECT_EQ(wrapper->SkipFrame(), isB ? 0 : 1) << i;
        if (isB) continue;
        if (wrapper->BufferStart() != bufferStartBefore) ++restoredAfterRefill;
        ExpectSamePicture(wrapper->GetNextFrame(1), all[i], "picture " + std::to_string(i));
    }
    EXPECT_GE(restoredAfterRefill, 1);
    EXPECT_EQ(wrapper->SkipFrame(), 1);  // at the end nothing is skipped
}

// Counts short of the stream's end decode the references the target needs; a count past the
// end passes what is left. The duration skips through the interface hold longer streams.
TEST(DecoderWraperSkip, SkipFramesRebuildsTheReferencesBeforeItsTarget) {
    std::string path = LargePicturesBehindJunk();
    REQUIRE_STREAM(path);
    std::vector<Snapshot> all = DecodeAll(path);
    ASSERT_EQ(all.size(), 12u);
    for (int32_t count : {1, 4, 6, 8, 11}) {
        auto wrapper = Loaded(path);
        ASSERT_TRUE(wrapper);
        if (count == 6) {  // after some pictures and a Reset it starts from the first again
            for (int i = 0; i < 3; ++i) ASSERT_NE(wrapper->GetNextFrame(1), nullptr);
            wrapper->Reset();
        }
        ASSERT_EQ(wrapper->SkipFrames(count), count);
        ExpectSamePicture(wrapper->GetNextFrame(1), all[count],
                          "after skipping " + std::to_string(count));
    }
    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    EXPECT_EQ(wrapper->SkipFrames(0), 0);
    EXPECT_EQ(wrapper->SkipFrames(-4), 0);
    EXPECT_EQ(wrapper->SkipFrames(5), 5);
    ASSERT_NE(wrapper->GetNextFrame(1), nullptr);
    EXPECT_EQ(wrapper->SkipFrames(50), 6);  // short of the end it passes what is left
    EXPECT_EQ(wrapper->SkipFrames(5), 0);
    EXPECT_EQ(wrapper->CloseDecoder(), 0);  // nothing is decoded or skipped after closing
    EXPECT_EQ(wrapper->GetNextFrame(1), nullptr);
    EXPECT_EQ(wrapper->SkipFrame(), 1);
    EXPECT_EQ(wrapper->SkipFrames(3), 0);
    EXPECT_EQ(wrapper->CloseDecoder(), 0);
}

TEST(DecoderWraperLarge, APictureOfMegabytesAtTheRefillPointDecodesWhole) {
    std::string path = FfmpegHugePicture();
    std::string reference = FfmpegHugePictureYuv();
    REQUIRE_STREAM(reference);
    std::vector<uint8_t> stream = ReadFileBytes(path);
    ASSERT_GT(stream.size(), 2000000u);
    const CodedPicture coded = ReadStreamLayout(stream).pictures.at(0);
    std::vector<YuvImage> expected = ReadRawYuv420(reference, 1920, 1080);
    ASSERT_EQ(expected.size(), 1u);
    // Bytes without start codes in front put the picture right at the refill point.
    for (size_t lead : {size_t(0), size_t(639990), size_t(640010)}) {
        std::vector<uint8_t> bytes(lead, 0x5A);
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        std::string file = Written(bytes, "headers_huge_shifted.m2v");
        auto wrapper = Loaded(file);
        ASSERT_TRUE(wrapper) << lead;
        CYUVFrame* frame = wrapper->GetNextFrame(1);
        ASSERT_NE(frame, nullptr) << lead;
        EXPECT_EQ(frame->pictureBytes, static_cast<int32_t>(coded.end - coded.pictureStart));
        // Band by band, so that a picture cut short shows in its last rows.
        for (int band = 0; band < 1080; band += 120) {
            PlaneImage ours =
                CopyPlane(frame->Y.data + band * frame->Y.pitch, frame->Y.pitch, 1920, 120);
            PlaneImage theirs;
            theirs.width = 1920;
            theirs.height = 120;
            auto from = expected[0].planes[0].samples.begin() + band * 1920;
            theirs.samples.assign(from, from + 120 * 1920);
            EXPECT_GT(PlanePsnr(ours, theirs), 40.0) << "lead " << lead << " band " << band;
        }
        RemoveFile(file);
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
