// Inlining and branch hints for the hot paths, empty where the compiler has no such attributes.
#pragma once

#if defined(__GNUC__)
#define D2U_ALWAYS_INLINE inline __attribute__((always_inline))
#define D2U_NOINLINE __attribute__((noinline))
#define D2U_LIKELY(condition) __builtin_expect(!!(condition), 1)
#else
#define D2U_ALWAYS_INLINE inline
#define D2U_NOINLINE
#define D2U_LIKELY(condition) (condition)
#endif
