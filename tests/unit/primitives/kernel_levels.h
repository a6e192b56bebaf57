// Running a check with the kernels of each level this machine has.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "primitives/kernel_dispatch.h"

namespace d2u::test {

template <class T = uint8_t>
std::vector<T> RandomVector(size_t count, std::mt19937& random) {
    std::vector<T> values(count);
    for (T& value : values) value = static_cast<T>(random());
    return values;
}

// Runs `check` with the kernels of each level from `first` up to the best this machine has, then
// puts the best ones back.
template <class Check>
void AtEveryLevel(Check check, int first = 0) {
    for (int level = first; level <= static_cast<int>(DetectKernelLevel()); ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        InstallKernels(static_cast<KernelLevel>(level));
        check();
    }
    InstallBestKernels();
}

// The decoder's output must not depend on the machine: the result of `run` (a vector) at each SIMD
// level must be the scalar one, bit for bit.
template <class Run>
void ExpectEveryLevelGivesTheScalarResult(Run run) {
    InstallKernels(KernelLevel::kScalar);
    const auto scalar = run();
    AtEveryLevel(
        [&] {
            const auto result = run();
            ASSERT_EQ(result.size(), scalar.size());
            for (size_t i = 0; i < scalar.size(); ++i)
                ASSERT_EQ(result[i], scalar[i]) << "item " << i;
        },
        1);
}

}  // namespace d2u::test
