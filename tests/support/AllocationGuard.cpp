#include "support/AllocationGuard.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/RealtimeThread.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TRELVO_GUARD_MALLOC 0
#else
#define TRELVO_GUARD_MALLOC 1
// glibc's own allocator under its exported names: the replacements below count and pass on.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void __libc_free(void* memory);
}
#endif

namespace trelvo::test {

namespace {

std::atomic<std::uint64_t> gAllocations{0};
std::atomic<std::uint64_t> gFrees{0};

inline void countAllocation() noexcept {
    if (platform::inAudioBlock()) gAllocations.fetch_add(1, std::memory_order_relaxed);
}

inline void countFree(const void* memory) noexcept {
    if (memory != nullptr && platform::inAudioBlock()) gFrees.fetch_add(1, std::memory_order_relaxed);
}

void* rawAllocate(std::size_t size) noexcept {
#if TRELVO_GUARD_MALLOC
    return __libc_malloc(size);
#else
    return std::malloc(size);
#endif
}

void rawFree(void* memory) noexcept {
#if TRELVO_GUARD_MALLOC
    __libc_free(memory);
#else
    std::free(memory);
#endif
}

void* allocate(std::size_t size) {
    countAllocation();
    void* memory = rawAllocate(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    countAllocation();
    void* memory = nullptr;
    // posix_memalign, unlike aligned_alloc, takes any size.
    if (posix_memalign(&memory, static_cast<std::size_t>(alignment), size == 0 ? 1 : size) != 0) throw std::bad_alloc();
    return memory;
}

void release(void* memory) noexcept {
    countFree(memory);
    rawFree(memory);
}

} // namespace

AllocationGuard::AllocationGuard() noexcept
    : allocationsBefore(gAllocations.load(std::memory_order_relaxed)),
      freesBefore(gFrees.load(std::memory_order_relaxed)) {}

std::uint64_t AllocationGuard::allocations() const noexcept {
    return gAllocations.load(std::memory_order_relaxed) - allocationsBefore;
}

std::uint64_t AllocationGuard::frees() const noexcept {
    return gFrees.load(std::memory_order_relaxed) - freesBefore;
}

bool AllocationGuard::watchesMalloc() noexcept {
    return TRELVO_GUARD_MALLOC != 0;
}

} // namespace trelvo::test

using trelvo::test::allocate;
using trelvo::test::allocateAligned;
using trelvo::test::release;

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return allocateAligned(size, alignment);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return allocateAligned(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* memory) noexcept {
    release(memory);
}
void operator delete[](void* memory) noexcept {
    release(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
    release(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    release(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    release(memory);
}

#if TRELVO_GUARD_MALLOC
// Plug-ins and C libraries allocate with these; the program's own code goes through new.
extern "C" void* malloc(std::size_t size) noexcept {
    trelvo::test::countAllocation();
    return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    trelvo::test::countAllocation();
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* memory, std::size_t size) noexcept {
    trelvo::test::countAllocation();
    return __libc_realloc(memory, size);
}
extern "C" void free(void* memory) noexcept {
    trelvo::test::countFree(memory);
    __libc_free(memory);
}
#endif
