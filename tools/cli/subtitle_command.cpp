// d2udir subtitle: a YUV4MPEG2 stream with a subtitle file drawn onto its frames by the
// library; frame k (from 0) shows the record whose time span covers k / frame rate.
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "cli_commands.h"
#include "cli_errors.h"
#include "input_file.h"
#include "output_file.h"
#include "progress_line.h"
#include "subtitle_overlay.h"
#include "y4m_stream.h"

namespace d2ucli {
namespace {

const char kHelp[] =
    "usage: d2udir subtitle VIDEO.y4m SUBTITLES -o OUT.y4m\n"
    "Draws a subtitle file (records on a 720 x 576 screen, scaled to other sizes) onto the\n"
    "frames of a 4:2:0 YUV4MPEG2 stream. '-' reads the stream from standard input or writes\n"
    "it to standard output. ('d2udir decode --subtitles' does the same while decoding.)\n"
    "\n"
    "  -o, --output OUT  the subtitled YUV4MPEG2 stream\n"
    "  -q, --quiet       no progress line\n"
    "  -h, --help        this help\n";

const std::vector<OptionDefinition> kOptions = {
    {"output", 'o', true}, {"quiet", 'q', false}, {"help", 'h', false}};

// The input stream, closed at the end unless it is standard input.
class InputStream {
public:
    explicit InputStream(const std::string& path)
        : file_(path == "-" ? stdin : OpenInputFile(path)), owned_(path != "-") {}
    ~InputStream() {
        if (owned_) std::fclose(file_);
    }
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;
    FILE* file() const { return file_; }

private:
    FILE* file_;
    bool owned_;
};

}  // namespace

int RunSubtitle(int argc, char** argv) {
    Arguments args("subtitle", kOptions, argc, argv);
    if (args.Has("help")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    args.ExpectPositionals(2, "VIDEO.y4m and SUBTITLES");
    std::string output = args.Value("output");
    if (output.empty()) args.Fail("missing -o OUT.y4m");
    const std::string& videoPath = args.positionals()[0];
    InputStream input(videoPath);
    Y4mReader reader(input.file(), videoPath);
    const Y4mHeader& header = reader.header();
    SubtitleOverlay subtitles(args.positionals()[1], header.frameRate, header.width, header.height);
    OutputFile out(output);
    out.Write(FormatY4mHeader(header));
    ProgressLine progress(args.Has("quiet"));
    YuvPicture picture;
    int32_t frameNumber = 0;
    while (reader.ReadFrame(picture)) {
        subtitles.Draw(picture, frameNumber++);
        WriteY4mFrame(out, picture);
        progress.Update(0.0, frameNumber);
    }
    progress.Finish();
    out.Close();
    return 0;
}

}  // namespace d2ucli
