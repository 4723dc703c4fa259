#include "tests/support/allocation_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::uint64_t> g_allocations{0};
thread_local bool t_armed = false;

#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)

void* Allocate(std::size_t size, std::align_val_t alignment) {
    if (t_armed) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (size == 0) {
        size = 1;
    }
    const auto align = static_cast<std::size_t>(alignment);
    void* block = align > alignof(std::max_align_t)
                      ? std::aligned_alloc(align, (size + align - 1) / align * align)
                      : std::malloc(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}
#endif

}  // namespace

namespace tavrin::test {

void ArmAllocationCountOnThisThread() { t_armed = true; }
void DisarmAllocationCountOnThisThread() { t_armed = false; }
std::uint64_t AllocationsOnArmedThreads() { return g_allocations.load(); }
void ResetAllocationCount() { g_allocations.store(0); }

}  // namespace tavrin::test

#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
// The replaced global allocation functions; every other form forwards to these.
void* operator new(std::size_t size) {
    return Allocate(size, std::align_val_t{alignof(std::max_align_t)});
}
void* operator new[](std::size_t size) {
    return Allocate(size, std::align_val_t{alignof(std::max_align_t)});
}
void* operator new(std::size_t size, std::align_val_t alignment) { return Allocate(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return Allocate(size, alignment);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
#endif
