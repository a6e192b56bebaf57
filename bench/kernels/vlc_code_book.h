// The codewords of one decode table, read from the table's input form (the layout of
// ippiVCHuffmanInitAlloc(RL)_32s), drawn at random with the probability 2^-length: the
// frequency a prefix code is built for.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "primitives/ipp_types.h"

namespace d2u {
namespace bench {

struct VlcCode {
    Ipp32u bits;
    int length;
    Ipp32s run;    // 0 for tables of values
    Ipp32s value;  // the value, or the level of a run/level entry
};

class VlcCodeBook {
public:
    VlcCodeBook(const Ipp32s* input, bool runLevel, uint32_t seed);

    // A codeword drawn by its probability among those `accept` takes.
    template <class Predicate>
    const VlcCode& Draw(Predicate accept) {
        for (;;) {
            const VlcCode& code = codes_[static_cast<size_t>(choose_(random_))];
            if (accept(code)) return code;
        }
    }
    const VlcCode& Draw() {
        return Draw([](const VlcCode&) { return true; });
    }
    // The entry of (run, value); null when the table has none.
    const VlcCode* Find(Ipp32s run, Ipp32s value) const;

private:
    std::vector<VlcCode> codes_;
    std::discrete_distribution<int> choose_;
    std::mt19937 random_;
};

}  // namespace bench
}  // namespace d2u
