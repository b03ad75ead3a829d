#include "media/MidiFile.h"

#include <algorithm>

#include "platform/TrelvoHome.h"

namespace trelvo::media {

namespace {

/// More events than this in one file is taken as damage, not music.
constexpr std::size_t kMaxEvents = 4'000'000;

struct TickEvent {
    std::uint64_t tick;
    std::uint32_t track;
    std::uint32_t order;
    std::uint32_t tempo; ///< microseconds per quarter note for a tempo event, else 0
    std::vector<std::uint8_t> bytes;
};

class Reader {
public:
    explicit Reader(std::string_view data) : bytes(data) {}
    bool atEnd() const { return offset >= bytes.size(); }
    std::size_t left() const { return bytes.size() - offset; }
    bool byte(std::uint8_t& out) {
        if (atEnd()) return false;
        out = static_cast<std::uint8_t>(bytes[offset++]);
        return true;
    }
    bool peek(std::uint8_t& out) const {
        if (atEnd()) return false;
        out = static_cast<std::uint8_t>(bytes[offset]);
        return true;
    }
    bool bigEndian(int size, std::uint32_t& out) {
        out = 0;
        for (int i = 0; i < size; ++i) {
            std::uint8_t b;
            if (!byte(b)) return false;
            out = (out << 8) | b;
        }
        return true;
    }
    /// A variable-length quantity: at most four bytes.
    bool quantity(std::uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b;
            if (!byte(b)) return false;
            out = (out << 7) | (b & 0x7F);
            if ((b & 0x80) == 0) return true;
        }
        return false;
    }
    bool take(std::size_t n, std::string_view& out) {
        if (n > left()) return false;
        out = bytes.substr(offset, n);
        offset += n;
        return true;
    }

private:
    std::string_view bytes;
    std::size_t offset = 0;
};

int dataBytesOf(std::uint8_t status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 1;
    default: return 2;
    }
}

bool readTrack(std::string_view data, std::uint32_t track, std::vector<TickEvent>& events, std::string& error) {
    Reader reader(data);
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    std::uint32_t order = 0;
    while (!reader.atEnd()) {
        std::uint32_t delta;
        if (!reader.quantity(delta)) return error = "bad delta time in track " + std::to_string(track), false;
        tick += delta;
        std::uint8_t status;
        if (!reader.peek(status)) return error = "track " + std::to_string(track) + " ends inside an event", false;
        if (status & 0x80) {
            reader.byte(status);
        } else if (running != 0) {
            status = running;
        } else {
            return error = "data byte without a status in track " + std::to_string(track), false;
        }
        if (events.size() >= kMaxEvents) return error = "too many events", false;
        if (status == 0xFF) {
            std::uint8_t type;
            std::uint32_t length;
            std::string_view payload;
            if (!reader.byte(type) || !reader.quantity(length) || !reader.take(length, payload))
                return error = "bad meta event in track " + std::to_string(track), false;
            if (type == 0x51 && length == 3) {
                const auto tempo = (std::uint32_t{static_cast<std::uint8_t>(payload[0])} << 16) |
                                   (std::uint32_t{static_cast<std::uint8_t>(payload[1])} << 8) |
                                   static_cast<std::uint8_t>(payload[2]);
                events.push_back({tick, track, order++, std::max<std::uint32_t>(tempo, 1), {}});
            } else if (type == 0x2F) {
                events.push_back({tick, track, order++, 0, {}}); // the end of the track counts for the length
                return true;
            }
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            running = 0;
            std::uint32_t length;
            std::string_view payload;
            if (!reader.quantity(length) || !reader.take(length, payload))
                return error = "bad SysEx event in track " + std::to_string(track), false;
            std::vector<std::uint8_t> message;
            if (status == 0xF0) message.push_back(0xF0);
            message.insert(message.end(), payload.begin(), payload.end());
            // Only complete messages are passed on; continuation packets are dropped.
            if (!message.empty() && message.front() == 0xF0 && message.back() == 0xF7)
                events.push_back({tick, track, order++, 0, std::move(message)});
            continue;
        }
        if (status >= 0xF1) return error = "system message in track " + std::to_string(track), false;
        running = status;
        std::vector<std::uint8_t> message{status};
        for (int i = 0; i < dataBytesOf(status); ++i) {
            std::uint8_t value;
            if (!reader.byte(value) || (value & 0x80) != 0)
                return error = "bad channel message in track " + std::to_string(track), false;
            message.push_back(value);
        }
        events.push_back({tick, track, order++, 0, std::move(message)});
    }
    return true;
}

} // namespace

bool parseMidiFile(std::string_view bytes, MidiFileContents& contents, std::string& error) {
    contents = {};
    Reader reader(bytes);
    std::string_view magic;
    std::uint32_t headerLength, format, trackCount, division;
    if (!reader.take(4, magic) || magic != "MThd" || !reader.bigEndian(4, headerLength) || headerLength < 6 ||
        !reader.bigEndian(2, format) || !reader.bigEndian(2, trackCount) || !reader.bigEndian(2, division))
        return error = "not a Standard MIDI File", false;
    std::string_view rest;
    if (!reader.take(headerLength - 6, rest)) return error = "truncated header", false;
    if (format > 2) return error = "unknown format " + std::to_string(format), false;
    if (division == 0) return error = "zero time division", false;

    std::vector<TickEvent> events;
    std::uint32_t tracks = 0;
    while (tracks < trackCount) {
        std::uint32_t length;
        if (!reader.take(4, magic) || !reader.bigEndian(4, length))
            return error = "missing track " + std::to_string(tracks), false;
        std::string_view data;
        if (!reader.take(length, data)) return error = "truncated track " + std::to_string(tracks), false;
        if (magic != "MTrk") continue; // chunks of unknown kinds are skipped
        if (!readTrack(data, tracks, events, error)) return false;
        ++tracks;
    }
    std::stable_sort(events.begin(), events.end(), [](const TickEvent& a, const TickEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : (a.track != b.track ? a.track < b.track : a.order < b.order);
    });

    // Ticks to seconds through the tempo map (SMPTE time has none).
    const bool smpte = (division & 0x8000) != 0;
    double secondsPerTick = 0.0;
    if (smpte) {
        const int framesPerSecond = -static_cast<std::int8_t>(division >> 8);
        const int ticksPerFrame = static_cast<int>(division & 0xFF);
        if (framesPerSecond <= 0 || ticksPerFrame <= 0) return error = "bad SMPTE division", false;
        secondsPerTick = 1.0 / (framesPerSecond * ticksPerFrame);
    } else {
        secondsPerTick = 0.5 / division; // 120 beats per minute until a tempo event
    }
    std::uint64_t lastTick = 0;
    double seconds = 0.0;
    for (TickEvent& event : events) {
        seconds += static_cast<double>(event.tick - lastTick) * secondsPerTick;
        lastTick = event.tick;
        if (event.tempo != 0 && !smpte) secondsPerTick = event.tempo / 1e6 / division;
        contents.lengthSeconds = seconds;
        if (!event.bytes.empty()) contents.events.push_back({seconds, std::move(event.bytes)});
    }
    return true;
}

bool readMidiFile(const std::string& path, MidiFileContents& contents, std::string& error) {
    std::string bytes;
    if (!platform::readWholeFile(path, bytes)) return error = "cannot read " + path, false;
    return parseMidiFile(bytes, contents, error);
}

} // namespace trelvo::media
