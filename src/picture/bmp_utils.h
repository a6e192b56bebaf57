// An in-memory bitmap described by the fields of the platform's bitmap descriptor: filled from a
// decoded frame by colour conversion, turned upside down, saved as an uncompressed "BM" file.
#pragma once

#include <cstdint>

namespace d2u {

class CYUVFrame;

class CBmpUtils {
public:
    // Header bytes in front of the pixels of a saved file.
    static constexpr int32_t kFileHeaderBytes = 58;

    CBmpUtils() = default;
    virtual ~CBmpUtils();
    CBmpUtils(const CBmpUtils&) = delete;
    CBmpUtils& operator=(const CBmpUtils&) = delete;

    // Frees the current pixels and allocates rows padded to 4 bytes (not cleared). A negative
    // height describes a top-down picture of |height| rows. Returns 0, or -1 (nothing allocated,
    // descriptor cleared) for sizes out of range or a failed allocation.
    int32_t Create(int32_t width, int32_t height, int32_t bitsPerPixel);
    // Converts a frame of the bitmap's size into the first three bytes of every 32-bit pixel,
    // the top row first; the fourth byte keeps its value. Returns 0, -1 (sizes differ, or the
    // frame or the bitmap cannot hold the picture) or -2 (not 32 bits per pixel).
    int32_t FromYUV(const CYUVFrame& frame);
    // Converts rows first to first + count - 1 only, the bytes FromYUV gives them, so that bands
    // of rows can be converted on different threads. A 4:2:0 band starts on an even row.
    int32_t FromYUVRows(const CYUVFrame& frame, int32_t first, int32_t count);
    // Reverses the order of the rows. Returns 0.
    int32_t FlipVertical();
    // Writes the bitmap to a file (replacing it). Returns 0 in every case; a file that cannot be
    // created is reported in the log only.
    int32_t SaveBitmap(const char* path);

    // The descriptor. bmBits is owned by the object; a user that points it at a buffer of its
    // own sets it back to null before the object is destroyed.
    int32_t bmType = 0;
    int32_t bmWidth = 0;
    int32_t bmHeight = 0;
    int32_t bmWidthBytes = 0;
    uint16_t bmPlanes = 0;
    uint16_t bmBitsPixel = 0;
    uint8_t* bmBits = nullptr;

private:
    void Release();
    int64_t PixelBytes() const;
    bool HoldsPicture(int32_t width, int32_t height) const;
};

}  // namespace d2u
