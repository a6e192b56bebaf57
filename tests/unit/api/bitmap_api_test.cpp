// The 32-bit pixels of GetBitmapData at a smaller output size. The colours of the conversion
// itself are the kernel tests' (primitives).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "d2udir.h"
#include "support/api_test_host.h"
#include "support/test_env.h"

namespace d2u {
namespace {

using Pixels = std::vector<uint8_t>;

constexpr int32_t kCifBytes = 352 * 288 * 4;

// Colour bars in 4:2:2, intra only and finely quantised. The lower strips differ from the bars
// above, so a pixel given the chroma of another row gets a wrong colour.
std::string ColourBarStream() {
    return test::CachedArtifact(
        "bitmaps_smptebars_422.m2v",
        "ffmpeg -nostdin -v error -y -f lavfi -i 'smptebars=size=352x288:rate=25' -frames:v 2"
        " -sc_threshold 1000000000 -c:v mpeg2video -q:v 2 -g 1 -pix_fmt yuv422p -f mpeg2video "
        "{out}");
}

// The first bitmap of the stream, into `capacity` bytes; `length` gets the bytes it took.
Pixels FirstBitmap(int32_t width, int32_t height, int32_t capacity, int32_t* result,
                   int32_t* length) {
    test::OpenFile file(ColourBarStream());
    EXPECT_EQ(file.result, 0);
    EXPECT_EQ(D2uDirSetOutputSize(file.handle, width, height), 0);  // 0 x 0: not scaled
    Pixels pixels(static_cast<size_t>(capacity), 0x3C);
    int32_t isReference = -7;
    *length = capacity;
    *result = GetBitmapData(pixels.data(), length, file.handle, &isReference);
    return pixels;
}

// Halved by SetOutputSize, the bitmap fits a quarter of the bytes, and every pixel of a 4:2:2
// picture whose source neighbourhood is of one colour keeps that colour; a chroma plane scaled as
// if it had half the rows would move the lower bars' colours upward.
TEST(BitmapOutput, Pictures422ScaledToAnOutputSizeKeepTheirColours) {
    ASSERT_FALSE(ColourBarStream().empty());
    int32_t result = 0, length = 0;
    const Pixels full = FirstBitmap(0, 0, kCifBytes, &result, &length);
    const Pixels half = FirstBitmap(176, 144, kCifBytes / 4, &result, &length);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(length, kCifBytes / 4);
    auto fullAt = [&](int x, int y, int c) {
        return full[static_cast<size_t>(y * 352 + x) * 4 + c];
    };
    int compared = 0;
    for (int y = 4; y < 144 - 4; ++y) {
        for (int x = 4; x < 176 - 4; ++x) {
            bool flat = true;
            for (int d = 0; d < 13 * 13 * 3 && flat; ++d) {
                const int dx = d / 3 % 13 - 6, dy = d / 39 - 6, c = d % 3;
                flat = std::abs(fullAt(2 * x + dx, 2 * y + dy, c) - fullAt(2 * x, 2 * y, c)) <= 2;
            }
            if (!flat) continue;
            ++compared;
            for (int c = 0; c < 3; ++c) {
                ASSERT_LE(std::abs(half[static_cast<size_t>(y * 176 + x) * 4 + c] -
                                   fullAt(2 * x, 2 * y, c)),
                          4)
                    << "at " << x << "," << y << " byte " << c;
            }
        }
    }
    // The bars and the lower blocks are wide: most of the picture is compared.
    EXPECT_GT(compared, 352 * 288 / 4 / 2);
}

}  // namespace
}  // namespace d2u
