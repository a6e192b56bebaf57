// Shared pieces of the kernel micro-benchmarks. Every benchmark is registered once per kernel
// level (scalar, SSE2, AVX2) and runs with that level's kernels installed, so the report shows
// each SIMD version next to the scalar reference.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace d2u {
namespace bench {

using BenchmarkBody = std::function<void(benchmark::State&)>;

// Registers NAME/scalar, NAME/sse2 and NAME/avx2. A level that the CPU or the build does not
// offer is reported as skipped.
void RegisterAtEveryLevel(const std::string& name, const BenchmarkBody& body);

// Fixed seeds, so that every run measures the same data.
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);
std::vector<int16_t> RandomSamples(size_t count, int lowest, int highest, uint32_t seed);

// Counts `items` per iteration, named after what they are ("pixels", "blocks", ...).
void ReportItems(benchmark::State& state, int64_t itemsPerIteration, const char* unit);

}  // namespace bench
}  // namespace d2u
