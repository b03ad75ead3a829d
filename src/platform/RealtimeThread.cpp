#include "platform/RealtimeThread.h"

namespace trelvo::platform {

namespace {
thread_local bool tIsRealtime = false;
}

void markRealtimeThread(bool isRealtime) noexcept { tIsRealtime = isRealtime; }

bool isRealtimeThread() noexcept { return tIsRealtime; }

} // namespace trelvo::platform
