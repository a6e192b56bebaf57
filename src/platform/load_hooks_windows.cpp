#if defined(_WIN32)

#include <windows.h>

#include "platform/load_hooks.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) d2u::LibraryAttach();
    if (reason == DLL_PROCESS_DETACH) d2u::LibraryDetach();
    return TRUE;
}

#endif
