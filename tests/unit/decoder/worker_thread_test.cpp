// The threads of the worker pools: a thread started away from its creator's processor keeps
// every processor its creator may use.
#include <gtest/gtest.h>

#include "platform/platform.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace d2u {
namespace test {
namespace {

#if defined(__linux__)
struct SeenByThread {
    cpu_set_t allowed;
    bool ran = false;
};

void RecordAllowedProcessors(void* argument) {
    auto* seen = static_cast<SeenByThread*>(argument);
    seen->ran = ::sched_getaffinity(0, sizeof seen->allowed, &seen->allowed) == 0;
}

TEST(WorkerThread, MayRunWhereverItsCreatorMay) {
    cpu_set_t creator;
    ASSERT_EQ(::sched_getaffinity(0, sizeof creator, &creator), 0);
    SeenByThread seen;
    CPU_ZERO(&seen.allowed);
    platform::ThreadHandle thread = platform::StartThread(RecordAllowedProcessors, &seen);
    ASSERT_NE(thread, nullptr);
    platform::JoinThread(thread);
    ASSERT_TRUE(seen.ran);
    EXPECT_TRUE(CPU_EQUAL(&creator, &seen.allowed))
        << CPU_COUNT(&seen.allowed) << " of " << CPU_COUNT(&creator) << " processors";
}
#endif

}  // namespace
}  // namespace test
}  // namespace d2u
