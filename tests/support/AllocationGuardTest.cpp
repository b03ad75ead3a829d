#include "support/AllocationGuard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <thread>

#include "platform/RealtimeThread.h"

namespace trelvo::test {
namespace {

// Through volatile pointers, so that the compiler cannot drop an allocation it can see freed.
void* (*volatile allocateBytes)(std::size_t) = std::malloc;
void (*volatile freeBytes)(void*) = std::free;

// The engine's real-time tests rely on the guard seeing every thread that runs a block, and
// frees as well as allocations, while nothing outside a block counts.
TEST(AllocationGuard, CountsAllocationsAndFreesInsideBlocksOnAnyThreadAndNothingOutside) {
    const AllocationGuard guard;
    ::operator delete(::operator new(64)); // outside a block
    std::thread worker([] {
        platform::AudioBlockScope block;
        ::operator delete(::operator new(64));
        ::operator delete (::operator new (64, std::align_val_t{64}), std::align_val_t{64});
        ::operator delete(nullptr); // freeing nothing is harmless
        { platform::AudioBlockScope nested; }
        freeBytes(allocateBytes(16)); // still inside after a nested block ended
    });
    worker.join();
    const std::uint64_t mallocs = AllocationGuard::watchesMalloc() ? 1 : 0;
    EXPECT_EQ(guard.allocations(), 2 + mallocs);
    EXPECT_EQ(guard.frees(), 2 + mallocs);
}

} // namespace
} // namespace trelvo::test
