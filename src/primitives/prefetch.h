// Cache prefetch hints.
#pragma once

#include <cstddef>
#include <cstdint>

namespace d2u {

// Asks for the cache line holding `address`, to be read soon. The address need not be valid.
// GCC's prefetch builtin alone is not enough: loops whose only statements are prefetches are
// deleted as having no effect, so on x86 the instruction is written out.
inline void PrefetchForRead(const void* address) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#elif defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// Asks for the lines holding p, p + step, ... p + (kRows - 1) * step. On x86 the rows go three
// to a base address, the second and third through its scaled index, so that a row costs little
// more than its prefetch instruction.
template <int kRows>
inline void PrefetchRowsForRead(const uint8_t* p, ptrdiff_t step) {
    for (int r = 0; r < kRows; r += 3, p += 3 * step) {
        PrefetchForRead(p);
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        if (r + 1 < kRows) asm volatile("prefetcht0 (%0,%1,1)" : : "r"(p), "r"(step));
        if (r + 2 < kRows) asm volatile("prefetcht0 (%0,%1,2)" : : "r"(p), "r"(step));
#else
        if (r + 1 < kRows) PrefetchForRead(p + step);
        if (r + 2 < kRows) PrefetchForRead(p + 2 * step);
#endif
    }
}

}  // namespace d2u
