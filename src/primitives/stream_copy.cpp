#include "primitives/stream_copy.h"

#include <cstring>

namespace d2u {
namespace {

void StreamCopyScalar(uint8_t* destination, const uint8_t* source, size_t bytes) {
    std::memcpy(destination, source, bytes);
}

StreamCopyKernels kernels = {StreamCopyScalar};

}  // namespace

void StreamCopy(uint8_t* destination, const uint8_t* source, size_t bytes) {
    kernels.copy(destination, source, bytes);
}

void InitStreamCopyKernels(KernelLevel level) {
    kernels = {StreamCopyScalar};
    if (level >= KernelLevel::kSse2) InitStreamCopyKernelsSse2(kernels);
    if (level >= KernelLevel::kAvx2) InitStreamCopyKernelsAvx2(kernels);
}

}  // namespace d2u
