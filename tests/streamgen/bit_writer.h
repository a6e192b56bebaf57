// Writes a bit string most significant bit first, with start codes aligned to bytes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace d2u {
namespace streamgen {

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            pending = (pending << 1) | ((value >> i) & 1u);
            if (++pendingBits == 8) {
                bytes.push_back(static_cast<uint8_t>(pending));
                pending = pendingBits = 0;
            }
        }
    }
    // Fixed-length fields in order, as {value, bits}.
    void Put(std::initializer_list<std::pair<uint32_t, int>> fields) {
        for (const auto& field : fields) Put(field.first, field.second);
    }
    // A code written as '0' and '1' characters.
    void PutCode(const std::string& code) {
        for (char c : code) Put(c == '1', 1);
    }
    // Pads with zero bits to the byte boundary, then writes 00 00 01 value.
    void StartCode(uint8_t value) {
        while (pendingBits != 0) Put(0, 1);
        Put(0x100 | value, 32);
    }
    const std::vector<uint8_t>& Bytes() const { return bytes; }

private:
    std::vector<uint8_t> bytes;
    uint32_t pending = 0;
    int pendingBits = 0;
};

}  // namespace streamgen
}  // namespace d2u
