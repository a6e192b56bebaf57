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
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

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

namespace d2u::soak {
namespace {

using fuzz::Target;

// The target on the input behind random control bytes; when none is given, a random target that
// fits the input: the subtitle target for three in four subtitle files, any other otherwise.
void RunTarget(const Target* target, const SoakInput& input, std::mt19937& random) {
    for (bool subtitle = input.kind == InputKind::kSubtitle && random() % 4 != 0; !target;) {
        const Target& pick = fuzz::Targets()[random() % fuzz::Targets().size()];
        if ((std::string(pick.name) == "subtitle") == subtitle) target = &pick;
    }
    Bytes bytes(target->controlBytes);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    bytes.insert(bytes.end(), input.bytes.begin(), input.bytes.end());
    target->run(bytes.data(), bytes.size());
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
    const int32_t opened = D2uDirLoadFile(path.c_str(), &handle);
    require(opened == 0 || opened == -1 || opened == -2008, "D2uDirLoadFile", opened);
    if (!handle) return failure;
    // Each picture needs a start code, so a decode of a file ends within this many calls.
    const size_t maxCalls = bytes.size() / 4 + 8;
    size_t calls = 0;
    for (D2uFrame* frame = nullptr; calls < maxCalls; ++calls) {
        const int32_t result = GetMpegFrame(&frame, handle);
        require(result == 0 || result == -1, "GetMpegFrame", result);
        if (result != 0) break;
        require(fuzz::FrameIsSound(frame, true), "GetMpegFrame (frame)", result);
    }
    require(calls < maxCalls, "GetMpegFrame (never ending)", 0);
    ResetDecoder(handle);
    D2uDirSetOutputSize(handle, 97, 61);
    Bytes bitmap(97 * 61 * 4);
    for (calls = 0; calls < maxCalls; ++calls) {
        int32_t length = static_cast<int32_t>(bitmap.size()), isReference = 0;
        if (calls % 5 == 2) SkipFrame(handle);
        if (calls == 3) D2uDirSetInputPosition(handle, static_cast<uint32_t>(bytes.size() / 2), 0);
        const int32_t result = GetBitmapData(bitmap.data(), &length, handle, &isReference);
        require(result == 0 || result == -1, "GetBitmapData", result);
        if (result != 0) break;
    }
    require(calls < maxCalls, "GetBitmapData (never ending)", 0);
    const int32_t skipped = SkipDuration(handle, 500, 1);
    require(skipped >= 0 && skipped <= 600, "SkipDuration", skipped);
    FinishDecoding(&handle);
    return failure;
}

// A corpus input of its target as it is, then with each damage that fits its stream (a subtitle
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

// Every file named, and every file of every folder named, in order: a corpus input through its
// target, any other file through the checked decode and then every fuzz target a few times
// (which can only fail by a fault the sanitizers or the time limit catch).
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
        const SoakInput input{"", InputKind::kElementary, test::ReadFileBytes(file)};
        const std::string folder = std::filesystem::path(file).parent_path().filename();
        const bool readable = test::FileExists(file);
        const Target* target = nullptr;
        for (const Target& each : fuzz::Targets()) target = folder == each.name ? &each : target;
        if (target && readable) {
            ReplayCorpusInput(*target, input.bytes);
            continue;
        }
        const std::string failure = readable ? DecodeFailure(file, input.bytes) : "cannot be read";
        std::mt19937 random(1);
        for (int round = 0; readable && round < 4; ++round) {
            for (const Target& each : fuzz::Targets()) RunTarget(&each, input, random);
        }
        if (failure.empty()) continue;
        std::printf("FAIL %s: %s\n", file.c_str(), failure.c_str());
        ++failures;
    }
    std::printf("%zu files checked, %d failed\n", files.size(), failures);
    return failures || files.empty() ? 1 : 0;
}

// The damaged copies of the inputs, written to files of the folder and then checked when asked.
int WriteDamagedCorpus(const std::vector<SoakInput>& inputs, const std::string& folder, int perKind,
                       uint32_t seed, bool check) {
    std::mt19937 random(seed);
    std::vector<std::string> written;
    std::filesystem::create_directories(folder);
    for (const SoakInput& input : inputs) {
        const std::string stem = folder + "/" + input.name.substr(0, input.name.rfind('.'));
        for (const Damage& damage : Damages()) {
            for (int n = 0;
                 damage.AppliesTo(input.kind) && n < (&damage == &Damages()[0] ? 1 : perKind);
                 ++n) {
                written.push_back(stem + "-" + damage.name + "-" + std::to_string(n) +
                                  ExtensionOf(input.kind));
                if (!test::WriteFileBytes(written.back(), damage.apply(input, random))) {
                    std::fprintf(stderr, "cannot write %s\n", written.back().c_str());
                    return 1;
                }
            }
        }
    }
    std::printf("wrote %zu files to %s\n", written.size(), folder.c_str());
    return check ? CheckFiles(written) : 0;
}

// Heap in use: bytes the allocator has handed out and not got back.
int64_t HeapInUse() {
#if defined(D2U_SOAK_SANITIZER)
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

// After warm-up (the first 20% of the sequences) memory must not grow. The library keeps some
// state between sequences (the preview's objects size their buffers to the last preview), so
// single samples move up and down; a leak lifts the floor. The smallest sample of the last 20%
// may not exceed the smallest between the 10% and 20% marks by more than the margin, and no heap
// sample after warm-up may exceed the largest of that window by more than 8 margins. Resident
// size also moves with fragmentation, hence its wider margin; under the sanitizers the
// quarantine keeps freed memory resident and only the heap is judged.
int RunSoak(const std::vector<SoakInput>& inputs, int64_t sequences, uint32_t seed) {
    std::mt19937 random(seed);
    // Reserved up front: their own growth would count.
    std::vector<int64_t> heap(static_cast<size_t>(sequences)), resident(heap.size());
    const std::vector<Damage>& damages = Damages();
    for (size_t sequence = 0; sequence < heap.size(); ++sequence) {
        const SoakInput& input = inputs[random() % inputs.size()];
        // A quarter of the sequences run on valid inputs, the rest on a damage that applies.
        const Damage* damage = &damages[0];
        while (damage == &damages[0] ? random() % 4 != 0 : !damage->AppliesTo(input.kind)) {
            damage = &damages[1 + random() % (damages.size() - 1)];
        }
        RunTarget(nullptr, {"", input.kind, damage->apply(input, random)}, random);
        int64_t size = 0, pages = -1;
        std::ifstream("/proc/self/statm") >> size >> pages;
        heap[sequence] = HeapInUse();
        resident[sequence] = pages < 0 ? -1 : pages * sysconf(_SC_PAGESIZE);
    }
    const size_t n = heap.size();
    auto range = [](const std::vector<int64_t>& samples, size_t from, size_t to) {
        if (from >= to) return std::pair<int64_t, int64_t>(-1, -1);
        const auto [low, high] = std::minmax_element(samples.begin() + from, samples.begin() + to);
        return std::pair(*low, *high);
    };
    const auto warmHeap = range(heap, n / 10, n / 5), afterHeap = range(heap, n / 5, n);
    const auto lastHeap = range(heap, n - n / 5, n);
    const auto warmResident = range(resident, n / 10, n / 5);
    const auto lastResident = range(resident, n - n / 5, n);
    constexpr int64_t kHeapMargin = 128 << 10;
#if defined(D2U_SOAK_SANITIZER)
    constexpr int64_t kResidentMargin = -1;
#else
    constexpr int64_t kResidentMargin = 16 << 20;
#endif
    const bool flat =
        (warmHeap.first < 0 || (lastHeap.first <= warmHeap.first + kHeapMargin &&
                                afterHeap.second <= warmHeap.second + 8 * kHeapMargin)) &&
        (kResidentMargin < 0 || warmResident.first < 0 ||
         lastResident.first <= warmResident.first + kResidentMargin);
    std::printf(
        "%lld sequences, seed %u; heap in use (KiB): 10-20%% %lld to %lld, last 20%% from %lld, "
        "highest after warm-up %lld; resident (KiB): 10-20%% from %lld, last 20%% from %lld\n",
        static_cast<long long>(sequences), seed, warmHeap.first / 1024LL, warmHeap.second / 1024LL,
        lastHeap.first / 1024LL, afterHeap.second / 1024LL, warmResident.first / 1024LL,
        lastResident.first / 1024LL);
    if (!flat) std::fprintf(stderr, "memory grew after warm-up\n");
    return flat ? 0 : 1;
}

}  // namespace
}  // namespace d2u::soak

int main(int argc, char** argv) {
    using namespace d2u::soak;
    // Every option but --check takes a value; --check takes the paths that follow it.
    std::map<std::string, std::string> values = {
        {"--sequences", "10000"}, {"--seed", "1"}, {"--write-damaged", ""}, {"--per-kind", "6"}};
    std::vector<std::string> checkPaths;
    bool check = false, usable = true;
    for (int i = 1; i < argc && usable; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) {
            check = true;
            while (i + 1 < argc && argv[i + 1][0] != '-') checkPaths.push_back(argv[++i]);
        } else if ((usable = values.count(argv[i]) && i + 1 < argc)) {
            values[argv[i]] = argv[i + 1];
            ++i;
        }
    }
    const int64_t sequences = std::atoll(values["--sequences"].c_str());
    const auto seed = static_cast<uint32_t>(std::atoll(values["--seed"].c_str()));
    const int perKind = std::atoi(values["--per-kind"].c_str());
    const std::string damagedDir = values["--write-damaged"];
    if (!usable || sequences <= 0 || perKind <= 0 ||
        (check && checkPaths.empty() && damagedDir.empty())) {
        std::fprintf(stderr,
                     "usage: d2udir_soak [--sequences N] [--seed S]\n"
                     "       d2udir_soak --write-damaged DIR [--per-kind N] [--seed S] [--check]\n"
                     "       d2udir_soak --check FILE-OR-FOLDER...\n");
        return 2;
    }
    if (check && damagedDir.empty()) return CheckFiles(checkPaths);
    const std::vector<SoakInput> inputs = MakeValidInputs();
    if (inputs.size() < 2) {
        std::fprintf(stderr, "the test streams could not be made (ffmpeg missing?)\n");
        return 1;
    }
    if (damagedDir.empty()) return RunSoak(inputs, sequences, seed);
    return WriteDamagedCorpus(inputs, damagedDir, perKind, seed, check);
}
