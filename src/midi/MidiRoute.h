#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "midi/MidiEvent.h"
#include "persist/IniFile.h"

namespace trelvo::midi {

/// Positions in MidiRoute::typePass.
enum MessageType : int {
    kNoteOn = 0,
    kNoteOff,
    kNoteAfterTouch,
    kControlChange,
    kProgramChange,
    kChannelAfterTouch,
    kPitchBend,
    kSysex,
    kMtcQuarterFrame,
    kSongPosition,
    kSongSelect,
    kTuneRequest,
    kClock,
    kStart,
    kContinue,
    kStop,
    kActiveSensing,
    kSystemReset,
    kNumMessageTypes,
};

struct ChannelMapEntry {
    std::uint8_t enabled = 1;
    std::uint8_t inChannel = 0;
    std::uint8_t outChannel = 0;
    bool operator==(const ChannelMapEntry&) const = default;
};

struct KeyVelocitySplit {
    std::uint8_t noteLo = 0;
    std::uint8_t noteHi = 127;
    std::uint8_t velLo = 1;
    std::uint8_t velHi = 127;
    bool operator==(const KeyVelocitySplit&) const = default;
};

/// One MIDI input route of a consumer: a source port, a 16-entry channel map with key and
/// velocity windows and transpositions, and message-type and controller filters.
struct MidiRoute {
    std::string portName; ///< "DEFAULT" for the default port; empty: not in use
    int portIndex = -1;
    std::array<ChannelMapEntry, 16> channelMap;
    std::array<std::int8_t, 16> transpose{};
    std::array<KeyVelocitySplit, 16> split{};
    std::array<std::uint8_t, 128> ccPass;
    std::array<std::uint8_t, kNumMessageTypes> typePass;

    /// The template of every fresh route: entry k maps channel k to k, everything passes.
    MidiRoute();
    bool operator==(const MidiRoute&) const = default;
};

/// A consumer's routes: the count (1..4) and the four records.
struct RouteBlock {
    int count = 1;
    std::array<MidiRoute, 4> routes;
    bool operator==(const RouteBlock&) const = default;
};

/// One copy a route lets through.
struct RoutedMessage {
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
};

/// Runs one short event through a route's type gate and channel map (with its splits,
/// velocity windows and transpositions) and calls emit for every copy that passes; one
/// event can give up to 16 copies. SysEx is not filtered here: its callers copy it once.
/// Thread: any, allocation-free.
template <class Emit> void filterEvent(const MidiRoute& route, const MidiEvent& event, Emit&& emit) {
    const std::uint8_t status = event.status;
    const std::uint8_t type = status & 0xF0;
    const std::uint8_t channel = status & 0x0F;
    switch (type) {
    case 0x90:
        if (!route.typePass[kNoteOn]) return;
        break;
    case 0x80:
        if (!route.typePass[kNoteOff]) return;
        break;
    case 0xA0:
        if (!route.typePass[kNoteAfterTouch]) return;
        break;
    case 0xB0:
        if (!route.typePass[kControlChange] && !route.ccPass[event.data1 & 127]) return;
        break;
    case 0xC0:
        if (!route.typePass[kProgramChange]) return;
        break;
    case 0xD0:
        if (!route.typePass[kChannelAfterTouch]) return;
        break;
    case 0xE0:
        if (!route.typePass[kPitchBend]) return;
        break;
    default: {
        int flag = -1;
        switch (status) {
        case 0xF0:
        case 0xF7: flag = kSysex; break;
        case 0xF1: flag = kMtcQuarterFrame; break;
        case 0xF2: flag = kSongPosition; break;
        case 0xF3: flag = kSongSelect; break;
        case 0xF6: flag = kTuneRequest; break;
        case 0xF8: flag = kClock; break;
        case 0xFA: flag = kStart; break;
        case 0xFB: flag = kContinue; break;
        case 0xFC: flag = kStop; break;
        case 0xFE: flag = kActiveSensing; break;
        case 0xFF: flag = kSystemReset; break;
        default: break; // 0xF4, 0xF5, 0xF9, 0xFD pass without a flag
        }
        if (flag >= 0 && !route.typePass[static_cast<std::size_t>(flag)]) return;
        break;
    }
    }
    const bool isNote = type == 0x80 || type == 0x90;
    for (std::size_t k = 0; k < 16; ++k) {
        const ChannelMapEntry& entry = route.channelMap[k];
        if (!entry.enabled || entry.inChannel != channel) continue;
        std::uint8_t key = event.data1;
        if (isNote) {
            const KeyVelocitySplit& window = route.split[k];
            if (type == 0x90 && event.data2 != 0 && (event.data2 < window.velLo || event.data2 > window.velHi))
                continue;
            if (event.data1 < window.noteLo || event.data1 > window.noteHi) continue;
            const int moved = event.data1 + route.transpose[k];
            if (moved < 0 || moved > 127) continue;
            key = static_cast<std::uint8_t>(moved);
        }
        const std::uint8_t outStatus =
            entry.inChannel != entry.outChannel ? static_cast<std::uint8_t>(type | entry.outChannel) : status;
        emit(RoutedMessage{outStatus, key, event.data2});
    }
}

/// Finds the table position of a port name; "DEFAULT" stands for the default port.
using PortResolver = std::function<int(const std::string& portName)>;

/// Reads a consumer's routes from the keys prefix + "iMid" + k + suffix of the current
/// section. Missing keys leave the current values.
void readRoutes(persist::IniHandle& handle, std::string_view prefix, RouteBlock& block, const PortResolver& resolve);
/// Writes them; in compact mode a key only when it differs from the default route.
void writeRoutes(persist::IniHandle& handle, std::string_view prefix, const RouteBlock& block, bool compact);

} // namespace trelvo::midi
