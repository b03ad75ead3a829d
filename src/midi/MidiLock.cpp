#include "midi/MidiLock.h"

#include <sched.h>

namespace trelvo::midi {

namespace {

std::uint64_t selfId() noexcept {
    // The address of a thread-local is unique among live threads and never 0.
    thread_local char marker;
    return reinterpret_cast<std::uint64_t>(&marker);
}

void relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

bool MidiLock::try_lock() noexcept {
    const std::uint64_t self = selfId();
    if (owner.load(std::memory_order_relaxed) == self) {
        ++depth;
        return true;
    }
    std::uint64_t expected = 0;
    if (owner.compare_exchange_strong(expected, self, std::memory_order_acquire, std::memory_order_relaxed)) {
        depth = 1;
        return true;
    }
    return false;
}

void MidiLock::lock() noexcept {
    for (int spins = 0; !try_lock(); ++spins) {
        if (spins < 200)
            relax();
        else
            sched_yield();
    }
}

void MidiLock::unlock() noexcept {
    if (--depth == 0) owner.store(0, std::memory_order_release);
}

bool MidiLock::heldByMe() const noexcept {
    return owner.load(std::memory_order_relaxed) == selfId();
}

MidiLock& midiLock() noexcept {
    static MidiLock instance;
    return instance;
}

} // namespace trelvo::midi
