#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "d2udir.h"
#include "demux/video_mpeg_data.h"
#include "primitives/resize.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace {

using test::CachedArtifact;
using test::ReadFileBytes;
using test::WorkPath;

const char kPalSource[] = "-f lavfi -i testsrc2=size=720x576:rate=25 ";
const char kTone[] = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";
constexpr int kSourceWidth = 720;
constexpr int kSourceHeight = 576;

struct PreviewSource {
    std::string name;
    std::string path;       // what the preview opens
    std::string videoPath;  // its video elementary stream
};

std::string ExtractVideo(const std::string& name, const std::string& path) {
    return CachedArtifact(name + ".video.m2v",
                          test::Ffmpeg("-i '" + path + "' -map 0:v -c copy -f mpeg2video {out}"));
}

PreviewSource ElementarySource() {
    std::string path = CachedArtifact(
        "preview_es.m2v",
        test::Ffmpeg(std::string(kPalSource) +
                     "-t 3 -c:v mpeg2video -g 12 -bf 2 -b:v 3M -f mpeg2video {out}"));
    return {"elementary", path, path};
}

PreviewSource FfmpegDvdSource() {
    std::string path = CachedArtifact(
        "preview_dvd.vob",
        test::Ffmpeg(std::string(kPalSource) + kTone +
                     "-t 3 -c:v mpeg2video -g 12 -bf 2 -b:v 3M -c:a mp2 -f dvd {out}"));
    return {"ffmpeg-dvd", path, path.empty() ? "" : ExtractVideo("preview_dvd", path)};
}

// ffmpeg's decoding of a stream, in display order.
std::vector<test::YuvImage> ReferenceFrames(const std::string& name, const std::string& video) {
    std::string raw = CachedArtifact(
        name + ".reference.yuv",
        test::Ffmpeg("-threads 1 -i '" + video + "' -f rawvideo -pix_fmt yuv420p {out}"));
    return test::ReadRawYuv420(raw, kSourceWidth, kSourceHeight);
}

// The bitmap file as ffmpeg reads it: rows top first, 4 bytes per pixel in B, G, R, A order.
std::vector<uint8_t> ReadBitmapWithFfmpeg(const std::string& bitmap) {
    std::string raw = bitmap + ".bgra";
    test::RemoveFile(raw);
    if (test::RunCommand(
            test::Ffmpeg("-i '" + bitmap + "' -f rawvideo -pix_fmt bgra '" + raw + "'")) != 0) {
        return {};
    }
    return ReadFileBytes(raw);
}

// What the preview should show: the picture's planes scaled in their rounded sizes (the
// visible part is the top-left crop), converted with the library's colour formula.
std::vector<uint8_t> ExpectedPreview(const test::YuvImage& picture, int width, int height) {
    int planeWidth = (width + 15) & ~15, planeHeight = (height + 15) & ~15;
    std::vector<uint8_t> scaled[3];
    for (int p = 0; p < 3; ++p) {
        const test::PlaneImage& plane = picture.planes[p];
        int w = p == 0 ? planeWidth : planeWidth / 2, h = p == 0 ? planeHeight : planeHeight / 2;
        scaled[p].resize(size_t(w) * h);
        ippiResize_8u_C1R(plane.samples.data(), {plane.width, plane.height}, plane.width,
                          {0, 0, plane.width, plane.height}, scaled[p].data(), w, {w, h},
                          double(w) / plane.width, double(h) / plane.height, IPPI_INTER_LINEAR);
    }
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    auto clamp = [](double v) { return uint8_t(std::min(255.0, std::max(0.0, std::round(v)))); };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double luma = scaled[0][size_t(y) * planeWidth + x];
            size_t c = size_t(y / 2) * (planeWidth / 2) + x / 2;
            double cb = scaled[1][c] - 128.0, cr = scaled[2][c] - 128.0;
            uint8_t* out = &bgr[(size_t(y) * width + x) * 3];
            out[0] = clamp(luma + 2.032 * cb);
            out[1] = clamp(luma - 0.394 * cb - 0.581 * cr);
            out[2] = clamp(luma + 1.140 * cr);
        }
    }
    return bgr;
}

double BitmapPsnr(const std::vector<uint8_t>& bgra, const std::vector<uint8_t>& bgr) {
    if (bgra.size() / 4 != bgr.size() / 3) return 0.0;
    double sum = 0;
    for (size_t i = 0; i < bgr.size() / 3; ++i) {
        for (int c = 0; c < 3; ++c) {
            double d = double(bgra[i * 4 + c]) - bgr[i * 3 + c];
            sum += d * d;
        }
    }
    return test::PsnrFromMeanSquaredError(sum / double(bgr.size()));
}

// The picture the preview decodes at a position: for an elementary stream the first picture
// that comes with a sequence header at or after it; for a program stream the chunk the reader
// cuts there, found again in the video stream.
int ExpectedDisplayIndex(const PreviewSource& source, const std::vector<uint8_t>& video,
                         const test::StreamLayout& layout, int64_t position) {
    size_t videoOffset = size_t(position);
    if (source.path != source.videoPath) {
        CVideoMpegData reader;
        if (reader.LoadFile(source.path.c_str()) != 0) return -1;
        reader.Seek(uint32_t(position), uint32_t(uint64_t(position) >> 32));
        std::vector<uint8_t> chunk(1 << 20);
        int32_t length = int32_t(chunk.size());
        int32_t timeStamp = 0;
        reader.GetVideoChunk(chunk.data(), &length, &timeStamp);
        reader.Close();
        if (length <= 0) return -1;
        auto found = std::search(video.begin(), video.end(), chunk.begin(), chunk.begin() + length);
        if (found == video.end()) return -1;
        videoOffset = size_t(found - video.begin());
    }
    for (const test::CodedPicture& picture : layout.pictures) {
        if (picture.startsSequence && picture.chunkStart >= videoOffset)
            return picture.displayIndex;
        if (picture.pictureStart >= videoOffset && source.path != source.videoPath) {
            return picture.displayIndex;
        }
    }
    return -1;
}

class PreviewExtraction : public ::testing::TestWithParam<PreviewSource (*)()> {};

TEST_P(PreviewExtraction, PicturesAcrossTheFileMatchTheReferenceScaled) {
    PreviewSource source = GetParam()();
    if (source.path.empty() || source.videoPath.empty()) GTEST_SKIP() << "stream not generated";
    std::vector<uint8_t> video = ReadFileBytes(source.videoPath);
    test::StreamLayout layout = test::ReadStreamLayout(video);
    std::vector<test::YuvImage> reference = ReferenceFrames(source.name, source.videoPath);
    ASSERT_FALSE(reference.empty());
    int64_t fileBytes = int64_t(ReadFileBytes(source.path).size());
    const int width = 160, height = 90;
    std::string bitmap = WorkPath("preview_" + source.name + ".bmp");
    ASSERT_EQ(D2uDirStartExtractPreview(source.path.c_str(), bitmap.c_str(), width, height), 0);
    for (int step = 0; step < 4; ++step) {
        int32_t position = int32_t(fileBytes / 1024 * (1 + 2 * step) / 9);
        test::RemoveFile(bitmap);
        ASSERT_EQ(D2uDirExtractPreview(position), 0) << source.name << " at " << position;
        std::vector<uint8_t> pixels = ReadBitmapWithFfmpeg(bitmap);
        ASSERT_EQ(pixels.size(), size_t(width) * height * 4) << source.name;
        int expected = ExpectedDisplayIndex(source, video, layout, int64_t(position) * 1024);
        ASSERT_GE(expected, 0);
        ASSERT_LT(expected, int(reference.size()));
        double psnr =
            BitmapPsnr(pixels, ExpectedPreview(reference[size_t(expected)], width, height));
        std::printf("preview %s at %d KiB: picture %d, %.1f dB\n", source.name.c_str(), position,
                    expected, psnr);
        EXPECT_GE(psnr, 30.0) << source.name << " at " << position;
    }
    EXPECT_EQ(D2uDirCloseExtractPreview(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sources, PreviewExtraction,
                         ::testing::Values(&ElementarySource, &FfmpegDvdSource));

TEST(PreviewResults, BeforeAStartAndAfterAFailedOne) {
    D2uDirCloseExtractPreview();
    EXPECT_EQ(D2uDirExtractPreview(0), -1);
    EXPECT_EQ(D2uDirStartExtractPreviewW(L"x.m2v", L"x.bmp", 100, 75), 0);
    EXPECT_EQ(D2uDirExtractPreview(0), -1);
    EXPECT_EQ(D2uDirStartExtractPreview(WorkPath("missing.m2v").c_str(), "", 100, 75), -1);
    EXPECT_EQ(D2uDirExtractPreview(0), -1);
    // A program-stream name that cannot be opened leaves a handle without a source.
    EXPECT_EQ(D2uDirStartExtractPreview(WorkPath("missing.vob").c_str(), "", 100, 75), -1);
    EXPECT_NE(D2uDirExtractPreview(0), 0);
    EXPECT_EQ(D2uDirCloseExtractPreview(), 0);
    EXPECT_EQ(D2uDirCloseExtractPreview(), 0);
}

TEST(PreviewResults, NameRuleSizesAndPositionsPastTheEnd) {
    PreviewSource es = ElementarySource();
    ASSERT_FALSE(es.path.empty());
    // An upper-case name without a dot is an elementary stream too.
    std::string upper = WorkPath("preview_clipM2V");
    test::WriteFileBytes(upper, ReadFileBytes(es.path));
    std::string bitmap = WorkPath("preview_100x75.bmp");
    test::RemoveFile(bitmap);
    ASSERT_EQ(D2uDirStartExtractPreview(upper.c_str(), bitmap.c_str(), 100, 75), 0);
    ASSERT_EQ(D2uDirExtractPreview(0), 0);
    EXPECT_EQ(ReadBitmapWithFfmpeg(bitmap).size(), 100u * 75 * 4);
    EXPECT_EQ(D2uDirExtractPreview(1 << 20), -1);  // past the end: no picture
    EXPECT_EQ(D2uDirExtractPreview(0), 0);         // and the stream decodes again
    D2uDirCloseExtractPreview();

    PreviewSource dvd = FfmpegDvdSource();
    if (dvd.path.empty()) return;
    ASSERT_EQ(D2uDirStartExtractPreview(dvd.path.c_str(), "", 100, 75), 0);
    EXPECT_EQ(D2uDirExtractPreview(1 << 20), -1);
    EXPECT_EQ(D2uDirExtractPreview(0), 0);  // the source still works after a failure
    D2uDirCloseExtractPreview();
}

}  // namespace
}  // namespace d2u
