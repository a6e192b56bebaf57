// The subtitle record: a 76-byte header of little-endian 32-bit fields followed by the
// run-length-coded picture (in files), or by a pointer to that picture (records handed over in
// memory).
#pragma once

#include <cstdint>

namespace d2u {

constexpr int32_t kSubtitleHeaderSize = 76;
// Image of one record: header plus picture data.
constexpr int32_t kSubtitleRecordAreaSize = 65536;
constexpr int32_t kSubtitleMaxWidth = 720;
constexpr int32_t kSubtitleMaxHeight = 576;
// The time given to a record that is never shown (rejected records, end of the input).
constexpr float kSubtitleNeverShown = 100000.0f;

struct SubtitleRecord {
    int32_t x1;  // left edge on the screen
    int32_t y1;  // top edge
    int32_t x2;  // right edge, exclusive
    int32_t y2;  // bottom edge, exclusive
    int32_t width;
    int32_t height;
    int32_t visibility[4];  // in stored order: colour index 3 first
    uint32_t colour[4];     // in stored order: colour index 3 first
    float startTime;        // seconds
    float endTime;
    int32_t headerSize;
    int32_t bottomFieldOffset;  // from the first byte of the record
    int32_t recordSize;

    // Whether colour index c (0 to 3) is drawn at all.
    bool IsVisible(int32_t c) const { return visibility[3 - c] > 0; }
    // The intensity of colour index c: bits 8 to 15 of its entry.
    uint8_t IntensityOf(int32_t c) const {
        return static_cast<uint8_t>((colour[3 - c] >> 8) & 0xFFu);
    }
    // Bytes of picture data after the header (negative for a broken record).
    int64_t DataSize() const { return static_cast<int64_t>(recordSize) - headerSize; }
    bool HasValidSize() const {
        return width >= 1 && width <= kSubtitleMaxWidth && height >= 1 &&
               height <= kSubtitleMaxHeight;
    }
    bool HasValidPosition() const {
        return x2 >= 1 && x2 <= kSubtitleMaxWidth && y2 >= 1 && y2 <= kSubtitleMaxHeight &&
               x1 >= 0 && x1 <= kSubtitleMaxWidth && y1 >= 0 && y1 <= kSubtitleMaxHeight;
    }
};

// Reads the header from its 76 stored bytes.
SubtitleRecord ParseSubtitleRecord(const uint8_t* bytes);

}  // namespace d2u
