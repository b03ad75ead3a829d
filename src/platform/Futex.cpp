#include "platform/Futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace trelvo::platform {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "a futex word must be a plain 32-bit word");

bool futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t timeoutNs) noexcept {
    timespec relative{};
    timespec* limit = nullptr;
    if (timeoutNs >= 0) {
        relative.tv_sec = static_cast<time_t>(timeoutNs / 1000000000);
        relative.tv_nsec = static_cast<long>(timeoutNs % 1000000000);
        limit = &relative;
    }
    // Not FUTEX_PRIVATE_FLAG: the word may be shared with another process.
    const long result =
        ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT, expected, limit, nullptr, 0);
    return !(result == -1 && errno == ETIMEDOUT);
}

void futexWake(std::atomic<std::uint32_t>& word) noexcept {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

} // namespace trelvo::platform
