#if defined(_WIN32)

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace d2u {
namespace platform {
namespace {

HANDLE AsHandle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(handle);
}

bool Usable(FileHandle file) {
    return file != kInvalidFile && file != 0;
}

}  // namespace

FileHandle OpenForReading(const char* path) {
    if (!path) return kInvalidFile;
    return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle OpenForReadingW(const wchar_t* path) {
    if (!path) return kInvalidFile;
    return FromHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle CreateForWriting(const char* path) {
    if (!path) return kInvalidFile;
    return FromHandle(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle CreateForWritingW(const wchar_t* path) {
    if (!path) return kInvalidFile;
    return FromHandle(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

namespace {

// Reads until `size` bytes, the end or an error: at the file's position, or (`at` not null)
// from an offset, which a synchronous handle takes from an OVERLAPPED record.
size_t ReadFully(FileHandle file, const uint64_t* at, void* data, size_t size) {
    if (!Usable(file) || !data) return 0;
    size_t total = 0;
    auto* bytes = static_cast<unsigned char*>(data);
    while (total < size) {
        DWORD chunk = static_cast<DWORD>(size - total > 0x40000000u ? 0x40000000u : size - total);
        OVERLAPPED where = {};
        if (at) {
            const uint64_t position = *at + total;
            where.Offset = static_cast<DWORD>(position);
            where.OffsetHigh = static_cast<DWORD>(position >> 32);
        }
        DWORD got = 0;
        if (!ReadFile(AsHandle(file), bytes + total, chunk, &got, at ? &where : nullptr) ||
            got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

}  // namespace

size_t Read(FileHandle file, void* data, size_t size) {
    return ReadFully(file, nullptr, data, size);
}

size_t ReadAt(FileHandle file, uint64_t offset, void* data, size_t size) {
    return ReadFully(file, &offset, data, size);
}

size_t Write(FileHandle file, const void* data, size_t size) {
    if (!Usable(file) || !data) return 0;
    size_t total = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (total < size) {
        DWORD chunk = static_cast<DWORD>(size - total > 0x40000000u ? 0x40000000u : size - total);
        DWORD put = 0;
        if (!WriteFile(AsHandle(file), bytes + total, chunk, &put, nullptr) || put == 0) break;
        total += put;
    }
    return total;
}

bool Seek(FileHandle file, uint64_t offset) {
    if (!Usable(file)) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(AsHandle(file), distance, nullptr, FILE_BEGIN) != 0;
}

bool SeekToEnd(FileHandle file) {
    if (!Usable(file)) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = 0;
    return SetFilePointerEx(AsHandle(file), distance, nullptr, FILE_END) != 0;
}

uint64_t Size(FileHandle file) {
    LARGE_INTEGER size;
    if (!Usable(file) || !GetFileSizeEx(AsHandle(file), &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

void Close(FileHandle file) {
    if (Usable(file)) CloseHandle(AsHandle(file));
}

bool FileExists(const char* path) {
    FileHandle file = OpenForReading(path);
    if (file == kInvalidFile) return false;
    Close(file);
    return true;
}

void SleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

void YieldThread() {
    SwitchToThread();
}

void* AllocateLargeBlock(size_t bytes) {
    return std::malloc(bytes > 0 ? bytes : 1);
}

void FreeLargeBlock(void* memory) {
    std::free(memory);
}

// Committed pages of a fresh allocation are zero; large pages would need a privilege that
// hosts rarely grant, so the block keeps the normal ones.
void* AllocateZeroedMemory(size_t bytes) {
    return VirtualAlloc(nullptr, bytes > 0 ? bytes : 1, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeZeroedMemory(void* memory, size_t) {
    if (memory) VirtualFree(memory, 0, MEM_RELEASE);
}

uint64_t MonotonicMilliseconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    if (frequency.QuadPart == 0) return 0;
    return static_cast<uint64_t>(counter.QuadPart) * 1000u /
           static_cast<uint64_t>(frequency.QuadPart);
}

namespace {

struct ThreadStart {
    void (*entry)(void*);
    void* argument;
    HANDLE thread;
};

DWORD WINAPI RunThread(LPVOID start) {
    const ThreadStart* what = static_cast<ThreadStart*>(start);
    what->entry(what->argument);
    return 0;
}

}  // namespace

ThreadHandle StartThread(void (*entry)(void*), void* argument) {
    ThreadStart* start = new (std::nothrow) ThreadStart{entry, argument, nullptr};
    if (!start) return nullptr;
    start->thread = ::CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (!start->thread) {
        delete start;
        return nullptr;
    }
    return start;
}

void JoinThread(ThreadHandle thread) {
    ThreadStart* start = static_cast<ThreadStart*>(thread);
    if (!start) return;
    ::WaitForSingleObject(start->thread, INFINITE);
    ::CloseHandle(start->thread);
    delete start;
}

int32_t ProcessorCount() {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int32_t>(info.dwNumberOfProcessors) : 1;
}

struct Monitor {
    SRWLOCK lock;
    CONDITION_VARIABLE condition;
};

Monitor* CreateMonitor() {
    Monitor* monitor = new (std::nothrow) Monitor;
    if (!monitor) return nullptr;
    ::InitializeSRWLock(&monitor->lock);
    ::InitializeConditionVariable(&monitor->condition);
    return monitor;
}

void DestroyMonitor(Monitor* monitor) {
    delete monitor;
}

void Lock(Monitor* monitor) {
    ::AcquireSRWLockExclusive(&monitor->lock);
}

void Unlock(Monitor* monitor) {
    ::ReleaseSRWLockExclusive(&monitor->lock);
}

void Wait(Monitor* monitor) {
    ::SleepConditionVariableSRW(&monitor->condition, &monitor->lock, INFINITE, 0);
}

void WakeAll(Monitor* monitor) {
    ::WakeAllConditionVariable(&monitor->condition);
}

LibraryHandle LoadLibraryByName(const char* name) {
    return name ? reinterpret_cast<LibraryHandle>(LoadLibraryA(name)) : nullptr;
}

void* LookUpEntry(LibraryHandle library, const char* name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibrary(LibraryHandle library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

size_t ModuleDirectory(char* out, size_t capacity) {
    if (!out || capacity == 0) return 0;
    out[0] = '\0';
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&ModuleDirectory), &module)) {
        return 0;
    }
    char name[256];
    DWORD length = GetModuleFileNameA(module, name, 255);
    if (length == 0 || length >= 255) return 0;
    name[length] = '\0';
    const char* slash = std::strrchr(name, '\\');
    if (!slash || slash == name) return 0;
    size_t directory = static_cast<size_t>(slash - name) + 1;
    if (directory >= capacity) return 0;
    std::memcpy(out, name, directory);
    out[directory] = '\0';
    return directory;
}

const char* LogMarkerPath() {
    return "c:\\createLog.sgn";
}
const char* DiagnosticsLibraryName() {
    return "ZoridaZera_.dll";
}
const char* PackFilterLibraryName() {
    return "dvdscript.dll";
}
char PathSeparator() {
    return '\\';
}

}  // namespace platform
}  // namespace d2u

#endif  // _WIN32
