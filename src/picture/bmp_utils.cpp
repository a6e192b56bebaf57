#include "picture/bmp_utils.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <new>

#include "diag/decoder_log.h"
#include "picture/yuv_frame.h"
#include "platform/platform.h"
#include "primitives/yuv_to_rgb.h"

namespace d2u {
namespace {

constexpr int32_t kMaxDimension = 65535;
constexpr int64_t kMaxPixelBytes = int64_t{1} << 30;
constexpr int32_t kFileHeaderPartBytes = 14;
constexpr int32_t kInfoHeaderBytes = 40;

void PutLittleEndian16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLittleEndian32(uint8_t* at, uint32_t value) {
    PutLittleEndian16(at, value & 0xFFFFu);
    PutLittleEndian16(at + 2, value >> 16);
}

bool PlaneHolds(const YUVPlane& plane, int64_t columns, int64_t rows) {
    return plane.data && plane.pitch >= columns && plane.height >= rows;
}

// chromaRowsDivisor: 2 for 4:2:0, 1 for 4:2:2.
bool FrameHoldsPicture(const CYUVFrame& frame, int32_t chromaRowsDivisor) {
    int64_t chromaColumns = (static_cast<int64_t>(frame.width) + 1) / 2;
    int64_t chromaRows =
        (static_cast<int64_t>(frame.height) + chromaRowsDivisor - 1) / chromaRowsDivisor;
    return PlaneHolds(frame.Y, frame.width, frame.height) &&
           PlaneHolds(frame.U, chromaColumns, chromaRows) &&
           PlaneHolds(frame.V, chromaColumns, chromaRows);
}

}  // namespace

CBmpUtils::~CBmpUtils() {
    Release();
}

void CBmpUtils::Release() {
    delete[] bmBits;
    bmBits = nullptr;
}

int64_t CBmpUtils::PixelBytes() const {
    int64_t rows = bmHeight < 0 ? -static_cast<int64_t>(bmHeight) : bmHeight;
    return rows * bmWidthBytes;
}

int32_t CBmpUtils::Create(int32_t width, int32_t height, int32_t bitsPerPixel) {
    Release();
    bmType = bmWidth = bmHeight = bmWidthBytes = 0;
    bmPlanes = bmBitsPixel = 0;
    int32_t rows = height < 0 ? -height : height;
    if (width <= 0 || width > kMaxDimension || height == 0 || height < -kMaxDimension ||
        height > kMaxDimension || bitsPerPixel <= 0 || bitsPerPixel > 32) {
        return -1;
    }
    int64_t rowBytes = (static_cast<int64_t>(width) * bitsPerPixel / 8 + 3) / 4 * 4;
    int64_t bytes = rowBytes * rows;
    if (rowBytes == 0 || bytes > kMaxPixelBytes) return -1;
    // Zeroed: the conversion leaves the fourth byte of each pixel alone, and a bitmap file must
    // not carry whatever the heap held before.
    bmBits = new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]();
    if (!bmBits) return -1;
    bmBitsPixel = static_cast<uint16_t>(bitsPerPixel);
    bmPlanes = 1;
    bmHeight = height;
    bmWidth = width;
    bmWidthBytes = static_cast<int32_t>(rowBytes);
    return 0;
}

bool CBmpUtils::HoldsPicture(int32_t width, int32_t height) const {
    return bmBits && width > 0 && height > 0 && bmWidthBytes >= 4 * static_cast<int64_t>(width);
}

int32_t CBmpUtils::FromYUV(const CYUVFrame& frame) {
    return FromYUVRows(frame, 0, frame.height);
}

int32_t CBmpUtils::FromYUVRows(const CYUVFrame& frame, int32_t first, int32_t count) {
    if (bmHeight != frame.height || bmWidth != frame.width) return -1;
    if (bmBitsPixel != 32) return -2;
    if (!HoldsPicture(frame.width, frame.height)) return -1;
    if (frame.chromaFormat != 1 && frame.chromaFormat != 2) return 0;
    // A 4:2:0 band starts on a row pair, whose rows share one chroma row.
    const int32_t chromaRowShift = frame.chromaFormat == 1 ? 1 : 0;
    if (first < 0 || count <= 0 || count > frame.height - first || (first & chromaRowShift) != 0 ||
        !FrameHoldsPicture(frame, 1 << chromaRowShift)) {
        return -1;
    }
    // The converter takes the planes in Y, Cb, Cr order and writes blue, green, red itself.
    const ptrdiff_t chromaRow = first >> chromaRowShift;
    const Ipp8u* planes[3] = {frame.Y.data + first * static_cast<ptrdiff_t>(frame.Y.pitch),
                              frame.U.data + chromaRow * frame.U.pitch,
                              frame.V.data + chromaRow * frame.V.pitch};
    const int steps[3] = {frame.Y.pitch, frame.U.pitch, frame.V.pitch};
    Ipp8u* rows = bmBits + first * static_cast<ptrdiff_t>(bmWidthBytes);
    IppiSize region = {frame.width, count};
    if (chromaRowShift == 1) {
        ippiYUV420ToRGB_8u_P3AC4R(planes, steps, rows, bmWidthBytes, region);
    } else {
        ippiYUV422ToRGB_8u_P3AC4R(planes, steps, rows, bmWidthBytes, region);
    }
    return 0;
}

int32_t CBmpUtils::FlipVertical() {
    if (bmHeight <= 1 || !bmBits || bmWidthBytes <= 0) return 0;
    const ptrdiff_t rowBytes = bmWidthBytes;
    for (int32_t top = 0, bottom = bmHeight - 1; top < bottom; ++top, --bottom) {
        uint8_t* topRow = bmBits + top * rowBytes;
        std::swap_ranges(topRow, topRow + rowBytes, bmBits + bottom * rowBytes);
    }
    return 0;
}

int32_t CBmpUtils::SaveBitmap(const char* path) {
    const int64_t pixelBytes = bmBits ? PixelBytes() : 0;
    uint8_t header[kFileHeaderBytes] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutLittleEndian32(header + 2, static_cast<uint32_t>(PixelBytes() + kFileHeaderBytes));
    PutLittleEndian32(header + 10, kFileHeaderBytes);
    PutLittleEndian32(header + 14, kInfoHeaderBytes);
    PutLittleEndian32(header + 18, static_cast<uint32_t>(bmWidth));
    PutLittleEndian32(header + 22, static_cast<uint32_t>(bmHeight));
    PutLittleEndian16(header + 26, bmPlanes);
    PutLittleEndian16(header + 28, bmBitsPixel);

    platform::FileHandle file = path ? platform::CreateForWriting(path) : platform::kInvalidFile;
    if (file == platform::kInvalidFile) {
        char message[256];
        std::snprintf(message, sizeof message,
                      "CBmpUtils::SaveBitmap - ERROR unable to create file %s", path ? path : "");
        if (CDecoderLog* log = CDecoderLog::GetLogger()) log->Write(message, 1);
        return 0;
    }
    platform::Write(file, header, kFileHeaderPartBytes);
    platform::Write(file, header + kFileHeaderPartBytes, kFileHeaderBytes - kFileHeaderPartBytes);
    if (pixelBytes > 0) platform::Write(file, bmBits, static_cast<size_t>(pixelBytes));
    platform::Close(file);
    return 0;
}

}  // namespace d2u
