// AVX2 version of the inverse DCT; the same numbers as the scalar version, bit for bit.
//
// The passes of inverse_dct_passes.h, compiled for AVX2 (three-operand forms, fewer copies).
#include "primitives/inverse_dct.h"

// 32-bit Windows compilers do not reliably align the stack for 256-bit spills: the DLL keeps
// the SSE2 version there.
#if defined(__AVX2__) && !defined(_WIN32)
#include "primitives/inverse_dct_passes.h"

namespace d2u {
namespace idct {
namespace {

void InverseAvx2(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    __m128i rows[8];
    InverseRows(src, rows);
    StoreRows(rows, dst, dstStep);
}

void InverseClipAvx2(const Ipp16s* src, Ipp8u* dst, int dstStep, int addVal, int clipDown,
                     int clipUp) {
    __m128i rows[8];
    InverseRows(src, rows);
    StoreClippedRows(rows, dst, dstStep, addVal, clipDown, clipUp);
}

}  // namespace

void InstallAvx2Kernels(KernelTable& table) {
    table.inverse = InverseAvx2;
    table.inverseClip = InverseClipAvx2;
}

}  // namespace idct
}  // namespace d2u

#else

namespace d2u {
namespace idct {
void InstallAvx2Kernels(KernelTable&) {}
}  // namespace idct
}  // namespace d2u

#endif
