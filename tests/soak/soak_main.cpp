// d2udir_soak: random call sequences on valid and damaged inputs in one process, with the memory
// of the process watched for growth after warm-up; or, with --write-damaged, a damaged corpus.
//
//   d2udir_soak [--sequences N] [--seed S]
//   d2udir_soak --write-damaged DIR [--per-kind N] [--seed S]
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "soak/api_sequence.h"
#include "soak/soak_inputs.h"
#include "support/test_env.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime (its header does not come with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define D2U_SOAK_SANITIZER 1
#endif

namespace d2u {
namespace soak {
namespace {

struct Options {
    int64_t sequences = 10000;
    uint32_t seed = 1;
    std::string damagedDir;
    int perKind = 6;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--sequences") {
            options.sequences = std::strtoll(value, nullptr, 10);
        } else if (name == "--seed") {
            options.seed = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
        } else if (name == "--write-damaged") {
            options.damagedDir = value;
        } else if (name == "--per-kind") {
            options.perKind = std::atoi(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && options.sequences > 0 && options.perKind > 0;
}

int WriteDamagedCorpus(const std::vector<SoakInput>& inputs, const Options& options) {
    std::mt19937 random(options.seed);
    int written = 0;
    for (const SoakInput& input : inputs) {
        std::string stem = options.damagedDir + "/" + input.name.substr(0, input.name.rfind('.'));
        for (int kind = 0; kind < static_cast<int>(Damage::kCount); ++kind) {
            Damage damage = static_cast<Damage>(kind);
            if (!DamageApplies(input.kind, damage)) continue;
            for (int n = 0; n < (damage == Damage::kNone ? 1 : options.perKind); ++n, ++written) {
                std::string path = stem + "-" + DamageName(damage) + "-" + std::to_string(n) +
                                   ExtensionOf(input.kind);
                if (!test::WriteFileBytes(path, ApplyDamage(input, damage, random))) {
                    std::fprintf(stderr, "cannot write %s\n", path.c_str());
                    return 1;
                }
            }
        }
    }
    std::printf("wrote %d files to %s\n", written, options.damagedDir.c_str());
    return 0;
}

// Bytes the allocator has handed out and not got back (-1 where it cannot tell), and the
// resident set size.
struct MemorySample {
    int64_t heap = -1;
    int64_t resident = -1;
};

MemorySample SampleMemory() {
    MemorySample sample;
#if defined(D2U_SOAK_SANITIZER)
    sample.heap = static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    struct mallinfo2 info = mallinfo2();
    sample.heap = static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, pages = 0;
    if (statm >> size >> pages) sample.resident = pages * sysconf(_SC_PAGESIZE);
    return sample;
}

constexpr int64_t kHeapMargin = 128 * 1024;
// Resident size also moves with fragmentation, hence the wider margin; under the sanitizers
// the quarantine keeps freed memory resident and only the heap figure is judged.
#if defined(D2U_SOAK_SANITIZER)
constexpr int64_t kResidentMargin = -1;
#else
constexpr int64_t kResidentMargin = 16 * 1024 * 1024;
#endif

struct Window {
    int64_t minHeap = -1, maxHeap = -1, minResident = -1;
};

// Samples from..to (1-based sequence numbers, both included).
Window Over(const std::vector<MemorySample>& samples, size_t from, size_t to) {
    Window window;
    auto smaller = [](int64_t a, int64_t b) { return a < 0 ? b : std::min(a, b); };
    for (size_t n = std::max<size_t>(from, 1); n <= to && n <= samples.size(); ++n) {
        window.minHeap = smaller(window.minHeap, samples[n - 1].heap);
        window.maxHeap = std::max(window.maxHeap, samples[n - 1].heap);
        window.minResident = smaller(window.minResident, samples[n - 1].resident);
    }
    return window;
}

std::string KiB(int64_t bytes) {
    return bytes < 0 ? "n/a" : std::to_string(bytes / 1024) + " KiB";
}

// After warm-up (the first 20% of the sequences) memory must not grow. The library keeps some
// state between sequences (the preview's objects size their buffers to the last preview), so
// single samples move up and down; a leak lifts the floor. The smallest sample of the last 20%
// may not exceed the smallest between the 10% and 20% marks by more than the margin, and no
// heap sample after warm-up may exceed the largest of that window by more than 8 margins.
bool MemoryStaysFlat(const std::vector<MemorySample>& samples, std::string& report) {
    const size_t count = samples.size();
    Window warm = Over(samples, count / 10, count / 5);
    Window after = Over(samples, count / 5 + 1, count);
    Window last = Over(samples, count - count / 5, count);
    bool flat = warm.minHeap < 0 || (last.minHeap <= warm.minHeap + kHeapMargin &&
                                     after.maxHeap <= warm.maxHeap + 8 * kHeapMargin);
    if (kResidentMargin >= 0 && warm.minResident >= 0) {
        flat = flat && last.minResident <= warm.minResident + kResidentMargin;
    }
    report = "heap in use: 10-20% " + KiB(warm.minHeap) + " to " + KiB(warm.maxHeap) +
             ", last 20% from " + KiB(last.minHeap) + ", highest after warm-up " +
             KiB(after.maxHeap) + " (margin " + KiB(kHeapMargin) + "); resident: 10-20% from " +
             KiB(warm.minResident) + ", last 20% from " + KiB(last.minResident) + " (margin " +
             KiB(kResidentMargin) + ")";
    return flat;
}

int RunSoak(const std::vector<SoakInput>& inputs, const Options& options) {
    std::mt19937 random(options.seed);
    const std::string prefix = test::WorkPath("soak_run_" + std::to_string(options.seed));
    std::vector<MemorySample> samples;
    samples.reserve(static_cast<size_t>(options.sequences));  // its own growth would count
    int64_t calls = 0;
    for (int64_t sequence = 1; sequence <= options.sequences; ++sequence) {
        const SoakInput& input = inputs[random() % inputs.size()];
        Damage damage =
            random() % 4 == 0
                ? Damage::kNone
                : static_cast<Damage>(1 + random() % (static_cast<int>(Damage::kCount) - 1));
        uint32_t sequenceSeed = static_cast<uint32_t>(random());
        std::mt19937 damageRandom(sequenceSeed);
        Bytes bytes = ApplyDamage(input, damage, damageRandom);
        ApiSequence run(input, bytes, sequenceSeed, prefix);
        if (!run.Run()) {
            std::string keep = prefix + "-failed" + ExtensionOf(input.kind);
            test::WriteFileBytes(keep, bytes);
            std::fprintf(stderr, "sequence %lld (%s, %s, seed %u): %s; input kept as %s\n",
                         static_cast<long long>(sequence), input.name.c_str(), DamageName(damage),
                         sequenceSeed, run.error().c_str(), keep.c_str());
            return 1;
        }
        calls += run.calls();
        samples.push_back(SampleMemory());
    }
    std::string report;
    bool flat = MemoryStaysFlat(samples, report);
    std::printf("%lld sequences, %lld calls, seed %u; %s\n",
                static_cast<long long>(options.sequences), static_cast<long long>(calls),
                options.seed, report.c_str());
    if (flat) return 0;
    std::fprintf(stderr, "memory grew after warm-up\n");
    for (size_t n = 0; n < samples.size(); n += std::max<size_t>(1, samples.size() / 50)) {
        std::fprintf(stderr, "  after %zu: heap %s, resident %s\n", n + 1,
                     KiB(samples[n].heap).c_str(), KiB(samples[n].resident).c_str());
    }
    return 1;
}

}  // namespace
}  // namespace soak
}  // namespace d2u

int main(int argc, char** argv) {
    using namespace d2u::soak;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: d2udir_soak [--sequences N] [--seed S]\n"
                     "       d2udir_soak --write-damaged DIR [--per-kind N] [--seed S]\n");
        return 2;
    }
    std::vector<SoakInput> inputs = MakeValidInputs();
    if (inputs.size() < 2) {
        std::fprintf(stderr, "the test streams could not be made (ffmpeg missing?)\n");
        return 1;
    }
    if (!options.damagedDir.empty()) return WriteDamagedCorpus(inputs, options);
    return RunSoak(inputs, options);
}
