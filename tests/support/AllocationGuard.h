#pragma once

#include <cstdint>

namespace trelvo::test {

/// Counts every allocation and every free made on any thread while that thread is inside an
/// audio block (platform::inAudioBlock(): the driver's thread through its callback, the work
/// thread through its strips). The memory is still handed out and released, so a test reports
/// rather than crashes. Counted: operator new and delete in all their forms, and, outside
/// sanitizer builds (whose runtimes own malloc), malloc, calloc, realloc and free, which is
/// where plug-ins written in C allocate. Freeing a null pointer is not counted.
///
/// Only test programs that link AllocationGuard.cpp replace these functions.
class AllocationGuard {
public:
    /// Counts from now on.
    AllocationGuard() noexcept;
    AllocationGuard(const AllocationGuard&) = delete;
    AllocationGuard& operator=(const AllocationGuard&) = delete;

    /// Allocations and frees inside audio blocks, on any thread, since the guard was made.
    std::uint64_t allocations() const noexcept;
    std::uint64_t frees() const noexcept;

    /// Whether malloc and free are counted in this build (not under a sanitizer).
    static bool watchesMalloc() noexcept;

private:
    std::uint64_t allocationsBefore;
    std::uint64_t freesBefore;
};

} // namespace trelvo::test
