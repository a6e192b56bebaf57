// Planar 4:2:0 and 4:2:2 pictures as the tests compare them: display size only, chroma rounded
// up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

struct PlaneImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> samples;  // width × height, no padding
};

struct YuvImage {
    PlaneImage planes[3];  // Y, Cb, Cr
};

// Copies width × height samples out of a plane with the given pitch.
PlaneImage CopyPlane(const uint8_t* data, int32_t pitch, int32_t width, int32_t height);
// Frames of a raw yuv420p (chromaFormat 1) or yuv422p (2: chroma as tall as luma) file of the
// given display size.
std::vector<YuvImage> ReadRawYuv(const std::string& path, int32_t width, int32_t height,
                                 int32_t chromaFormat);
std::vector<YuvImage> ReadRawYuv420(const std::string& path, int32_t width, int32_t height);
// ffmpeg's decoding of a stream file (made once, cached beside it), in display order, as
// yuv420p (chromaFormat 1) or yuv422p (chromaFormat 2).
std::vector<YuvImage> ReferenceDecoding(const std::string& streamPath, int32_t width,
                                        int32_t height, int32_t chromaFormat = 1);

// Peak signal-to-noise ratio in dB; identical planes give kIdenticalPsnr, planes of different
// sizes 0. MinPsnr is the worst of the three planes.
constexpr double kIdenticalPsnr = 100.0;
double PlanePsnr(const PlaneImage& a, const PlaneImage& b);
double MinPsnr(const YuvImage& a, const YuvImage& b);

}  // namespace test
}  // namespace d2u
