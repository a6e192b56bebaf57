// Writes a bit string most significant bit first, with start codes aligned to bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace streamgen {

class BitWriter {
public:
    void Put(uint32_t value, int bits);
    // A code written as '0' and '1' characters; any other character is ignored.
    void PutCode(const std::string& code);
    // Pads with zero bits to the byte boundary, then writes 00 00 01 value.
    void StartCode(uint8_t value);
    void AlignWithZeros();
    void PutBytes(const std::vector<uint8_t>& values);
    // Where the next byte-aligned item (a start code) will begin.
    size_t BytePosition() const { return bytes.size() + (pendingBits != 0 ? 1 : 0); }
    const std::vector<uint8_t>& Bytes() const { return bytes; }

private:
    std::vector<uint8_t> bytes;
    uint32_t pending = 0;
    int pendingBits = 0;
};

}  // namespace streamgen
}  // namespace d2u
