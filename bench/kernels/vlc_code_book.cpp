#include "vlc_code_book.h"

#include <cmath>

namespace d2u {
namespace bench {
namespace {

std::vector<VlcCode> ReadCodes(const Ipp32s* input, bool runLevel) {
    std::vector<VlcCode> codes;
    int longest = input[0];
    int levelCount = input[1];
    const Ipp32s* p = input + 2 + levelCount;
    for (int length = 1; length <= longest; ++length) {
        int count = *p++;
        for (int i = 0; i < count; ++i) {
            VlcCode code{static_cast<Ipp32u>(*p++), length, 0, 0};
            if (runLevel) code.run = *p++;
            code.value = *p++;
            codes.push_back(code);
        }
    }
    return codes;
}

std::vector<double> Weights(const std::vector<VlcCode>& codes) {
    std::vector<double> weights;
    for (const VlcCode& code : codes) weights.push_back(std::ldexp(1.0, -code.length));
    return weights;
}

}  // namespace

VlcCodeBook::VlcCodeBook(const Ipp32s* input, bool runLevel, uint32_t seed)
    : codes_(ReadCodes(input, runLevel)), random_(seed) {
    std::vector<double> weights = Weights(codes_);
    choose_ = std::discrete_distribution<int>(weights.begin(), weights.end());
}

const VlcCode* VlcCodeBook::Find(Ipp32s run, Ipp32s value) const {
    for (const VlcCode& code : codes_) {
        if (code.run == run && code.value == value) return &code;
    }
    return nullptr;
}

}  // namespace bench
}  // namespace d2u
