// Running the built d2udir command (and the C host example) as a user would, with its standard
// output, standard error and exit status kept apart, and reading back what it wrote.
#pragma once

#include <gtest/gtest.h>

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

inline std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Runs `d2udir ARGUMENTS` (arguments already quoted as needed).
inline CommandResult RunCli(const std::string& arguments) {
    std::string out = WorkPath("cli_run.out"), err = WorkPath("cli_run.err");
    int status = RunCommand("{ " + Emulated(D2U_CLI_FILE) + " " + arguments + " >" + Quoted(out) +
                            " 2>" + Quoted(err) + "; }");
    return {status, Text(ReadFileBytes(out)), Text(ReadFileBytes(err))};
}

// For runs that must succeed: what they leave behind is checked next.
inline CommandResult RunCliOk(const std::string& arguments) {
    CommandResult run = RunCli(arguments);
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.err;
    return run;
}

// Runs `d2udir ARGUMENTS -o FILE AFTER` where it must succeed, into a fresh work file so that no
// earlier run's output gets checked; returns the file's path.
inline std::string RunCliInto(const std::string& arguments, const std::string& name,
                              const std::string& after = "") {
    std::string path = WorkPath(name);
    RemoveFile(path);
    RunCliOk(arguments + " -o " + Quoted(path) + after);
    return path;
}

inline std::string SamplePath(const std::string& name) {
    return std::string(D2U_SOURCE_DIR) + "/samples/" + name;
}

// Pictures in a raw 4:2:0 file, or in a YUV4MPEG2 file without frame parameters; -1 when the
// size does not come out even.
inline long CountPictures(const std::string& path, int32_t width, int32_t height, bool y4m) {
    std::error_code error;
    const long size = static_cast<long>(std::filesystem::file_size(path, error));
    if (error) return -1;
    size_t header = y4m ? Text(ReadFileBytes(path, 0, 256)).find('\n') + 1 : 0;
    size_t perFrame = static_cast<size_t>(width) * height +
                      2 * static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2) + (y4m ? 6 : 0);
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

// The command's YUV4MPEG2 output holds `count` pictures, each within 50 dB in every plane of the
// raw 4:2:0 picture at its place (ffmpeg compares them in order until either ends).
inline void ExpectSamePictures(const std::string& y4m, const std::string& raw, int32_t width,
                               int32_t height, long count) {
    EXPECT_EQ(CountPictures(y4m, width, height, true), count) << y4m;
    std::string stats = WorkPath("cli_psnr.txt");
    RemoveFile(stats);
    RunCommand("ffmpeg -nostdin -v error -i " + Quoted(y4m) + " -f rawvideo -pix_fmt yuv420p -s " +
               std::to_string(width) + "x" + std::to_string(height) + " -i " + Quoted(raw) +
               " -lavfi '[0:v]setpts=N[a];[1:v]setpts=N[b];[a][b]psnr=stats_file=" + stats +
               ":shortest=1' -f null -");
    std::istringstream lines(Text(ReadFileBytes(stats)));
    long pictures = 0;
    for (std::string line; std::getline(lines, line); ++pictures) {
        double low = 100.0;  // identical planes say "inf", read as infinity
        for (const char* plane : {"psnr_y:", "psnr_u:", "psnr_v:"}) {
            size_t at = line.find(plane);
            low = std::min(low, at == std::string::npos ? 0 : std::atof(&line[at + 7]));
        }
        EXPECT_GE(low, 50.0) << y4m << ": picture " << pictures;
    }
    EXPECT_EQ(pictures, count) << y4m;
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

// The value after "label:" on a line of `info`'s output.
inline std::string InfoValue(const std::string& info, const std::string& label) {
    std::string text = "\n" + info;
    size_t at = text.find("\n" + label + ":");
    if (at == std::string::npos) return "";
    at = text.find_first_not_of(' ', at + label.size() + 2);
    return text.substr(at, text.find('\n', at) - at);
}

// A 32-bit bitmap file as the command writes it.
struct Bitmap {
    int32_t width = 0, height = 0;
    size_t offset = 0;
    std::vector<uint8_t> bytes;
    const uint8_t* Pixel(int32_t x, int32_t y) const {  // bottom row first in the file
        return &bytes[offset + (static_cast<size_t>(height - 1 - y) * width + x) * 4];
    }
};

// Width and height stay 0 unless the header describes 32-bit pixels that are all in the file.
inline Bitmap ReadBitmap(const std::string& path) {
    Bitmap bitmap;
    bitmap.bytes = ReadFileBytes(path);
    if (bitmap.bytes.size() < 54) return bitmap;
    auto word = [&](size_t at) { return static_cast<int32_t>(LittleEndian32(&bitmap.bytes[at])); };
    bitmap.offset = static_cast<size_t>(word(10));
    bitmap.width = word(18);
    bitmap.height = word(22);
    if (word(28) != 32 || bitmap.width <= 0 || bitmap.height <= 0 ||
        bitmap.offset + static_cast<size_t>(bitmap.width) * bitmap.height * 4 > bitmap.bytes.size())
        bitmap.width = bitmap.height = 0;
    return bitmap;
}

}  // namespace test
}  // namespace d2u
