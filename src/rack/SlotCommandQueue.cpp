#include "rack/SlotCommandQueue.h"

#include <cstring>

#include "model/VolumeCodec.h"

namespace trelvo::rack {

SlotCommandQueue::SlotCommandQueue()
    : storage(std::make_unique<std::array<SlotCommand, kCommandQueueCapacity>>()), entries(*storage) {}

int SlotCommandQueue::claim() noexcept {
    // After taking entry i, a writer makes sure the count covers it: the interface may have
    // reset the count to 0 after the writer read it (it then finds the entry on its second
    // look, or the writer finds the reset here; both steps are seq_cst, so one of them does).
    const auto cover = [this](int i) {
        int current = used.load(std::memory_order_seq_cst);
        while (current <= i && !used.compare_exchange_weak(current, i + 1, std::memory_order_seq_cst)) {
        }
        return i;
    };
    for (;;) {
        // First a free entry among those in use...
        const int n = used.load(std::memory_order_seq_cst);
        for (int i = 0; i < n; ++i) {
            std::uint32_t expected = 0;
            if (entries[static_cast<std::size_t>(i)].state.compare_exchange_strong(expected, kBeingFilled,
                                                                                   std::memory_order_seq_cst))
                return cover(i);
        }
        // ...else append one.
        int current = n;
        if (current >= kCommandQueueCapacity) return -1;
        if (!used.compare_exchange_strong(current, current + 1, std::memory_order_seq_cst)) continue;
        std::uint32_t expected = 0;
        if (entries[static_cast<std::size_t>(current)].state.compare_exchange_strong(expected, kBeingFilled,
                                                                                     std::memory_order_seq_cst))
            return cover(current);
        // Someone who read an older count took this entry first; look again.
    }
}

void SlotCommandQueue::copyFields(const SlotCommand& from, SlotCommand& to) noexcept {
    to.command = from.command;
    to.slot = from.slot;
    to.argument = from.argument;
    to.wholeValue = from.wholeValue;
    to.floatValue = from.floatValue;
    std::memcpy(to.text, from.text, sizeof to.text);
}

void SlotCommandQueue::publish(int index, std::uint32_t state) noexcept {
    entries[static_cast<std::size_t>(index)].state.store(state, std::memory_order_release);
}

bool SlotCommandQueue::Enqueue(SlotCommandCode code, int slot, int argument, std::string_view text, int value,
                               SwitchReader readSwitch, const void* context) {
    float floatValue = 0.0f;
    switch (code) {
    case SlotCommandCode::Pan:
        value = clampPanStep(value);
        floatValue = panValue(value);
        break;
    case SlotCommandCode::WetVol:
    case SlotCommandCode::DryVol:
    case SlotCommandCode::InpVol:
        value = clampVolumeDb(value);
        floatValue = volumeGain(value);
        break;
    case SlotCommandCode::Mute:
    case SlotCommandCode::Solo:
    case SlotCommandCode::Bypass:
    case SlotCommandCode::Off:
        if (value == kToggle) value = (readSwitch != nullptr && readSwitch(context, slot, code)) ? 0 : 1;
        break;
    default: break;
    }

    return post(code, slot, argument, value, floatValue, text, kWaitingForAudio | kWaitingForListView);
}

bool SlotCommandQueue::post(SlotCommandCode code, int slot, int argument, int value, float floatValue,
                            std::string_view text, std::uint32_t state) noexcept {
    // Preset selections and parameter refreshes are the idle timer's alone: the audio thread
    // never takes them, so it never reads an entry the idle timer may free at any moment, and
    // a selection cannot be marked done by the audio thread before the timer has seen it.
    if (code == SlotCommandCode::SelectPreset || code == SlotCommandCode::RefreshParameter) state = kWaitingForListView;
    const int index = claim();
    if (index < 0) {
        drops.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    SlotCommand& entry = entries[static_cast<std::size_t>(index)];
    entry.command = static_cast<std::int32_t>(code);
    entry.slot = slot;
    entry.argument = argument;
    entry.wholeValue = value;
    entry.floatValue = floatValue;
    const std::size_t length = text.size() < kCommandTextCapacity - 1 ? text.size() : kCommandTextCapacity - 1;
    if (length > 0) std::memcpy(entry.text, text.data(), length);
    entry.text[length] = '\0';
    publish(index, state);
    return true;
}

bool SlotCommandQueue::EnqueueRequest(SlotCommandCode code, int slot, int argument, int value) noexcept {
    return post(code, slot, argument, value, 0.0f, {}, kWaitingForAudio);
}

bool SlotCommandQueue::EnqueuePlain(SlotCommandCode code, int slot, int argument, int value) noexcept {
    return post(code, slot, argument, value, 0.0f, {}, kWaitingForAudio);
}

bool SlotCommandQueue::transition(int index, std::uint32_t expected, std::uint32_t desired) noexcept {
    return entries[static_cast<std::size_t>(index)].state.compare_exchange_strong(expected, desired,
                                                                                  std::memory_order_acq_rel);
}

void SlotCommandQueue::freeApplied() noexcept {
    const int n = used.load(std::memory_order_seq_cst);
    bool anyInUse = false;
    for (int i = 0; i < n; ++i) {
        std::uint32_t expected = kAppliedByAudio;
        SlotCommand& entry = entries[static_cast<std::size_t>(i)];
        entry.state.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
        if (entry.state.load(std::memory_order_seq_cst) != 0) anyInUse = true;
    }
    if (anyInUse || n == 0) return;
    int expectedCount = n;
    if (!used.compare_exchange_strong(expectedCount, 0, std::memory_order_seq_cst)) return;
    // A writer may have claimed a free entry between our scan and the reset; it restores the
    // count itself, but look once more so that the entry is never out of sight for long.
    int highest = -1;
    for (int i = 0; i < n; ++i)
        if (entries[static_cast<std::size_t>(i)].state.load(std::memory_order_seq_cst) != 0) highest = i;
    int current = used.load(std::memory_order_seq_cst);
    while (current <= highest && !used.compare_exchange_weak(current, highest + 1, std::memory_order_seq_cst)) {
    }
}

} // namespace trelvo::rack
