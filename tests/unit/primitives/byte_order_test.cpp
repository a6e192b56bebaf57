#include "primitives/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace d2u {
namespace {

// Every level turns file bytes into the words a big-endian read gives, for every tail length
// after whole vectors and every start within a vector, and leaves the words around alone.
TEST(ByteOrder, EveryKernelLevelReadsWordsMostSignificantByteFirst) {
    std::mt19937 random(20261206);
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kSse2, KernelLevel::kAvx2}) {
        InstallKernels(level);
        for (int32_t count = 0; count <= 70; ++count) {
            for (int32_t start = 0; start < 8; ++start) {
                SCOPED_TRACE("level " + std::to_string(static_cast<int>(level)) + ", " +
                             std::to_string(count) + " words from " + std::to_string(start));
                std::vector<uint32_t> words(static_cast<size_t>(start + count + 8));
                for (uint32_t& word : words) word = static_cast<uint32_t>(random());
                std::vector<uint32_t> expected = words;
                for (int32_t i = start; i < start + count; ++i) {
                    uint8_t bytes[4];
                    std::memcpy(bytes, &words[i], 4);
                    expected[i] = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                                  (uint32_t{bytes[2]} << 8) | bytes[3];
                }
                SwapWordBytes(words.data() + start, count);
                ASSERT_EQ(words, expected);
            }
        }
    }
    InstallBestKernels();
}

}  // namespace
}  // namespace d2u
