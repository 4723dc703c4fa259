// The counter must see what it is there to catch, or a test of "no allocation" proves nothing.
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace tavrin::test {
namespace {

TEST(AllocationCounterTest, CountsOnlyArmedThreads) {
    if (!kAllocationsCounted) {
        GTEST_SKIP() << "a sanitizer keeps its own allocator; the release build counts";
    }
    ResetAllocationCount();
    std::thread unarmed([] { auto block = std::make_unique<std::vector<int>>(100); });
    unarmed.join();
    EXPECT_EQ(AllocationsOnArmedThreads(), 0u);

    std::thread armed([] {
        ArmAllocationCountOnThisThread();
        auto block = std::make_unique<std::vector<int>>(100);  // the vector and its storage
        DisarmAllocationCountOnThisThread();
        auto after = std::make_unique<int>(1);
    });
    armed.join();
    EXPECT_EQ(AllocationsOnArmedThreads(), 2u);
}

}  // namespace
}  // namespace tavrin::test
