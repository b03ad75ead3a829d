#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "model/UiMessages.h"
#include "vst/VstAbi.h"

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::rack {

class Rack;

/// The five slot events the main window handles: automation and display updates are
/// posted as messages 9997 and 9998 (display updates at most once per 50 ms for the whole
/// program), editor resizing and plug-in MIDI output go to the layers that own them, and
/// I/O changes are ignored. Handlers may run on any thread; none blocks or allocates.
class SlotEventHandlers {
public:
    SlotEventHandlers(Rack& rack, UiMessageQueue& messages);

    /// Assigns the five events on every slot of the rack.
    void assignToAll();
    void assignTo(host::TVstPlugIn& slot);

    /// Resizes a slot's editor window; the editor layer sets it. Unset: nothing happens.
    std::function<void(int slot, int width, int height)> resizeEditor;
    /// Takes a plug-in's outgoing MIDI events; the virtual-port layer sets it.
    std::function<void(int slot, VstEvents* events)> plugInMidiOut;

    /// Set by an accepted display update; the user interface clears it after refreshing.
    std::atomic<bool> displayNeedsRefresh{false};

    /// wParam of message 9997: slot x 65536 + (parameter index and 0xFFFF).
    static std::intptr_t automateWParam(int slot, int index) noexcept {
        return static_cast<std::intptr_t>(slot) * 65536 + (index & 0xFFFF);
    }

    /// A display refresh of a slot: message 9998, at most once per 50 ms for the whole
    /// program. Thread: any.
    void onUpdateDisplay(int slot) noexcept;

private:
    Rack& rack;
    UiMessageQueue& messages;
    std::atomic<bool> anyAccepted{false};
    std::atomic<std::uint32_t> lastAcceptedMs{0};
};

} // namespace trelvo::rack
