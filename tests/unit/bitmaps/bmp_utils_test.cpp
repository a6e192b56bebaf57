#include "picture/bmp_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "colour_reference.h"
#include "decoder/yuv_frame.h"
#include "support/test_env.h"

namespace d2u {
namespace {

using test::MakeFrame;

const uint8_t* PixelAt(const CBmpUtils& bitmap, int x, int y) {
    return bitmap.bmBits + y * bitmap.bmWidthBytes + 4 * x;
}

std::vector<uint8_t> Pixels(const CBmpUtils& bitmap) {
    return std::vector<uint8_t>(bitmap.bmBits,
                                bitmap.bmBits + bitmap.bmWidthBytes * std::abs(bitmap.bmHeight));
}

void FillCounting(CBmpUtils& bitmap) {
    std::vector<uint8_t> pixels = Pixels(bitmap);
    for (size_t i = 0; i < pixels.size(); ++i) bitmap.bmBits[i] = static_cast<uint8_t>(i * 7 + 1);
}

TEST(BmpUtilsCreate, PadsRowsToFourBytes) {
    CBmpUtils bitmap;
    EXPECT_EQ(bitmap.bmBits, nullptr);
    ASSERT_EQ(bitmap.Create(100, 10, 24), 0);
    EXPECT_EQ(bitmap.bmWidthBytes, 300);
    ASSERT_EQ(bitmap.Create(101, 10, 24), 0);
    EXPECT_EQ(bitmap.bmWidthBytes, 304);
    ASSERT_EQ(bitmap.Create(720, 576, 32), 0);
    EXPECT_EQ(bitmap.bmWidthBytes, 2880);
    EXPECT_EQ(bitmap.bmWidth, 720);
    EXPECT_EQ(bitmap.bmHeight, 576);
    EXPECT_EQ(bitmap.bmPlanes, 1);
    EXPECT_EQ(bitmap.bmBitsPixel, 32);
    EXPECT_EQ(bitmap.bmType, 0);
    ASSERT_NE(bitmap.bmBits, nullptr);
    bitmap.bmBits[2880 * 576 - 1] = 1;  // the whole picture is there (checked under ASan)
}

TEST(BmpUtilsCreate, RejectsSizesOutOfRangeAndLeavesAnEmptyBitmap) {
    CBmpUtils bitmap;
    for (auto size : {std::vector<int32_t>{0, 10, 32},
                      {10, 0, 32},
                      {-5, 10, 32},
                      {10, 10, 0},
                      {10, 10, 33},
                      {1 << 20, 1 << 20, 32},
                      {65535, 65535, 32}}) {
        ASSERT_EQ(bitmap.Create(16, 16, 32), 0);
        EXPECT_EQ(bitmap.Create(size[0], size[1], size[2]), -1) << size[0] << "x" << size[1];
        EXPECT_EQ(bitmap.bmBits, nullptr);
        EXPECT_EQ(bitmap.bmWidth, 0);
        EXPECT_EQ(bitmap.bmHeight, 0);
        EXPECT_EQ(bitmap.bmWidthBytes, 0);
    }
}

// Cb drives blue and Cr drives red: a frame strong in one of them must come out in that colour.
TEST(BmpUtilsFromYUV, CbIsBlueAndCrIsRed) {
    struct Case {
        uint8_t cb, cr;
        int blue, green, red;
    };
    for (Case c : {Case{200, 128, 246, 72, 100}, Case{128, 200, 100, 58, 182}}) {
        CYUVFrame frame;
        MakeFrame(frame, 16, 16, [&](int plane, int, int) -> uint8_t {
            return plane == 0 ? 100 : (plane == 1 ? c.cb : c.cr);
        });
        CBmpUtils bitmap;
        ASSERT_EQ(bitmap.Create(16, 16, 32), 0);
        ASSERT_EQ(bitmap.FromYUV(frame), 0);
        EXPECT_NEAR(PixelAt(bitmap, 5, 5)[0], c.blue, 1);
        EXPECT_NEAR(PixelAt(bitmap, 5, 5)[1], c.green, 1);
        EXPECT_NEAR(PixelAt(bitmap, 5, 5)[2], c.red, 1);
    }
}

TEST(BmpUtilsFromYUV, MidGreyGivesExactly128AndKeepsTheFourthByte) {
    CYUVFrame frame;
    MakeFrame(frame, 45, 9, [](int, int, int) -> uint8_t { return 128; });
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(45, 9, 32), 0);
    std::memset(bitmap.bmBits, 0x5A, bitmap.bmWidthBytes * 9);
    ASSERT_EQ(bitmap.FromYUV(frame), 0);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 45; ++x) {
            const uint8_t* pixel = PixelAt(bitmap, x, y);
            ASSERT_EQ(pixel[0], 128);
            ASSERT_EQ(pixel[1], 128);
            ASSERT_EQ(pixel[2], 128);
            ASSERT_EQ(pixel[3], 0x5A);
        }
    }
}

TEST(BmpUtilsFromYUV, RefusesOtherSizesOtherDepthsAndShortPlanes) {
    CYUVFrame frame;
    MakeFrame(frame, 32, 16, [](int, int x, int) -> uint8_t { return static_cast<uint8_t>(x); });
    CBmpUtils bitmap;
    auto untouched = [&]() {
        std::vector<uint8_t> pixels = Pixels(bitmap);
        return std::all_of(pixels.begin(), pixels.end(), [](uint8_t b) { return b == 0xEE; });
    };
    for (auto size : {std::pair<int, int>{31, 16}, {32, 15}, {32, -16}}) {
        ASSERT_EQ(bitmap.Create(size.first, size.second, 32), 0);
        std::memset(bitmap.bmBits, 0xEE, Pixels(bitmap).size());
        EXPECT_EQ(bitmap.FromYUV(frame), -1);
        EXPECT_TRUE(untouched());
    }
    ASSERT_EQ(bitmap.Create(32, 16, 24), 0);
    std::memset(bitmap.bmBits, 0xEE, Pixels(bitmap).size());
    EXPECT_EQ(bitmap.FromYUV(frame), -2);
    EXPECT_TRUE(untouched());

    // A frame record whose planes cannot hold its stated size.
    ASSERT_EQ(bitmap.Create(32, 16, 32), 0);
    std::memset(bitmap.bmBits, 0xEE, Pixels(bitmap).size());
    frame.U.height = 7;
    EXPECT_EQ(bitmap.FromYUV(frame), -1);
    frame.U.height = 8;
    frame.Y.pitch = 31;
    EXPECT_EQ(bitmap.FromYUV(frame), -1);
    frame.Y.pitch = 32;
    frame.chromaFormat = 2;  // 4:2:2 needs all 16 chroma rows
    EXPECT_EQ(bitmap.FromYUV(frame), -1);
    frame.chromaFormat = 3;  // a format without a converter: nothing is converted
    EXPECT_EQ(bitmap.FromYUV(frame), 0);
    EXPECT_TRUE(untouched());
}

TEST(BmpUtilsFlipVertical, MirrorsRowsOfAnyWidth) {
    // Rows wider than any fixed buffer would hold, odd row counts and odd widths.
    for (auto size :
         {std::vector<int32_t>{3, 3, 24}, {1001, 4, 32}, {5, 7, 24}, {2000, 5, 24}, {7, 2, 8}}) {
        CBmpUtils bitmap;
        ASSERT_EQ(bitmap.Create(size[0], size[1], size[2]), 0);
        FillCounting(bitmap);
        std::vector<uint8_t> before = Pixels(bitmap);
        ASSERT_EQ(bitmap.FlipVertical(), 0);
        const size_t row = bitmap.bmWidthBytes;
        const size_t rows = bitmap.bmHeight;
        for (size_t y = 0; y < rows; ++y) {
            ASSERT_EQ(
                0, std::memcmp(bitmap.bmBits + y * row, before.data() + (rows - 1 - y) * row, row))
                << size[0] << "x" << size[1] << " row " << y;
        }
    }
}

TEST(BmpUtilsFlipVertical, LeavesSingleRowsAndTopDownBitmapsAlone) {
    for (int32_t height : {1, -4}) {
        CBmpUtils bitmap;
        ASSERT_EQ(bitmap.Create(9, height, 32), 0);
        FillCounting(bitmap);
        std::vector<uint8_t> before = Pixels(bitmap);
        EXPECT_EQ(bitmap.FlipVertical(), 0);
        EXPECT_EQ(Pixels(bitmap), before);
    }
    CBmpUtils empty;
    EXPECT_EQ(empty.FlipVertical(), 0);
}

}  // namespace
}  // namespace d2u
