#pragma once

#include <atomic>
#include <cstdint>

namespace trelvo::midi {

/// The process-wide re-entrant lock that guards the MIDI port buffers and the audio engine's
/// half switch (a plug-in's MIDI output is copied into the ports under it). It is the only
/// lock the audio thread may take, so every section under it must stay short and must never
/// call into a plug-in or the user interface. A waiting thread
/// spins briefly and then yields; it never sleeps in the kernel.
class MidiLock {
public:
    /// Thread: any. Re-entrant for the owning thread.
    void lock() noexcept;
    void unlock() noexcept;
    bool try_lock() noexcept;
    /// True when the calling thread holds the lock.
    bool heldByMe() const noexcept;

private:
    std::atomic<std::uint64_t> owner{0};
    std::uint32_t depth = 0; // only touched by the owner
};

/// The one lock of the process, created at start and kept until the end.
MidiLock& midiLock() noexcept;

/// Holds MidiLock for a scope.
class MidiLockGuard {
public:
    MidiLockGuard() noexcept { midiLock().lock(); }
    ~MidiLockGuard() { midiLock().unlock(); }
    MidiLockGuard(const MidiLockGuard&) = delete;
    MidiLockGuard& operator=(const MidiLockGuard&) = delete;
};

} // namespace trelvo::midi
