#pragma once

#include <atomic>
#include <cstdint>

namespace trelvo::platform {

/// Waits while word holds expected, for at most timeoutNs (negative: no limit). The word
/// may live in memory shared with another process. Returns false when the time ran out,
/// true when the word changed or a wake-up (possibly spurious) came: callers check the
/// word again. Allocates nothing and takes no lock. Thread: any.
bool futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t timeoutNs) noexcept;

/// Wakes every waiter on word, in this process or another. Thread: any.
void futexWake(std::atomic<std::uint32_t>& word) noexcept;

} // namespace trelvo::platform
