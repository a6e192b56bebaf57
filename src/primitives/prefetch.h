// Cache prefetch hints.
#pragma once

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

}  // namespace d2u
