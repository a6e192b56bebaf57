// d2udir decode: pictures of a video file as a YUV4MPEG2 stream, raw planar YUV or numbered
// bitmap files, in display order unless asked otherwise; or decoded only (--null).
#include <cstdio>
#include <memory>
#include <string>

#include "arguments.h"
#include "bmp_file.h"
#include "cli_commands.h"
#include "cli_errors.h"
#include "display_order.h"
#include "output_file.h"
#include "progress_line.h"
#include "subtitle_overlay.h"
#include "video_input.h"
#include "y4m_stream.h"

namespace d2ucli {
namespace {

const char kHelp[] =
    "usage: d2udir decode FILE [-o OUT] [options]\n"
    "Decodes the MPEG-1/MPEG-2 video of an elementary stream, a program stream (.vob, .mpg)\n"
    "or a transport stream (.ts, .m2t, .m2ts), told apart by content.\n"
    "\n"
    "  -o, --output OUT     output file; '-' writes to standard output;\n"
    "                       /dev/null decodes only\n"
    "  --format FORMAT      y4m (YUV4MPEG2), yuv (raw planar 4:2:0) or bmp (numbered\n"
    "                       32-bit bitmap files: OUT may hold %d or %05d for the number,\n"
    "                       else -00001 ... goes before the extension); by default from\n"
    "                       the name of OUT, y4m for '-'\n"
    "  --null               decode only, write nothing (with --format bmp: also convert\n"
    "                       every picture to 32-bit pixels)\n"
    "  --decode-order       pictures in the order the library hands them out, which is the\n"
    "                       decoding order (default: display order)\n"
    "  --size WxH           scale the pictures to this size (the library's output size)\n"
    "  --frames N           stop after N pictures\n"
    "  --skip-ms MS         leave out MS milliseconds of pictures from the start\n"
    "  --subtitles FILE     draw a subtitle file onto the pictures (y4m and yuv)\n"
    "  --pid N              the video stream of a transport stream with this PID\n"
    "  --threads N          threads that decode each picture's slices (default 0: one per\n"
    "                       processor; 1: the calling thread only)\n"
    "  -q, --quiet          no progress line\n"
    "  -h, --help           this help\n";

const std::vector<OptionDefinition> kOptions = {
    {"output", 'o', true}, {"format", 0, true},   {"null", 0, false},   {"decode-order", 0, false},
    {"size", 0, true},     {"frames", 0, true},   {"skip-ms", 0, true}, {"subtitles", 0, true},
    {"pid", 0, true},      {"quiet", 'q', false}, {"help", 'h', false}, {"threads", 0, true},
};

enum class Format { kY4m, kYuv, kBmp };

struct DecodeSettings {
    std::string input, output, subtitles;
    Format format = Format::kY4m;
    bool null = false, decodeOrder = false, quiet = false;
    PictureSize size;
    int64_t maxPictures = -1;
    uint32_t skipMilliseconds = 0;
    int32_t pid = D2U_ANY_VIDEO;
    int32_t threads = 0;
};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

Format ChooseFormat(const Arguments& args, const std::string& output) {
    std::string name = args.Value("format");
    if (name.empty()) {
        if (EndsWith(output, ".yuv")) return Format::kYuv;
        if (EndsWith(output, ".bmp")) return Format::kBmp;
        return Format::kY4m;
    }
    if (name == "y4m") return Format::kY4m;
    if (name == "yuv") return Format::kYuv;
    if (name == "bmp") return Format::kBmp;
    args.Fail("--format wants y4m, yuv or bmp, not '" + name + "'");
}

DecodeSettings ReadSettings(const Arguments& args) {
    args.ExpectPositionals(1, "input FILE");
    DecodeSettings settings;
    settings.input = args.positionals()[0];
    settings.output = args.Value("output");
    settings.null = args.Has("null") || settings.output == "/dev/null";
    if (settings.output.empty() && !settings.null) args.Fail("missing -o OUT (or --null)");
    if (args.Has("null") && !settings.output.empty()) args.Fail("--null takes no -o OUT");
    settings.format = ChooseFormat(args, settings.output);
    if (settings.format == Format::kBmp && !settings.null) {
        if (settings.output == "-") args.Fail("bitmap files cannot go to standard output");
        CheckNumberedPattern(settings.output);
    }
    settings.subtitles = args.Value("subtitles");
    if (!settings.subtitles.empty() && settings.format == Format::kBmp) {
        args.Fail("--subtitles works with y4m and yuv output");
    }
    settings.decodeOrder = args.Has("decode-order");
    settings.quiet = args.Has("quiet");
    settings.size = args.Size("size", PictureSize());
    settings.maxPictures = args.Count("frames", -1, 1, INT32_MAX);
    settings.skipMilliseconds =
        static_cast<uint32_t>(args.Count("skip-ms", 0, 0, 24 * 3600 * 1000));
    settings.pid = static_cast<int32_t>(args.Count("pid", D2U_ANY_VIDEO, 0, 0x1FFE));
    settings.threads = static_cast<int32_t>(args.Count("threads", 0, 0, 32));
    return settings;
}

Y4mHeader MakeY4mHeader(const VideoInput& input) {
    Y4mHeader header;
    input.OutputSize(header.width, header.height);
    const SequenceFacts& sequence = input.sequence();
    header.frameRate = sequence.FrameRate();
    header.sampleAspect = sequence.SampleAspect(header.width, header.height);
    header.chromaBetweenColumns = !sequence.mpeg2;
    if (sequence.mpeg2 && !sequence.progressiveSequence) {
        header.interlacing = input.firstPictureTopFieldFirst() ? 't' : 'b';
    }
    return header;
}

// Runs `read` until the end, the picture limit, putting pictures in order and handing them to
// `write`; returns the number written.
template <class Picture, class Read, class Write>
int64_t DecodeLoop(VideoInput& input, const DecodeSettings& settings, Read read, Write write) {
    ProgressLine progress(settings.quiet);
    DisplayOrder<Picture> order(settings.decodeOrder);
    Picture picture;
    int64_t written = 0;
    auto emit = [&](Picture& ready) {
        if (settings.maxPictures >= 0 && written >= settings.maxPictures) return;
        write(ready, written++);
    };
    while ((settings.maxPictures < 0 || written < settings.maxPictures) && read(picture)) {
        order.Add(picture, emit);
        progress.Update(input.Progress(), written);
    }
    order.Finish(emit);
    progress.Finish();
    return written;
}

int64_t DecodeOnly(VideoInput& input, const DecodeSettings& settings) {
    ProgressLine progress(settings.quiet);
    bool bitmaps = settings.format == Format::kBmp;
    int64_t count = 0;
    while ((settings.maxPictures < 0 || count < settings.maxPictures) &&
           (bitmaps ? input.DecodeBitmapOnly() : input.DecodeOnly())) {
        progress.Update(input.Progress(), ++count);
    }
    progress.Finish();
    return count;
}

int64_t DecodeToBitmaps(VideoInput& input, const DecodeSettings& settings) {
    auto read = [&](BitmapPicture& picture) { return input.ReadBitmap(picture); };
    auto write = [&](BitmapPicture& picture, int64_t index) {
        WriteBmpFile(NumberedPath(settings.output, index + 1), picture);
    };
    return DecodeLoop<BitmapPicture>(input, settings, read, write);
}

int64_t DecodeToYuv(VideoInput& input, const DecodeSettings& settings) {
    OutputFile out(settings.output);
    std::unique_ptr<SubtitleOverlay> subtitles;
    int32_t width = 0, height = 0;
    input.OutputSize(width, height);
    if (!settings.subtitles.empty()) {
        subtitles.reset(
            new SubtitleOverlay(settings.subtitles, input.sequence().FrameRate(), width, height));
    }
    bool y4m = settings.format == Format::kY4m;
    if (y4m) out.Write(FormatY4mHeader(MakeY4mHeader(input)));
    auto read = [&](YuvPicture& picture) { return input.ReadFrame(picture); };
    auto write = [&](YuvPicture& picture, int64_t index) {
        if (subtitles) subtitles->Draw(picture, static_cast<int32_t>(index));
        if (y4m) {
            WriteY4mFrame(out, picture);
        } else {
            out.Write(picture.samples.data(), picture.samples.size());
        }
    };
    int64_t count = DecodeLoop<YuvPicture>(input, settings, read, write);
    out.Close();
    return count;
}

}  // namespace

int RunDecode(int argc, char** argv) {
    Arguments args("decode", kOptions, argc, argv);
    if (args.Has("help")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    DecodeSettings settings = ReadSettings(args);
    VideoInput input(settings.input, settings.pid);
    input.SetThreads(settings.threads);
    if (settings.size.width > 0) input.SetOutputSize(settings.size.width, settings.size.height);
    input.Skip(settings.skipMilliseconds);
    int64_t count;
    if (settings.null) {
        count = DecodeOnly(input, settings);
    } else if (settings.format == Format::kBmp) {
        count = DecodeToBitmaps(input, settings);
    } else {
        count = DecodeToYuv(input, settings);
    }
    if (count == 0) throw RuntimeError("'" + settings.input + "': no picture could be decoded");
    return 0;
}

}  // namespace d2ucli
