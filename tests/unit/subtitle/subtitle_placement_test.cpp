#include "subtitle/subtitle_placement.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace d2u {
namespace {

// x1, y1, x2, y2, width, height.
using Geometry = std::array<int32_t, 6>;

struct Case {
    const char* what;
    Geometry record;
    double sx, sy;
    int32_t maxWidth, maxHeight;
    bool scaled;
    Geometry expected;  // as placed
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr Geometry kPicture = {100, 400, 300, 440, 200, 40};

// clang-format off
const Case kCases[] = {
    {"1.005 and 0.995", kPicture, 1.005, 0.995, 720, 576, false, kPicture},
    // Xs 102, X2s 306: S 408, shift -156; Y2n = 440 / (408 / 720) = 776 > 576: y2 576.
    {"x 1.02 scales", kPicture, 1.02, 1.0, 720, 576, true, {258, 536, 462, 576, 204, 40}},
    // Ys 408, Y2s 448: S 400, shift -160; Y2n = 448 / (400 / 720) = 806 > 576: y2 576.
    {"y 1.02 scales", kPicture, 1.0, 1.02, 720, 576, true, {260, 536, 460, 576, 200, 40}},
    // Xs 101, X2s 304: S 405, shift -158; Y2n = 440 / (405 / 720) = 782 > 576: y2 576.
    {"x 1 + 1/64 scales", kPicture, 1.015625, 1.0, 720, 576, true, {259, 536, 462, 576, 203, 40}},
    // 320 pixels would be wider than 316: factors 316 / 256 (79/64); Y2s 39.
    {"fitted to a maximum just below", {0, 0, 256, 32, 256, 32}, 1.25, 1.25, 316, 576, true,
     {0, 0, 316, 39, 316, 39}},
    // Fitted to 720: factors 720 / 700 and that times 1.2 / 1.5; 700 x 720 / 700 truncates to 719.
    {"fitted keeping the factor ratio", {10, 500, 710, 540, 700, 40}, 1.5, 1.2, 720, 576, true,
     {0, 399, 720, 432, 719, 32}},
    // Xs 595, X2s 845: S 1440, shift 360; Y2s 550 / 2 = 275, y1 = 500 - (550 - 275).
    {"centred on the maximum width", {476, 400, 676, 440, 200, 40}, 1.25, 1.25, 720, 576, true,
     {235, 225, 485, 275, 250, 50}},
    {"S equal to the maximum width: no shift", {188, 400, 388, 440, 200, 40}, 1.25, 1.25, 720, 576,
     true, {235, 500, 485, 550, 250, 50}},
    // S 360: Y2n = 550 / 0.5 = 1100 > 576: moved up to end at 576.
    {"bottom beyond the maximum height", {44, 400, 244, 440, 200, 40}, 1.25, 1.25, 720, 576, true,
     {235, 526, 485, 576, 250, 50}},
    {"no maximum size", kPicture, 1.5, 1.5, 0, 0, false, kPicture},
    {"no maximum height", kPicture, 1.5, 1.5, 720, 0, false, kPicture},
    {"negative maximum width", kPicture, 1.5, 1.5, -720, 576, false, kPicture},
    {"NaN factor", kPicture, kNaN, 1.5, 720, 576, false, kPicture},
    {"infinite factor", kPicture, 1.5, kInfinity, 720, 576, false, kPicture},
    {"negative factor", kPicture, -2.0, 1.5, 720, 576, false, kPicture},
    {"zero factors", kPicture, 0.0, 0.0, 720, 576, false, kPicture},
    // x1 0 and x2 1 at 0.5 truncate to S = 0.
    {"S of 0", {0, 10, 1, 11, 1, 1}, 0.5, 0.5, 720, 576, false, {0, 10, 1, 11, 1, 1}},
};
// clang-format on

TEST(SubtitlePlacement, ScalesAndPlacesAsTheRulesSay) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const Geometry& g = c.record;
        SubtitleRecord r{};
        r.x1 = g[0], r.y1 = g[1], r.x2 = g[2], r.y2 = g[3], r.width = g[4], r.height = g[5];
        SubtitlePlacement p = PlaceSubtitle(r, {c.sx, c.sy, c.maxWidth, c.maxHeight});
        EXPECT_EQ(p.scaled, c.scaled);
        EXPECT_EQ((Geometry{p.x1, p.y1, p.x2, p.y2, p.width, p.height}), c.expected);
    }
}

}  // namespace
}  // namespace d2u
