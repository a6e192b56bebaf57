// 4:2:2 pictures through the bitmap interface: the colours of each pixel come from the chroma
// sample of its own row, and pictures scaled to an output size keep their colours.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "colour_reference.h"
#include "d2udir.h"
#include "file_handle.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace {

using test::CachedArtifact;
using Pixels = std::vector<uint8_t>;

constexpr int32_t kWidth = 352;
constexpr int32_t kHeight = 288;
constexpr uint8_t kFourthByte = 0x3C;

// Colour bars in 4:2:2, intra only and finely quantised. Their lower strips differ from the
// bars above, so a pixel given the chroma of another row gets a wrong colour.
std::string ColourBars422() {
    return CachedArtifact("bitmaps_smptebars_422.m2v",
                          "ffmpeg -nostdin -v error -y -f lavfi -i "
                          "'smptebars=size=352x288:rate=25' -frames:v 2 -pix_fmt yuv422p "
                          "-c:v mpeg2video -q:v 2 -g 1 -f mpeg2video {out}");
}

// The first picture as a bitmap of width x height pixels.
Pixels FirstBitmap(D2uHandle handle, int32_t width, int32_t height) {
    int32_t length = width * height * 4, isReference = -7;
    Pixels pixels(static_cast<size_t>(length), kFourthByte);
    EXPECT_EQ(GetBitmapData(pixels.data(), &length, handle, &isReference), 0);
    EXPECT_EQ(length, width * height * 4);
    EXPECT_EQ(isReference, 1);
    return pixels;
}

TEST(Bitmap422, ColourBarsGetTheMatrixColoursOfTheDecodedPicture) {
    ASSERT_FALSE(ColourBars422().empty());
    std::vector<test::YuvImage> reference =
        test::ReferenceDecoding(ColourBars422(), kWidth, kHeight, 2);
    ASSERT_FALSE(reference.empty());
    FileHandle file(ColourBars422());
    ASSERT_EQ(file.openResult, 0);
    D2uFrame* frame = nullptr;
    ASSERT_EQ(GetMpegFrame(&frame, file.handle), 0);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->chromaFormat, 2);
    EXPECT_EQ(frame->chromaHeight, kHeight);
    EXPECT_EQ(frame->U.height, kHeight);
    FinishDecoding(&file.handle);

    FileHandle bitmapFile(ColourBars422());
    Pixels pixels = FirstBitmap(bitmapFile.handle, kWidth, kHeight);
    // Against ffmpeg's decoding of the same picture: decoders may differ by one in a sample.
    const test::PlaneImage* p = reference[0].planes;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            size_t luma = static_cast<size_t>(y * kWidth + x);
            size_t chroma = static_cast<size_t>(y * (kWidth / 2) + x / 2);
            const uint8_t* pixel = &pixels[luma * 4];
            ASSERT_LE(test::ColourDistance(pixel, p[0].samples[luma], p[1].samples[chroma],
                                           p[2].samples[chroma]),
                      3)
                << "at " << x << "," << y;
            ASSERT_EQ(pixel[3], kFourthByte);
        }
    }
}

// Halved by SetOutputSize, every pixel whose source neighbourhood is of one colour keeps that
// colour; a chroma plane scaled as if it had half the rows would move the lower bars' colours
// upward.
TEST(Bitmap422, PicturesScaledToAnOutputSizeKeepTheirColours) {
    ASSERT_FALSE(ColourBars422().empty());
    Pixels full;
    {
        FileHandle file(ColourBars422());
        ASSERT_EQ(file.openResult, 0);
        full = FirstBitmap(file.handle, kWidth, kHeight);
    }
    FileHandle file(ColourBars422());
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, kWidth / 2, kHeight / 2), 0);
    Pixels half = FirstBitmap(file.handle, kWidth / 2, kHeight / 2);
    auto fullAt = [&](int x, int y, int c) {
        return full[static_cast<size_t>(y * kWidth + x) * 4 + c];
    };
    int compared = 0;
    for (int y = 4; y < kHeight / 2 - 4; ++y) {
        for (int x = 4; x < kWidth / 2 - 4; ++x) {
            bool flat = true;
            for (int dy = -6; dy <= 6 && flat; ++dy) {
                for (int dx = -6; dx <= 6 && flat; ++dx) {
                    for (int c = 0; c < 3; ++c) {
                        flat = flat && std::abs(fullAt(2 * x + dx, 2 * y + dy, c) -
                                                fullAt(2 * x, 2 * y, c)) <= 2;
                    }
                }
            }
            if (!flat) continue;
            ++compared;
            for (int c = 0; c < 3; ++c) {
                ASSERT_LE(std::abs(half[static_cast<size_t>(y * (kWidth / 2) + x) * 4 + c] -
                                   fullAt(2 * x, 2 * y, c)),
                          4)
                    << "at " << x << "," << y << " byte " << c;
            }
        }
    }
    // The bars and the lower blocks are wide: most of the picture is compared.
    EXPECT_GT(compared, kWidth * kHeight / 4 / 2);
}

}  // namespace
}  // namespace d2u
