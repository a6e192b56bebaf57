// Builds coded bit strings for the block-layer tests and turns them into the word buffers that
// the decoder reads (32-bit words in reading order, followed by sentinel words).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

class TestBits {
public:
    // Appends codeword digits; spaces are ignored.
    TestBits& Put(const std::string& digits) {
        for (char c : digits) {
            if (c == '0' || c == '1') bits_.push_back(c == '1');
        }
        return *this;
    }
    // Appends the low n bits of value, most significant first.
    TestBits& PutValue(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back(((value >> i) & 1u) != 0);
        return *this;
    }
    size_t Size() const { return bits_.size(); }

    // The bits as bytes, the last byte padded with `padBit`.
    std::vector<uint8_t> Bytes(bool padBit = false) const {
        std::vector<uint8_t> bytes((bits_.size() + 7) / 8, padBit ? 0xFF : 0x00);
        for (size_t i = 0; i < bits_.size(); ++i) {
            uint8_t mask = static_cast<uint8_t>(0x80u >> (i % 8));
            bytes[i / 8] =
                static_cast<uint8_t>(bits_[i] ? (bytes[i / 8] | mask) : (bytes[i / 8] & ~mask));
        }
        return bytes;
    }

    // Words in reading order, padded with `fill` bits, followed by `trailing` copies of `tail`.
    std::vector<uint32_t> Words(size_t trailing = 2, uint32_t tail = 0x000001B7u,
                                bool fill = false) const {
        size_t wordCount = (bits_.size() + 31) / 32;
        std::vector<uint32_t> words(wordCount + trailing, tail);
        for (size_t w = 0; w < wordCount; ++w) {
            uint32_t word = 0;
            for (size_t b = 0; b < 32; ++b) {
                size_t i = w * 32 + b;
                bool bit = i < bits_.size() ? bits_[i] : fill;
                word = (word << 1) | (bit ? 1u : 0u);
            }
            words[w] = word;
        }
        return words;
    }

private:
    std::vector<bool> bits_;
};

}  // namespace test
}  // namespace d2u
