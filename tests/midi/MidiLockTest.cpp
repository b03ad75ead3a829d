#include "midi/MidiLock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace trelvo::midi {
namespace {

TEST(MidiLock, IsReentrantForItsOwner) {
    MidiLock lock;
    lock.lock();
    lock.lock();
    EXPECT_TRUE(lock.heldByMe());
    lock.unlock();
    EXPECT_TRUE(lock.heldByMe());
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = lock.try_lock(); }).join();
    EXPECT_FALSE(otherGotIt);
    lock.unlock();
    EXPECT_FALSE(lock.heldByMe());
    std::thread([&] {
        otherGotIt = lock.try_lock();
        if (otherGotIt) lock.unlock();
    }).join();
    EXPECT_TRUE(otherGotIt);
}

TEST(MidiLock, KeepsSectionsFromSeveralThreadsApart) {
    MidiLock lock;
    long counter = 0; // unprotected but for the lock
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i) {
                lock.lock();
                lock.lock();
                ++counter;
                lock.unlock();
                lock.unlock();
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, 200000);
}

} // namespace
} // namespace trelvo::midi
