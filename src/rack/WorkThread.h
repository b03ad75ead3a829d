#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <semaphore>
#include <thread>

#include "model/SlotKind.h"

namespace trelvo::rack {

/// TwrkThread: the second processing thread of "UseAllCPUs". The audio thread fills the
/// worker list, sets busy and wakes it; it runs those strips in order, empties the list,
/// clears busy and waits to be woken again. The audio thread waits for busy to clear
/// before it goes on.
///
/// The worker runs with the audio thread's scheduling: whenever the audio thread publishes
/// a new one (platform/ThreadScheduling.h), the worker takes it over when it next wakes.
class TwrkThread {
public:
    /// runStrip is called on the work thread for each listed strip head.
    explicit TwrkThread(std::function<void(int head)> runStrip);
    ~TwrkThread();
    TwrkThread(const TwrkThread&) = delete;
    TwrkThread& operator=(const TwrkThread&) = delete;

    /// Thread: audio. The list may only change while the worker is not busy.
    void clearList() noexcept { count = 0; }
    void add(int head) noexcept { list[static_cast<std::size_t>(count++)] = head; }
    int size() const noexcept { return count; }
    /// Wakes a parked worker early so that it is polling by the time its list is ready.
    /// Thread: audio.
    void prewake() noexcept;
    /// Sets busy and wakes the worker. Thread: audio.
    void start() noexcept;
    /// Waits, yielding, until the worker has run its list. Thread: audio.
    void wait() noexcept;
    bool isBusy() const noexcept { return busy.load(std::memory_order_acquire); }

private:
    void loop();
    /// Takes over the audio thread's scheduling when it changed. Thread: the worker.
    void followAudioThread() noexcept;

    std::function<void(int head)> runStrip;
    std::array<int, kMaxSlots> list{};
    int count = 0;
    std::atomic<bool> busy{false};
    std::atomic<bool> terminate{false};
    std::atomic<bool> parked{false};
    std::uint32_t followedGeneration = 0; ///< the worker's own

    std::binary_semaphore wake{0};
    std::thread thread;
};

} // namespace trelvo::rack
