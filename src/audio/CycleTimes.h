#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace trelvo::audio {

/// How long the driver's last process callbacks took, for the benchmarks and the curious:
/// the audio thread records each duration wait-free into a ring; anyone reads.
class CycleTimes {
public:
    static constexpr std::uint32_t kSize = 8192;

    /// Thread: audio, wait-free.
    void record(std::int64_t nanoseconds) noexcept {
        const std::uint32_t k = next.load(std::memory_order_relaxed);
        slots[k % kSize].store(static_cast<std::uint32_t>(std::clamp<std::int64_t>(nanoseconds, 0, UINT32_MAX)),
                               std::memory_order_relaxed);
        next.store(k + 1, std::memory_order_release);
    }
    /// How many callbacks were recorded so far. Thread: any.
    std::uint32_t count() const noexcept { return next.load(std::memory_order_acquire); }
    /// The durations (ns) recorded since count() returned from, oldest first; at most the
    /// last kSize. Thread: any (while callbacks go on, the oldest of a full ring may already
    /// hold newer callbacks' durations).
    std::vector<std::uint32_t> since(std::uint32_t from) const {
        const std::uint32_t to = count();
        std::uint32_t first = to - from > kSize ? to - kSize : from;
        std::vector<std::uint32_t> durations;
        durations.reserve(to - first);
        for (; first != to; ++first) durations.push_back(slots[first % kSize].load(std::memory_order_relaxed));
        return durations;
    }

private:
    std::atomic<std::uint32_t> next{0};
    std::array<std::atomic<std::uint32_t>, kSize> slots{};
};

} // namespace trelvo::audio
