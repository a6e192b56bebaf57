// SSE2 streaming copy: plain copies up to the destination's first 16-byte boundary and for the
// tail, non-temporal stores of 64 bytes a step between.
#include "primitives/stream_copy.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

namespace d2u {
namespace {

void StreamCopySse2(uint8_t* destination, const uint8_t* source, size_t bytes) {
    size_t head = (16 - (reinterpret_cast<uintptr_t>(destination) & 15)) & 15;
    if (head > bytes) head = bytes;
    std::memcpy(destination, source, head);
    size_t i = head;
    for (; i + 64 <= bytes; i += 64) {
        const auto* in = reinterpret_cast<const __m128i*>(source + i);
        auto* out = reinterpret_cast<__m128i*>(destination + i);
        const __m128i a = _mm_loadu_si128(in), b = _mm_loadu_si128(in + 1);
        const __m128i c = _mm_loadu_si128(in + 2), d = _mm_loadu_si128(in + 3);
        _mm_stream_si128(out, a);
        _mm_stream_si128(out + 1, b);
        _mm_stream_si128(out + 2, c);
        _mm_stream_si128(out + 3, d);
    }
    _mm_sfence();
    std::memcpy(destination + i, source + i, bytes - i);
}

}  // namespace

void InitStreamCopyKernelsSse2(StreamCopyKernels& kernels) {
    kernels.copy = StreamCopySse2;
}

}  // namespace d2u

#else

namespace d2u {
void InitStreamCopyKernelsSse2(StreamCopyKernels&) {}
}  // namespace d2u

#endif
