#pragma once
// Counts heap allocations made on chosen threads, so a test can show that a real-time path (the
// capture worker's per-buffer work) allocates nothing. Linking tavrin_test_allocations replaces
// the program's global operator new; a thread's allocations count only while it is armed.

#include <cstdint>

namespace tavrin::test {

// False under the sanitizers, whose own operator new must stay in place: ThreadSanitizer's
// suppressions of Qt's internal races go by which library called the allocator, and
// AddressSanitizer pairs each delete with the new that made the block, which a shared library
// takes from it and not from the program. The release build counts.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAllocationsCounted = false;
#else
inline constexpr bool kAllocationsCounted = true;
#endif

// Arms or disarms counting on the calling thread (call it from the thread to watch, e.g. from
// inside a capture tap as it runs on the worker).
void ArmAllocationCountOnThisThread();
void DisarmAllocationCountOnThisThread();

// Allocations made on armed threads since the last reset.
std::uint64_t AllocationsOnArmedThreads();
void ResetAllocationCount();

}  // namespace tavrin::test
