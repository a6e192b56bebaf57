// AVX2 streaming copy: plain copies up to the destination's first 32-byte boundary and for the
// tail, non-temporal stores of 128 bytes a step between.
#include "primitives/stream_copy.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include <cstring>

namespace d2u {
namespace {

void StreamCopyAvx2(uint8_t* destination, const uint8_t* source, size_t bytes) {
    size_t head = (32 - (reinterpret_cast<uintptr_t>(destination) & 31)) & 31;
    if (head > bytes) head = bytes;
    std::memcpy(destination, source, head);
    size_t i = head;
    for (; i + 128 <= bytes; i += 128) {
        const auto* in = reinterpret_cast<const __m256i*>(source + i);
        auto* out = reinterpret_cast<__m256i*>(destination + i);
        const __m256i a = _mm256_loadu_si256(in), b = _mm256_loadu_si256(in + 1);
        const __m256i c = _mm256_loadu_si256(in + 2), d = _mm256_loadu_si256(in + 3);
        _mm256_stream_si256(out, a);
        _mm256_stream_si256(out + 1, b);
        _mm256_stream_si256(out + 2, c);
        _mm256_stream_si256(out + 3, d);
    }
    _mm_sfence();
    std::memcpy(destination + i, source + i, bytes - i);
}

}  // namespace

void InitStreamCopyKernelsAvx2(StreamCopyKernels& kernels) {
    kernels.copy = StreamCopyAvx2;
}

}  // namespace d2u

#else

namespace d2u {
void InitStreamCopyKernelsAvx2(StreamCopyKernels&) {}
}  // namespace d2u

#endif
