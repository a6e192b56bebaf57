// d2udir_soak: the fuzz targets' call sequences, steered by random control bytes, on valid and
// damaged inputs in one process, with the memory of the process watched for growth after
// warm-up; with --write-damaged, a damaged corpus; with --check, files (or the files of folders)
// through a decode that checks documented results, then through the fuzz targets. Files in a
// folder named after a fuzz target (its corpus) are its inputs, control bytes first: they go
// through that target as they are and with the stream behind the control bytes damaged.
//
//   d2udir_soak [--sequences N] [--seed S]
//   d2udir_soak --write-damaged DIR [--per-kind N] [--seed S] [--check]
//   d2udir_soak --check FILE-OR-FOLDER...
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "fuzz_input.h"
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
    bool check = false;
    std::vector<std::string> checkPaths;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--check") {
            options.check = true;
            while (i + 1 < argc && argv[i + 1][0] != '-') options.checkPaths.push_back(argv[++i]);
            continue;
        }
        if (i + 1 == argc) return false;
        const char* value = argv[++i];
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
    return options.sequences > 0 && options.perKind > 0 &&
           (!options.check || !options.checkPaths.empty() || !options.damagedDir.empty());
}

// The fuzz targets; a video input goes to one of the first five, a subtitle file mostly to the
// last.
struct Target {
    const char* name;
    int (*run)(const uint8_t* data, size_t size);
    const size_t& controlBytes;
};
const Target kTargets[] = {
    {"file_decode", fuzz::FileDecode, fuzz::FileDecodeControlBytes},
    {"buffer_decode", fuzz::BufferDecode, fuzz::BufferDecodeControlBytes},
    {"pack_reader", fuzz::PackReader, fuzz::PackReaderControlBytes},
    {"transport_stream", fuzz::TransportStream, fuzz::TransportStreamControlBytes},
    {"header_parser", fuzz::HeaderParser, fuzz::HeaderParserControlBytes},
    {"subtitle", fuzz::Subtitle, fuzz::SubtitleControlBytes}};
constexpr size_t kVideoTargets = 5;

const Target& PickTarget(InputKind kind, std::mt19937& random) {
    if (kind == InputKind::kSubtitle && random() % 4 != 0) return kTargets[kVideoTargets];
    return kTargets[random() % kVideoTargets];
}

// The target on the input behind random control bytes.
void RunTarget(const Target& target, const Bytes& input, std::mt19937& random) {
    Bytes bytes(target.controlBytes);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    bytes.insert(bytes.end(), input.begin(), input.end());
    target.run(bytes.data(), bytes.size());
}

// The damaged copies of the inputs, written to files of the folder; their paths are added to
// `written`.
int WriteDamagedCorpus(const std::vector<SoakInput>& inputs, const Options& options,
                       std::vector<std::string>& written) {
    std::mt19937 random(options.seed);
    for (const SoakInput& input : inputs) {
        std::string stem = options.damagedDir + "/" + input.name.substr(0, input.name.rfind('.'));
        for (const Damage& damage : Damages()) {
            if (!damage.AppliesTo(input.kind)) continue;
            for (int n = 0; n < (&damage == &Damages()[0] ? 1 : options.perKind); ++n) {
                std::string path =
                    stem + "-" + damage.name + "-" + std::to_string(n) + ExtensionOf(input.kind);
                if (!test::WriteFileBytes(path, damage.apply(input, random))) {
                    std::fprintf(stderr, "cannot write %s\n", path.c_str());
                    return 1;
                }
                written.push_back(path);
            }
        }
    }
    std::printf("wrote %zu files to %s\n", written.size(), options.damagedDir.c_str());
    return 0;
}

// A file-driven decode to the end that reads every sample, the same again as scaled bitmaps
// with skips and a jump into the middle: the first call that broke its documented results, ""
// when none did.
std::string DecodeFailure(const std::string& path, const Bytes& bytes) {
    std::string failure;
    auto require = [&](bool condition, const char* call, int32_t result) {
        if (!condition && failure.empty()) failure = call + (" returned " + std::to_string(result));
    };
    D2uHandle handle = 0;
    int32_t opened = D2uDirLoadFile(path.c_str(), &handle);
    require(opened == 0 || opened == -1 || opened == -2008, "D2uDirLoadFile", opened);
    if (handle) {
        // Each picture needs a start code, so a decode of a file ends within this many calls.
        const size_t maxCalls = bytes.size() / 4 + 8;
        size_t calls = 0;
        for (D2uFrame* frame = nullptr; calls < maxCalls; ++calls) {
            int32_t result = GetMpegFrame(&frame, handle);
            require(result == 0 || result == -1, "GetMpegFrame", result);
            if (result != 0) break;
            require(FrameIsSound(frame, true), "GetMpegFrame (frame)", result);
        }
        require(calls < maxCalls, "GetMpegFrame (never ending)", 0);
        ResetDecoder(handle);
        D2uDirSetOutputSize(handle, 97, 61);
        Bytes bitmap(97 * 61 * 4);
        for (calls = 0; calls < maxCalls; ++calls) {
            int32_t length = static_cast<int32_t>(bitmap.size()), isReference = 0;
            if (calls % 5 == 2) SkipFrame(handle);
            if (calls == 3)
                D2uDirSetInputPosition(handle, static_cast<uint32_t>(bytes.size() / 2), 0);
            int32_t result = GetBitmapData(bitmap.data(), &length, handle, &isReference);
            require(result == 0 || result == -1, "GetBitmapData", result);
            if (result != 0) break;
        }
        require(calls < maxCalls, "GetBitmapData (never ending)", 0);
        int32_t skipped = SkipDuration(handle, 500, 1);
        require(skipped >= 0 && skipped <= 600, "SkipDuration", skipped);
        FinishDecoding(&handle);
    }
    return failure;
}

// The checked decode, then every fuzz target a few times, which can only fail by a fault the
// sanitizers or the time limit catch.
std::string CheckFile(const std::string& path) {
    const Bytes bytes = test::ReadFileBytes(path);
    const std::string failure = DecodeFailure(path, bytes);
    std::mt19937 random(1);
    for (int round = 0; round < 4; ++round) {
        for (const Target& target : kTargets) RunTarget(target, bytes, random);
    }
    return failure;
}

// A corpus input of the target as it is, then with each damage that fits its stream (a subtitle
// file when it has no start code, a program stream when it starts with a pack) a few times.
void ReplayCorpusInput(const Target& target, const Bytes& input) {
    target.run(input.data(), input.size());
    if (input.size() <= target.controlBytes + 4) return;
    const auto body = input.begin() + static_cast<std::ptrdiff_t>(target.controlBytes);
    const uint8_t startCode[] = {0, 0, 1};
    const auto first = std::search(body, input.end(), startCode, startCode + 3);
    const InputKind kind = input.end() - first < 4 ? InputKind::kSubtitle
                           : first[3] == 0xBA      ? InputKind::kProgram
                                                   : InputKind::kElementary;
    const SoakInput stream{"", kind, Bytes(body, input.end())};
    for (const Damage& damage : Damages()) {
        if (&damage == &Damages()[0] || !damage.AppliesTo(kind)) continue;  // the first: none
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            std::mt19937 random(seed + static_cast<uint32_t>(input.size()));
            Bytes damaged(input.begin(), body);
            const Bytes tail = damage.apply(stream, random);
            damaged.insert(damaged.end(), tail.begin(), tail.end());
            target.run(damaged.data(), damaged.size());
        }
    }
}

const Target* CorpusTarget(const std::string& file) {
    const std::string folder = std::filesystem::path(file).parent_path().filename();
    for (const Target& target : kTargets) {
        if (folder == target.name) return &target;
    }
    return nullptr;
}

// Every file named, and every file of every folder named, in order.
int CheckFiles(const std::vector<std::string>& paths) {
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        std::error_code error;
        std::vector<std::string> inside;
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            if (entry.path().filename().string()[0] != '.') inside.push_back(entry.path());
        }
        std::sort(inside.begin(), inside.end());
        if (error) inside = {path};
        files.insert(files.end(), inside.begin(), inside.end());
    }
    int failures = 0;
    for (const std::string& file : files) {
        const Target* target = CorpusTarget(file);
        const bool readable = test::FileExists(file);
        if (target && readable) {
            ReplayCorpusInput(*target, test::ReadFileBytes(file));
            continue;
        }
        const std::string failure = readable ? CheckFile(file) : "cannot be read";
        if (failure.empty()) continue;
        std::printf("FAIL %s: %s\n", file.c_str(), failure.c_str());
        ++failures;
    }
    std::printf("%zu files checked, %d failed\n", files.size(), failures);
    return failures || files.empty() ? 1 : 0;
}

constexpr int64_t kHeapMargin = 128 * 1024;
// Resident size also moves with fragmentation, hence the wider margin; under the sanitizers
// the quarantine keeps freed memory resident and only the heap figure is judged.
#if defined(D2U_SOAK_SANITIZER)
constexpr int64_t kResidentMargin = -1;
#else
constexpr int64_t kResidentMargin = 16 * 1024 * 1024;
#endif

std::string KiB(int64_t bytes) {
    return bytes < 0 ? "n/a" : std::to_string(bytes / 1024) + " KiB";
}

// The smallest and largest of the samples from..to-1; -1 where there are none.
std::pair<int64_t, int64_t> Range(const std::vector<int64_t>& samples, size_t from, size_t to) {
    if (from >= to) return {-1, -1};
    auto [low, high] = std::minmax_element(samples.begin() + static_cast<std::ptrdiff_t>(from),
                                           samples.begin() + static_cast<std::ptrdiff_t>(to));
    return {*low, *high};
}

// Bytes the allocator has handed out and not got back, and the resident set size, after each
// sequence (-1 where they cannot be told).
struct MemoryWatch {
    std::vector<int64_t> heap, resident;

    void Sample() {
        int64_t inUse = -1, pages = -1, size = 0;
#if defined(D2U_SOAK_SANITIZER)
        inUse = static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
        struct mallinfo2 info = mallinfo2();
        inUse = static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
        std::ifstream("/proc/self/statm") >> size >> pages;
        heap.push_back(inUse);
        resident.push_back(pages < 0 ? -1 : pages * sysconf(_SC_PAGESIZE));
    }

    // After warm-up (the first 20% of the sequences) memory must not grow. The library keeps
    // some state between sequences (the preview's objects size their buffers to the last
    // preview), so single samples move up and down; a leak lifts the floor. The smallest sample
    // of the last 20% may not exceed the smallest between the 10% and 20% marks by more than
    // the margin, and no heap sample after warm-up may exceed the largest of that window by
    // more than 8 margins.
    bool Flat(std::string& report) const {
        const size_t n = heap.size();
        auto warmHeap = Range(heap, n / 10, n / 5), afterHeap = Range(heap, n / 5, n);
        auto lastHeap = Range(heap, n - n / 5, n);
        auto warmResident = Range(resident, n / 10, n / 5);
        auto lastResident = Range(resident, n - n / 5, n);
        bool flat = warmHeap.first < 0 || (lastHeap.first <= warmHeap.first + kHeapMargin &&
                                           afterHeap.second <= warmHeap.second + 8 * kHeapMargin);
        if (kResidentMargin >= 0 && warmResident.first >= 0) {
            flat = flat && lastResident.first <= warmResident.first + kResidentMargin;
        }
        report = "heap in use: 10-20% " + KiB(warmHeap.first) + " to " + KiB(warmHeap.second) +
                 ", last 20% from " + KiB(lastHeap.first) + ", highest after warm-up " +
                 KiB(afterHeap.second) + " (margin " + KiB(kHeapMargin) +
                 "); resident: 10-20% from " + KiB(warmResident.first) + ", last 20% from " +
                 KiB(lastResident.first) + " (margin " + KiB(kResidentMargin) + ")";
        return flat;
    }
};

int RunSoak(const std::vector<SoakInput>& inputs, const Options& options) {
    std::mt19937 random(options.seed);
    MemoryWatch memory;  // its own growth would count
    memory.heap.reserve(static_cast<size_t>(options.sequences));
    memory.resident.reserve(static_cast<size_t>(options.sequences));
    const std::vector<Damage>& damages = Damages();
    for (int64_t sequence = 1; sequence <= options.sequences; ++sequence) {
        const SoakInput& input = inputs[random() % inputs.size()];
        // A quarter of the sequences run on valid inputs, the rest on a damage that applies.
        const Damage* damage = &damages[0];
        while (damage == &damages[0] ? random() % 4 != 0 : !damage->AppliesTo(input.kind)) {
            damage = &damages[1 + random() % (damages.size() - 1)];
        }
        RunTarget(PickTarget(input.kind, random), damage->apply(input, random), random);
        memory.Sample();
    }
    std::string report;
    bool flat = memory.Flat(report);
    std::printf("%lld sequences, seed %u; %s\n", static_cast<long long>(options.sequences),
                options.seed, report.c_str());
    if (flat) return 0;
    std::fprintf(stderr, "memory grew after warm-up\n");
    for (size_t n = 0; n < memory.heap.size(); n += std::max<size_t>(1, memory.heap.size() / 50)) {
        std::fprintf(stderr, "  after %zu: heap %s, resident %s\n", n + 1,
                     KiB(memory.heap[n]).c_str(), KiB(memory.resident[n]).c_str());
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
                     "       d2udir_soak --write-damaged DIR [--per-kind N] [--seed S] [--check]\n"
                     "       d2udir_soak --check FILE-OR-FOLDER...\n");
        return 2;
    }
    if (options.check && options.damagedDir.empty()) return CheckFiles(options.checkPaths);
    std::vector<SoakInput> inputs = MakeValidInputs();
    if (inputs.size() < 2) {
        std::fprintf(stderr, "the test streams could not be made (ffmpeg missing?)\n");
        return 1;
    }
    if (options.damagedDir.empty()) return RunSoak(inputs, options);
    std::vector<std::string> written;
    std::filesystem::create_directories(options.damagedDir);
    const int status = WriteDamagedCorpus(inputs, options, written);
    if (status != 0 || !options.check) return status;
    return CheckFiles(written);
}
