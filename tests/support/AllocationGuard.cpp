#include "support/AllocationGuard.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace trelvo::test {

namespace {
thread_local int tGuardDepth = 0;
std::atomic<std::uint64_t> gViolations{0};

void* allocate(std::size_t size) {
    if (tGuardDepth > 0) gViolations.fetch_add(1, std::memory_order_relaxed);
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
} // namespace

AllocationGuard::AllocationGuard() { ++tGuardDepth; }
AllocationGuard::~AllocationGuard() { --tGuardDepth; }
std::uint64_t AllocationGuard::violations() { return gViolations.load(); }

} // namespace trelvo::test

void* operator new(std::size_t size) { return trelvo::test::allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return trelvo::test::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return trelvo::test::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void* operator new[](std::size_t size) { return trelvo::test::allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
