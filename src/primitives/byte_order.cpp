#include "primitives/byte_order.h"

namespace d2u {
namespace {

void SwapWordBytesScalar(uint32_t* words, int32_t count) {
    auto* bytes = reinterpret_cast<const uint8_t*>(words);
    for (int32_t i = 0; i < count; ++i, bytes += 4) {
        words[i] = (static_cast<uint32_t>(bytes[0]) << 24) |
                   (static_cast<uint32_t>(bytes[1]) << 16) |
                   (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
    }
}

WordSwap swapKernel = SwapWordBytesScalar;

}  // namespace

void SwapWordBytes(uint32_t* words, int32_t count) {
    swapKernel(words, count);
}

void InstallByteOrderKernels(KernelLevel level) {
    swapKernel = SwapWordBytesScalar;
    WordSwap wider = nullptr;
    if (level == KernelLevel::kAvx2) wider = WordSwapAvx2();
    if (!wider && level != KernelLevel::kScalar) wider = WordSwapSse2();
    if (wider) swapKernel = wider;
}

D2U_REGISTER_KERNEL_FAMILY(InstallByteOrderKernels);

}  // namespace d2u
