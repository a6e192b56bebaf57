// The reading position in a buffer of 32-bit words that hold the stream in reading order (bit 31
// of a word is the first stream bit). The next bits wait left-aligned in a 64-bit cache: after
// every refill at least 32 are there, which every codeword of the macroblock layer with its
// escape or residual bits fits, so the readers decode from the cache without loads of their own.
// A word is loaded only once a bit of the word before it has been read, so a reader at a word
// never reads beyond the word after it; the buffers behind a reader end with a sentinel word and
// guard words for that look-ahead.
//
// A value type: readers that keep it in registers work on a copy and hand it back.
#pragma once

#include <cstdint>

namespace d2u {

class BitReader {
public:
    BitReader() = default;
    // At bit `offset` of `word`: 31 its first bit, 0 its last.
    BitReader(const uint32_t* word, int32_t offset) { Seek(word, offset); }

    void Seek(const uint32_t* word, int32_t offset) {
        cache = static_cast<uint64_t>(word[0]) << (63 - offset);
        count = offset + 1;
        next = word + 1;
        Refill();
    }
    // The word that holds the next bit, and that bit's index in it (31 to 0).
    const uint32_t* Word() const { return next - WordsCached(); }
    int32_t Offset() const { return 31 - (32 * WordsCached() - count); }
    bool Valid() const { return next != nullptr; }

    // Loads the next word when fewer than 32 bits are cached.
    void Refill() {
        if (count < 32) {
            cache |= static_cast<uint64_t>(*next++) << (32 - count);
            count += 32;
        }
    }
    // The next bits, left-aligned: at least 32 of them valid after a refill.
    uint64_t Cache() const { return cache; }
    // The next n bits (1 to 32).
    uint32_t Peek(int n) const { return static_cast<uint32_t>(cache >> (64 - n)); }
    uint32_t Peek32() const { return static_cast<uint32_t>(cache >> 32); }
    // Moves on by n cached bits without a refill, for loops that refill once per codeword.
    void SkipCached(int n) {
        cache <<= n;
        count -= n;
    }
    // Reads n cached bits (1 to 32) without a refill.
    uint32_t ReadCached(int n) {
        const uint32_t value = Peek(n);
        SkipCached(n);
        return value;
    }
    // Moves on by n bits (0 to 32) and refills.
    void Skip(int n) {
        SkipCached(n);
        Refill();
    }
    // Reads n bits (1 to 32) and refills.
    uint32_t Get(int n) {
        const uint32_t value = Peek(n);
        Skip(n);
        return value;
    }
    uint32_t GetBit() { return Get(1); }
    // Moves to the next byte boundary of the stream, if not on one.
    void AlignToByte() { Skip(count & 7); }
    // Repeats the next bit if it is a one (after a refill): the stream reads on as if it held one
    // more bit there, which the position accounts for once it has been read. The coefficient
    // reader reads the short first coefficient "1s" of non-intra blocks as the table's "11s".
    void DoubleLeadingOne() {
        if (count == 64) {
            // No room: the last word loaded goes back.
            --next;
            count = 32;
            cache &= ~uint64_t{0xFFFFFFFF};
        }
        const uint64_t leading = cache >> 63;
        cache = (cache >> leading) | (leading << 63);
        count += static_cast<int32_t>(leading);
    }

private:
    // Words from the one holding the next bit to the last one loaded.
    int32_t WordsCached() const { return (count + 31) >> 5; }

    const uint32_t* next = nullptr;  // the word after the last one loaded
    uint64_t cache = 0;
    int32_t count = 0;  // valid bits in the cache
};

}  // namespace d2u
