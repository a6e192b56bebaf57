#if !defined(_WIN32)

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "platform/platform.h"

#ifndef D2U_LOG_MARKER_PATH
#define D2U_LOG_MARKER_PATH "/tmp/createLog.sgn"
#endif

namespace d2u {
namespace platform {

static_assert(sizeof(off_t) == 8, "the build must use 64-bit file offsets (_FILE_OFFSET_BITS=64)");

namespace {

// Converts a wide path to the multibyte encoding of the current locale (UTF-8 in practice).
bool NarrowPath(const wchar_t* path, std::string& out) {
    if (!path) return false;
    out.clear();
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (const wchar_t* p = path; *p; ++p) {
        size_t n = std::wcrtomb(buffer, *p, &state);
        if (n == static_cast<size_t>(-1)) {
            // Outside the locale: encode as UTF-8 ourselves.
            uint32_t c = static_cast<uint32_t>(*p);
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += static_cast<char>(0xE0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
                out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            }
            state = std::mbstate_t{};
            continue;
        }
        out.append(buffer, n);
    }
    return true;
}

FileHandle OpenWithFlags(const char* path, int flags) {
    if (!path) return kInvalidFile;
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kInvalidFile;
    struct stat info;
    if ((flags & O_ACCMODE) == O_RDONLY && (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
        ::close(fd);
        return kInvalidFile;
    }
    return fd;
}

}  // namespace

FileHandle OpenForReading(const char* path) {
    return OpenWithFlags(path, O_RDONLY);
}

FileHandle OpenForReadingW(const wchar_t* path) {
    std::string narrow;
    return NarrowPath(path, narrow) ? OpenForReading(narrow.c_str()) : kInvalidFile;
}

FileHandle CreateForWriting(const char* path) {
    return OpenWithFlags(path, O_WRONLY | O_CREAT | O_TRUNC);
}

FileHandle CreateForWritingW(const wchar_t* path) {
    std::string narrow;
    return NarrowPath(path, narrow) ? CreateForWriting(narrow.c_str()) : kInvalidFile;
}

namespace {

constexpr uint64_t kAtThePosition = UINT64_MAX;

// Reads until `size` bytes, the end or an error: at the file's position, or from `offset`.
size_t ReadFully(FileHandle file, uint64_t offset, void* data, size_t size) {
    if (file == kInvalidFile || file == 0 || !data) return 0;
    if (offset != kAtThePosition && offset > static_cast<uint64_t>(INT64_MAX)) return 0;
    size_t total = 0;
    auto* bytes = static_cast<unsigned char*>(data);
    while (total < size) {
        const int descriptor = static_cast<int>(file);
        ssize_t n = offset == kAtThePosition ? ::read(descriptor, bytes + total, size - total)
                                             : ::pread(descriptor, bytes + total, size - total,
                                                       static_cast<off_t>(offset + total));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    return total;
}

}  // namespace

size_t Read(FileHandle file, void* data, size_t size) {
    return ReadFully(file, kAtThePosition, data, size);
}

size_t ReadAt(FileHandle file, uint64_t offset, void* data, size_t size) {
    return ReadFully(file, offset, data, size);
}

size_t Write(FileHandle file, const void* data, size_t size) {
    if (file == kInvalidFile || file == 0 || !data) return 0;
    size_t total = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (total < size) {
        ssize_t n = ::write(static_cast<int>(file), bytes + total, size - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    return total;
}

bool Seek(FileHandle file, uint64_t offset) {
    if (file == kInvalidFile || file == 0 || offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool SeekToEnd(FileHandle file) {
    if (file == kInvalidFile || file == 0) return false;
    return ::lseek(static_cast<int>(file), 0, SEEK_END) >= 0;
}

uint64_t Size(FileHandle file) {
    struct stat info;
    if (file == kInvalidFile || file == 0 || ::fstat(static_cast<int>(file), &info) != 0) return 0;
    return info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

void Close(FileHandle file) {
    if (file != kInvalidFile && file != 0) ::close(static_cast<int>(file));
}

bool FileExists(const char* path) {
    FileHandle file = OpenForReading(path);
    if (file == kInvalidFile) return false;
    Close(file);
    return true;
}

namespace {
constexpr size_t kLargePage = size_t{2} << 20;
}

void* AllocateLargeBlock(size_t bytes) {
    if (bytes == 0) bytes = 1;
    if (bytes < kLargePage / 2) return std::malloc(bytes);
    // Aligned to the large page, the whole block can be backed by large pages.
    const size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* memory = std::aligned_alloc(kLargePage, rounded);
#if defined(MADV_HUGEPAGE)
    if (memory) madvise(memory, rounded, MADV_HUGEPAGE);  // a hint; failure changes nothing
#endif
    return memory;
}

void FreeLargeBlock(void* memory) {
    std::free(memory);
}

namespace {

size_t SmallPage() {
    static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

// Bytes mapped for a zeroed block: whole large pages, but a tail of less than half a large page
// in small pages, where a large page would mostly be resident for nothing.
size_t ZeroedMappingBytes(size_t bytes) {
    const size_t largeSpan = bytes / kLargePage * kLargePage;
    const size_t tail = bytes - largeSpan;
    if (tail >= kLargePage / 2) return largeSpan + kLargePage;
    return largeSpan + (tail + SmallPage() - 1) / SmallPage() * SmallPage();
}

// Maps length bytes starting on a large-page boundary: a large page more is mapped, and what
// lies before the boundary and after the block is given back.
void* MapOnLargePageBoundary(size_t length) {
    if (length > SIZE_MAX - kLargePage) return nullptr;
    void* mapped = ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kLargePage - 1) & ~static_cast<uintptr_t>(kLargePage - 1);
    const uintptr_t end = start + length + kLargePage;
    if (aligned > start) ::munmap(mapped, aligned - start);
    if (end > aligned + length) {
        ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    }
    return reinterpret_cast<void*>(aligned);
}

}  // namespace

void* AllocateZeroedMemory(size_t bytes) {
    if (bytes == 0) bytes = 1;
    if (bytes > SIZE_MAX / 2) return nullptr;
    const size_t length = ZeroedMappingBytes(bytes);
    const size_t largeSpan = length / kLargePage * kLargePage;
    void* memory = nullptr;
    if (largeSpan != 0) {
        memory = MapOnLargePageBoundary(length);
    } else {
        memory =
            ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) memory = nullptr;
    }
    if (!memory) return nullptr;
#if defined(MADV_HUGEPAGE)
    // A hint: where it fails, the pages are small ones.
    if (largeSpan != 0) ::madvise(memory, largeSpan, MADV_HUGEPAGE);
#endif
    return memory;
}

void FreeZeroedMemory(void* memory, size_t bytes) {
    if (memory) ::munmap(memory, ZeroedMappingBytes(bytes == 0 ? 1 : bytes));
}

void SleepMilliseconds(unsigned milliseconds) {
    struct timespec request = {static_cast<time_t>(milliseconds / 1000),
                               static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

void YieldThread() {
    ::sched_yield();
}

uint64_t MonotonicMilliseconds() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

namespace {

struct ThreadStart {
    void (*entry)(void*);
    void* argument;
    pthread_t thread;
#if defined(__linux__)
    cpu_set_t allowed;  // the creator's processors, which the thread takes back once it runs
    bool steered;
#endif
};

#if defined(__linux__)
// A new thread is queued on its creator's processor, and the system may leave it there for
// milliseconds while another processor idles: a worker created for parallel work would then
// share a processor with the thread it is meant to help. It starts instead on one of the
// creator's other processors, when it has any.
void SteerAwayFromCreator(ThreadStart& start, pthread_attr_t& attributes) {
    start.steered = false;
    if (::sched_getaffinity(0, sizeof start.allowed, &start.allowed) != 0) return;
    const int creator = ::sched_getcpu();
    if (creator < 0 || creator >= CPU_SETSIZE || !CPU_ISSET(creator, &start.allowed) ||
        CPU_COUNT(&start.allowed) < 2) {
        return;
    }
    cpu_set_t others = start.allowed;
    CPU_CLR(creator, &others);
    start.steered = ::pthread_attr_setaffinity_np(&attributes, sizeof others, &others) == 0;
}
#endif

void* RunThread(void* start) {
    const ThreadStart* what = static_cast<ThreadStart*>(start);
#if defined(__linux__)
    if (what->steered) ::sched_setaffinity(0, sizeof what->allowed, &what->allowed);
#endif
    what->entry(what->argument);
    return nullptr;
}

}  // namespace

ThreadHandle StartThread(void (*entry)(void*), void* argument) {
    ThreadStart* start = new (std::nothrow) ThreadStart{};
    if (!start) return nullptr;
    start->entry = entry;
    start->argument = argument;
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) {
        delete start;
        return nullptr;
    }
#if defined(__linux__)
    SteerAwayFromCreator(*start, attributes);
#endif
    bool started = ::pthread_create(&start->thread, &attributes, RunThread, start) == 0;
    ::pthread_attr_destroy(&attributes);
#if defined(__linux__)
    if (!started && start->steered) {
        start->steered = false;
        started = ::pthread_create(&start->thread, nullptr, RunThread, start) == 0;
    }
#endif
    if (started) return start;
    delete start;
    return nullptr;
}

void JoinThread(ThreadHandle thread) {
    ThreadStart* start = static_cast<ThreadStart*>(thread);
    if (!start) return;
    ::pthread_join(start->thread, nullptr);
    delete start;
}

int32_t ProcessorCount() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return CPU_COUNT(&allowed);
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int32_t>(online) : 1;
}

struct Monitor {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
};

Monitor* CreateMonitor() {
    Monitor* monitor = new (std::nothrow) Monitor;
    if (!monitor) return nullptr;
    ::pthread_mutex_init(&monitor->mutex, nullptr);
    ::pthread_cond_init(&monitor->condition, nullptr);
    return monitor;
}

void DestroyMonitor(Monitor* monitor) {
    if (!monitor) return;
    ::pthread_cond_destroy(&monitor->condition);
    ::pthread_mutex_destroy(&monitor->mutex);
    delete monitor;
}

void Lock(Monitor* monitor) {
    ::pthread_mutex_lock(&monitor->mutex);
}

void Unlock(Monitor* monitor) {
    ::pthread_mutex_unlock(&monitor->mutex);
}

void Wait(Monitor* monitor) {
    ::pthread_cond_wait(&monitor->condition, &monitor->mutex);
}

void WakeAll(Monitor* monitor) {
    ::pthread_cond_broadcast(&monitor->condition);
}

LibraryHandle LoadLibraryByName(const char* name) {
    return name ? ::dlopen(name, RTLD_NOW | RTLD_LOCAL) : nullptr;
}

void* LookUpEntry(LibraryHandle library, const char* name) {
    return library && name ? ::dlsym(library, name) : nullptr;
}

void UnloadLibrary(LibraryHandle library) {
    if (library) ::dlclose(library);
}

size_t ModuleDirectory(char* out, size_t capacity) {
    if (!out || capacity == 0) return 0;
    out[0] = '\0';
    Dl_info info;
    if (!::dladdr(reinterpret_cast<void*>(&ModuleDirectory), &info) || !info.dli_fname) return 0;
    const char* name = info.dli_fname;
    const char* slash = std::strrchr(name, '/');
    if (!slash || slash == name) return 0;
    size_t length = static_cast<size_t>(slash - name) + 1;
    if (length >= capacity) return 0;
    std::memcpy(out, name, length);
    out[length] = '\0';
    return length;
}

const char* LogMarkerPath() {
    return D2U_LOG_MARKER_PATH;
}
const char* DiagnosticsLibraryName() {
    return "libZoridaZera_.so";
}
const char* PackFilterLibraryName() {
    return "libdvdscript.so";
}
char PathSeparator() {
    return '/';
}

}  // namespace platform
}  // namespace d2u

#endif  // !_WIN32
