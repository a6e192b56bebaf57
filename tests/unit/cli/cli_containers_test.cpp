// d2udir on transport streams and on field pictures: decoding against ffmpeg, what info says,
// and previews.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "d2udir.h"
#include "stream_generator.h"
#include "support/cli_runner.h"
#include "support/transport_streams.h"

namespace d2u {
namespace test {
namespace {

std::string InfoLine(const std::string& text, const std::string& label) {
    size_t at = text.find("\n" + label + ":");
    if (at == std::string::npos) return "";
    at = text.find_first_not_of(' ', text.find(':', at) + 1);
    return text.substr(at, text.find('\n', at) - at);
}

std::string PidOption(const TransportStream& stream) {
    return stream.pid < 0 ? "" : " --pid " + std::to_string(stream.pid);
}

// Every picture as ffmpeg decodes the same video (at least 50 dB per plane), none more or less;
// info names the container and the PID.
TEST(CliTransport, DecodesAsFfmpegAndNamesContainerAndPid) {
    ASSERT_FALSE(TransportStreams().empty());
    for (const TransportStream& stream : TransportStreams()) {
        SCOPED_TRACE(stream.name);
        std::string output = WorkPath("cli_" + stream.name + ".y4m");
        CommandResult run =
            RunCli("decode " + Quoted(stream.path) + PidOption(stream) + " -o " + Quoted(output));
        ASSERT_EQ(run.status, 0) << run.err;
        std::string reference = FfmpegRaw(stream.videoPath, "cli_" + stream.name + "_ref.yuv");
        long pictures = CountPictures(reference, stream.width, stream.height, false);
        ASSERT_GT(pictures, 0);
        EXPECT_EQ(CountPictures(output, stream.width, stream.height, true), pictures);
        std::vector<double> psnr = PsnrAgainstRaw(output, reference, stream.width, stream.height);
        ASSERT_EQ(static_cast<long>(psnr.size()), pictures);
        for (size_t k = 0; k < psnr.size(); ++k) EXPECT_GE(psnr[k], 50.0) << "picture " << k;

        CommandResult info = RunCli("info " + Quoted(stream.path) + PidOption(stream));
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(InfoLine(info.out, "container"),
                  stream.container == D2U_CONTAINER_TRANSPORT
                      ? "MPEG transport stream (188-byte packets)"
                      : "MPEG transport stream (192-byte packets)");
        EXPECT_EQ(
            InfoLine(info.out, "video PID").substr(0, std::to_string(stream.videoPid).size() + 1),
            std::to_string(stream.videoPid) + " ");
        EXPECT_EQ(InfoLine(info.out, "frames").substr(0, std::to_string(pictures).size() + 1),
                  std::to_string(pictures) + " ");
    }
}

// Previews of a transport stream anywhere in it are whole pictures: each equals a preview of its
// elementary stream taken at one of its sequence headers.
TEST(CliTransport, PreviewsAreWholePictures) {
    const TransportStream& stream = TransportStreams().front();
    std::vector<uint8_t> video = ReadFileBytes(stream.videoPath);
    std::string elementary = WorkPath("cli_preview_source.m2v");
    WriteFileBytes(elementary, video);
    std::set<std::vector<uint8_t>> atSequenceHeaders;
    for (size_t at = 0; at + 4 <= video.size(); ++at) {
        if (video[at] != 0 || video[at + 1] != 0 || video[at + 2] != 1 || video[at + 3] != 0xB3)
            continue;
        std::string bmp = WorkPath("cli_preview_es.bmp");
        // The elementary stream's reader goes on at the next sequence header.
        ASSERT_EQ(RunCli("preview " + Quoted(elementary) + " --at " + std::to_string(at / 1024) +
                         " --size 176x144 -o " + Quoted(bmp))
                      .status,
                  0);
        atSequenceHeaders.insert(ReadFileBytes(bmp));
        at = (at / 1024 + 1) * 1024;
    }
    ASSERT_GE(atSequenceHeaders.size(), 3u);
    const long kib = static_cast<long>(ReadFileBytes(stream.path).size() / 1024);
    for (long at : {0L, kib / 4, kib / 2, kib * 3 / 4}) {
        std::string bmp = WorkPath("cli_preview_ts.bmp");
        CommandResult run = RunCli("preview " + Quoted(stream.path) + " --at " +
                                   std::to_string(at) + " --size 176x144 -o " + Quoted(bmp));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(atSequenceHeaders.count(ReadFileBytes(bmp)), 1u) << "at " << at << " KiB";
    }
}

// A stream of field pictures (with frame pictures among them) from the syntax generator, as an
// elementary and as a program stream: info counts frames as ffprobe does and field pictures
// apart; a preview of the program stream is the whole first frame, as for the elementary stream.
TEST(CliFieldPictures, FramesCountedOnceAndPreviewedWhole) {
    std::string fields = WorkPath("cli_fields.m2v"), program = WorkPath("cli_fields.vob");
    ASSERT_TRUE(WriteFileBytes(fields, streamgen::StreamGenerator({}).Generate().bytes));
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -i " + Quoted(fields) + " -c:v copy -f dvd " +
                         Quoted(program)),
              0);
    std::string probed = CaptureCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
        "-of default=nw=1:nk=1 " +
        Quoted(fields));
    probed = probed.substr(0, probed.find('\n'));
    for (const std::string& path : {fields, program}) {
        CommandResult info = RunCli("info --frames " + Quoted(path));
        ASSERT_EQ(info.status, 0) << info.err;
        std::string frames = InfoLine(info.out, "frames");
        EXPECT_EQ(frames.substr(0, frames.find(' ')), probed) << path;
        // The table of pictures, one row each: structure is the fourth column.
        std::istringstream rows(info.out.substr(info.out.find("\n\n") + 2));
        size_t fieldRows = 0, frameRows = 0;
        for (std::string row; std::getline(rows, row);) {
            std::istringstream columns(row);
            std::string index, type, temporal, structure;
            columns >> index >> type >> temporal >> structure;
            fieldRows += structure == "top" || structure == "bottom";
            frameRows += structure == "frame";
        }
        std::string counted = InfoLine(info.out, "field pictures");
        EXPECT_EQ(counted.substr(0, counted.find(' ')), std::to_string(fieldRows)) << path;
        EXPECT_EQ(std::to_string(frameRows + fieldRows / 2), probed) << path;
    }
    std::string fromProgram = WorkPath("cli_fields_ps.bmp"),
                fromFile = WorkPath("cli_fields_es.bmp");
    ASSERT_EQ(
        RunCli("preview " + Quoted(program) + " --size 160x128 -o " + Quoted(fromProgram)).status,
        0);
    ASSERT_EQ(RunCli("preview " + Quoted(fields) + " --size 160x128 -o " + Quoted(fromFile)).status,
              0);
    EXPECT_TRUE(ReadFileBytes(fromProgram) == ReadFileBytes(fromFile));
}

}  // namespace
}  // namespace test
}  // namespace d2u
