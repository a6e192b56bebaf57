// Running the built d2udir command (and the C host example) as a user would, with its standard
// output, standard error and exit status kept apart.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {

struct CommandResult {
    int status = -1;
    std::string out, err;
};

inline std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

inline std::string Emulated(const std::string& program) {
    std::string emulator = D2U_CLI_EMULATOR;
    return (emulator.empty() ? "" : emulator + " ") + Quoted(program);
}

inline std::string Cli() {
    return Emulated(D2U_CLI_FILE);
}

inline std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Runs `d2udir ARGUMENTS` (arguments already quoted as needed).
inline CommandResult RunCli(const std::string& arguments) {
    std::string out = WorkPath("cli_run.out"), err = WorkPath("cli_run.err");
    CommandResult result;
    result.status = RunCommand("{ " + Cli() + " " + arguments + " >" + Quoted(out) + " 2>" +
                               Quoted(err) + "; }");
    result.out = Text(ReadFileBytes(out));
    result.err = Text(ReadFileBytes(err));
    return result;
}

inline std::string SamplePath(const std::string& name) {
    return std::string(D2U_SOURCE_DIR) + "/samples/" + name;
}

inline size_t FrameBytes(int32_t width, int32_t height) {
    return static_cast<size_t>(width) * height +
           2 * static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
}

// Pictures in a raw 4:2:0 file, or in a YUV4MPEG2 file without frame parameters; -1 when the
// size does not come out even.
inline long CountPictures(const std::string& path, int32_t width, int32_t height, bool y4m) {
    std::vector<uint8_t> head = ReadFileBytes(path, 0, 256);
    std::error_code error;
    const long size = static_cast<long>(std::filesystem::file_size(path, error));
    if (error) return -1;
    size_t header = 0, perFrame = FrameBytes(width, height);
    if (y4m) {
        std::string text = Text(head);
        header = text.find('\n') + 1;
        perFrame += 6;
    }
    if (size < static_cast<long>(header) || (size - header) % perFrame != 0) return -1;
    return static_cast<long>((size - header) / perFrame);
}

// ffmpeg's own decoding of a file's video, as raw 4:2:0 pictures in display order.
inline std::string FfmpegRaw(const std::string& path, const std::string& name) {
    std::string raw = WorkPath(name);
    RemoveFile(raw);
    RunCommand("ffmpeg -nostdin -v error -y -threads 1 -i " + Quoted(path) +
               " -map 0:v:0 -f rawvideo -pix_fmt yuv420p -vsync passthrough " + Quoted(raw));
    return raw;
}

// Picture by picture, the lowest of the three planes' PSNR (100 for identical planes) of a
// video file (the command's output, read by ffmpeg) against raw 4:2:0 pictures, compared by
// ffmpeg in order until either ends.
inline std::vector<double> PsnrAgainstRaw(const std::string& input, const std::string& raw,
                                          int32_t width, int32_t height) {
    std::string stats = WorkPath("cli_psnr.txt");
    RemoveFile(stats);
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    RunCommand("ffmpeg -nostdin -v error -i " + Quoted(input) +
               " -f rawvideo -pix_fmt yuv420p -s " + size + " -i " + Quoted(raw) +
               " -lavfi '[0:v]setpts=N[a];[1:v]setpts=N[b];[a][b]psnr=stats_file=" + stats +
               ":shortest=1' -f null -");
    std::vector<double> worst;
    std::istringstream lines(Text(ReadFileBytes(stats)));
    for (std::string line; std::getline(lines, line);) {
        double low = 100.0;
        for (const char* plane : {"psnr_y:", "psnr_u:", "psnr_v:"}) {
            size_t at = line.find(plane);
            if (at == std::string::npos) {
                low = 0;
                continue;
            }
            std::string value = line.substr(at + 7, line.find(' ', at) - at - 7);
            if (value != "inf") low = std::min(low, std::atof(value.c_str()));
        }
        worst.push_back(low);
    }
    return worst;
}

// Fields of ffprobe's description of the first video stream (such as "field_order"), one per
// line.
inline std::string ProbeField(const std::string& path, const std::string& field) {
    std::string text =
        CaptureCommand("ffprobe -v error -select_streams v:0 -show_entries stream=" + field +
                       " -of default=noprint_wrappers=1:nokey=1 " + Quoted(path));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace test
}  // namespace d2u
