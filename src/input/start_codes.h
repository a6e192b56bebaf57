// Start code values of MPEG video elementary streams (the byte after the prefix 00 00 01), and
// the search for the next start code at a reading position.
#pragma once

#include <cstdint>

#include "input/bit_reader.h"

namespace d2u {

constexpr uint32_t kPictureStartCode = 0x00;
constexpr uint32_t kFirstSliceStartCode = 0x01;
constexpr uint32_t kLastSliceStartCode = 0xAF;
constexpr uint32_t kUserDataStartCode = 0xB2;
constexpr uint32_t kSequenceHeaderCode = 0xB3;
constexpr uint32_t kSequenceErrorCode = 0xB4;
constexpr uint32_t kExtensionStartCode = 0xB5;
constexpr uint32_t kSequenceEndCode = 0xB7;
constexpr uint32_t kGroupStartCode = 0xB8;

// Aligns to a byte, reads up to and including the next 00 00 01 and returns the start code value
// after it (consumed). `end` is the sentinel word behind the data, a sequence_end_code: the
// search never runs past it, and takes it as the code found there.
inline uint32_t FindStartCode(BitReader& bits, const uint32_t* end) {
    bits.AlignToByte();
    int32_t zeros = 0;
    for (;;) {
        if (bits.Word() > end) {
            bits.Seek(end, 31);
            zeros = 0;
        }
        const uint32_t byte = bits.Get(8);
        if (byte == 0) {
            ++zeros;
        } else if (byte == 1 && zeros >= 2) {
            return bits.Get(8);
        } else {
            zeros = 0;
        }
    }
}

// Puts the position back on the first byte of a start code just read (at a byte boundary).
inline void UnreadStartCode(BitReader& bits) {
    bits.Seek(bits.Word() - 1, bits.Offset());
}

}  // namespace d2u
