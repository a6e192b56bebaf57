// The 32-bit pixels of GetBitmapData at a smaller output size. The colours of the conversion
// itself are the kernel tests' (primitives).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "d2udir.h"
#include "support/api_test_host.h"
#include "support/test_env.h"

namespace d2u {
namespace {

using test::CachedArtifact;
using test::ReadFileBytes;
using Pixels = std::vector<uint8_t>;

constexpr int32_t kCifBytes = 352 * 288 * 4;
constexpr uint8_t kFourthByte = 0x3C;

std::string Encode(const std::string& name, const std::string& source, int frames,
                   const std::string& options) {
    return CachedArtifact(name, "ffmpeg -nostdin -v error -y -f lavfi -i '" + source +
                                    "' -frames:v " + std::to_string(frames) +
                                    " -sc_threshold 1000000000 -c:v mpeg2video " + options +
                                    " -f mpeg2video {out}");
}

// Colour bars in 4:2:2, intra only and finely quantised. The lower strips differ from the bars
// above, so a pixel given the chroma of another row gets a wrong colour.
std::string ColourBarStream() {
    return Encode("bitmaps_smptebars_422.m2v", "smptebars=size=352x288:rate=25", 2,
                  "-q:v 2 -g 1 -pix_fmt yuv422p");
}

struct BitmapCall {
    int32_t result;
    int32_t length;
    int32_t isReference = -7;
    Pixels pixels;
};

BitmapCall GetBitmap(D2uHandle handle, int32_t capacity) {
    BitmapCall call{0, capacity, -7, Pixels(static_cast<size_t>(capacity), kFourthByte)};
    call.result = GetBitmapData(call.pixels.data(), &call.length, handle, &call.isReference);
    return call;
}

// Halved by SetOutputSize, the bitmap fits a quarter of the bytes, and every pixel of a 4:2:2
// picture whose source neighbourhood is of one colour keeps that colour; a chroma plane scaled as
// if it had half the rows would move the lower bars' colours upward.
TEST(BitmapOutput, Pictures422ScaledToAnOutputSizeKeepTheirColours) {
    ASSERT_FALSE(ColourBarStream().empty());
    Pixels full;
    {
        test::OpenFile file(ColourBarStream());
        ASSERT_EQ(file.result, 0);
        full = GetBitmap(file.handle, kCifBytes).pixels;
    }
    test::OpenFile file(ColourBarStream());
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, 176, 144), 0);
    BitmapCall half = GetBitmap(file.handle, kCifBytes / 4);
    ASSERT_EQ(half.result, 0);
    EXPECT_EQ(half.length, kCifBytes / 4);
    auto fullAt = [&](int x, int y, int c) {
        return full[static_cast<size_t>(y * 352 + x) * 4 + c];
    };
    int compared = 0;
    for (int y = 4; y < 144 - 4; ++y) {
        for (int x = 4; x < 176 - 4; ++x) {
            bool flat = true;
            for (int dy = -6; dy <= 6 && flat; ++dy) {
                for (int dx = -6; dx <= 6 && flat; ++dx) {
                    for (int c = 0; c < 3; ++c)
                        flat = flat && std::abs(fullAt(2 * x + dx, 2 * y + dy, c) -
                                                fullAt(2 * x, 2 * y, c)) <= 2;
                }
            }
            if (!flat) continue;
            ++compared;
            for (int c = 0; c < 3; ++c) {
                ASSERT_LE(std::abs(half.pixels[static_cast<size_t>(y * 176 + x) * 4 + c] -
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
