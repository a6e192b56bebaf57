#include "primitives/resize.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace d2u {
namespace {

constexpr int kTaps = 4;
constexpr int kWeightBits = 12;  // filter weights sum to 1 << kWeightBits
constexpr int kMiddleShift = 6;  // vertical pass keeps 6 fractional bits
constexpr int kFinalShift = 2 * kWeightBits - kMiddleShift;

// The source samples and weights behind one destination position.
struct Taps {
    int32_t index[kTaps];
    int32_t weight[kTaps];
};

double CubicWeight(double distance) {
    // Catmull-Rom (a = -0.5).
    double x = std::fabs(distance);
    if (x < 1.0) return (1.5 * x - 2.5) * x * x + 1.0;
    if (x < 2.0) return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    return 0.0;
}

int32_t Clamp(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : (value > high ? high : value);
}

// Positions are centre-aligned: destination sample d covers source (d + 0.5) / factor - 0.5.
Taps TapsFor(int32_t destination, double factor, int32_t origin, int32_t length,
             int interpolation) {
    Taps taps{};
    double centre = (destination + 0.5) / factor - 0.5;
    if (interpolation == IPPI_INTER_NN) {
        int32_t nearest = static_cast<int32_t>(std::floor((destination + 0.5) / factor));
        taps.index[0] = origin + Clamp(nearest, 0, length - 1);
        taps.weight[0] = 1 << kWeightBits;
        for (int i = 1; i < kTaps; ++i) taps.index[i] = taps.index[0];
        return taps;
    }
    int32_t base = static_cast<int32_t>(std::floor(centre));
    double fraction = centre - base;
    double weights[kTaps] = {0, 0, 0, 0};
    if (interpolation == IPPI_INTER_LINEAR) {
        weights[1] = 1.0 - fraction;
        weights[2] = fraction;
    } else {
        for (int i = 0; i < kTaps; ++i) weights[i] = CubicWeight(fraction - (i - 1));
    }
    int32_t total = 0;
    for (int i = 0; i < kTaps; ++i) {
        taps.index[i] = origin + Clamp(base - 1 + i, 0, length - 1);
        taps.weight[i] = static_cast<int32_t>(std::lround(weights[i] * (1 << kWeightBits)));
        total += taps.weight[i];
    }
    // Put the rounding remainder on the strongest tap so that flat areas stay exact.
    int strongest = fraction < 0.5 ? 1 : 2;
    taps.weight[strongest] += (1 << kWeightBits) - total;
    return taps;
}

struct ResizeWorkspace {
    std::vector<Taps> columns;
    std::vector<int32_t> middle;
};

ResizeWorkspace& Workspace() {
    thread_local ResizeWorkspace workspace;
    return workspace;
}

void ResizeRowScalar(const Ipp8u* const rows[kTaps], const int32_t rowWeights[kTaps],
                     const Taps* columns, int32_t sourceX, int32_t sourceWidth, int32_t* middle,
                     Ipp8u* destination, int32_t destinationWidth) {
    for (int32_t x = sourceX; x < sourceX + sourceWidth; ++x) {
        int32_t sum = 0;
        for (int i = 0; i < kTaps; ++i) sum += rowWeights[i] * rows[i][x];
        middle[x - sourceX] = (sum + (1 << (kMiddleShift - 1))) >> kMiddleShift;
    }
    for (int32_t x = 0; x < destinationWidth; ++x) {
        const Taps& taps = columns[x];
        int32_t sum = 0;
        for (int i = 0; i < kTaps; ++i) sum += taps.weight[i] * middle[taps.index[i] - sourceX];
        destination[x] =
            static_cast<Ipp8u>(Clamp((sum + (1 << (kFinalShift - 1))) >> kFinalShift, 0, 255));
    }
}

}  // namespace

IppStatus ippiResize_8u_C1R(const Ipp8u* pSrc, IppiSize srcSize, int srcStep, IppiRect srcRoi,
                            Ipp8u* pDst, int dstStep, IppiSize dstRoiSize, double xFactor,
                            double yFactor, int interpolation) {
    if (!pSrc || !pDst) return ippStsNullPtrErr;
    if (srcSize.width <= 0 || srcSize.height <= 0 || dstRoiSize.width <= 0 ||
        dstRoiSize.height <= 0) {
        return ippStsSizeErr;
    }
    if (srcStep < srcSize.width || dstStep < dstRoiSize.width) return ippStsStepErr;
    if (!(xFactor > 0.0) || !(yFactor > 0.0) || !std::isfinite(xFactor) ||
        !std::isfinite(yFactor)) {
        return ippStsResizeFactorErr;
    }
    if (interpolation != IPPI_INTER_NN && interpolation != IPPI_INTER_LINEAR &&
        interpolation != IPPI_INTER_CUBIC) {
        return ippStsInterpolationErr;
    }
    // Keep the region inside the source image.
    if (srcRoi.x < 0 || srcRoi.y < 0 || srcRoi.x >= srcSize.width || srcRoi.y >= srcSize.height) {
        return ippStsSizeErr;
    }
    int32_t x0 = srcRoi.x;
    int32_t y0 = srcRoi.y;
    int32_t roiWidth = Clamp(srcRoi.width, 0, srcSize.width - x0);
    int32_t roiHeight = Clamp(srcRoi.height, 0, srcSize.height - y0);
    if (roiWidth <= 0 || roiHeight <= 0) return ippStsSizeErr;

    ResizeWorkspace& workspace = Workspace();
    workspace.columns.resize(static_cast<size_t>(dstRoiSize.width));
    workspace.middle.resize(static_cast<size_t>(roiWidth));
    for (int32_t x = 0; x < dstRoiSize.width; ++x) {
        workspace.columns[static_cast<size_t>(x)] =
            TapsFor(x, xFactor, x0, roiWidth, interpolation);
    }
    for (int32_t y = 0; y < dstRoiSize.height; ++y) {
        Taps rowTaps = TapsFor(y, yFactor, y0, roiHeight, interpolation);
        const Ipp8u* rows[kTaps];
        for (int i = 0; i < kTaps; ++i) {
            rows[i] = pSrc + static_cast<ptrdiff_t>(rowTaps.index[i]) * srcStep;
        }
        ResizeRowScalar(rows, rowTaps.weight, workspace.columns.data(), x0, roiWidth,
                        workspace.middle.data(), pDst + static_cast<ptrdiff_t>(y) * dstStep,
                        dstRoiSize.width);
    }
    return ippStsNoErr;
}

}  // namespace d2u
