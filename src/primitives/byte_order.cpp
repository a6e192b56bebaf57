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

ByteOrderKernels kernels = {SwapWordBytesScalar};

}  // namespace

void SwapWordBytes(uint32_t* words, int32_t count) {
    kernels.swapWords(words, count);
}

void InitByteOrderKernels(KernelLevel level) {
    kernels = {SwapWordBytesScalar};
    if (level >= KernelLevel::kSse2) InitByteOrderKernelsSse2(kernels);
    if (level >= KernelLevel::kAvx2) InitByteOrderKernelsAvx2(kernels);
}

}  // namespace d2u
