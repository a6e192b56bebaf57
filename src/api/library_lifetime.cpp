#include "api/library_lifetime.h"

#include "diag/decoder_log.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {

void LibraryAttach() {
    InstallBestKernels();
    CDecoderLog::CreateLoggerForModule();
}

void LibraryDetach() { CDecoderLog::DestroyLogger(); }

}  // namespace d2u
