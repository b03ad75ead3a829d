#include "platform/ThreadScheduling.h"

#include <atomic>

namespace trelvo::platform {

namespace {

std::atomic<SchedulingSetter> gSetter{&pthread_setschedparam};
std::atomic<bool> gRefused{false};
// Generation (high 32 bits), policy (bits 16..31) and priority (low 16 bits) in one word,
// so that a reader never sees the policy of one publication with the priority of another.
std::atomic<std::uint64_t> gPublished{0};

} // namespace

ThreadScheduling ownAudioThreadScheduling() noexcept {
    return {SCHED_FIFO, sched_get_priority_min(SCHED_FIFO) + 20};
}

ThreadScheduling currentThreadScheduling() noexcept {
    ThreadScheduling scheduling;
    sched_param parameters{};
    if (pthread_getschedparam(pthread_self(), &scheduling.policy, &parameters) == 0)
        scheduling.priority = parameters.sched_priority;
    return scheduling;
}

int setCurrentThreadScheduling(ThreadScheduling wanted) noexcept {
    sched_param parameters{};
    parameters.sched_priority = wanted.priority;
    return gSetter.load(std::memory_order_acquire)(pthread_self(), wanted.policy, &parameters);
}

void publishAudioThreadScheduling(ThreadScheduling scheduling) noexcept {
    std::uint64_t expected = gPublished.load(std::memory_order_relaxed);
    std::uint64_t next = 0;
    do {
        const std::uint64_t generation = (expected >> 32) + 1;
        next = (generation << 32) | (static_cast<std::uint64_t>(scheduling.policy & 0xFFFF) << 16) |
               static_cast<std::uint64_t>(scheduling.priority & 0xFFFF);
    } while (!gPublished.compare_exchange_weak(expected, next, std::memory_order_acq_rel));
}

std::uint32_t publishedAudioThreadScheduling(ThreadScheduling& scheduling) noexcept {
    const std::uint64_t word = gPublished.load(std::memory_order_acquire);
    scheduling.policy = static_cast<int>((word >> 16) & 0xFFFF);
    scheduling.priority = static_cast<int>(word & 0xFFFF);
    return static_cast<std::uint32_t>(word >> 32);
}

bool noteRealtimeRefused() noexcept {
    return !gRefused.exchange(true, std::memory_order_acq_rel);
}

bool realtimeRefused() noexcept {
    return gRefused.load(std::memory_order_acquire);
}

void setSchedulingSetterForTests(SchedulingSetter setter) noexcept {
    gSetter.store(setter != nullptr ? setter : &pthread_setschedparam, std::memory_order_release);
    gRefused.store(false, std::memory_order_release);
    gPublished.store(0, std::memory_order_release);
}

} // namespace trelvo::platform
