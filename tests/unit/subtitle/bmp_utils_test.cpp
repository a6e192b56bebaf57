#include "picture/bmp_utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/yuv_frame.h"
#include "support/test_env.h"

namespace d2u {
namespace {

// Fills the pixels with a counting pattern; gives a copy of them.
std::vector<uint8_t> FillCounting(CBmpUtils& bitmap) {
    const size_t size = static_cast<size_t>(bitmap.bmWidthBytes) * std::abs(bitmap.bmHeight);
    for (size_t i = 0; i < size; ++i) bitmap.bmBits[i] = static_cast<uint8_t>(i * 7 + 1);
    return {bitmap.bmBits, bitmap.bmBits + size};
}

// Rows wider than any fixed buffer would hold, odd row counts and widths; single rows and
// top-down bitmaps (negative heights) stay as they are.
TEST(BmpUtils, FlipVerticalMirrorsRowsOfAnyWidth) {
    const int32_t sizes[][3] = {{3, 3, 24}, {1001, 4, 32}, {5, 7, 24}, {2000, 5, 24},
                                {7, 2, 8},  {9, 1, 32},    {9, -4, 32}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
        CBmpUtils bitmap;
        ASSERT_EQ(bitmap.Create(size[0], size[1], size[2]), 0);
        const std::vector<uint8_t> before = FillCounting(bitmap);
        EXPECT_EQ(bitmap.FlipVertical(), 0);
        const size_t row = static_cast<size_t>(bitmap.bmWidthBytes), rows = before.size() / row;
        for (size_t y = 0; y < rows; ++y) {
            size_t from = size[1] > 0 ? rows - 1 - y : y;
            ASSERT_EQ(0, std::memcmp(bitmap.bmBits + y * row, before.data() + from * row, row))
                << y;
        }
    }
    CBmpUtils empty;
    EXPECT_EQ(empty.FlipVertical(), 0);
}

// A saved file of over 64 KiB carries its whole size and a negative (top-down) height in its
// 32-bit fields, and the pixels after the header.
TEST(BmpUtils, SavedFilesCarryTheirWholeSizes) {
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(200, -100, 32), 0);
    const std::vector<uint8_t> pixels = FillCounting(bitmap);
    const std::string path = test::WorkPath("bmp_utils_large.bmp");
    EXPECT_EQ(bitmap.SaveBitmap(path.c_str()), 0);
    const std::vector<uint8_t> file = test::ReadFileBytes(path);
    ASSERT_EQ(file.size(), CBmpUtils::kFileHeaderBytes + pixels.size());
    EXPECT_EQ(test::LittleEndian32(&file[2]), file.size());
    EXPECT_EQ(test::LittleEndian32(&file[18]), 200u);
    EXPECT_EQ(test::LittleEndian32(&file[22]), static_cast<uint32_t>(-100));
    EXPECT_EQ(0, std::memcmp(&file[CBmpUtils::kFileHeaderBytes], pixels.data(), pixels.size()));
}

// An odd width's chroma rows hold its last pixel's sample too: a chroma pitch one short is refused.
TEST(BmpUtils, FramesWhoseChromaRowsAreShortAreRefused) {
    CYUVFrame frame;
    ASSERT_EQ(frame.Allocate(5, 4), 0);
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(5, 4, 32), 0);
    for (int32_t pitch : {3, 2}) {
        frame.U.pitch = frame.V.pitch = pitch;
        EXPECT_EQ(bitmap.FromYUV(frame), pitch == 3 ? 0 : -1) << pitch;
    }
}

}  // namespace
}  // namespace d2u
