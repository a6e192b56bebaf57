#include "primitives/stream_copy.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace d2u {
namespace {

// Every level copies exactly the bytes asked for, whatever the alignment of either side and the
// length left after whole vectors, and writes nothing around them.
TEST(StreamCopy, EveryKernelLevelCopiesExactlyTheBytesAskedFor) {
    std::mt19937 random(20261207);
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kSse2, KernelLevel::kAvx2}) {
        InstallKernels(level);
        for (size_t bytes : {size_t{0}, size_t{1}, size_t{31}, size_t{64}, size_t{127}, size_t{129},
                             size_t{300}, size_t{4099}}) {
            for (size_t offset = 0; offset < 34; offset += 3) {
                SCOPED_TRACE("level " + std::to_string(static_cast<int>(level)) + ", " +
                             std::to_string(bytes) + " bytes at " + std::to_string(offset));
                std::vector<uint8_t> source(bytes + 40), target(bytes + 80, 0xA5);
                for (uint8_t& byte : source) byte = static_cast<uint8_t>(random());
                std::vector<uint8_t> expected = target;
                std::copy(source.begin() + 5, source.begin() + 5 + bytes,
                          expected.begin() + offset);
                StreamCopy(target.data() + offset, source.data() + 5, bytes);
                ASSERT_EQ(target, expected);
            }
        }
    }
    InstallBestKernels();
}

}  // namespace
}  // namespace d2u
