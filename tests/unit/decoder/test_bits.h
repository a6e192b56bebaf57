// Coded bit strings for the block-layer tests, read with a reader of their own or through a data
// source together with the code tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/mpeg_vlc_tables.h"
#include "input/bit_reader.h"
#include "input/bitstream_data_source.h"

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

    // Words in reading order, zero padded, followed by two sentinel words.
    std::vector<Ipp32u> Words() const {
        std::vector<Ipp32u> words((bits_.size() + 31) / 32, 0);
        for (size_t i = 0; i < bits_.size(); ++i)
            words[i / 32] |= Ipp32u(bits_[i]) << (31 - i % 32);
        words.resize(words.size() + 2, CBitstreamDataSource::kFillerWord);
        return words;
    }

private:
    std::vector<bool> bits_;
};

// A reader over the words of the bits.
struct WordCursor {
    explicit WordCursor(const TestBits& bits) : words(bits.Words()), at(words.data(), 31) {}
    size_t BitsRead() const {
        return size_t(at.Word() - words.data()) * 32 + size_t(31 - at.Offset());
    }
    std::vector<Ipp32u> words;
    BitReader at;
};

// A data source over the bytes of the words, with the code tables reading from it.
struct SourceOverBits {
    explicit SourceOverBits(const TestBits& bits) {
        std::vector<uint8_t> bytes;
        for (Ipp32u word : bits.Words()) {
            for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(word >> shift));
        }
        source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        tables.Build();
    }
    BitReader& Bits() { return source.Bits(); }
    size_t BitsRead() const {
        const BitReader& bits = source.Bits();
        return size_t(bits.Word() - source.buffer) * 32 + size_t(31 - bits.Offset());
    }
    CBitstreamDataSource source;
    CMpegVlcTables tables;
};

}  // namespace test
}  // namespace d2u
