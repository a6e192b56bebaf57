// Running the built d2udir command (and the C host example) as a user would, with its standard
// output, standard error and exit status kept apart.
#pragma once

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

// ffmpeg's own decoding of a file's video (also of a YUV4MPEG2 file the command wrote), as raw
// 4:2:0 pictures in display order.
inline std::vector<YuvImage> FfmpegPictures(const std::string& path, const std::string& name,
                                            int32_t width, int32_t height) {
    std::string raw = WorkPath(name);
    RemoveFile(raw);
    RunCommand("ffmpeg -nostdin -v error -y -threads 1 -i " + Quoted(path) +
               " -map 0:v:0 -f rawvideo -pix_fmt yuv420p -vsync passthrough " + Quoted(raw));
    return ReadRawYuv420(raw, width, height);
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
