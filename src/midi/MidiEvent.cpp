#include "midi/MidiEvent.h"

#include "persist/IniFile.h"

namespace trelvo::midi {

bool MidiHalf::storeSysex(MidiEvent& e, const std::uint8_t* bytes, std::size_t length) noexcept {
    if (bytes == nullptr || length == 0) {
        e.sysexOffset = 0;
        e.sysexLength = 0;
        return true;
    }
    if (arenaUsed + length > arena.size()) return false;
    std::memcpy(arena.data() + arenaUsed, bytes, length);
    e.sysexOffset = static_cast<std::uint32_t>(arenaUsed);
    e.sysexLength = static_cast<std::uint32_t>(length);
    arenaUsed += length;
    return true;
}

bool MidiHalf::append(const MidiEvent& e, const std::uint8_t* sysexBytes, std::size_t sysexLength, int limit) noexcept {
    if (numEvents >= limit || numEvents >= kHalfCapacity) return false;
    MidiEvent stored = e;
    if (!storeSysex(stored, sysexBytes, sysexLength)) return false;
    events[static_cast<std::size_t>(numEvents++)] = stored;
    return true;
}

bool MidiHalf::insertInTimeOrder(const MidiEvent& e, const std::uint8_t* sysexBytes, std::size_t sysexLength) noexcept {
    if (numEvents >= kHalfCapacity) return false;
    MidiEvent stored = e;
    if (!storeSysex(stored, sysexBytes, sysexLength)) return false;
    int at = numEvents;
    while (at > 0 && events[static_cast<std::size_t>(at - 1)].time > stored.time) {
        events[static_cast<std::size_t>(at)] = events[static_cast<std::size_t>(at - 1)];
        --at;
    }
    events[static_cast<std::size_t>(at)] = stored;
    ++numEvents;
    return true;
}

MidiPort* MidiPortTable::find(const std::string& name) noexcept {
    for (int i = 0; i < length; ++i) {
        MidiPort& port = ports[static_cast<std::size_t>(i)];
        if (port.index >= 0 && port.buffer && persist::sameName(port.name, name)) return &port;
    }
    return nullptr;
}

} // namespace trelvo::midi
