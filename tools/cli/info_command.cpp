// d2udir info: what a video file holds, read from its headers; the size, aspect ratio and frame
// rate as the library reports them for elementary streams.
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "chunk_source.h"
#include "cli_commands.h"
#include "cli_errors.h"
#include "stream_headers.h"
#include "video_input.h"

namespace d2ucli {
namespace {

const char kHelp[] =
    "usage: d2udir info FILE [--frames]\n"
    "Describes an MPEG-1/MPEG-2 video elementary stream or program stream: size, aspect\n"
    "ratio, frame rate, MPEG-1 or MPEG-2, profile and level, interlacing, and the number of\n"
    "pictures of each coding type.\n"
    "\n"
    "  --frames    also one line per picture, in stream order: coding type, temporal\n"
    "              reference, coded bytes\n"
    "  -h, --help  this help\n";

const std::vector<OptionDefinition> kOptions = {{"frames", 0, false}, {"help", 'h', false}};

struct StreamScan {
    SequenceFacts sequence;
    std::vector<PictureFacts> pictures;
    bool programStream = false;
    uint64_t fileSize = 0;
};

StreamScan ScanFile(const std::string& path) {
    StreamScan scan;
    ChunkSource source(path);
    scan.programStream = source.isProgramStream();
    scan.fileSize = source.fileSize();
    std::vector<uint8_t> chunk;
    while (source.Next(chunk)) ReadChunkHeaders(chunk, scan.sequence, scan.pictures);
    if (!scan.sequence.found) {
        throw RuntimeError("'" + path + "': no MPEG video sequence header found");
    }
    return scan;
}

// Frames: a pair of field pictures counts once.
int64_t FrameCount(const std::vector<PictureFacts>& pictures) {
    int64_t fields = 0, frames = 0;
    for (const PictureFacts& picture : pictures) {
        if (picture.structure == 3) {
            ++frames;
        } else {
            ++fields;
        }
    }
    return frames + (fields + 1) / 2;
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

std::string CodingTypeCounts(const std::vector<PictureFacts>& pictures) {
    int64_t counts[5] = {};
    for (const PictureFacts& picture : pictures) {
        if (picture.codingType >= 1 && picture.codingType <= 4) ++counts[picture.codingType];
    }
    std::string text;
    for (int type = 1; type <= 4; ++type) {
        if (counts[type] == 0) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(counts[type]) + " " +
                CodingTypeLetter(type);
    }
    return text.empty() ? "none" : text;
}

void PrintLine(const char* label, const std::string& value) {
    std::printf("%-14s %s\n", label, value.c_str());
}

void PrintSummary(const std::string& path, const StreamScan& scan, const VideoInput& video) {
    const SequenceFacts& sequence = scan.sequence;
    int32_t width = 0, height = 0;
    video.OutputSize(width, height);
    PrintLine("file:", path);
    PrintLine("container:",
              scan.programStream ? "MPEG program stream" : "MPEG video elementary stream");
    PrintLine("file size:", std::to_string(scan.fileSize) + " bytes");
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
    int64_t frames = FrameCount(scan.pictures);
    PrintLine("pictures:", std::to_string(frames) + " (" + CodingTypeCounts(scan.pictures) + ")");
    Rational rate = sequence.FrameRate();
    if (rate.numerator > 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f s",
                      static_cast<double>(frames) * rate.denominator / rate.numerator);
        PrintLine("duration:", text);
    }
}

void PrintPictures(const std::vector<PictureFacts>& pictures) {
    std::printf("\n%8s  %4s  %9s  %11s\n", "picture", "type", "temporal", "coded bytes");
    for (size_t index = 0; index < pictures.size(); ++index) {
        const PictureFacts& picture = pictures[index];
        std::printf("%8zu  %4c  %9d  %11zu\n", index, CodingTypeLetter(picture.codingType),
                    static_cast<int>(picture.temporalReference), picture.codedBytes);
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
    VideoInput video(path);  // the library must accept the file too
    StreamScan scan = ScanFile(path);
    PrintSummary(path, scan, video);
    if (args.Has("frames")) PrintPictures(scan.pictures);
    return 0;
}

}  // namespace d2ucli
