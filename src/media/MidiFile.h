#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trelvo::media {

/// One event of a Standard MIDI File at its time: a channel message (1 to 3 bytes) or a
/// complete SysEx message (F0 ... F7).
struct TimedMidiEvent {
    double seconds = 0.0;
    std::vector<std::uint8_t> bytes;
};

/// What a Standard MIDI File plays: the events of all its tracks merged in time order,
/// with the tempo map applied, and the time of its last event (end of track included).
struct MidiFileContents {
    std::vector<TimedMidiEvent> events;
    double lengthSeconds = 0.0;
};

/// Reads format 0, 1 and 2 files (tracks merged), with ticks per quarter note and tempo
/// changes, or SMPTE time. Meta events other than tempo are left out. False with a reason
/// for anything that is not a complete, well-formed MIDI file.
bool parseMidiFile(std::string_view bytes, MidiFileContents& contents, std::string& error);
bool readMidiFile(const std::string& path, MidiFileContents& contents, std::string& error);

} // namespace trelvo::media
