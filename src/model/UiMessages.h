#pragma once

#include <cstdint>

#include "platform/BoundedQueue.h"

namespace trelvo::rack {

/// The main window's private messages, posted from any thread and handled on the
/// user-interface thread in the order they arrive.
enum UiMessageCode : std::uint32_t {
    kMsgAsioNotice = 2676,
    kMsgSurfaceStatus = 9991,
    kMsgSurfaceEncoders = 9993,
    kMsgSurfaceButtons = 9994,
    kMsgAddPlugin = 9995,
    kMsgProgramChange = 9996,
    kMsgAutomate = 9997,
    kMsgUpdateDisplay = 9998,
    kMsgHandOff = 9999,
};

struct UiMessage {
    std::uint32_t code = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

/// A lock-free queue of window messages: posting never blocks or allocates, so the audio
/// thread and plug-in threads may post; a full queue drops the message and counts it.
class UiMessageQueue {
public:
    /// Thread: any, lock-free.
    bool post(std::uint32_t code, std::intptr_t wParam, std::intptr_t lParam) noexcept {
        return queue.tryPush(UiMessage{code, wParam, lParam});
    }
    /// Thread: user interface.
    bool take(UiMessage& message) noexcept { return queue.tryPop(message); }
    std::uint64_t dropCount() const noexcept { return queue.dropCount(); }

private:
    platform::BoundedQueue<UiMessage, 4096> queue;
};

} // namespace trelvo::rack
