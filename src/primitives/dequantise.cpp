#include "primitives/dequantise.h"

namespace d2u {
namespace dequant {
namespace {

Ipp32s Saturate(Ipp32s value) {
    return value < kCoefficientMin ? kCoefficientMin
                                   : (value > kCoefficientMax ? kCoefficientMax : value);
}

template <bool kIntra, bool kMpeg1>
void DequantiseScalar(const Ipp16s* levels, const uint16_t* matrix, Ipp32s quantiser, Ipp32s dc,
                      Ipp16s* out) {
    Ipp32s parity = 0;
    for (int i = 0; i < 64; ++i) {
        Ipp32s value = DequantiseLevel<kIntra, kMpeg1>(levels[i], matrix[i], quantiser);
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
