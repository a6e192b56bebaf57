// The run-length code of subtitle pictures: runs of a 2-bit colour index coded in 4, 8, 12 or
// 16 bits, read in nibbles (high nibble first), one byte-aligned row after the other. The rows
// of the first field (lines 0, 2, 4 ...) come first; the line index switches to 1 when the
// reader stands at the bottom field offset at the start of a row.
#pragma once

#include <cstdint>

namespace d2u {

// One decoded run, already clipped to the picture width.
struct SubtitleRun {
    int32_t line;
    int32_t x0;
    int32_t length;
    int32_t colour;  // colour index 0 to 3
};

class CSubtitleRunSink {
public:
    virtual ~CSubtitleRunSink() = default;
    virtual void PutRun(const SubtitleRun& run) = 0;
};

class CSubtitleRunDecoder {
public:
    // The picture data are bytes [dataStart, dataEnd) of the record; offsets count from the
    // record's first byte, as the bottom field offset does.
    CSubtitleRunDecoder(const uint8_t* record, int32_t dataStart, int32_t dataEnd);
    virtual ~CSubtitleRunDecoder() = default;

    // Decodes `height` rows of `width` pixels into the sink. Decoding stops early when the data
    // run out in the middle of a row or when the line index reaches `height` (a bottom field
    // offset that is never met leaves every row on an even line).
    void Decode(int32_t width, int32_t height, int32_t bottomFieldOffset, CSubtitleRunSink& sink);

    // Where the reader stands, as an offset from the record's first byte.
    int32_t ReadPointer() const { return readPointer; }

private:
    bool NextNibble(uint32_t& nibble);
    bool NextCode(int32_t& length, int32_t& colour);
    bool DecodeRow(int32_t line, int32_t width, CSubtitleRunSink& sink);
    void SkipUnreadLowNibble();

    const uint8_t* record;
    int32_t dataStart;
    int32_t dataEnd;
    int32_t readPointer;
    int32_t nibbleState;  // 1: the next nibble is the high nibble of the byte at readPointer
};

}  // namespace d2u
