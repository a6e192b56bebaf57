#include "support/yuv_image.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "support/test_env.h"

namespace d2u {
namespace test {

PlaneImage CopyPlane(const uint8_t* data, int32_t pitch, int32_t width, int32_t height) {
    PlaneImage plane;
    plane.width = width;
    plane.height = height;
    plane.samples.resize(static_cast<size_t>(width) * height);
    for (int32_t row = 0; row < height; ++row) {
        std::memcpy(&plane.samples[static_cast<size_t>(row) * width],
                    data + static_cast<std::ptrdiff_t>(row) * pitch, static_cast<size_t>(width));
    }
    return plane;
}

std::vector<YuvImage> ReadRawYuv(const std::string& path, int32_t width, int32_t height,
                                 int32_t chromaFormat) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    int32_t chromaWidth = (width + 1) / 2;
    int32_t chromaHeight = chromaFormat == 2 ? height : (height + 1) / 2;
    size_t lumaSize = static_cast<size_t>(width) * height;
    size_t chromaSize = static_cast<size_t>(chromaWidth) * chromaHeight;
    std::vector<YuvImage> frames;
    for (size_t at = 0; lumaSize && at + lumaSize + 2 * chromaSize <= bytes.size();
         at += lumaSize + 2 * chromaSize) {
        YuvImage image;
        image.planes[0] = CopyPlane(&bytes[at], width, width, height);
        image.planes[1] = CopyPlane(&bytes[at + lumaSize], chromaWidth, chromaWidth, chromaHeight);
        image.planes[2] =
            CopyPlane(&bytes[at + lumaSize + chromaSize], chromaWidth, chromaWidth, chromaHeight);
        frames.push_back(std::move(image));
    }
    return frames;
}

std::vector<YuvImage> ReadRawYuv420(const std::string& path, int32_t width, int32_t height) {
    return ReadRawYuv(path, width, height, 1);
}

std::vector<YuvImage> ReferenceDecoding(const std::string& streamPath, int32_t width,
                                        int32_t height, int32_t chromaFormat) {
    const bool is422 = chromaFormat == 2;
    std::string path = CachedArtifact(
        streamPath.substr(streamPath.rfind('/') + 1) + (is422 ? ".ref422.yuv" : ".ref.yuv"),
        "ffmpeg -nostdin -v error -y -threads 1 -i '" + streamPath + "' -f rawvideo -pix_fmt " +
            (is422 ? "yuv422p" : "yuv420p") + " -vsync passthrough {out}");
    return ReadRawYuv(path, width, height, chromaFormat);
}

namespace {

double PsnrFromMeanSquaredError(double mse) {
    if (mse <= 0) return kIdenticalPsnr;
    return std::fmin(kIdenticalPsnr, 10.0 * std::log10(255.0 * 255.0 / mse));
}

}  // namespace

double PlanePsnr(const PlaneImage& a, const PlaneImage& b) {
    if (a.width != b.width || a.height != b.height || a.samples.empty()) return 0.0;
    double sum = 0;
    for (size_t k = 0; k < a.samples.size(); ++k) {
        double d = static_cast<double>(a.samples[k]) - b.samples[k];
        sum += d * d;
    }
    return PsnrFromMeanSquaredError(sum / static_cast<double>(a.samples.size()));
}

double MinPsnr(const YuvImage& a, const YuvImage& b) {
    double worst = kIdenticalPsnr;
    for (int p = 0; p < 3; ++p) worst = std::min(worst, PlanePsnr(a.planes[p], b.planes[p]));
    return worst;
}

}  // namespace test
}  // namespace d2u
