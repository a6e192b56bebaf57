// The d2udir command, run as a host would run it, against ffmpeg's decoding.
#include <gtest/gtest.h>

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

// 176x144 at 25 frames/s, open groups of 9 with two B pictures.
const GeneratedStream& OpenGopStream() {
    static const GeneratedStream stream = GenerateStream(
        "cli_open_gops_v1.m2v", TestPatternInput("176x144", "25", 30) +
                                    " -sc_threshold 1000000000 -c:v mpeg2video -q:v 4 -g 9 -bf 2 "
                                    "-f mpeg2video {out}");
    return stream;
}

// Every picture, in decoding order or with --display-order in display order.
TEST(CliDecode, BothOrdersGiveTheReferenceDecodersFrames) {
    const GeneratedStream& stream = OpenGopStream();
    const auto& pictures = stream.layout.pictures;
    std::vector<YuvImage> reference = ReferenceDecoding(stream.path, 176, 144);
    ASSERT_EQ(reference.size(), pictures.size());
    for (bool displayOrder : {false, true}) {
        std::string out = WorkPath("cli_decoded.yuv");
        RemoveFile(out);
        ASSERT_EQ(RunCommand(Cli() + " decode '" + stream.path + "' -o '" + out + "'" +
                             (displayOrder ? "" : " --decode-order")),
                  0);
        std::vector<YuvImage> frames = ReadRawYuv420(out, 176, 144);
        ASSERT_EQ(frames.size(), pictures.size());
        for (size_t k = 0; k < frames.size(); ++k) {
            const YuvImage& expected = reference[displayOrder ? k : pictures[k].displayIndex];
            EXPECT_GE(MinPsnr(frames[k], expected), 50.0) << displayOrder << " " << k;
        }
    }
}

TEST(CliDecode, FailuresGiveAnExitStatus) {
    EXPECT_EQ(RunCommand(Cli() + " decode '" + WorkPath("cli_missing.m2v") + "' -o '" +
                         WorkPath("cli_missing.yuv") + "'"),
              1);
    EXPECT_EQ(RunCommand(Cli() + " decode"), 2);
    EXPECT_EQ(RunCommand(Cli() + " transmogrify x"), 2);
}

}  // namespace
}  // namespace test
}  // namespace d2u
