#include "reference_streams.h"

#include <sstream>

#include "support/test_env.h"

namespace d2u {
namespace test {

namespace {

std::string MatrixArgument(const std::vector<uint16_t>& matrix, const char* separator) {
    std::string text;
    for (size_t i = 0; i < matrix.size(); ++i) {
        if (i != 0) text += (i % 8 == 0 && separator[0] == '\n') ? "\n" : ",";
        text += std::to_string(matrix[i]);
    }
    return text;
}

const char* const kSource = "ffmpeg -v error -f lavfi -i testsrc=size=";

}  // namespace

bool FfmpegAvailable() {
    return CommandAvailable("ffmpeg") && CommandAvailable("ffprobe");
}

bool Mpeg2encAvailable() {
    return FfmpegAvailable() && CommandAvailable("mpeg2enc");
}

std::vector<uint16_t> LopsidedMatrix(int first, int step, int span) {
    std::vector<uint16_t> matrix(64);
    for (int i = 0; i < 64; ++i) matrix[i] = static_cast<uint16_t>(first + (i * step) % span);
    return matrix;
}

std::vector<uint16_t> FfmpegIntraMatrix() {
    return LopsidedMatrix(8, 5, 50);
}
std::vector<uint16_t> FfmpegInterMatrix() {
    return LopsidedMatrix(16, 3, 40);
}
std::vector<uint16_t> Mpeg2encIntraMatrix() {
    return LopsidedMatrix(8, 7, 45);
}
std::vector<uint16_t> Mpeg2encInterMatrix() {
    return LopsidedMatrix(12, 11, 37);
}

std::string FfmpegMpeg1Stream() {
    return CachedArtifact("headers_ffmpeg_mpeg1.m1v",
                          std::string(kSource) +
                              "176x144:rate=25 -frames:v 14 -c:v mpeg1video -g 6 -bf 2 "
                              "-f mpeg1video {out}");
}

std::string FfmpegMpeg2InterlacedStream() {
    return CachedArtifact(
        "headers_ffmpeg_mpeg2_interlaced.m2v",
        std::string(kSource) +
            "352x288:rate=25 -frames:v 14 -c:v mpeg2video -qmax 28 -g 6 -bf 2 -flags +ilme+ildct "
            "-top 1 "
            "-alternate_scan 1 -intra_vlc 1 -non_linear_quant 1 -dc 10 -aspect 16:9 "
            "-gop_timecode 01:02:03:04 -intra_matrix " +
            MatrixArgument(FfmpegIntraMatrix(), ",") + " -inter_matrix " +
            MatrixArgument(FfmpegInterMatrix(), ",") + " -f mpeg2video {out}");
}

std::string FfmpegMpeg2ProgressiveStream() {
    return CachedArtifact("headers_ffmpeg_mpeg2_progressive.m2v",
                          std::string(kSource) +
                              "176x144:rate=30000/1001 -frames:v 10 -c:v mpeg2video -g 5 -bf 1 "
                              "-aspect 4:3 -f mpeg2video {out}");
}

std::string Mpeg2encInterlacedStream() {
    std::string matrixFile = WorkPath("headers_mpeg2enc_matrices.txt");
    std::vector<uint16_t> both = Mpeg2encIntraMatrix();
    std::vector<uint16_t> inter = Mpeg2encInterMatrix();
    both.insert(both.end(), inter.begin(), inter.end());
    std::string text = MatrixArgument(both, "\n") + "\n";
    if (!WriteFileBytes(matrixFile, std::vector<uint8_t>(text.begin(), text.end()))) return "";
    return CachedArtifact("headers_mpeg2enc_interlaced.m2v",
                          std::string(kSource) +
                              "352x288:rate=25 -frames:v 15 -vf setfield=tff -pix_fmt yuv420p "
                              "-f yuv4mpegpipe - | mpeg2enc -v 0 -f 3 -b 3000 -R 2 -g 6 -G 6 "
                              "-I 1 -z t -a 3 -K file=" +
                              matrixFile + " -o {out}");
}

std::string Mpeg2encMpeg1Stream() {
    return CachedArtifact("headers_mpeg2enc_mpeg1.m1v",
                          std::string(kSource) +
                              "176x144:rate=25 -frames:v 12 -pix_fmt yuv420p -f yuv4mpegpipe - "
                              "| mpeg2enc -v 0 -f 0 -R 2 -g 6 -G 6 -a 1 -o {out}");
}

std::string FfmpegLongStream() {
    return CachedArtifact("headers_ffmpeg_long.m2v",
                          std::string(kSource) +
                              "176x144:rate=25 -frames:v 120 -c:v mpeg2video -g 12 -bf 2 "
                              "-f mpeg2video {out}");
}

std::string FfmpegLargePictures() {
    return CachedArtifact("headers_ffmpeg_large.m2v",
                          "ffmpeg -v error -f lavfi -i testsrc2=size=480x384:rate=25 -vf "
                          "noise=alls=40:allf=t -frames:v 12 -c:v mpeg2video -qscale:v 2 -g 4 "
                          "-bf 1 -f mpeg2video {out}");
}

std::string FfmpegHugePicture() {
    return CachedArtifact("headers_ffmpeg_huge.m2v",
                          "ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -vf "
                          "noise=alls=60:allf=t -frames:v 1 -c:v mpeg2video -qscale:v 1 -qmin 1 "
                          "-intra_vlc 1 -maxrate 200M -bufsize 200M -f mpeg2video {out}");
}

std::string FfmpegHugePictureYuv() {
    std::string stream = FfmpegHugePicture();
    if (stream.empty()) return "";
    return CachedArtifact("headers_ffmpeg_huge.yuv",
                          "ffmpeg -v error -i '" + stream + "' -f rawvideo -pix_fmt yuv420p {out}");
}

ProbedStream Probe(const std::string& path) {
    ProbedStream probed;
    std::istringstream stream(CaptureCommand(
        "ffprobe -v error -select_streams v:0 -show_entries "
        "stream=width,height,profile,level,field_order,r_frame_rate,display_aspect_ratio "
        "-of default=noprint_wrappers=1 '" +
        path + "'"));
    for (std::string line; std::getline(stream, line);) {
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "width") probed.width = std::stoi(value);
        if (key == "height") probed.height = std::stoi(value);
        if (key == "profile") probed.profile = value;
        if (key == "level") probed.level = std::stoi(value);
        if (key == "field_order") probed.fieldOrder = value;
        if (key == "r_frame_rate") probed.frameRate = value;
        if (key == "display_aspect_ratio") probed.displayAspectRatio = value;
    }
    std::string types = CaptureCommand(
        "ffprobe -v error -show_entries frame=pict_type -of "
        "default=noprint_wrappers=1:nokey=1 '" +
        path + "'");
    for (char c : types) {
        if (c == 'I' || c == 'P' || c == 'B') probed.pictureTypes += c;
    }
    return probed;
}

uint32_t FrameRateCode(const std::string& rate) {
    const char* rates[] = {"24000/1001", "24/1", "25/1",       "30000/1001",
                           "30/1",       "50/1", "60000/1001", "60/1"};
    for (uint32_t code = 1; code <= 8; ++code) {
        if (rate == rates[code - 1]) return code;
    }
    return 0;
}

}  // namespace test
}  // namespace d2u
