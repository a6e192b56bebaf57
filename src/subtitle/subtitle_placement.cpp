#include "subtitle/subtitle_placement.h"

#include <cmath>

namespace d2u {
namespace {

// Results beyond this are clamped, so that no conversion or sum can overflow.
constexpr double kCoordinateLimit = 1 << 30;

// Rounds an intermediate result to double precision. 32-bit x87 code would otherwise keep extra
// bits, and truncate a position one pixel away from what other builds compute.
double AsDouble(double value) {
    volatile double stored = value;
    return stored;
}

int64_t Truncate(double exact) {
    double value = AsDouble(exact);
    if (!(value > -kCoordinateLimit)) return static_cast<int64_t>(-kCoordinateLimit);
    if (!(value < kCoordinateLimit)) return static_cast<int64_t>(kCoordinateLimit);
    return static_cast<int64_t>(value);
}

int32_t Narrow(int64_t value) {
    const auto limit = static_cast<int64_t>(kCoordinateLimit);
    return static_cast<int32_t>(value < -limit ? -limit : (value > limit ? limit : value));
}

bool NearOne(double factor) {
    double offset = AsDouble(factor - 1.0);
    return -0.01 < offset && offset < 0.01;
}

bool UsableFactor(double factor) {
    return std::isfinite(factor) && factor > 0.0;
}

SubtitlePlacement Unscaled(const SubtitleRecord& record) {
    SubtitlePlacement placement;
    placement.width = record.width;
    placement.height = record.height;
    placement.x1 = record.x1;
    placement.y1 = record.y1;
    placement.x2 = record.x2;
    placement.y2 = record.y2;
    return placement;
}

}  // namespace

SubtitlePlacement PlaceSubtitle(const SubtitleRecord& record, const SubtitleScaling& scaling) {
    double sx = scaling.xFactor;
    double sy = scaling.yFactor;
    if (NearOne(sx) && NearOne(sy)) return Unscaled(record);
    if (!UsableFactor(sx) || !UsableFactor(sy)) return Unscaled(record);
    if (scaling.maxWidth <= 0 || scaling.maxHeight <= 0 || record.width <= 0) {
        return Unscaled(record);
    }
    const int64_t maxWidth = scaling.maxWidth;
    const int64_t maxHeight = scaling.maxHeight;

    // A picture that would grow wider than the maximum is scaled to fit it, keeping the
    // proportion of the two factors.
    double fx = sx;
    double fy = sy;
    if (AsDouble(record.width * sx) > static_cast<double>(maxWidth)) {
        fx = AsDouble(static_cast<double>(maxWidth) / record.width);
        fy = AsDouble(AsDouble(fx * sy) / sx);
    }
    int64_t xs = Truncate(record.x1 * fx);
    int64_t x2s = Truncate(record.x2 * fx);
    int64_t ys = Truncate(record.y1 * fy);
    int64_t y2s = Truncate(record.y2 * fy);
    int64_t sum = xs + x2s;
    if (sum == 0) return Unscaled(record);

    int64_t shift = sum / 2 - maxWidth / 2;
    int64_t y2n = Truncate(static_cast<double>(y2s) /
                           AsDouble(static_cast<double>(sum) / static_cast<double>(maxWidth)));

    SubtitlePlacement placement;
    placement.scaled = true;
    placement.xFactor = fx;
    placement.yFactor = fy;
    placement.width = Narrow(Truncate(record.width * fx));
    placement.height = Narrow(Truncate(record.height * fy));
    placement.x1 = Narrow(xs - shift);
    placement.x2 = Narrow(x2s - shift);
    placement.y2 = Narrow(y2n);
    placement.y1 = Narrow(ys - (y2s - y2n));
    // A picture that would reach below the maximum height is moved up to end there.
    if (y2n > maxHeight) {
        placement.y2 = Narrow(maxHeight);
        placement.y1 = Narrow(ys - y2s + maxHeight);
    }
    return placement;
}

}  // namespace d2u
