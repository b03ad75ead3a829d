#include "midi/VstEventBlock.h"

namespace trelvo::midi {

bool VstEventBlock::addMidi(std::int32_t frame, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept {
    VstEvents* block = header();
    if (block->numEvents >= kSlotEvents) return false;
    VstMidiEvent& event = records[block->numEvents].midi;
    event = VstMidiEvent{};
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    event.deltaFrames = frame;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(data1);
    event.midiData[2] = static_cast<char>(data2);
    slots()[block->numEvents] = reinterpret_cast<VstEvent*>(&event);
    ++block->numEvents;
    return true;
}

bool VstEventBlock::addSysex(std::int32_t frame, const std::uint8_t* bytes, std::uint32_t length) noexcept {
    VstEvents* block = header();
    if (block->numEvents >= kSlotEvents) return false;
    VstMidiSysexEvent& event = records[block->numEvents].sysex;
    event = VstMidiSysexEvent{};
    event.type = kVstSysExType;
    event.byteSize = sizeof(VstMidiSysexEvent);
    event.deltaFrames = frame;
    event.dumpBytes = static_cast<VstInt32>(length);
    event.sysexDump = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes));
    slots()[block->numEvents] = reinterpret_cast<VstEvent*>(&event);
    ++block->numEvents;
    return true;
}

} // namespace trelvo::midi
