// SSE2 version of the inverse DCT; the same numbers as the scalar version, bit for bit.
#include "primitives/inverse_dct.h"

#if defined(__SSE2__)
#include "primitives/inverse_dct_passes.h"

namespace d2u {
namespace idct {
namespace {

void InverseSse2(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    __m128i rows[8];
    InverseRows(src, rows);
    StoreRows(rows, dst, dstStep);
}

void InverseClipSse2(const Ipp16s* src, Ipp8u* dst, int dstStep, int addVal, int clipDown,
                     int clipUp) {
    __m128i rows[8];
    InverseRows(src, rows);
    StoreClippedRows(rows, dst, dstStep, addVal, clipDown, clipUp);
}

}  // namespace

void InstallSse2Kernels(KernelTable& table) {
    table.inverse = InverseSse2;
    table.inverseClip = InverseClipSse2;
}

}  // namespace idct
}  // namespace d2u

#else

namespace d2u {
namespace idct {
void InstallSse2Kernels(KernelTable&) {}
}  // namespace idct
}  // namespace d2u

#endif
