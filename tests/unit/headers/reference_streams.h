// Streams made by outside encoders for the header and wrapper tests, and what ffprobe reports
// about them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

// A matrix in raster order whose rows differ from its columns.
std::vector<uint16_t> LopsidedMatrix(int first, int step, int span);

// Each returns the path of a cached stream, or "" when the encoder failed.
bool FfmpegAvailable();
bool Mpeg2encAvailable();
std::string FfmpegMpeg1Stream();             // 176x144, 25 fps, 14 pictures, IBBP, GOP 6
std::string FfmpegMpeg2InterlacedStream();   // 352x288, every MPEG-2 picture option set
std::string FfmpegMpeg2ProgressiveStream();  // 176x144, zigzag, linear quantiser
std::string Mpeg2encInterlacedStream();      // 352x288, 16:9, matrices from a file
std::string Mpeg2encMpeg1Stream();           // 176x144, GOP 6

std::string FfmpegLongStream();      // 176x144, 120 pictures, MPEG-2, GOP 12, two B pictures
std::string FfmpegLargePictures();   // 720x576 noise, pictures of several hundred kilobytes
std::string FfmpegHugePicture();     // one 1920x1080 intra picture of over 2 MiB
std::string FfmpegHugePictureYuv();  // ffmpeg's decoding of it, raw yuv420p

// The matrices given to the encoders above (raster order).
std::vector<uint16_t> FfmpegIntraMatrix();
std::vector<uint16_t> FfmpegInterMatrix();
std::vector<uint16_t> Mpeg2encIntraMatrix();
std::vector<uint16_t> Mpeg2encInterMatrix();

struct ProbedStream {
    int width = 0;
    int height = 0;
    std::string profile;
    int level = 0;
    std::string fieldOrder;
    std::string frameRate;
    std::string displayAspectRatio;
    std::string pictureTypes;  // display order, one letter per picture
};

ProbedStream Probe(const std::string& path);
// frame_rate_code for ffprobe's r_frame_rate, 0 when the rate has no code.
uint32_t FrameRateCode(const std::string& rate);

}  // namespace test
}  // namespace d2u
