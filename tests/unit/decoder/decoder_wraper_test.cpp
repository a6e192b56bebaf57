// The decoder wrapper over a picture larger than the file buffer's refill point. Starting, the
// order of pictures, skipping and the end of the stream are the export tests' (api), the
// pictures themselves the conformance suite's.
#include <gtest/gtest.h>

#include "decoder/mpeg_decoder_wraper.h"
#include "picture/yuv_frame.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {
namespace {

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

TEST(DecoderWraperLarge, APictureOfMegabytesAtTheRefillPointDecodesWhole) {
    if (!CommandAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    const std::string reference = FfmpegHugePictureYuv();
    ASSERT_FALSE(reference.empty()) << "the encoder failed";
    const std::vector<uint8_t> stream = ReadFileBytes(FfmpegHugePicture());
    ASSERT_GT(stream.size(), 2000000u);
    const CodedPicture coded = ReadStreamLayout(stream).pictures.at(0);
    std::vector<YuvImage> expected = ReadRawYuv420(reference, 1920, 1080);
    ASSERT_EQ(expected.size(), 1u);
    // Bytes without start codes in front put the picture right at the refill point.
    for (size_t lead : {size_t(0), size_t(639990), size_t(640010)}) {
        std::vector<uint8_t> bytes(lead, 0x5A);
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        const std::string file = WriteWorkFile("headers_huge_shifted.m2v", bytes);
        CMpegDecoderWraper wrapper;
        ASSERT_EQ(wrapper.LoadFile(file.c_str()), 0) << lead;
        CYUVFrame* frame = wrapper.GetNextFrame(1);
        ASSERT_NE(frame, nullptr) << lead;
        EXPECT_EQ(frame->pictureBytes, static_cast<int32_t>(coded.end - coded.pictureStart));
        // Band by band, so that a picture cut short shows in its last rows.
        for (int band = 0; band < 1080; band += 120) {
            EXPECT_GT(
                PlanePsnr(
                    CopyPlane(frame->Y.data + band * frame->Y.pitch, frame->Y.pitch, 1920, 120),
                    CopyPlane(expected[0].planes[0].samples.data() + band * 1920, 1920, 1920, 120)),
                40.0)
                << "lead " << lead << " band " << band;
        }
        RemoveFile(file);
    }
}

// On two threads, each picture of a clean stream has its slices shared out and kept: the
// threads do not quietly leave the work to one thread.
TEST(DecoderWraperThreads, ShareEveryPictureOfACleanStream) {
    if (!CommandAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    const std::string stream = CachedArtifact(
        "wrapper_threads.m2v",
        "ffmpeg -v error -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 12 -c:v mpeg2video "
        "-g 6 -bf 2 -q:v 3 -f mpeg2video {out}");
    ASSERT_FALSE(stream.empty()) << "the encoder failed";
    CMpegDecoderWraper wrapper;
    ASSERT_EQ(wrapper.LoadFile(stream.c_str()), 0);
    ASSERT_EQ(wrapper.SetThreads(2), 2);
    for (int picture = 0; picture < 12; ++picture) {
        ASSERT_NE(wrapper.GetNextFrame(1), nullptr) << picture;
    }
    // The first picture too: the decoder starts with black references to fill gaps from.
    EXPECT_EQ(wrapper.SharedPictures(), 12);
}

}  // namespace
}  // namespace test
}  // namespace d2u
