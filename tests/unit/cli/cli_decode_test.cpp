// d2udir decode on the samples and on generated streams, checked against ffmpeg's decoding.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/elementary_stream.h"

namespace d2u {
namespace test {
namespace {

const int32_t kWidth = 720, kHeight = 576;

// ffmpeg's decoding of a sample as a raw file, made once per test run.
const std::string& SampleReference(const std::string& sample) {
    static std::map<std::string, std::string> decoded;
    auto found = decoded.find(sample);
    if (found != decoded.end()) return found->second;
    return decoded[sample] = FfmpegRaw(SamplePath(sample), "cli_reference_" + sample + ".yuv");
}

long SamplePictures(const std::string& sample) {
    return CountPictures(SampleReference(sample), kWidth, kHeight, false);
}

// The pictures of `output` (read by ffmpeg) match ffmpeg's own decoding of the sample picture
// for picture: `count` of them from the first.
void ExpectSamePictures(const std::string& output, const std::string& sample, long count,
                        const std::string& what) {
    std::vector<double> psnr = PsnrAgainstRaw(output, SampleReference(sample), kWidth, kHeight);
    ASSERT_EQ(static_cast<long>(psnr.size()), count) << what;
    for (size_t k = 0; k < psnr.size(); ++k) {
        EXPECT_GE(psnr[k], 50.0) << what << ": picture " << k;
    }
}

// The YUV4MPEG2 output of each sample (of the elementary stream through standard output), read
// back by ffmpeg: every picture, in ffmpeg's display order, and the header says what ffmpeg finds
// in the source.
TEST(CliDecode, SamplesAsYuv4mpegMatchFfmpeg) {
    for (const char* sample : {"sample.m2v", "sample.vob"}) {
        std::string source = SamplePath(sample);
        std::string y4m = WorkPath(std::string("cli_") + sample + ".y4m");
        const bool piped = std::string(sample) == "sample.m2v";
        RemoveFile(y4m);
        CommandResult run =
            RunCli("decode " + Quoted(source) + " -o " + (piped ? "-" : Quoted(y4m)));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");  // quiet by default
        EXPECT_EQ(run.out.empty(), !piped);
        if (piped) WriteFileBytes(y4m, std::vector<uint8_t>(run.out.begin(), run.out.end()));
        long pictures = SamplePictures(sample);
        ASSERT_GT(pictures, 0);
        EXPECT_EQ(CountPictures(y4m, kWidth, kHeight, true), pictures) << sample;
        ExpectSamePictures(y4m, sample, pictures, sample);
        const char* fields = "r_frame_rate,sample_aspect_ratio,field_order";
        EXPECT_EQ(ProbeField(y4m, fields), ProbeField(source, fields)) << sample;
    }
}

// 176x144, open groups of 9 with two B pictures.
const GeneratedStream& OpenGopStream() {
    static const GeneratedStream stream = GenerateStream(
        "cli_open_gops_v1.m2v", TestPatternInput("176x144", "25", 30) +
                                    " -sc_threshold 1000000000 -c:v mpeg2video -q:v 4 -g 9 -bf 2 "
                                    "-f mpeg2video {out}");
    return stream;
}

// Raw output in display order and, with --decode-order, in the stream's decoding order.
TEST(CliDecode, DecodeOrderIsTheStreamOrder) {
    const GeneratedStream& stream = OpenGopStream();
    const auto& pictures = stream.layout.pictures;
    std::vector<YuvImage> reference = ReferenceDecoding(stream.path, 176, 144);
    ASSERT_EQ(reference.size(), pictures.size());
    for (bool decodeOrder : {false, true}) {
        std::string out = WorkPath("cli_decoded.yuv");
        RemoveFile(out);
        ASSERT_EQ(RunCli("decode " + Quoted(stream.path) + " -o " + Quoted(out) +
                         (decodeOrder ? " --decode-order" : ""))
                      .status,
                  0);
        std::vector<YuvImage> frames = ReadRawYuv420(out, 176, 144);
        ASSERT_EQ(frames.size(), pictures.size());
        for (size_t k = 0; k < frames.size(); ++k) {
            const YuvImage& expected = reference[decodeOrder ? pictures[k].displayIndex : k];
            EXPECT_GE(MinPsnr(frames[k], expected), 50.0) << decodeOrder << " " << k;
        }
    }
}

// --frames and --skip-ms shorten the output; --size scales it, down to 16x16; --null writes
// nothing, also with conversion to pixels, for both kinds of input.
TEST(CliDecode, LengthSizeAndDecodeOnlyOptions) {
    std::string source = SamplePath("sample.m2v");
    std::string y4m = WorkPath("cli_options.y4m");
    ASSERT_EQ(RunCli("decode " + Quoted(source) + " -o " + Quoted(y4m) + " --frames 10").status, 0);
    EXPECT_EQ(CountPictures(y4m, kWidth, kHeight, true), 10);
    ExpectSamePictures(y4m, "sample.m2v", 10, "--frames 10");

    ASSERT_EQ(RunCli("decode " + Quoted(source) + " -o " + Quoted(y4m) + " --skip-ms 1000").status,
              0);
    EXPECT_EQ(CountPictures(y4m, kWidth, kHeight, true), SamplePictures("sample.m2v") - 25);

    ASSERT_EQ(
        RunCli("decode " + Quoted(source) + " -o " + Quoted(y4m) + " --size 360x288 --frames 5")
            .status,
        0);
    EXPECT_EQ(ProbeField(y4m, "width") + "x" + ProbeField(y4m, "height"), "360x288");
    EXPECT_EQ(CountPictures(y4m, 360, 288, true), 5);

    const char* decodeOnly[][2] = {{"sample.vob", "--null"},
                                   {"sample.m2v", "--format bmp --null --frames 20"},
                                   {"sample.m2v", "-o /dev/null --frames 3"},
                                   {"sample.m2v", "--null --size 16x16 --frames 2"}};
    for (const auto& job : decodeOnly) {
        CommandResult run = RunCli("decode " + Quoted(SamplePath(job[0])) + " " + job[1]);
        EXPECT_EQ(run.status, 0) << job[0] << " " << job[1] << ": " << run.err;
        EXPECT_EQ(run.out + run.err, "") << job[0] << " " << job[1];
    }
}

// Mean absolute difference between a 32-bit bitmap file (bottom row first) and a picture
// converted with the library's colour matrix (full-range samples, chroma of the 2x2 block).
double MeanColourError(const std::vector<uint8_t>& bmp, const YuvImage& picture) {
    const size_t offset = 54;
    const int32_t width = picture.planes[0].width, height = picture.planes[0].height;
    if (bmp.size() < offset + static_cast<size_t>(width) * height * 4) return 255.0;
    double total = 0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            double luma = picture.planes[0].samples[static_cast<size_t>(y) * width + x];
            size_t chroma = static_cast<size_t>(y / 2) * picture.planes[1].width + x / 2;
            double cb = picture.planes[1].samples[chroma] - 128.0;
            double cr = picture.planes[2].samples[chroma] - 128.0;
            double expected[3] = {luma + 2.032 * cb, luma - 0.394 * cb - 0.581 * cr,
                                  luma + 1.140 * cr};
            const uint8_t* pixel =
                &bmp[offset + (static_cast<size_t>(height - 1 - y) * width + x) * 4];
            for (int c = 0; c < 3; ++c) {
                double clamped = expected[c] < 0 ? 0 : expected[c] > 255 ? 255 : expected[c];
                total += std::abs(pixel[c] - clamped);
            }
        }
    }
    return total / (3.0 * width * height);
}

// Numbered bitmap files hold the pictures in display order, converted to colour, and are named
// after the pattern given.
TEST(CliDecode, BitmapFilesHoldTheConvertedPictures) {
    std::string source = SamplePath("sample.vob");
    std::string pattern = WorkPath("cli_picture_%03d.bmp");
    for (int k = 1; k <= 4; ++k)
        RemoveFile(WorkPath("cli_picture_00" + std::to_string(k) + ".bmp"));
    ASSERT_EQ(RunCli("decode " + Quoted(source) + " -o " + Quoted(pattern) + " --frames 3").status,
              0);
    EXPECT_FALSE(FileExists(WorkPath("cli_picture_004.bmp")));
    std::vector<YuvImage> reference = ReadRawYuv420(SampleReference("sample.vob"), kWidth, kHeight);
    ASSERT_GT(reference.size(), 33u);
    for (size_t k = 0; k < 3; ++k) {
        std::vector<uint8_t> bmp =
            ReadFileBytes(WorkPath("cli_picture_00" + std::to_string(k + 1) + ".bmp"));
        EXPECT_LT(MeanColourError(bmp, reference[k]), 2.0) << k;
        EXPECT_GT(MeanColourError(bmp, reference[k + 30]), 2.0) << k;
        // The header's file size, a 32-bit field beyond 64 KiB here.
        ASSERT_GT(bmp.size(), 65536u);
        EXPECT_EQ(LittleEndian32(&bmp[2]), bmp.size());
    }
    // Without a number in the name, the number goes before the extension, five digits wide.
    for (std::string name : {"cli_unnumbered.bmp", "cli_unnumbered"}) {
        for (int k = 1; k <= 2; ++k)
            RemoveFile(WorkPath("cli_unnumbered-0000" + std::to_string(k) + ".bmp"));
        ASSERT_EQ(RunCli("decode " + Quoted(source) + " -o " + Quoted(WorkPath(name)) +
                         " --format bmp --frames 2")
                      .status,
                  0);
        EXPECT_TRUE(FileExists(WorkPath("cli_unnumbered-00001.bmp")) &&
                    FileExists(WorkPath("cli_unnumbered-00002.bmp")))
            << name;
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
