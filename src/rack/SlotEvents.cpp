#include "rack/SlotEvents.h"

#include <bit>

#include "platform/Clock.h"
#include "rack/Rack.h"

namespace trelvo::rack {

SlotEventHandlers::SlotEventHandlers(Rack& owner, UiMessageQueue& queue) : rack(owner), messages(queue) {}

void SlotEventHandlers::assignToAll() {
    for (int i = 0; i < kMaxSlots; ++i) assignTo(rack.slot(i));
}

void SlotEventHandlers::assignTo(host::TVstPlugIn& slot) {
    slot.OnAutomate = [this](int slotIndex, int index, float value) {
        messages.post(kMsgAutomate, automateWParam(slotIndex, index), std::bit_cast<std::int32_t>(value));
    };
    slot.OnUpdateDisplay = [this](int slotIndex, std::intptr_t) { onUpdateDisplay(slotIndex); };
    slot.OnSizeWindow = [this](int slotIndex, int width, int height) {
        if (resizeEditor) resizeEditor(slotIndex, width, height);
    };
    slot.OnProcessEvents = [this](int slotIndex, VstEvents* events) {
        if (plugInMidiOut) plugInMidiOut(slotIndex, events);
    };
    slot.OnIOChanged = [](int, std::intptr_t) {};
}

void SlotEventHandlers::onUpdateDisplay(int slot) noexcept {
    const std::uint32_t now = platform::tickCountMs();
    std::uint32_t last = lastAcceptedMs.load();
    for (;;) {
        if (anyAccepted.load() && now - last < 50) return;
        if (lastAcceptedMs.compare_exchange_weak(last, now)) break;
    }
    anyAccepted = true;
    displayNeedsRefresh = true;
    messages.post(kMsgUpdateDisplay, static_cast<std::intptr_t>(slot) * 65536, 0);
}

} // namespace trelvo::rack
