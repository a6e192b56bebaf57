#include "primitives/dequantise.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace d2u {
namespace {

enum Form { kIntraMpeg1, kNonIntraMpeg1, kIntraMpeg2, kNonIntraMpeg2 };

Ipp32s Dequantise(Form form, Ipp32s level, uint16_t weight, Ipp32s quantiser) {
    switch (form) {
        case kIntraMpeg1:
            return dequant::DequantiseLevelInRange<true, true>(level, weight, quantiser);
        case kNonIntraMpeg1:
            return dequant::DequantiseLevelInRange<false, true>(level, weight, quantiser);
        case kIntraMpeg2:
            return dequant::DequantiseLevelInRange<true, false>(level, weight, quantiser);
        default:
            return dequant::DequantiseLevelInRange<false, false>(level, weight, quantiser);
    }
}

// MPEG-1 makes even results odd towards zero; divisions truncate towards zero, results saturate
// and only the weight's low 8 bits count.
TEST(Dequantise, FormulasOfBothStandards) {
    const struct {
        Form form;
        int level, weight, quantiser, expected;
    } cases[] = {{kIntraMpeg1, -7, 20, 3, -51},     // 2 * -7 * 20 * 3 / 16 = -52.5: -52, odd
                 {kNonIntraMpeg1, -7, 20, 3, -55},  // (2 * -7 - 1) * 60 / 16 = -56.25
                 {kNonIntraMpeg1, 2, 16, 2, 9},     // 5 * 32 / 16 = 10
                 {kIntraMpeg1, 1, 19, 2, 3},        // 76 / 16 = 4.75
                 {kNonIntraMpeg1, 0, 16, 3, 0},     // a zero level stays zero
                 {kIntraMpeg2, -7, 20, 3, -26},     // -840 / 32 = -26.25
                 {kNonIntraMpeg2, -7, 20, 3, -28},  // -900 / 32 = -28.125
                 {kNonIntraMpeg2, 1, 16, 4, 6},     // 3 * 64 / 32, even stays even
                 {kNonIntraMpeg2, -1, 0x1110, 4, -6},
                 {kNonIntraMpeg1, 255, 255, 31, 2047},
                 {kNonIntraMpeg1, -255, 255, 31, -2048},
                 {kNonIntraMpeg2, 2047, 16, 2, 2047},
                 {kIntraMpeg2, -2048, 16, 2, -2048}};
    for (const auto& c : cases) {
        EXPECT_EQ(Dequantise(c.form, c.level, static_cast<uint16_t>(c.weight), c.quantiser),
                  c.expected)
            << "form " << c.form << " level " << c.level;
    }
}

}  // namespace
}  // namespace d2u
