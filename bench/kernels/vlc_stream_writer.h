// Writes bit streams for the VLC and block benchmarks in the word layout the decoding kernels
// read: 32-bit words in reading order, bit 31 first, with sentinel words at the end.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "primitives/ipp_types.h"
#include "vlc_code_book.h"

namespace d2u {
namespace bench {

class VlcStreamWriter {
public:
    explicit VlcStreamWriter(uint32_t seed) : random_(seed) {}

    // Appends the low `length` bits (0..32) of `bits`.
    void Put(Ipp32u bits, int length);
    void Put(const VlcCode& code) { Put(code.bits, code.length); }
    // Appends `length` random bits.
    void PutRandomBits(int length);
    // The words written so far, padded, followed by sentinel words.
    std::vector<Ipp32u> Finish();

private:
    std::mt19937 random_;
    std::vector<Ipp32u> words_;
    uint64_t pending_ = 0;
    int pendingBits_ = 0;
};

}  // namespace bench
}  // namespace d2u
