#pragma once

#include <cstdint>

namespace trelvo::platform {

/// Performance-counter ticks per second: the counter counts nanoseconds.
inline constexpr std::int64_t kPerfFrequency = 1'000'000'000;

/// Monotonic milliseconds since an arbitrary origin, wrapping like a 32-bit tick count.
/// Thread: any, wait-free.
std::uint32_t tickCountMs() noexcept;

/// Monotonic nanosecond ticks for measuring short intervals. Thread: any, wait-free.
std::int64_t perfCounter() noexcept;

/// Wall-clock seconds since the epoch. Thread: any, wait-free.
std::int64_t wallClockSeconds() noexcept;

/// Sleeps the calling thread; 0 yields the processor. Never call it on the audio thread
/// except where a wait is part of the design (the work-thread join).
void sleepMs(unsigned milliseconds) noexcept;

} // namespace trelvo::platform
