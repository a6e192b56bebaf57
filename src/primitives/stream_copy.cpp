#include "primitives/stream_copy.h"

#include <cstring>

namespace d2u {
namespace {

void StreamCopyScalar(uint8_t* destination, const uint8_t* source, size_t bytes) {
    std::memcpy(destination, source, bytes);
}

StreamCopyKernel copyKernel = StreamCopyScalar;

}  // namespace

void StreamCopy(uint8_t* destination, const uint8_t* source, size_t bytes) {
    copyKernel(destination, source, bytes);
}

void InstallStreamCopyKernels(KernelLevel level) {
    copyKernel = StreamCopyScalar;
    StreamCopyKernel wider = nullptr;
    if (level == KernelLevel::kAvx2) wider = StreamCopyAvx2();
    if (!wider && level != KernelLevel::kScalar) wider = StreamCopySse2();
    if (wider) copyKernel = wider;
}

D2U_REGISTER_KERNEL_FAMILY(InstallStreamCopyKernels);

}  // namespace d2u
