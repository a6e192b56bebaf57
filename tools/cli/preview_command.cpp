// d2udir preview: one picture at a file position, scaled and written as a bitmap file by the
// library's preview functions; or, with --count, a contact sheet of evenly spaced previews.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "bmp_file.h"
#include "cli_commands.h"
#include "cli_errors.h"
#include "output_file.h"
#include "preview_source.h"
#include "video_chunks.h"
#include "video_input.h"

namespace d2ucli {
namespace {

const char kHelp[] =
    "usage: d2udir preview FILE -o OUT.bmp [--at KB | --at-percent P] [--size WxH]\n"
    "       d2udir preview FILE -o OUT.bmp --count N [--size WxH] [--threads N]\n"
    "Writes the first picture at a file position, scaled, as a 32-bit bitmap file; with\n"
    "--count, a contact sheet of N previews evenly spaced over the file.\n"
    "\n"
    "  -o, --output OUT    the bitmap file\n"
    "  --at KB             position in units of 1024 bytes (default 0)\n"
    "  --at-percent P      position as a percentage of the file size\n"
    "  --size WxH          size of a preview (width at most 720; default 320 wide, the\n"
    "                      height after the display aspect ratio)\n"
    "  --count N           contact sheet of N previews (1 to 100)\n"
    "  --threads N         threads that decode each picture's slices (default 0: one per\n"
    "                      processor; 1: the calling thread only)\n"
    "  -h, --help          this help\n";

const std::vector<OptionDefinition> kOptions = {
    {"output", 'o', true}, {"at", 0, true},      {"at-percent", 0, true}, {"size", 0, true},
    {"count", 0, true},    {"help", 'h', false}, {"threads", 0, true},
};

const int32_t kLargestPreviewWidth = 720;
const int32_t kSheetGap = 4;
const uint8_t kSheetBackground = 32;

struct PreviewSettings {
    std::string input, output;
    PictureSize size;
    int64_t positionKiB = 0;
    double positionPercent = -1;
    int64_t count = 0;
    int32_t threads = 0;
};

PreviewSettings ReadSettings(const Arguments& args) {
    args.ExpectPositionals(1, "input FILE");
    PreviewSettings settings;
    settings.input = args.positionals()[0];
    settings.output = args.Value("output");
    if (settings.output.empty()) args.Fail("missing -o OUT.bmp");
    if (args.Has("at") && args.Has("at-percent")) args.Fail("give --at or --at-percent, not both");
    if (args.Has("count") && (args.Has("at") || args.Has("at-percent"))) {
        args.Fail("--count spreads the previews over the whole file; it takes no --at");
    }
    settings.positionKiB = args.Count("at", 0, 0, INT32_MAX);
    settings.positionPercent = args.Number("at-percent", -1, 0, 100);
    settings.count = args.Count("count", 0, 1, 100);
    settings.size = args.Size("size", PictureSize());
    settings.threads = static_cast<int32_t>(args.Count("threads", 0, 0, 32));
    if (settings.size.width > kLargestPreviewWidth) {
        args.Fail("--size: a preview is at most " + std::to_string(kLargestPreviewWidth) +
                  " pixels wide");
    }
    return settings;
}

// 320 pixels wide, as high as the picture's display aspect ratio makes it (even).
PictureSize DefaultSize(const SequenceFacts& sequence) {
    PictureSize size;
    size.width = 320;
    Rational sample = sequence.SampleAspect(sequence.width, sequence.height);
    double aspect = static_cast<double>(sequence.width) / sequence.height;
    if (sample.numerator > 0) aspect *= static_cast<double>(sample.numerator) / sample.denominator;
    size.height = 2 * static_cast<int32_t>(std::lround(size.width / aspect / 2));
    if (size.height < 16) size.height = 16;
    return size;
}

// Runs the library's preview over one source.
class PreviewSession {
public:
    PreviewSession(const PreviewSource& source, const std::string& bitmapFile, PictureSize size) {
        if (D2uDirStartExtractPreview(source.name().c_str(), bitmapFile.c_str(), size.width,
                                      size.height) != 0) {
            D2uDirCloseExtractPreview();
            throw RuntimeError("the library cannot open '" + source.name() + "' for previews");
        }
    }
    ~PreviewSession() { D2uDirCloseExtractPreview(); }
    PreviewSession(const PreviewSession&) = delete;
    PreviewSession& operator=(const PreviewSession&) = delete;

    int32_t Extract(int64_t positionKiB) {
        return D2uDirExtractPreview(static_cast<int32_t>(positionKiB));
    }
};

int64_t PositionKiB(const PreviewSettings& settings, uint64_t fileSize) {
    if (settings.positionPercent < 0) return settings.positionKiB;
    return static_cast<int64_t>(static_cast<double>(fileSize) * settings.positionPercent / 100.0 /
                                1024.0);
}

void WriteOnePreview(const PreviewSettings& settings, const PreviewSource& source,
                     uint64_t fileSize) {
    // Made here so that an unwritable name is reported: the library only logs it.
    OutputFile(settings.output).Close();
    PreviewSession session(source, settings.output, settings.size);
    int64_t position = PositionKiB(settings, fileSize);
    int32_t result = session.Extract(position);
    if (result != 0) {
        std::remove(settings.output.c_str());
        throw RuntimeError("no picture found at " + std::to_string(position) + " KiB of '" +
                           settings.input + "' (error " + std::to_string(result) + ")");
    }
}

void PlaceTile(BitmapPicture& sheet, const BitmapPicture& tile, int32_t left, int32_t top) {
    for (int32_t row = 0; row < tile.height && top + row < sheet.height; ++row) {
        const uint8_t* from = tile.pixels.data() + static_cast<size_t>(row) * tile.width * 4;
        uint8_t* to =
            sheet.pixels.data() + (static_cast<size_t>(top + row) * sheet.width + left) * 4;
        std::copy(from, from + static_cast<size_t>(tile.width) * 4, to);
    }
}

BitmapPicture EmptySheet(PictureSize tile, int32_t columns, int32_t rows) {
    BitmapPicture sheet;
    sheet.width = columns * tile.width + (columns + 1) * kSheetGap;
    sheet.height = rows * tile.height + (rows + 1) * kSheetGap;
    sheet.pixels.assign(static_cast<size_t>(sheet.width) * sheet.height * 4, kSheetBackground);
    for (size_t at = 3; at < sheet.pixels.size(); at += 4) sheet.pixels[at] = 255;
    return sheet;
}

// Near the end of a file no whole picture may follow a position: such a tile is taken from
// further back within its share of the file.
bool ExtractWithinShare(PreviewSession& session, int64_t position, int64_t shareKiB) {
    const int64_t step = std::max<int64_t>(shareKiB / 4, 1);
    for (int64_t back = 0; back < std::max<int64_t>(shareKiB, 1); back += step) {
        if (position - back < 0) break;
        if (session.Extract(position - back) == 0) return true;
    }
    return false;
}

void WriteContactSheet(const PreviewSettings& settings, const PreviewSource& source,
                       uint64_t fileSize) {
    OutputFile(settings.output).Close();
    std::string tileFile = settings.output + ".tile.bmp";
    int32_t count = static_cast<int32_t>(settings.count);
    int32_t columns = static_cast<int32_t>(std::ceil(std::sqrt(static_cast<double>(count))));
    int32_t rows = (count + columns - 1) / columns;
    BitmapPicture sheet = EmptySheet(settings.size, columns, rows);
    int32_t placed = 0;
    {
        PreviewSession session(source, tileFile, settings.size);
        for (int32_t index = 0; index < count; ++index) {
            const int64_t shareKiB = static_cast<int64_t>(fileSize / 1024 / count);
            int64_t position = static_cast<int64_t>(fileSize / 1024 * index / count);
            if (!ExtractWithinShare(session, position, shareKiB)) continue;  // tile stays empty
            int32_t left = kSheetGap + (index % columns) * (settings.size.width + kSheetGap);
            int32_t top = kSheetGap + (index / columns) * (settings.size.height + kSheetGap);
            PlaceTile(sheet, ReadBmpFile(tileFile), left, top);
            ++placed;
        }
    }
    std::remove(tileFile.c_str());
    if (placed == 0) {
        std::remove(settings.output.c_str());
        throw RuntimeError("no preview could be made from '" + settings.input + "'");
    }
    WriteBmpFile(settings.output, sheet);
}

}  // namespace

int RunPreview(int argc, char** argv) {
    Arguments args("preview", kOptions, argc, argv);
    if (args.Has("help")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    PreviewSettings settings = ReadSettings(args);
    VideoInput video(settings.input);
    if (settings.size.width == 0) settings.size = DefaultSize(video.sequence());
    uint64_t fileSize = VideoChunks(settings.input, D2U_ANY_VIDEO).Info().fileSize;
    PreviewSource source(settings.input, video.container() == D2U_CONTAINER_ELEMENTARY);
    D2uDirSetThreads(0, settings.threads);  // handle 0: the preview's own decoding handle
    if (settings.count > 0) {
        WriteContactSheet(settings, source, fileSize);
    } else {
        WriteOnePreview(settings, source, fileSize);
    }
    return 0;
}

}  // namespace d2ucli
