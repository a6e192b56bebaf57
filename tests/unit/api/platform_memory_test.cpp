#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace d2u {
namespace {

constexpr size_t kLargePage = size_t{2} << 20;

bool AllZero(const uint8_t* data, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        if (data[i] != 0) return false;
    }
    return true;
}

// Blocks read as zero over their whole length, whatever the size (under a small page, just
// under and over half a large page of tail, whole and partial large pages), hold what is written
// to their first and last byte, and come back zeroed after a block of the same size was dirtied
// and released.
TEST(PlatformMemory, ZeroedBlocksOfEverySize) {
    const size_t sizes[] = {2,
                            4095,
                            100000,
                            kLargePage / 2 - 1,
                            kLargePage / 2,
                            kLargePage,
                            kLargePage + 4096,
                            kLargePage * 3 / 2 + 1,
                            3 * kLargePage + 12345};
    for (size_t bytes : sizes) {
        SCOPED_TRACE(std::to_string(bytes) + " bytes");
        for (int round = 0; round < 2; ++round) {
            auto* data = static_cast<uint8_t*>(platform::AllocateZeroedMemory(bytes));
            ASSERT_NE(data, nullptr);
            EXPECT_TRUE(AllZero(data, bytes));
            data[0] = 1;
            data[bytes - 1] = 2;
            EXPECT_EQ(data[0], 1);
            EXPECT_EQ(data[bytes - 1], 2);
            std::memset(data, 0xA5, bytes);
            platform::FreeZeroedMemory(data, bytes);
        }
    }
    platform::FreeZeroedMemory(nullptr, 100);
}

// Blocks that hold whole large pages start on a large-page boundary, the condition for the
// system to back them with large pages at all.
TEST(PlatformMemory, LargeBlocksStartOnLargePageBoundaries) {
#if defined(_WIN32)
    GTEST_SKIP() << "large pages are not asked for on Windows";
#else
    for (size_t bytes : {kLargePage, kLargePage * 5 / 2, kLargePage * 3 / 4}) {
        void* data = platform::AllocateZeroedMemory(bytes);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % kLargePage, 0u) << bytes;
        platform::FreeZeroedMemory(data, bytes);
    }
#endif
}

}  // namespace
}  // namespace d2u
