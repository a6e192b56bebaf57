// A small seeded generator whose sequence is the same on every platform and compiler (the
// standard distributions are not).
#pragma once

#include <cstdint>

namespace d2u {
namespace streamgen {

class RandomSource {
public:
    explicit RandomSource(uint64_t seed)
        : state(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}

    uint32_t Next() {
        // splitmix64
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    // 0 to count - 1.
    int Below(int count) {
        return count <= 1 ? 0 : static_cast<int>(Next() % static_cast<uint32_t>(count));
    }
    // low to high, both included.
    int Between(int low, int high) { return low + Below(high - low + 1); }
    bool Percent(int percent) { return Below(100) < percent; }

private:
    uint64_t state;
};

}  // namespace streamgen
}  // namespace d2u
