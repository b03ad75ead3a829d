#pragma once

#include <cstdint>

namespace trelvo::test {

/// While a guard is alive on a thread, every operator new on that thread is counted as a
/// violation (the allocation still succeeds, so the test can report rather than crash).
/// Only test programs that link AllocationGuard.cpp replace operator new.
class AllocationGuard {
public:
    AllocationGuard();
    ~AllocationGuard();
    AllocationGuard(const AllocationGuard&) = delete;
    AllocationGuard& operator=(const AllocationGuard&) = delete;

    /// Allocations made on guarded threads since the program started.
    static std::uint64_t violations();
};

} // namespace trelvo::test
