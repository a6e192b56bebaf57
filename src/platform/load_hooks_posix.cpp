#if !defined(_WIN32)

#include "platform/load_hooks.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() {
    d2u::LibraryAttach();
}

__attribute__((destructor)) void OnLibraryUnload() {
    d2u::LibraryDetach();
}

}  // namespace

#endif
