// The d2udir command, run as a host would run it, against ffmpeg's decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {
namespace {

std::string Cli() {
    std::string emulator = D2U_CLI_EMULATOR;
    return (emulator.empty() ? "" : emulator + " ") + "'" + D2U_CLI_FILE + "'";
}

struct Sample {
    std::string path;
    StreamLayout layout;
    std::vector<YuvImage> reference;  // display order
};

const Sample& OpenGopSample() {
    static const Sample sample = [] {
        Sample s;
        s.path = CachedArtifact(
            "cli_open_gops_v1.m2v",
            "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=176x144:rate=25' -frames:v 30 "
            "-sc_threshold 1000000000 -c:v mpeg2video -q:v 4 -g 9 -bf 2 -f mpeg2video {out}");
        std::string reference =
            CachedArtifact("cli_open_gops_v1.ref.yuv",
                           "ffmpeg -nostdin -v error -y -threads 1 -i '" + s.path +
                               "' -f rawvideo -pix_fmt yuv420p -vsync passthrough {out}");
        s.layout = ReadStreamLayout(ReadFileBytes(s.path));
        s.reference = ReadRawYuv420(reference, s.layout.width, s.layout.height);
        return s;
    }();
    return sample;
}

double WorstPsnr(const YuvImage& a, const YuvImage& b) {
    double worst = kIdenticalPsnr;
    for (int p = 0; p < 3; ++p) worst = std::min(worst, PlanePsnr(a.planes[p], b.planes[p]));
    return worst;
}

TEST(CliInfo, PrintsWhatTheStreamSays) {
    const Sample& sample = OpenGopSample();
    std::string text = CaptureCommand(Cli() + " info '" + sample.path + "'");
    EXPECT_NE(text.find("176 x 144"), std::string::npos) << text;
    EXPECT_NE(text.find("25.000 frames/s"), std::string::npos) << text;
    EXPECT_NE(text.find(std::to_string(ReadFileBytes(sample.path).size())), std::string::npos)
        << text;
}

TEST(CliDecode, DisplayOrderGivesTheReferenceDecodersFrames) {
    const Sample& sample = OpenGopSample();
    ASSERT_EQ(sample.reference.size(), sample.layout.pictures.size());
    std::string out = WorkPath("cli_display.yuv");
    RemoveFile(out);
    ASSERT_EQ(RunCommand(Cli() + " decode '" + sample.path + "' '" + out + "' --display-order"), 0);
    std::vector<YuvImage> frames = ReadRawYuv420(out, 176, 144);
    ASSERT_EQ(frames.size(), sample.reference.size());
    for (size_t k = 0; k < frames.size(); ++k) {
        EXPECT_GE(WorstPsnr(frames[k], sample.reference[k]), 50.0) << k;
    }
}

TEST(CliDecode, DecodingOrderFollowsTheStream) {
    const Sample& sample = OpenGopSample();
    std::string out = WorkPath("cli_decoding.yuv");
    RemoveFile(out);
    ASSERT_EQ(RunCommand(Cli() + " decode '" + sample.path + "' '" + out + "'"), 0);
    std::vector<YuvImage> frames = ReadRawYuv420(out, 176, 144);
    ASSERT_EQ(frames.size(), sample.layout.pictures.size());
    for (size_t k = 0; k < frames.size(); ++k) {
        EXPECT_GE(WorstPsnr(frames[k], sample.reference[sample.layout.pictures[k].displayIndex]),
                  50.0)
            << k;
    }
}

TEST(CliDecode, FailuresGiveAnExitStatus) {
    EXPECT_EQ(RunCommand(Cli() + " decode '" + WorkPath("cli_missing.m2v") + "' '" +
                         WorkPath("cli_missing.yuv") + "'"),
              1);
    EXPECT_EQ(RunCommand(Cli() + " info"), 2);
    EXPECT_EQ(RunCommand(Cli() + " transmogrify x"), 2);
}

}  // namespace
}  // namespace test
}  // namespace d2u
