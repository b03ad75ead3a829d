#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "midi/MidiEvent.h"
#include "midi/MidiRoute.h"
#include "vst/VstAbi.h"

namespace trelvo::midi {

inline constexpr int kSlotEvents = 512;

/// A VstEvents block of up to 512 events with the records inline, built anew for each
/// block without allocating.
class VstEventBlock {
public:
    VstEventBlock() { clear(); }
    void clear() noexcept { header()->numEvents = 0; }
    int count() const noexcept { return const_cast<VstEventBlock*>(this)->header()->numEvents; }
    /// False (nothing added) when the block already holds 512 events.
    bool addMidi(std::int32_t frame, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept;
    /// The bytes must stay valid until the block has been handed over.
    bool addSysex(std::int32_t frame, const std::uint8_t* bytes, std::uint32_t length) noexcept;
    VstEvents* events() noexcept { return header(); }

private:
    VstEvents* header() noexcept { return reinterpret_cast<VstEvents*>(storage); }
    VstEvent** slots() noexcept { return reinterpret_cast<VstEvent**>(storage + offsetof(VstEvents, events)); }
    union Record {
        VstMidiEvent midi;
        VstMidiSysexEvent sysex;
    };
    alignas(VstEvents) unsigned char storage[offsetof(VstEvents, events) + sizeof(VstEvent*) * kSlotEvents] = {};
    Record records[kSlotEvents] = {};
};

/// The MIDI side of a rack slot: its routes, its own event buffer, its output device and
/// the event block sent to its plug-in each block.
struct SlotMidi {
    RouteBlock routes;
    bool chgFxpOnMidiPc = false; ///< a Program Change selects a preset instead of reaching the plug-in
    std::unique_ptr<MidiEventBuffer> slotBuffer =
        std::make_unique<MidiEventBuffer>();     ///< the slot's own input (program changes, slot ports)
    std::string outputPortName;                  ///< "oMid1-Port": where the plug-in's MIDI output goes
    std::atomic<int> outputPort{-1};             ///< its position in the output-port table
    std::atomic<int> slotPort{-1};               ///< the table position of the slot's own port, -1 when none
    std::atomic<std::uint32_t> droppedEvents{0}; ///< events beyond the block's 512, not yet reported
    VstEventBlock block;
};

} // namespace trelvo::midi
