#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <semaphore>
#include <thread>

#include "model/SlotKind.h"

namespace trelvo::rack {

/// TwrkThread: the second processing thread of "UseAllCPUs". The audio thread offers the
/// strips of a step (channels, then groups) in the rack's order; it takes them from the
/// front and the worker from the back until they meet, so a worker that wakes late only
/// takes fewer, and each strip mostly stays with the same thread (and its plug-ins' memory
/// in that core's cache) from block to block. The audio thread waits only for strips the
/// worker has taken and not yet finished.
///
/// Between blocks the worker parks. While blocks come steadily it wakes itself shortly before
/// the next one is due and polls for it, so that a parked thread's slow wake-up does not eat
/// into the block; when they stop it parks until woken.
///
/// The worker runs with the audio thread's scheduling: whenever the audio thread publishes
/// a new one (platform/ThreadScheduling.h), the worker takes it over when it next wakes.
class TwrkThread {
public:
    /// runStrip is called on the work thread for each strip head it takes.
    explicit TwrkThread(std::function<void(int head)> runStrip);
    ~TwrkThread();
    TwrkThread(const TwrkThread&) = delete;
    TwrkThread& operator=(const TwrkThread&) = delete;

    /// Offers count strip heads to both threads and wakes a parked worker. The previous
    /// offer must have been waited for. Thread: audio.
    void offer(const int* heads, int count) noexcept;
    /// The next strip head not yet taken from the front (the audio thread) or the back (the
    /// worker), or -1 when none is left.
    int take(bool fromFront = true) noexcept;
    /// A taken strip is done. Thread: the one that took it.
    void finished() noexcept { done.fetch_add(1, std::memory_order_acq_rel); }
    /// Takes strips from one end and runs each until none is left.
    template <class Run> void runTaken(bool fromFront, Run&& run) noexcept {
        for (int head = take(fromFront); head >= 0; head = take(fromFront)) {
            run(head);
            finished();
        }
    }
    /// Whether every offered strip is done. Thread: audio.
    bool allDone() const noexcept { return done.load(std::memory_order_acquire) >= offered; }
    /// Waits, yielding, until every offered strip is done. Thread: audio.
    void wait() noexcept;
    /// Called at the start of each block that may be shared: wakes a parked worker early so
    /// that it is polling by the time the strips are offered, and notes when the block
    /// began, from which the worker learns when to expect the next one. Thread: audio.
    void prewake() noexcept;

private:
    void loop();
    bool anyLeft(std::memory_order order = std::memory_order_acquire) const noexcept;
    /// Takes over the audio thread's scheduling when it changed. Thread: the worker.
    void followAudioThread() noexcept;

    std::function<void(int head)> runStrip;
    std::array<int, kMaxSlots> list{};
    int offered = 0; ///< audio thread
    /// What is left of the offer: the next from the front in the lower half, one past the
    /// next from the back in the upper.
    std::atomic<std::uint64_t> ends{0};
    std::atomic<int> done{0};
    std::atomic<bool> terminate{false};
    std::atomic<bool> parked{false};
    /// When the last block began, and the average time between blocks while they come
    /// steadily (0 otherwise), in performance-counter nanoseconds.
    std::atomic<std::int64_t> blockStart{0};
    std::atomic<std::int64_t> period{0};
    std::uint32_t followedGeneration = 0; ///< the worker's own

    /// Released by whoever clears parked; a release the worker did not wait for (it woke by
    /// itself) is taken away after the next wake-up.
    std::counting_semaphore<> wake{0};
    std::thread thread;
};

} // namespace trelvo::rack
