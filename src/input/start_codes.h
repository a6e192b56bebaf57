// Start code values of MPEG video elementary streams (the byte after the prefix 00 00 01), and
// the search for the next start code at a reading position.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

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

// Byte `index` of the stream whose words start at `origin`.
inline uint32_t StreamByte(const uint32_t* origin, int64_t index) {
    return (origin[index >> 2] >> (24 - 8 * (index & 3))) & 0xFF;
}

// Whether the stream holds 00 00 01 from byte `index` on.
inline bool StartCodePrefixAt(const uint32_t* origin, int64_t index) {
    return StreamByte(origin, index) == 0 && StreamByte(origin, index + 1) == 0 &&
           StreamByte(origin, index + 2) == 1;
}

// The stream byte where the first 00 00 01 at or after byte `from` begins, counting from
// `origin`: the start code FindStartCode finds from there (when more zeros precede it, the
// last two). The sentinel word `end` holds one, so the search ends there at the latest.
// memchr finds the next word holding a byte 01 (the bytes of a word are in memory order, which
// is not the stream's, but the word is the same); only a prefix ending in that word can be next.
inline int64_t NextStartCodePrefix(const uint32_t* origin, int64_t from, const uint32_t* end) {
    const int64_t sentinel = static_cast<int64_t>(end - origin) * 4;
    int64_t checked = from;  // no prefix starts in [from, checked)
    for (; (checked & 3) != 0 && checked < sentinel; ++checked) {
        if (StartCodePrefixAt(origin, checked)) return checked;
    }
    const uint8_t* memory = reinterpret_cast<const uint8_t*>(origin);
    for (int64_t word = checked; word < sentinel;) {
        const void* one = std::memchr(memory + word, 1, static_cast<size_t>(sentinel - word));
        if (!one) break;
        word = (static_cast<const uint8_t*>(one) - memory) & ~int64_t{3};
        for (int64_t index = std::max(checked, word - 2); index < word + 2; ++index) {
            if (StartCodePrefixAt(origin, index)) return index;
        }
        checked = word + 2;
        word += 4;
    }
    return sentinel;
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
