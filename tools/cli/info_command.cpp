// d2udir info: what a video file holds, read from its headers; the size, aspect ratio and frame
// rate as the library reports them for elementary streams.
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "cli_commands.h"
#include "cli_errors.h"
#include "stream_headers.h"
#include "video_chunks.h"
#include "video_input.h"

namespace d2ucli {
namespace {

const char kHelp[] =
    "usage: d2udir info FILE [--frames] [--pid N]\n"
    "Describes the MPEG-1/MPEG-2 video of an elementary, program or transport stream: the\n"
    "container (and the video's PID), size, aspect ratio, frame rate, MPEG-1 or MPEG-2,\n"
    "profile and level, interlacing, and the number of frames of each coding type (for\n"
    "field pictures, the type of a frame's first field), and of field pictures.\n"
    "\n"
    "  --frames    also one line per picture, in stream order: coding type, temporal\n"
    "              reference, structure (frame, top or bottom field), coded bytes\n"
    "  --pid N     the video stream of a transport stream with this PID (default: the\n"
    "              first MPEG video stream of the first program that has one)\n"
    "  -h, --help  this help\n";

const std::vector<OptionDefinition> kOptions = {
    {"frames", 0, false}, {"pid", 0, true}, {"help", 'h', false}};

struct StreamScan {
    SequenceFacts sequence;
    std::vector<PictureFacts> pictures;
    D2uVideoReaderInfo reader = {};
};

StreamScan ScanFile(const std::string& path, int32_t pid) {
    StreamScan scan;
    VideoChunks source(path, pid);
    const uint8_t* data = nullptr;
    int32_t length = 0;
    std::vector<uint8_t> chunk;
    while (source.Next(data, length)) {
        chunk.assign(data, data + length);
        ReadChunkHeaders(chunk, scan.sequence, scan.pictures);
    }
    scan.reader = source.Info();
    if (!scan.sequence.found) {
        throw RuntimeError("'" + path + "': no MPEG video sequence header found");
    }
    return scan;
}

struct TypeCounts {
    int64_t total = 0;
    int64_t byType[5] = {};
    void Add(int32_t codingType) {
        ++total;
        if (codingType >= 1 && codingType <= 4) ++byType[codingType];
    }
};

// Frames, each of the coding type of its first field when it is a pair of field pictures.
TypeCounts CountFrames(const std::vector<PictureFacts>& pictures) {
    TypeCounts frames;
    bool secondFieldDue = false;
    for (const PictureFacts& picture : pictures) {
        bool field = picture.structure != 3;
        if (field && secondFieldDue) {
            secondFieldDue = false;
            continue;
        }
        secondFieldDue = field;
        frames.Add(picture.codingType);
    }
    return frames;
}

TypeCounts CountFieldPictures(const std::vector<PictureFacts>& pictures) {
    TypeCounts fields;
    for (const PictureFacts& picture : pictures) {
        if (picture.structure != 3) fields.Add(picture.codingType);
    }
    return fields;
}

std::string RateText(Rational rate) {
    if (rate.numerator == 0) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f frames/s (%lld/%lld)",
                  static_cast<double>(rate.numerator) / rate.denominator,
                  static_cast<long long>(rate.numerator), static_cast<long long>(rate.denominator));
    return text;
}

std::string InterlacingText(const StreamScan& scan) {
    if (!scan.sequence.mpeg2 || scan.sequence.progressiveSequence) return "progressive";
    bool topFirst = scan.pictures.empty() || scan.pictures.front().topFieldFirst;
    bool fieldPictures = false;
    for (const PictureFacts& picture : scan.pictures) fieldPictures |= picture.structure != 3;
    return std::string("interlaced, ") + (topFirst ? "top" : "bottom") + " field first" +
           (fieldPictures ? ", field pictures" : "");
}

// "10 (1 I, 3 P, 6 B)"
std::string CountText(const TypeCounts& counts) {
    std::string text;
    for (int type = 1; type <= 4; ++type) {
        if (counts.byType[type] == 0) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(counts.byType[type]) + " " +
                CodingTypeLetter(type);
    }
    return std::to_string(counts.total) + " (" + (text.empty() ? "none" : text) + ")";
}

void PrintLine(const char* label, const std::string& value) {
    std::printf("%-16s %s\n", label, value.c_str());
}

void PrintContainer(const D2uVideoReaderInfo& reader) {
    PrintLine("container:", ContainerName(reader.container));
    if (reader.pid < 0) return;
    PrintLine("video PID:", std::to_string(reader.pid) + " (program " +
                                std::to_string(reader.programNumber) + ", stream type " +
                                std::to_string(reader.streamType) + ")");
    if (reader.continuityGaps > 0) {
        PrintLine("damage:",
                  std::to_string(reader.continuityGaps) + " continuity gaps (packets lost)");
    }
}

void PrintSummary(const std::string& path, const StreamScan& scan, const VideoInput& video) {
    const SequenceFacts& sequence = scan.sequence;
    int32_t width = 0, height = 0;
    video.OutputSize(width, height);
    PrintLine("file:", path);
    PrintContainer(scan.reader);
    PrintLine("file size:", std::to_string(scan.reader.fileSize) + " bytes");
    PrintLine("video:", sequence.mpeg2 ? "MPEG-2, " + sequence.ProfileText() : "MPEG-1");
    PrintLine("size:", std::to_string(width) + " x " + std::to_string(height));
    Rational sample = sequence.SampleAspect(width, height);
    std::string aspect = sequence.DisplayAspectText();
    if (sample.numerator > 0) {
        aspect += " (sample aspect " + std::to_string(sample.numerator) + ":" +
                  std::to_string(sample.denominator) + ")";
    }
    PrintLine("aspect ratio:", aspect);
    PrintLine("frame rate:", RateText(sequence.FrameRate()));
    PrintLine("interlacing:", InterlacingText(scan));
    if (sequence.bitRate > 0) PrintLine("bit rate:", std::to_string(sequence.bitRate) + " bit/s");
    TypeCounts frames = CountFrames(scan.pictures);
    PrintLine("frames:", CountText(frames));
    TypeCounts fields = CountFieldPictures(scan.pictures);
    if (fields.total > 0) PrintLine("field pictures:", CountText(fields));
    Rational rate = sequence.FrameRate();
    if (rate.numerator > 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f s",
                      static_cast<double>(frames.total) * rate.denominator / rate.numerator);
        PrintLine("duration:", text);
    }
}

void PrintPictures(const std::vector<PictureFacts>& pictures) {
    const char* structures[] = {"?", "top", "bottom", "frame"};
    std::printf("\n%8s  %4s  %9s  %9s  %11s\n", "picture", "type", "temporal", "structure",
                "coded bytes");
    for (size_t index = 0; index < pictures.size(); ++index) {
        const PictureFacts& picture = pictures[index];
        std::printf("%8zu  %4c  %9d  %9s  %11zu\n", index, CodingTypeLetter(picture.codingType),
                    static_cast<int>(picture.temporalReference), structures[picture.structure & 3],
                    picture.codedBytes);
    }
}

}  // namespace

int RunInfo(int argc, char** argv) {
    Arguments args("info", kOptions, argc, argv);
    if (args.Has("help")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    args.ExpectPositionals(1, "input FILE");
    const std::string& path = args.positionals()[0];
    int32_t pid = static_cast<int32_t>(args.Count("pid", D2U_ANY_VIDEO, 0, 0x1FFE));
    VideoInput video(path, pid);  // the library must accept the file too
    StreamScan scan = ScanFile(path, pid);
    PrintSummary(path, scan, video);
    if (args.Has("frames")) PrintPictures(scan.pictures);
    return 0;
}

}  // namespace d2ucli
