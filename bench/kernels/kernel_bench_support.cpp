#include "kernel_bench_support.h"

#include <random>

#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace bench {
namespace {

struct NamedLevel {
    KernelLevel level;
    const char* name;
};

constexpr NamedLevel kLevels[] = {
    {KernelLevel::kScalar, "scalar"}, {KernelLevel::kSse2, "sse2"}, {KernelLevel::kAvx2, "avx2"}};

}  // namespace

void RegisterAtEveryLevel(const std::string& name, const BenchmarkBody& body) {
    for (const NamedLevel& level : kLevels) {
        std::string fullName = name + "/" + level.name;
        benchmark::RegisterBenchmark(fullName.c_str(), [body, level](benchmark::State& state) {
            InstallKernels(level.level);
            if (level.level > DetectKernelLevel()) {
                state.SkipWithError("this CPU or build has no kernels of this level");
            } else {
                body(state);
            }
            InstallBestKernels();
        });
    }
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& value : bytes) value = static_cast<uint8_t>(byte(random));
    return bytes;
}

std::vector<int16_t> RandomSamples(size_t count, int lowest, int highest, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(lowest, highest);
    std::vector<int16_t> samples(count);
    for (int16_t& value : samples) value = static_cast<int16_t>(sample(random));
    return samples;
}

void ReportItems(benchmark::State& state, int64_t itemsPerIteration, const char* unit) {
    int64_t items = static_cast<int64_t>(state.iterations()) * itemsPerIteration;
    state.counters[unit] =
        benchmark::Counter(static_cast<double>(items), benchmark::Counter::kIsRate);
}

}  // namespace bench
}  // namespace d2u
