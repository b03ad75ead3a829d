#include "platform/RealtimeThread.h"

namespace trelvo::platform {

namespace {
thread_local bool tIsRealtime = false;
thread_local bool tInAudioBlock = false;
} // namespace

void markRealtimeThread(bool isRealtime) noexcept {
    tIsRealtime = isRealtime;
}

bool isRealtimeThread() noexcept {
    return tIsRealtime;
}

bool inAudioBlock() noexcept {
    return tInAudioBlock;
}

AudioBlockScope::AudioBlockScope() noexcept : wasInBlock(tInAudioBlock) {
    tInAudioBlock = true;
}

AudioBlockScope::~AudioBlockScope() {
    tInAudioBlock = wasInBlock;
}

} // namespace trelvo::platform
