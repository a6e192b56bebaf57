#include "primitives/dequantise.h"

namespace d2u {
namespace dequant {
namespace {

Ipp32s Saturate(Ipp32s value) {
    return value < kCoefficientMin ? kCoefficientMin
                                   : (value > kCoefficientMax ? kCoefficientMax : value);
}

Ipp32s Sign(Ipp32s value) {
    return (value > 0) - (value < 0);
}

// Division by 2^shift, truncating towards zero.
Ipp32s DivideTruncating(Ipp32s value, int shift) {
    Ipp32s magnitude = (value < 0 ? -value : value) >> shift;
    return value < 0 ? -magnitude : magnitude;
}

// An even non-zero value moves one step towards zero.
Ipp32s MakeOdd(Ipp32s value) {
    return (value & 1) == 0 ? value - Sign(value) : value;
}

template <bool kIntra, bool kMpeg1>
void DequantiseScalar(const Ipp16s* levels, const uint16_t* matrix, Ipp32s quantiser, Ipp32s dc,
                      Ipp16s* out) {
    const int shift = kMpeg1 ? (kIntra ? 3 : 4) : (kIntra ? 4 : 5);
    Ipp32s parity = 0;
    for (int i = 0; i < 64; ++i) {
        Ipp32s level = Saturate(levels[i]);
        Ipp32s scale = (matrix[i] & 0xFF) * quantiser;
        Ipp32s multiplier = kIntra ? level : 2 * level + Sign(level);
        Ipp32s value = DivideTruncating(multiplier * scale, shift);
        if (kMpeg1) value = MakeOdd(value);
        value = Saturate(value);
        if (kIntra && i == 0) value = Saturate(dc);
        out[i] = static_cast<Ipp16s>(value);
        parity ^= value;
    }
    if (!kMpeg1 && (parity & 1) == 0) out[63] = static_cast<Ipp16s>(out[63] ^ 1);
}

KernelTable table;

void InstallDequantiseKernels(KernelLevel level) {
    table.kernel[kIntraMpeg1] = DequantiseScalar<true, true>;
    table.kernel[kNonIntraMpeg1] = DequantiseScalar<false, true>;
    table.kernel[kIntraMpeg2] = DequantiseScalar<true, false>;
    table.kernel[kNonIntraMpeg2] = DequantiseScalar<false, false>;
    if (level != KernelLevel::kScalar) InstallSse2Kernels(table);
}

}  // namespace

void Dequantise(Mode mode, const Ipp16s* levels, const uint16_t* matrix, Ipp32s quantiser,
                Ipp32s dc, Ipp16s* out) {
    if (quantiser < 0) quantiser = 0;
    if (quantiser > kMaxQuantiser) quantiser = kMaxQuantiser;
    table.kernel[mode](levels, matrix, quantiser, dc, out);
}

D2U_REGISTER_KERNEL_FAMILY(InstallDequantiseKernels);

}  // namespace dequant
}  // namespace d2u
