// Colour conversion of whole pictures into 32-bit pixels, 4:2:0 and 4:2:2, at SD and HD
// sizes. Reports pixels per second.
#include "kernel_bench_support.h"
#include "primitives/yuv_to_rgb.h"

namespace d2u {
namespace bench {
namespace {

void ConvertPicture(benchmark::State& state, int width, int height, bool chroma422) {
    int chromaWidth = (width + 1) / 2;
    int chromaHeight = chroma422 ? height : (height + 1) / 2;
    std::vector<Ipp8u> luma = RandomBytes(static_cast<size_t>(width) * height, 51);
    std::vector<Ipp8u> cb = RandomBytes(static_cast<size_t>(chromaWidth) * chromaHeight, 52);
    std::vector<Ipp8u> cr = RandomBytes(static_cast<size_t>(chromaWidth) * chromaHeight, 53);
    std::vector<Ipp8u> pixels(static_cast<size_t>(width) * height * 4);
    const Ipp8u* planes[3] = {luma.data(), cb.data(), cr.data()};
    const int steps[3] = {width, chromaWidth, chromaWidth};
    IppiSize size{width, height};
    for (auto _ : state) {
        IppStatus status =
            chroma422 ? ippiYUV422ToRGB_8u_P3AC4R(planes, steps, pixels.data(), 4 * width, size)
                      : ippiYUV420ToRGB_8u_P3AC4R(planes, steps, pixels.data(), 4 * width, size);
        benchmark::DoNotOptimize(status);
        benchmark::ClobberMemory();
    }
    ReportItems(state, static_cast<int64_t>(width) * height, "pixels");
}

const bool registered = [] {
    struct Case {
        const char* name;
        int width;
        int height;
        bool chroma422;
    };
    const Case cases[] = {{"colour/yuv420_720x576", 720, 576, false},
                          {"colour/yuv420_1920x1080", 1920, 1080, false},
                          {"colour/yuv422_720x576", 720, 576, true}};
    for (const Case& c : cases) {
        RegisterAtEveryLevel(c.name, [c](benchmark::State& state) {
            ConvertPicture(state, c.width, c.height, c.chroma422);
        });
    }
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
