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

void CopyRows(uint8_t* destination, int32_t destinationPitch, const uint8_t* source,
              int32_t sourcePitch, int32_t width, int32_t rows) {
    for (int32_t row = 0; row < rows; ++row) {
        std::memcpy(destination + static_cast<ptrdiff_t>(row) * destinationPitch,
                    source + static_cast<ptrdiff_t>(row) * sourcePitch, static_cast<size_t>(width));
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
    if (!mask) return false;
    if (rgbOutput) {
        // Other depths are refused: their rows would not match the 3- or 4-byte copies.
        if (bitsPerPixel != 24 && bitsPerPixel != 32) return false;
        bitmap.bitsPerPixel = static_cast<int16_t>(bitsPerPixel);
        bitmap.data = NewBytes(kMaskBytes * static_cast<size_t>(bitsPerPixel / 8));
        if (!bitmap.data) return false;
    } else {
        chromaMask = NewBytes(kChromaMaskBytes);
        if (!chromaMask) return false;
        if (pictureFrame.Allocate(kSubtitleMaxWidth, kSubtitleMaxHeight) != 0) return false;
        if (workFrame.Allocate(kSubtitleMaxWidth, kSubtitleMaxHeight) != 0) return false;
    }
    ready = true;
    return true;
}

void CSubtitlePlanes::Prepare(const SubtitleRecord& record) {
    if (!ready) return;
    int32_t width = record.HasValidSize() ? record.width : 0;
    int32_t height = record.HasValidSize() ? record.height : 0;
    for (int32_t c = 0; c < 4; ++c) {
        visible[c] = record.IsVisible(c);
        intensity[c] = record.IntensityOf(c);
    }
    if (rgbOutput) {
        PrepareRGB(width, height);
    } else {
        PrepareYUV(width, height);
    }
}

void CSubtitlePlanes::PrepareRGB(int32_t width, int32_t height) {
    bitmap.width = width;
    bitmap.height = height;
    bitmap.stride = ((bitmap.bitsPerPixel * width) / 8 + 3) & ~3;
    ClearRows(bitmap.data.get(), bitmap.stride, height);
    maskPitch = width;
    ClearRows(mask.get(), maskPitch, height);
}

void CSubtitlePlanes::PrepareYUV(int32_t width, int32_t height) {
    YUVPlane luma{width, height, RowPitch(width), pictureFrame.Y.data};
    YUVPlane chroma{width / 2, height / 2, RowPitch(width / 2), nullptr};
    pictureFrame.Y = luma;
    pictureFrame.U = YUVPlane{chroma.width, chroma.height, chroma.pitch, pictureFrame.U.data};
    pictureFrame.V = YUVPlane{chroma.width, chroma.height, chroma.pitch, pictureFrame.V.data};
    pictureFrame.width = width;
    pictureFrame.height = height;
    ClearRows(pictureFrame.Y.data, luma.pitch, height);
    maskPitch = luma.pitch;
    ClearRows(mask.get(), maskPitch, height);
    // An odd last line writes chroma row height / 2 too; clear it with the others.
    ClearRows(chromaMask.get(), chroma.pitch, (height + 1) / 2);
}

int32_t CSubtitlePlanes::PictureWidth() const {
    return rgbOutput ? bitmap.width : pictureFrame.width;
}

int32_t CSubtitlePlanes::PictureHeight() const {
    return rgbOutput ? bitmap.height : pictureFrame.height;
}

void CSubtitlePlanes::PutRun(const SubtitleRun& run) {
    if (!ready || run.colour < 0 || run.colour > 3 || !visible[run.colour]) return;
    if (run.line < 0 || run.line >= PictureHeight() || run.x0 < 0 || run.length <= 0 ||
        run.length > PictureWidth() - run.x0) {
        return;
    }
    if (rgbOutput) {
        PutRunRGB(run, intensity[run.colour]);
    } else {
        PutRunYUV(run, intensity[run.colour]);
    }
}

void CSubtitlePlanes::PutRunRGB(const SubtitleRun& run, uint8_t value) {
    const int32_t step = BytesPerPixel();
    uint8_t* pixel = bitmap.data.get() + static_cast<ptrdiff_t>(run.line) * bitmap.stride +
                     static_cast<ptrdiff_t>(run.x0) * step;
    for (int32_t i = 0; i < run.length; ++i, pixel += step) {
        pixel[0] = pixel[1] = pixel[2] = value;  // a fourth byte stays 0
    }
    std::memset(mask.get() + static_cast<ptrdiff_t>(run.line) * maskPitch + run.x0, value,
                static_cast<size_t>(run.length));
}

void CSubtitlePlanes::PutRunYUV(const SubtitleRun& run, uint8_t value) {
    const ptrdiff_t offset = static_cast<ptrdiff_t>(run.line) * maskPitch + run.x0;
    std::memset(pictureFrame.Y.data + offset, value, static_cast<size_t>(run.length));
    std::memset(mask.get() + offset, value, static_cast<size_t>(run.length));
    // Both lines of a pair mark the chroma row they share.
    uint8_t* chroma =
        chromaMask.get() + static_cast<ptrdiff_t>(run.line / 2) * pictureFrame.U.pitch + run.x0 / 2;
    for (int32_t i = 0; i < run.length / 2; ++i) chroma[i] |= value;
}

void CSubtitlePlanes::ResizePicture(int32_t width, int32_t height) {
    if (!ready || rgbOutput || pictureFrame.width <= 0 || pictureFrame.height <= 0) return;
    // A picture scaled beyond the planes keeps its top-left 720 x 576.
    int32_t keptWidth = std::min(width, kSubtitleMaxWidth);
    int32_t keptHeight = std::min(height, kSubtitleMaxHeight);
    if (keptWidth <= 0 || keptHeight <= 0) {
        pictureFrame.width = pictureFrame.height = 0;
        return;
    }
    double xFactor = static_cast<double>(width) / pictureFrame.width;
    double yFactor = static_cast<double>(height) / pictureFrame.height;
    ResizeChromaMask(width, height);
    ResizeLuma(keptWidth, keptHeight, xFactor, yFactor);
    pictureFrame.width = keptWidth;
    pictureFrame.height = keptHeight;
}

// The luma plane holds the same values as the mask, so the resized luma is the resized mask.
void CSubtitlePlanes::ResizeLuma(int32_t width, int32_t height, double xFactor, double yFactor) {
    YUVPlane& source = pictureFrame.Y;
    YUVPlane resized{width, height, RowPitch(width), workFrame.Y.data};
    ippiResize_8u_C1R(source.data, IppiSize{source.width, source.height}, source.pitch,
                      IppiRect{0, 0, source.width, source.height}, resized.data, resized.pitch,
                      IppiSize{width, height}, xFactor, yFactor, IPPI_INTER_NN);
    CopyRows(source.data, resized.pitch, resized.data, resized.pitch, width, height);
    CopyRows(mask.get(), resized.pitch, resized.data, resized.pitch, width, height);
    source.width = width;
    source.height = height;
    source.pitch = resized.pitch;
    maskPitch = resized.pitch;
}

// The chroma planes of the picture stay at 128 throughout; only their sizes follow the picture.
void CSubtitlePlanes::ResizeChromaMask(int32_t width, int32_t height) {
    const int32_t sourceWidth = pictureFrame.U.width;
    const int32_t sourceHeight = pictureFrame.U.height;
    const int32_t sourcePitch = pictureFrame.U.pitch;
    const int32_t scaledWidth = width / 2;
    const int32_t scaledHeight = height / 2;
    const int32_t keptWidth = std::min(scaledWidth, kChromaMaxWidth);
    const int32_t keptHeight = std::min(scaledHeight, kChromaMaxHeight);
    YUVPlane resized{keptWidth, keptHeight, RowPitch(keptWidth), workFrame.U.data};
    if (keptWidth > 0 && keptHeight > 0) {
        if (sourceWidth > 0 && sourceHeight > 0) {
            ippiResize_8u_C1R(chromaMask.get(), IppiSize{sourceWidth, sourceHeight}, sourcePitch,
                              IppiRect{0, 0, sourceWidth, sourceHeight}, resized.data,
                              resized.pitch, IppiSize{keptWidth, keptHeight},
                              static_cast<double>(scaledWidth) / sourceWidth,
                              static_cast<double>(scaledHeight) / sourceHeight, IPPI_INTER_NN);
        } else {
            ClearRows(resized.data, resized.pitch, keptHeight);
        }
        CopyRows(chromaMask.get(), resized.pitch, resized.data, resized.pitch, keptWidth,
                 keptHeight);
    }
    pictureFrame.U = YUVPlane{keptWidth, keptHeight, resized.pitch, pictureFrame.U.data};
    pictureFrame.V = YUVPlane{keptWidth, keptHeight, resized.pitch, pictureFrame.V.data};
}

void CSubtitlePlanes::DrawRGB(const HostPlane& frame, int64_t x, int64_t y) const {
    if (!ready || !rgbOutput) return;
    DrawThroughMask(MaskedPicture{bitmap.data.get(), bitmap.stride, bitmap.width, bitmap.height,
                                  mask.get(), maskPitch, BytesPerPixel()},
                    frame, x, y);
}

void CSubtitlePlanes::DrawYUV(const HostPlane& luma, const HostPlane& cb, const HostPlane& cr,
                              int64_t x, int64_t y) const {
    if (!ready || rgbOutput) return;
    const int32_t width = pictureFrame.width;
    const int32_t height = pictureFrame.height;
    DrawThroughMask(MaskedPicture{pictureFrame.Y.data, pictureFrame.Y.pitch, width, height,
                                  mask.get(), maskPitch, 1},
                    luma, x, y);
    // Chroma sits at half the position, rounded down (also left of and above the frame).
    const int64_t chromaX = x >= 0 ? x / 2 : -((1 - x) / 2);
    const int64_t chromaY = y >= 0 ? y / 2 : -((1 - y) / 2);
    const int32_t chromaPitch = pictureFrame.U.pitch;
    DrawThroughMask(MaskedPicture{pictureFrame.U.data, chromaPitch, width / 2, height / 2,
                                  chromaMask.get(), chromaPitch, 1},
                    cb, chromaX, chromaY);
    DrawThroughMask(MaskedPicture{pictureFrame.V.data, chromaPitch, width / 2, height / 2,
                                  chromaMask.get(), chromaPitch, 1},
                    cr, chromaX, chromaY);
}

}  // namespace d2u
