#include "primitives/inverse_dct.h"

#include <cstddef>
#include <cstdint>

namespace d2u {
namespace idct {
namespace {

// kBasis[x][u]: the scaled cosine of frequency u at sample x,
// 2^14 * sqrt(2) * cos((2x + 1) * u * pi / 16), with 2^14 for u = 0.
constexpr Ipp32s kBasis[8][8] = {
    {kW4, kW1, kW2, kW3, kW4, kW5, kW6, kW7},     {kW4, kW3, kW6, -kW7, -kW4, -kW1, -kW2, -kW5},
    {kW4, kW5, -kW6, -kW1, -kW4, kW7, kW2, kW3},  {kW4, kW7, -kW2, -kW5, kW4, kW3, -kW6, -kW1},
    {kW4, -kW7, -kW2, kW5, kW4, -kW3, -kW6, kW1}, {kW4, -kW5, -kW6, kW1, -kW4, -kW7, kW2, -kW3},
    {kW4, -kW3, kW6, kW7, -kW4, kW1, -kW2, kW5},  {kW4, -kW1, kW2, -kW3, kW4, -kW5, kW6, -kW7},
};

Ipp32s SaturateInput(Ipp16s value) {
    return value < kInputMin ? kInputMin : (value > kInputMax ? kInputMax : value);
}

// The transform without storing: out[y][x] for y, x in 0..7.
void Transform(const Ipp16s* src, Ipp32s out[8][8]) {
    // First pass, down the columns: exact sums (|value| < 2^28).
    Ipp32s columns[8][8];  // [y][u]
    for (int u = 0; u < 8; ++u) {
        for (int y = 0; y < 8; ++y) {
            Ipp32s sum = 0;
            for (int v = 0; v < 8; ++v) sum += kBasis[y][v] * SaturateInput(src[v * 8 + u]);
            columns[y][u] = sum;
        }
    }
    // Second pass, along the rows; the two passes scale by 2^31 together.
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            int64_t sum = 0;
            for (int u = 0; u < 8; ++u) sum += static_cast<int64_t>(kBasis[x][u]) * columns[y][u];
            out[y][x] = static_cast<Ipp32s>((sum + (int64_t{1} << 30)) >> 31);
        }
    }
}

void InverseScalar(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    Ipp32s out[8][8];
    Transform(src, out);
    for (int y = 0; y < 8; ++y) {
        Ipp16s* row = reinterpret_cast<Ipp16s*>(reinterpret_cast<Ipp8u*>(dst) +
                                                static_cast<ptrdiff_t>(dstStep) * y);
        for (int x = 0; x < 8; ++x) row[x] = static_cast<Ipp16s>(out[y][x]);
    }
}

void InverseClipScalar(const Ipp16s* src, Ipp8u* dst, int dstStep, int addVal, int clipDown,
                       int clipUp) {
    Ipp32s out[8][8];
    Transform(src, out);
    for (int y = 0; y < 8; ++y) {
        Ipp8u* row = dst + static_cast<ptrdiff_t>(dstStep) * y;
        for (int x = 0; x < 8; ++x) {
            Ipp32s value = out[y][x] + addVal;
            value = value < clipDown ? clipDown : (value > clipUp ? clipUp : value);
            row[x] = static_cast<Ipp8u>(value);
        }
    }
}

}  // namespace
}  // namespace idct

namespace {

idct::KernelTable table;

void InstallInverseDctKernels(KernelLevel level) {
    table.inverse = idct::InverseScalar;
    table.inverseClip = idct::InverseClipScalar;
    if (level != KernelLevel::kScalar) idct::InstallSse2Kernels(table);
    if (level == KernelLevel::kAvx2) idct::InstallAvx2Kernels(table);
}

}  // namespace

D2U_REGISTER_KERNEL_FAMILY(InstallInverseDctKernels);

IppStatus ippiDCT8x8Inv_16s_C1R(const Ipp16s* pSrc, Ipp16s* pDst, int dstStep) {
    if (!pSrc || !pDst) return ippStsNullPtrErr;
    table.inverse(pSrc, pDst, dstStep);
    return ippStsNoErr;
}

IppStatus ippiDCT8x8InvLSClip_16s8u_C1R(const Ipp16s* pSrc, Ipp8u* pDst, int dstStep, int addVal,
                                        Ipp8u clipDown, Ipp8u clipUp) {
    if (!pSrc || !pDst) return ippStsNullPtrErr;
    if (clipDown > clipUp) return ippStsBadArgErr;
    if (addVal < -32768 || addVal > 32767) return ippStsBadArgErr;
    table.inverseClip(pSrc, pDst, dstStep, addVal, clipDown, clipUp);
    return ippStsNoErr;
}

}  // namespace d2u
