#include "diag/decoder_log.h"
#include "platform/load_hooks.h"
#include "preview/preview_objects.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {

void LibraryAttach() {
    InstallBestKernels();
    CDecoderLog::CreateLoggerForModule();
    CreatePreviewObjects();
}

void LibraryDetach() {
    DestroyPreviewObjects();
    CDecoderLog::DestroyLogger();
}

}  // namespace d2u
