#include "support/yuv_image.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

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

std::vector<YuvImage> ReadRawYuv420(const std::string& path, int32_t width, int32_t height) {
    std::vector<YuvImage> frames;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return frames;
    const int32_t sizes[3][2] = {
        {width, height}, {(width + 1) / 2, (height + 1) / 2}, {(width + 1) / 2, (height + 1) / 2}};
    for (bool complete = true; complete;) {
        YuvImage image;
        for (int plane = 0; plane < 3 && complete; ++plane) {
            PlaneImage& p = image.planes[plane];
            p.width = sizes[plane][0];
            p.height = sizes[plane][1];
            p.samples.resize(static_cast<size_t>(p.width) * p.height);
            complete = std::fread(p.samples.data(), 1, p.samples.size(), file) == p.samples.size();
        }
        if (complete) frames.push_back(std::move(image));
    }
    std::fclose(file);
    return frames;
}

double MeanSquaredError(const PlaneImage& a, const PlaneImage& b) {
    if (a.width != b.width || a.height != b.height || a.samples.empty()) return 255.0 * 255.0;
    double sum = 0;
    for (size_t k = 0; k < a.samples.size(); ++k) {
        double d = static_cast<double>(a.samples[k]) - b.samples[k];
        sum += d * d;
    }
    return sum / static_cast<double>(a.samples.size());
}

double PsnrFromMeanSquaredError(double mse) {
    if (mse <= 0) return kIdenticalPsnr;
    return std::fmin(kIdenticalPsnr, 10.0 * std::log10(255.0 * 255.0 / mse));
}

double PlanePsnr(const PlaneImage& a, const PlaneImage& b) {
    if (a.width != b.width || a.height != b.height) return 0.0;
    return PsnrFromMeanSquaredError(MeanSquaredError(a, b));
}

}  // namespace test
}  // namespace d2u
