#include "audio/DriverThread.h"

#include <pthread.h>
#include <sched.h>

#include "platform/FaultGuard.h"
#include "platform/FloatingPoint.h"
#include "platform/RealtimeThread.h"

namespace trelvo::audio {

void enterAudioThread() noexcept {
    platform::markRealtimeThread(true);
    platform::prepareThreadForFaultGuard();
    platform::maskFloatingPointExceptions();
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO) + 20;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority); // refused without rights: kept as it is
}

} // namespace trelvo::audio
