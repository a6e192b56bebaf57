// Start code values of MPEG video elementary streams (the byte after the prefix 00 00 01), and
// the search for the next start code at a reading position.
#pragma once

#include <cstdint>

#include "input/bit_reader.h"
#include "primitives/byte_order.h"

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

// The stream byte where the first 00 00 01 at or after byte `from` begins, counting from
// `origin`: the start code FindStartCode finds from there (when more zeros precede it, the
// last two). The sentinel word `end` holds one, so the search ends there at the latest.
inline int64_t NextStartCodePrefix(const uint32_t* origin, int64_t from, const uint32_t* end) {
    return FindStartCodePrefix(origin, from, static_cast<int64_t>(end - origin) * 4);
}

// Aligns to a byte, reads up to and including the next 00 00 01 and returns the start code value
// after it (consumed). `end` is the sentinel word behind the data, a sequence_end_code: the
// search never runs past it, and takes it as the code found there (also from a position
// beyond it).
inline uint32_t FindStartCode(BitReader& bits, const uint32_t* end) {
    bits.AlignToByte();
    const uint32_t* origin = bits.Word();
    const int64_t prefix = NextStartCodePrefix(origin, (31 - bits.Offset()) / 8, end);
    const int64_t after = prefix + 4;
    bits.Seek(origin + (after >> 2), 31 - 8 * static_cast<int32_t>(after & 3));
    return StreamByte(origin, prefix + 3);
}

// Puts the position back on the first byte of a start code just read (at a byte boundary).
inline void UnreadStartCode(BitReader& bits) {
    bits.Seek(bits.Word() - 1, bits.Offset());
}

}  // namespace d2u
