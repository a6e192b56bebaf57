#include "bit_writer.h"

namespace d2u {
namespace streamgen {

void BitWriter::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        pending = (pending << 1) | ((value >> i) & 1u);
        if (++pendingBits == 8) {
            bytes.push_back(static_cast<uint8_t>(pending));
            pending = 0;
            pendingBits = 0;
        }
    }
}

void BitWriter::PutCode(const std::string& code) {
    for (char c : code) {
        if (c == '0' || c == '1') Put(c == '1' ? 1u : 0u, 1);
    }
}

void BitWriter::AlignWithZeros() {
    while (pendingBits != 0) Put(0, 1);
}

void BitWriter::PutBytes(const std::vector<uint8_t>& values) {
    for (uint8_t value : values) Put(value, 8);
}

void BitWriter::StartCode(uint8_t value) {
    AlignWithZeros();
    Put(0x000001, 24);
    Put(value, 8);
}

}  // namespace streamgen
}  // namespace d2u
