// Inlining, unrolling and branch hints for the hot paths, empty where the compiler has no such
// attributes. D2U_ROLLED goes before a loop that should stay a loop.
#pragma once

#if defined(__GNUC__)
#define D2U_ALWAYS_INLINE inline __attribute__((always_inline))
#define D2U_NOINLINE __attribute__((noinline))
#define D2U_LIKELY(condition) __builtin_expect(!!(condition), 1)
#define D2U_ROLLED _Pragma("GCC unroll 1")
#else
#define D2U_ALWAYS_INLINE inline
#define D2U_NOINLINE
#define D2U_LIKELY(condition) (condition)
#define D2U_ROLLED
#endif
