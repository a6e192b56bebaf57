#include "subtitle/subtitle_run_decoder.h"

namespace d2u {

CSubtitleRunDecoder::CSubtitleRunDecoder(const uint8_t* recordBytes, int32_t start, int32_t end)
    : record(recordBytes),
      dataStart(start),
      dataEnd(end < start ? start : end),
      readPointer(start),
      nibbleState(1) {}

bool CSubtitleRunDecoder::NextNibble(uint32_t& nibble) {
    if (readPointer >= dataEnd) return false;
    uint32_t byte = record[readPointer];
    if (nibbleState == 1) {
        nibble = byte >> 4;
        nibbleState = 0;
    } else {
        nibble = byte & 0x0Fu;
        ++readPointer;
        nibbleState = 1;
    }
    return true;
}

// The code length follows from its leading nibbles: 4 to 15 -> 4 bits; 1 to 3 -> 8 bits;
// 0 then 4 to 15 -> 12 bits; 0 then 0 to 3 -> 16 bits. The top bits are the length, the two
// lowest the colour index.
bool CSubtitleRunDecoder::NextCode(int32_t& length, int32_t& colour) {
    uint32_t code = 0;
    uint32_t nibble = 0;
    if (!NextNibble(nibble)) return false;
    code = nibble;
    int32_t nibblesLeft = 0;
    if (code >= 4) {
        nibblesLeft = 0;
    } else if (code >= 1) {
        nibblesLeft = 1;
    } else {
        if (!NextNibble(nibble)) return false;
        code = nibble;
        nibblesLeft = code >= 4 ? 1 : 2;
    }
    for (; nibblesLeft > 0; --nibblesLeft) {
        if (!NextNibble(nibble)) return false;
        code = (code << 4) | nibble;
    }
    length = static_cast<int32_t>(code >> 2);
    colour = static_cast<int32_t>(code & 3u);
    return true;
}

bool CSubtitleRunDecoder::DecodeRow(int32_t line, int32_t width, CSubtitleRunSink& sink) {
    int32_t x = 0;
    while (x < width) {
        int32_t length = 0;
        int32_t colour = 0;
        if (!NextCode(length, colour)) return false;
        // Length 0 covers the rest of the line; runs past the width are clipped to it.
        if (length == 0 || length > width - x) length = width - x;
        sink.PutRun(SubtitleRun{line, x, length, colour});
        x += length;
    }
    SkipUnreadLowNibble();
    return true;
}

// Every row starts on a whole byte.
void CSubtitleRunDecoder::SkipUnreadLowNibble() {
    if (nibbleState == 0) {
        ++readPointer;
        nibbleState = 1;
    }
}

void CSubtitleRunDecoder::Decode(int32_t width, int32_t height, int32_t bottomFieldOffset,
                                 CSubtitleRunSink& sink) {
    readPointer = dataStart;
    nibbleState = 1;
    int32_t line = 0;
    for (int32_t row = 0; row < height; ++row) {
        if (readPointer == bottomFieldOffset) line = 1;
        if (line >= height) return;
        if (!DecodeRow(line, width, sink)) return;
        line += 2;
    }
}

}  // namespace d2u
