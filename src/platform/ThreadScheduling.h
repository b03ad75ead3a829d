#pragma once

#include <pthread.h>
#include <sched.h>

#include <cstdint>

namespace trelvo::platform {

/// A thread's scheduling policy (SCHED_OTHER, SCHED_FIFO, SCHED_RR) and priority.
struct ThreadScheduling {
    int policy = SCHED_OTHER;
    int priority = 0;
    bool operator==(const ThreadScheduling&) const = default;
};

/// The real-time scheduling Trelvo asks for on the audio threads it creates itself (the
/// ALSA and Dummy drivers'). JACK's thread keeps what the JACK server gave it.
ThreadScheduling ownAudioThreadScheduling() noexcept;

/// The calling thread's scheduling. Thread: any, wait-free.
ThreadScheduling currentThreadScheduling() noexcept;

/// Sets the calling thread's scheduling: 0, or the error number when the system refuses
/// (EPERM without the right to real-time priority). Thread: any, no allocation.
int setCurrentThreadScheduling(ThreadScheduling wanted) noexcept;

/// The audio thread tells which scheduling it runs with, so that the threads that help it
/// (the work thread) can take the same. Thread: any, wait-free.
void publishAudioThreadScheduling(ThreadScheduling scheduling) noexcept;
/// The scheduling last published; the result changes with every publication and is 0
/// while nothing was published. Thread: any, wait-free.
std::uint32_t publishedAudioThreadScheduling(ThreadScheduling& scheduling) noexcept;

/// Records that the system refused real-time priority to one of the audio threads. True
/// only for the first refusal in the process: the caller reports that one, once.
/// Thread: any, wait-free.
bool noteRealtimeRefused() noexcept;
/// True once real-time priority was refused. Thread: any, wait-free.
bool realtimeRefused() noexcept;

/// For tests: replaces pthread_setschedparam (nullptr restores it) and forgets an earlier
/// refusal and publication.
using SchedulingSetter = int (*)(pthread_t thread, int policy, const sched_param* parameters);
void setSchedulingSetterForTests(SchedulingSetter setter) noexcept;

} // namespace trelvo::platform
