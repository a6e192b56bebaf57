// d2udir_soak: random call sequences on valid and damaged inputs in one process, with the memory
// of the process watched for growth after warm-up; or, with --write-damaged, a damaged corpus.
//
//   d2udir_soak [--sequences N] [--seed S]
//   d2udir_soak --write-damaged DIR [--per-kind N] [--seed S]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "soak/api_sequence.h"
#include "soak/memory_watch.h"
#include "soak/soak_inputs.h"
#include "support/test_env.h"

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
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) return false;
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
    return options.sequences > 0 && options.perKind > 0;
}

Damage RandomDamage(std::mt19937& random) {
    if (random() % 4 == 0) return Damage::kNone;
    return static_cast<Damage>(1 + random() % (static_cast<uint32_t>(Damage::kCount) - 1));
}

int WriteDamagedCorpus(const std::vector<SoakInput>& inputs, const Options& options) {
    std::mt19937 random(options.seed);
    int written = 0;
    for (const SoakInput& input : inputs) {
        std::string stem = options.damagedDir + "/" + input.name.substr(0, input.name.rfind('.'));
        for (int kind = 0; kind < static_cast<int>(Damage::kCount); ++kind) {
            Damage damage = static_cast<Damage>(kind);
            bool subtitle = input.kind == InputKind::kSubtitle;
            bool videoOnly = damage == Damage::kSwapUnits || damage == Damage::kHeaderValues ||
                             damage == Damage::kQuantMatrices;
            if ((damage == Damage::kSubtitleFields && !subtitle) || (videoOnly && subtitle))
                continue;
            int copies = damage == Damage::kNone ? 1 : options.perKind;
            for (int n = 0; n < copies; ++n) {
                std::string path = stem + "-" + DamageName(damage) + "-" + std::to_string(n) +
                                   ExtensionOf(input.kind);
                if (!WriteBytes(path, ApplyDamage(input, damage, random))) {
                    std::fprintf(stderr, "cannot write %s\n", path.c_str());
                    return 1;
                }
                ++written;
            }
        }
    }
    std::printf("wrote %d files to %s\n", written, options.damagedDir.c_str());
    return 0;
}

constexpr int64_t kHeapMargin = 128 * 1024;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int64_t kResidentMargin = -1;  // only the heap figure is judged
#else
constexpr int64_t kResidentMargin = 16 * 1024 * 1024;
#endif

int RunSoak(const std::vector<SoakInput>& inputs, const Options& options) {
    std::mt19937 random(options.seed);
    const std::string prefix = test::WorkPath("soak_run_" + std::to_string(options.seed));
    std::vector<MemorySample> samples;
    samples.reserve(static_cast<size_t>(options.sequences));  // its own growth would count
    int64_t calls = 0;
    for (int64_t sequence = 1; sequence <= options.sequences; ++sequence) {
        const SoakInput& input = inputs[random() % inputs.size()];
        Damage damage = RandomDamage(random);
        uint32_t sequenceSeed = static_cast<uint32_t>(random());
        std::mt19937 damageRandom(sequenceSeed);
        Bytes bytes = ApplyDamage(input, damage, damageRandom);
        ApiSequence run(input, bytes, sequenceSeed, prefix);
        if (!run.Run()) {
            std::string keep = prefix + "-failed" + ExtensionOf(input.kind);
            WriteBytes(keep, bytes);
            std::fprintf(stderr, "sequence %lld (%s, %s, seed %u): %s; input kept as %s\n",
                         static_cast<long long>(sequence), input.name.c_str(), DamageName(damage),
                         sequenceSeed, run.error().c_str(), keep.c_str());
            return 1;
        }
        calls += run.calls();
        samples.push_back(SampleMemory(sequence));
    }
    FlatnessVerdict verdict =
        JudgeFlatness(samples, options.sequences, kHeapMargin, kResidentMargin);
    std::printf("%lld sequences, %lld calls, seed %u; %s\n",
                static_cast<long long>(options.sequences), static_cast<long long>(calls),
                options.seed, verdict.report.c_str());
    if (!verdict.flat) {
        std::fprintf(stderr, "memory grew after warm-up\n");
        const size_t step = std::max<size_t>(1, samples.size() / 50);
        for (size_t i = 0; i < samples.size(); i += step) {
            const MemorySample& sample = samples[i];
            std::fprintf(stderr, "  after %lld: heap %lld, resident %lld\n",
                         static_cast<long long>(sample.sequence),
                         static_cast<long long>(sample.heapInUse),
                         static_cast<long long>(sample.residentBytes));
        }
        return 1;
    }
    return 0;
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
