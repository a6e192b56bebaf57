// What the command says when it cannot do its work: one line on standard error starting with
// "d2udir: ", nothing on standard output, status 2 for the command line and 1 for the work.
// Also the C host example that README.md quotes, built and run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/elementary_stream.h"

namespace d2u {
namespace test {
namespace {

struct FailureCase {
    const char* arguments;  // {sample} {missing} {text} {dir} are filled in
    int status;
    const char* saying;  // a part of the message
};

std::string Filled(std::string text) {
    const std::pair<std::string, std::string> names[] = {
        {"{sample}", Quoted(SamplePath("sample.m2v"))},
        {"{missing}", Quoted(WorkPath("cli_no_such_file.m2v"))},
        {"{text}", Quoted(WorkPath("cli_text_file.m2v"))},
        {"{dir}", Quoted(WorkPath("cli_no_such_folder/out.y4m"))},
    };
    for (const auto& name : names) {
        for (size_t at; (at = text.find(name.first)) != std::string::npos;) {
            text.replace(at, name.first.size(), name.second);
        }
    }
    return text;
}

TEST(CliUsage, FailuresAreOneLineWithTheirStatus) {
    ASSERT_TRUE(WriteFileBytes(WorkPath("cli_text_file.m2v"),
                               std::vector<uint8_t>(1000, static_cast<uint8_t>('x'))));
    const FailureCase cases[] = {
        {"", 2, "missing COMMAND"},
        {"transcode {sample}", 2, "unknown command 'transcode'"},
        {"decode", 2, "missing input FILE"},
        {"decode {sample}", 2, "missing -o OUT"},
        {"decode {sample} -o x.y4m extra", 2, "unexpected argument 'extra'"},
        {"decode {sample} --null --bogus", 2, "unknown option '--bogus'"},
        {"decode {sample} --null --frames 0", 2, "--frames wants a whole number"},
        {"decode {sample} --null --threads 33", 2, "--threads wants a whole number"},
        {"decode {sample} --null --size 720", 2, "--size wants WIDTHxHEIGHT"},
        {"decode {sample} -o x.y4m --format png", 2, "--format wants y4m, yuv or bmp"},
        {"decode {sample} -o 'out_%s.bmp'", 2, "one %d or %0Nd"},
        {"decode {sample} --format bmp -o -", 2, "cannot go to standard output"},
        {"decode {sample} --null --decode-order=yes", 2, "takes no value"},
        {"decode {missing} --null", 1, "cannot open"},
        {"decode {text} --null", 1, "not an MPEG-1/MPEG-2 video"},
        {"info {sample} --pid 256", 1, "--pid applies to transport streams only"},
        {"decode {sample} -o {dir}", 1, "cannot write"},
        {"decode {sample} --subtitles {missing} -o /dev/full", 1, "cannot open"},
        {"decode {sample} --frames 2 -o /dev/full", 1, "failed"},
        {"info {sample} {sample}", 2, "unexpected argument"},
        {"preview {sample}", 2, "missing -o OUT.bmp"},
        {"preview {sample} -o p.bmp --at 1 --at-percent 5", 2, "not both"},
        {"preview {sample} -o p.bmp --at-percent 150", 2, "--at-percent wants a number"},
        {"preview {sample} -o p.bmp --count 4 --at 3", 2, "takes no --at"},
        {"preview {sample} -o p.bmp --size 2000x100", 2, "at most 720"},
        {"preview {sample} -o p.bmp --at 100000", 1, "no picture found"},
        {"subtitle {sample}", 2, "missing VIDEO.y4m and SUBTITLES"},
        {"subtitle {missing} {missing} -o x.y4m", 1, "cannot open"},
        {"subtitle {sample} {sample} -o x.y4m", 1, "not a YUV4MPEG2 stream"},
    };
    for (const FailureCase& failure : cases) {
        std::string arguments = Filled(failure.arguments);
        CommandResult run = RunCli(arguments);
        EXPECT_EQ(run.status, failure.status) << arguments << "\n" << run.err;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_EQ(run.err.compare(0, 8, "d2udir: "), 0) << arguments << "\n" << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << arguments << "\n" << run.err;
        EXPECT_NE(run.err.find(failure.saying), std::string::npos) << arguments << "\n" << run.err;
    }
}

// The example, built by the C compiler against the public header and the shared library,
// decodes a generated stream: the size, and the first picture's mean luma as ffmpeg decodes it.
TEST(CliExample, MinimalHostDecodesAStream) {
    static const GeneratedStream stream =
        GenerateStream("cli_minimal_host_v1.m2v", TestPatternInput("176x144", "25", 12) +
                                                      " -c:v mpeg2video -q:v 3 -g 6 -bf 2 "
                                                      "-f mpeg2video {out}");
    std::string output =
        CaptureCommand(Emulated(D2U_MINIMAL_HOST_FILE) + " " + Quoted(stream.path));
    std::vector<YuvImage> reference = ReferenceDecoding(stream.path, 176, 144);
    ASSERT_FALSE(reference.empty());
    unsigned long sum = 0;
    for (uint8_t sample : reference[0].planes[0].samples) sum += sample;
    std::string firstLine = "picture 0: type 1, mean luma " + std::to_string(sum / (176 * 144));
    EXPECT_EQ(output.compare(0, 10, "176 x 144\n"), 0) << output;
    EXPECT_NE(output.find(firstLine + "\n"), std::string::npos) << output;
    EXPECT_NE(output.find("picture " + std::to_string(reference.size() - 1) + ":"),
              std::string::npos)
        << output;
}

}  // namespace
}  // namespace test
}  // namespace d2u
