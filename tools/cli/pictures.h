// Decoded pictures as the command keeps them: copies that outlive the library's next call.
#pragma once

#include <cstdint>
#include <vector>

#include "d2udir.h"

namespace d2ucli {

// The display area of a 4:2:0 picture: Y, then Cb, then Cr, rows without padding.
struct YuvPicture {
    int32_t width = 0, height = 0;
    int32_t pictureType = 0;  // 1 I, 2 P, 3 B
    int32_t temporalReference = 0;
    bool IsReference() const { return pictureType != 3; }
    int32_t ChromaWidth() const { return (width + 1) / 2; }
    int32_t ChromaHeight() const { return (height + 1) / 2; }
    size_t ByteCount() const;

    // Copies the display area out of a library frame record (no allocation once sized).
    void CopyFrom(const D2uFrame& frame);
    // A frame record over these samples, for the library's subtitle drawing.
    D2uFrame AsFrameRecord();

    std::vector<uint8_t> samples;
};

// 32-bit pixels as GetBitmapData writes them: blue, green, red, 255; the top row first.
struct BitmapPicture {
    int32_t width = 0, height = 0;
    bool reference = true;
    bool IsReference() const { return reference; }
    std::vector<uint8_t> pixels;
};

}  // namespace d2ucli
