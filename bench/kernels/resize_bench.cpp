// Plane resizing as previews and output sizes use it: an SD luma plane down to a 160x90
// thumbnail with each interpolation, and up to 1024x576 (square pixels) with cubic
// interpolation. Reports destination pixels per second.
#include "kernel_bench_support.h"
#include "primitives/resize.h"

namespace d2u {
namespace bench {
namespace {

constexpr int kSourceWidth = 720;
constexpr int kSourceHeight = 576;

void ResizePlane(benchmark::State& state, int width, int height, int interpolation) {
    std::vector<Ipp8u> source = RandomBytes(kSourceWidth * kSourceHeight, 61);
    std::vector<Ipp8u> destination(static_cast<size_t>(width) * height);
    IppiSize sourceSize{kSourceWidth, kSourceHeight};
    IppiRect region{0, 0, kSourceWidth, kSourceHeight};
    double xFactor = static_cast<double>(width) / kSourceWidth;
    double yFactor = static_cast<double>(height) / kSourceHeight;
    for (auto _ : state) {
        IppStatus status =
            ippiResize_8u_C1R(source.data(), sourceSize, kSourceWidth, region, destination.data(),
                              width, IppiSize{width, height}, xFactor, yFactor, interpolation);
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
        int interpolation;
    };
    const Case cases[] = {{"resize/160x90_nearest", 160, 90, IPPI_INTER_NN},
                          {"resize/160x90_linear", 160, 90, IPPI_INTER_LINEAR},
                          {"resize/160x90_cubic", 160, 90, IPPI_INTER_CUBIC},
                          {"resize/1024x576_cubic", 1024, 576, IPPI_INTER_CUBIC}};
    for (const Case& c : cases) {
        RegisterAtEveryLevel(c.name, [c](benchmark::State& state) {
            ResizePlane(state, c.width, c.height, c.interpolation);
        });
    }
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
