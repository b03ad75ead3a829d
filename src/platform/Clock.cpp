#include "platform/Clock.h"

#include <sched.h>
#include <time.h>

namespace trelvo::platform {

namespace {
std::int64_t readClock(clockid_t clock) noexcept {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kPerfFrequency + now.tv_nsec;
}
} // namespace

std::uint32_t tickCountMs() noexcept {
    return static_cast<std::uint32_t>(readClock(CLOCK_MONOTONIC) / 1'000'000);
}

std::int64_t perfCounter() noexcept {
    return readClock(CLOCK_MONOTONIC);
}

std::int64_t wallClockSeconds() noexcept {
    return readClock(CLOCK_REALTIME) / kPerfFrequency;
}

void sleepMs(unsigned milliseconds) noexcept {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec request{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000};
    while (nanosleep(&request, &request) != 0) {
    }
}

} // namespace trelvo::platform
