#include "soak/memory_watch.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime (its header does not come with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define D2U_SOAK_SANITIZER_ALLOCATOR 1
#endif

namespace d2u {
namespace soak {
namespace {

int64_t HeapInUse() {
#if defined(D2U_SOAK_SANITIZER_ALLOCATOR)
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

int64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, resident = 0;
    if (!(statm >> size >> resident)) return -1;
    return resident * static_cast<int64_t>(sysconf(_SC_PAGESIZE));
}

constexpr int64_t kNone = -1;

struct Window {
    int64_t minHeap = kNone, maxHeap = kNone;
    int64_t minResident = kNone;
};

int64_t Smaller(int64_t a, int64_t b) {
    return a == kNone ? b : std::min(a, b);
}

Window Over(const std::vector<MemorySample>& samples, int64_t from, int64_t to) {
    Window window;
    for (const MemorySample& sample : samples) {
        if (sample.sequence < from || sample.sequence > to) continue;
        window.minHeap = Smaller(window.minHeap, sample.heapInUse);
        window.maxHeap = std::max(window.maxHeap, sample.heapInUse);
        window.minResident = Smaller(window.minResident, sample.residentBytes);
    }
    return window;
}

std::string KiB(int64_t bytes) {
    return bytes < 0 ? "n/a" : std::to_string(bytes / 1024) + " KiB";
}

}  // namespace

MemorySample SampleMemory(int64_t sequence) {
    MemorySample sample;
    sample.sequence = sequence;
    sample.heapInUse = HeapInUse();
    sample.residentBytes = ResidentBytes();
    return sample;
}

FlatnessVerdict JudgeFlatness(const std::vector<MemorySample>& samples, int64_t sequences,
                              int64_t heapMargin, int64_t residentMargin) {
    FlatnessVerdict verdict;
    Window warm = Over(samples, sequences / 10, sequences / 5);
    Window after = Over(samples, sequences / 5 + 1, sequences);
    Window last = Over(samples, sequences - sequences / 5, sequences);
    if (warm.minHeap >= 0) {
        if (last.minHeap > warm.minHeap + heapMargin) verdict.flat = false;
        if (after.maxHeap > warm.maxHeap + 8 * heapMargin) verdict.flat = false;
    }
    bool judgeResident = residentMargin >= 0;
    if (judgeResident && warm.minResident >= 0 &&
        last.minResident > warm.minResident + residentMargin) {
        verdict.flat = false;
    }
    verdict.report = "heap in use: 10-20% " + KiB(warm.minHeap) + " to " + KiB(warm.maxHeap) +
                     ", last 20% from " + KiB(last.minHeap) + ", highest after warm-up " +
                     KiB(after.maxHeap) + " (margin " + KiB(heapMargin) +
                     "); resident: 10-20% from " + KiB(warm.minResident) + ", last 20% from " +
                     KiB(last.minResident) +
                     (judgeResident ? " (margin " + KiB(residentMargin) + ")" : " (not judged)");
    return verdict;
}

}  // namespace soak
}  // namespace d2u
