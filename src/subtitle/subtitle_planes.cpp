#include "subtitle/subtitle_planes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "primitives/masked_copy.h"
#include "primitives/resize.h"

namespace d2u {
namespace {

constexpr int32_t kChromaMaxWidth = kSubtitleMaxWidth / 2;
constexpr int32_t kChromaMaxHeight = kSubtitleMaxHeight / 2;
constexpr size_t kMaskBytes = static_cast<size_t>(kSubtitleMaxWidth) * kSubtitleMaxHeight;
constexpr size_t kChromaMaskBytes = static_cast<size_t>(kChromaMaxWidth) * kChromaMaxHeight;

int32_t RowPitch(int32_t width) {
    return (width + 3) & ~3;
}

std::unique_ptr<uint8_t[]> NewBytes(size_t count) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[count]);
}

void ClearRows(uint8_t* data, int32_t pitch, int32_t rows) {
    if (pitch > 0 && rows > 0) {
        std::memset(data, 0, static_cast<size_t>(pitch) * static_cast<size_t>(rows));
    }
}

// A picture plane with its mask, ready to be drawn.
struct MaskedPicture {
    const uint8_t* data;
    int32_t pitch;
    int32_t width;
    int32_t height;
    const uint8_t* mask;
    int32_t maskPitch;
    int32_t channels;
};

// The masked copy of the part of the picture that falls inside the host plane when the
// picture's top-left corner stands at (x, y).
void DrawThroughMask(const MaskedPicture& picture, const HostPlane& host, int64_t x, int64_t y) {
    if (!picture.data || !host.data || host.width <= 0 || host.height <= 0) return;
    int64_t left = std::max<int64_t>(x, 0);
    int64_t top = std::max<int64_t>(y, 0);
    int64_t right = std::min<int64_t>(x + picture.width, host.width);
    int64_t bottom = std::min<int64_t>(y + picture.height, host.height);
    if (right <= left || bottom <= top) return;
    const int64_t channels = picture.channels;
    const uint8_t* source = picture.data + (top - y) * picture.pitch + (left - x) * channels;
    const uint8_t* mask = picture.mask + (top - y) * picture.maskPitch + (left - x);
    uint8_t* destination = host.data + static_cast<ptrdiff_t>(top * host.pitch + left * channels);
    IppiSize region{static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)};
    const int hostPitch = static_cast<int>(host.pitch);
    switch (picture.channels) {
        case 1:
            ippiCopy_8u_C1MR(source, picture.pitch, destination, hostPitch, region, mask,
                             picture.maskPitch);
            break;
        case 3:
            ippiCopy_8u_C3MR(source, picture.pitch, destination, hostPitch, region, mask,
                             picture.maskPitch);
            break;
        case 4:
            ippiCopy_8u_C4MR(source, picture.pitch, destination, hostPitch, region, mask,
                             picture.maskPitch);
            break;
        default:
            break;
    }
}

}  // namespace

bool CSubtitlePlanes::Allocate(bool rgb, int32_t bitsPerPixel) {
    ready = false;
    rgbOutput = rgb;
    mask = NewBytes(kMaskBytes);
    resizeArea = NewBytes(kMaskBytes);
    if (!mask || !resizeArea) return false;
    if (rgbOutput) {
        // Other depths are refused: their rows would not match the 3- or 4-byte copies.
        if (bitsPerPixel != 24 && bitsPerPixel != 32) return false;
        bitmap.bitsPerPixel = bitsPerPixel;
        bitmap.data = NewBytes(kMaskBytes * static_cast<size_t>(bitsPerPixel / 8));
        if (!bitmap.data) return false;
    } else {
        chromaMask = NewBytes(kChromaMaskBytes);
        neutralChroma = NewBytes(kChromaMaskBytes);
        if (!chromaMask || !neutralChroma) return false;
        std::memset(neutralChroma.get(), 128, kChromaMaskBytes);
    }
    ready = true;
    return true;
}

void CSubtitlePlanes::Prepare(const SubtitleRecord& record) {
    if (!ready) return;
    for (int32_t c = 0; c < 4; ++c) {
        visible[c] = record.IsVisible(c);
        intensity[c] = record.IntensityOf(c);
    }
    pictureWidth = record.HasValidSize() ? record.width : 0;
    pictureHeight = record.HasValidSize() ? record.height : 0;
    maskPitch = RowPitch(pictureWidth);
    ClearRows(mask.get(), maskPitch, pictureHeight);
    if (rgbOutput) return;
    chromaWidth = pictureWidth / 2;
    chromaHeight = pictureHeight / 2;
    chromaPitch = RowPitch(chromaWidth);
    // An odd last line writes chroma row height / 2 too; clear it with the others.
    ClearRows(chromaMask.get(), chromaPitch, (pictureHeight + 1) / 2);
}

void CSubtitlePlanes::PutRun(const SubtitleRun& run) {
    if (!ready || run.colour < 0 || run.colour > 3 || !visible[run.colour]) return;
    if (run.line < 0 || run.line >= pictureHeight || run.x0 < 0 || run.length <= 0 ||
        run.length > pictureWidth - run.x0) {
        return;
    }
    const uint8_t value = intensity[run.colour];
    std::memset(mask.get() + static_cast<ptrdiff_t>(run.line) * maskPitch + run.x0, value,
                static_cast<size_t>(run.length));
    if (!rgbOutput) PutChromaRun(run, value);
}

// Both lines of a pair mark the chroma row they share.
void CSubtitlePlanes::PutChromaRun(const SubtitleRun& run, uint8_t value) {
    uint8_t* chroma =
        chromaMask.get() + static_cast<ptrdiff_t>(run.line / 2) * chromaPitch + run.x0 / 2;
    for (int32_t i = 0; i < run.length / 2; ++i) chroma[i] |= value;
}

void CSubtitlePlanes::ResizePicture(int32_t width, int32_t height) {
    if (!ready || pictureWidth <= 0 || pictureHeight <= 0) return;
    const int32_t keptWidth = std::min(width, kSubtitleMaxWidth);
    const int32_t keptHeight = std::min(height, kSubtitleMaxHeight);
    if (keptWidth <= 0 || keptHeight <= 0) {
        pictureWidth = pictureHeight = chromaWidth = chromaHeight = 0;
        return;
    }
    const double xFactor = static_cast<double>(width) / pictureWidth;
    const double yFactor = static_cast<double>(height) / pictureHeight;
    if (!rgbOutput) ResizeChromaMask(width, height);
    ResizeMask(keptWidth, keptHeight, xFactor, yFactor);
}

void CSubtitlePlanes::ResizeMask(int32_t width, int32_t height, double xFactor, double yFactor) {
    const int32_t pitch = RowPitch(width);
    ippiResize_8u_C1R(mask.get(), IppiSize{pictureWidth, pictureHeight}, maskPitch,
                      IppiRect{0, 0, pictureWidth, pictureHeight}, resizeArea.get(), pitch,
                      IppiSize{width, height}, xFactor, yFactor, IPPI_INTER_NN);
    mask.swap(resizeArea);
    pictureWidth = width;
    pictureHeight = height;
    maskPitch = pitch;
}

// The chroma mask follows the picture's scaled size halved, kept within 360 x 288.
void CSubtitlePlanes::ResizeChromaMask(int32_t width, int32_t height) {
    const int32_t scaledWidth = width / 2;
    const int32_t scaledHeight = height / 2;
    const int32_t keptWidth = std::min(scaledWidth, kChromaMaxWidth);
    const int32_t keptHeight = std::min(scaledHeight, kChromaMaxHeight);
    const int32_t pitch = RowPitch(keptWidth);
    if (keptWidth > 0 && keptHeight > 0) {
        if (chromaWidth > 0 && chromaHeight > 0) {
            ippiResize_8u_C1R(chromaMask.get(), IppiSize{chromaWidth, chromaHeight}, chromaPitch,
                              IppiRect{0, 0, chromaWidth, chromaHeight}, resizeArea.get(), pitch,
                              IppiSize{keptWidth, keptHeight},
                              static_cast<double>(scaledWidth) / chromaWidth,
                              static_cast<double>(scaledHeight) / chromaHeight, IPPI_INTER_NN);
        } else {
            ClearRows(resizeArea.get(), pitch, keptHeight);
        }
        std::memcpy(chromaMask.get(), resizeArea.get(),
                    static_cast<size_t>(pitch) * static_cast<size_t>(keptHeight));
    }
    chromaWidth = keptWidth;
    chromaHeight = keptHeight;
    chromaPitch = pitch;
}

void CSubtitlePlanes::FinishPicture() {
    if (ready && rgbOutput) PackBitmap();
}

// Every pixel gets its grey level in its three colour bytes; a fourth byte is 0.
void CSubtitlePlanes::PackBitmap() {
    const int32_t step = BytesPerPixel();
    bitmap.stride = ((bitmap.bitsPerPixel * pictureWidth) / 8 + 3) & ~3;
    for (int32_t row = 0; row < pictureHeight; ++row) {
        const uint8_t* grey = mask.get() + static_cast<ptrdiff_t>(row) * maskPitch;
        uint8_t* pixel = bitmap.data.get() + static_cast<ptrdiff_t>(row) * bitmap.stride;
        for (int32_t x = 0; x < pictureWidth; ++x, pixel += step) {
            pixel[0] = pixel[1] = pixel[2] = grey[x];
            if (step == 4) pixel[3] = 0;
        }
    }
}

void CSubtitlePlanes::DrawRGB(const HostPlane& frame, int64_t x, int64_t y) const {
    if (!ready || !rgbOutput) return;
    DrawThroughMask(MaskedPicture{bitmap.data.get(), bitmap.stride, pictureWidth, pictureHeight,
                                  mask.get(), maskPitch, BytesPerPixel()},
                    frame, x, y);
}

void CSubtitlePlanes::DrawYUV(const HostPlane& luma, const HostPlane& cb, const HostPlane& cr,
                              int64_t x, int64_t y) const {
    if (!ready || rgbOutput) return;
    DrawThroughMask(
        MaskedPicture{mask.get(), maskPitch, pictureWidth, pictureHeight, mask.get(), maskPitch, 1},
        luma, x, y);
    // Chroma sits at half the position, rounded down (also left of and above the frame).
    const int64_t chromaX = x >= 0 ? x / 2 : -((1 - x) / 2);
    const int64_t chromaY = y >= 0 ? y / 2 : -((1 - y) / 2);
    const MaskedPicture chroma{neutralChroma.get(),
                               chromaPitch,
                               chromaWidth,
                               chromaHeight,
                               chromaMask.get(),
                               chromaPitch,
                               1};
    DrawThroughMask(chroma, cb, chromaX, chromaY);
    DrawThroughMask(chroma, cr, chromaX, chromaY);
}

}  // namespace d2u
