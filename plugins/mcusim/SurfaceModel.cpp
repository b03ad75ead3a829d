#include "SurfaceModel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace mcusim {

namespace {

constexpr std::uint8_t kSysexStart = 0xF0;
constexpr std::uint8_t kSysexEnd = 0xF7;
constexpr std::uint8_t kHeader[3] = {0x00, 0x00, 0x66};
// F0, three header bytes, device id, command ... F7.
constexpr std::size_t kSysexOverhead = 7;
constexpr std::size_t kMaxSysexOut = 32;
constexpr int kMaxRelativeSteps = 63;

// 1..26 of the segment codes; the letters a 7-segment digit can show stand in for the rest.
constexpr char kSegmentLetters[] = "AbCdEFGhIJKLNnoPprStuyUHYZ";
static_assert(sizeof kSegmentLetters == 27);

bool isStrip(int strip) {
    return strip >= 0 && strip < kStrips;
}
bool isFader(int strip) {
    return strip >= 0 && strip < kFaders;
}

} // namespace

SurfaceModel::SurfaceModel(std::uint8_t deviceId) : id(deviceId) {
    reset();
}

void SurfaceModel::setSink(Sink newSink) {
    sink = std::move(newSink);
}

void SurfaceModel::reset() {
    current = SurfaceState{};
    std::memset(current.lcd, ' ', sizeof current.lcd);
}

// ---- From the host ----

void SurfaceModel::receive(const std::uint8_t* bytes, std::size_t length) {
    ++current.counters.received;
    bool isHandled = false;
    if (bytes != nullptr && length > 0)
        isHandled = bytes[0] == kSysexStart ? receiveSysex(bytes, length) : receiveShort(bytes, length);
    if (!isHandled) ++current.counters.ignored;
}

bool SurfaceModel::receiveShort(const std::uint8_t* bytes, std::size_t length) {
    const std::uint8_t status = bytes[0];
    if (status < 0x80 || status >= 0xF0) return false;
    const int kind = status & 0xF0;
    const int channel = status & 0x0F;
    const std::size_t expected = kind == 0xC0 || kind == 0xD0 ? 2 : 3;
    if (length < expected || length > 3) return false;
    for (std::size_t i = 1; i < expected; ++i)
        if (bytes[i] >= 0x80) return false;
    const int first = bytes[1];
    const int second = expected == 3 ? bytes[2] : 0;

    if (kind == 0xE0) {
        if (!isFader(channel)) return false;
        if (current.touched[channel]) {
            // The user's hand holds the fader: the motor does not fight it.
            ++current.counters.fadersReceivedWhileTouched;
            return true;
        }
        current.faders[channel] = static_cast<std::uint16_t>(std::min(second * 8 + (first >> 4), kFaderMax));
        return true;
    }
    if (channel != 0) return false;
    switch (kind) {
    case 0x90: current.leds[first] = second == 0 ? kLedOff : second == 1 ? kLedBlink : kLedOn; return true;
    case 0x80: current.leds[first] = kLedOff; return true;
    case 0xB0:
        if (first < cc::kVPotRing || first >= cc::kVPotRing + kStrips) return false;
        current.rings[first - cc::kVPotRing] = static_cast<std::uint8_t>(second);
        return true;
    case 0xD0: {
        const int strip = first >> 4;
        const int level = first & 0x0F;
        if (!isStrip(strip)) return false;
        if (level <= kMeterMax)
            current.meters[strip] = static_cast<std::uint8_t>(level);
        else if (level == 14)
            current.clips[strip] = true;
        else if (level == 15)
            current.clips[strip] = false;
        else
            return false;
        return true;
    }
    default: return false;
    }
}

bool SurfaceModel::receiveSysex(const std::uint8_t* bytes, std::size_t length) {
    if (length < kSysexOverhead || bytes[length - 1] != kSysexEnd) return false;
    for (std::size_t i = 1; i + 1 < length; ++i)
        if (bytes[i] >= 0x80) return false;
    if (std::memcmp(bytes + 1, kHeader, sizeof kHeader) != 0 || bytes[4] != id) return false;
    const std::uint8_t command = bytes[5];
    const std::uint8_t* payload = bytes + 6;
    const std::size_t size = length - kSysexOverhead;

    switch (command) {
    case sysex::kDisplay: {
        if (size < 1 || payload[0] >= kDisplaySize) return false;
        const std::size_t offset = payload[0];
        const std::size_t count = size - 1;
        ++current.counters.displayMessages;
        current.counters.displayBytes += static_cast<std::uint32_t>(count);
        const std::size_t written = std::min(count, static_cast<std::size_t>(kDisplaySize) - offset);
        std::memcpy(current.lcd + offset, payload + 1, written);
        return true;
    }
    case sysex::kTimecode:
        if (size < 1 || size > kTimecodeDigits) return false;
        // The first character is the rightmost digit.
        std::memcpy(current.timecode, payload, size);
        return true;
    case sysex::kAssignment:
        if (size != 2) return false;
        current.assignment[0] = payload[0];
        current.assignment[1] = payload[1];
        return true;
    case sysex::kFadersToMinimum:
        if (size != 0) return false;
        for (std::uint16_t& position : current.faders) position = 0;
        return true;
    case sysex::kAllLedsOff:
        if (size != 0) return false;
        std::memset(current.leds, kLedOff, sizeof current.leds);
        std::memset(current.rings, 0, sizeof current.rings);
        return true;
    case sysex::kDeviceQuery: {
        if (size != 0) return false;
        std::uint8_t query[sizeof kSerial + sizeof kChallenge];
        std::memcpy(query, kSerial, sizeof kSerial);
        std::memcpy(query + sizeof kSerial, kChallenge, sizeof kChallenge);
        sendSysex(sysex::kHostConnectionQuery, query, sizeof query);
        return true;
    }
    case sysex::kHostConnectionReply:
        // Serial number and four response bytes; the serial must be ours.
        if (size != sizeof kSerial + 4 || std::memcmp(payload, kSerial, sizeof kSerial) != 0) return false;
        sendSysex(sysex::kHostConnectionConfirm, kSerial, sizeof kSerial);
        return true;
    case sysex::kVersionRequest:
        if (size != 0) return false;
        ++current.counters.versionRequests;
        sendSysex(sysex::kVersionReply, reinterpret_cast<const std::uint8_t*>(kVersionText), sizeof kVersionText - 1);
        current.online = true;
        return true;
    case sysex::kGoOffline:
        if (size != 0) return false;
        ++current.counters.offlineMessages;
        current.online = false;
        return true;
    default: return false;
    }
}

// ---- To the host ----

void SurfaceModel::send(const std::uint8_t* bytes, std::size_t length) {
    ++current.counters.sent;
    if (sink) sink(bytes, length);
}

void SurfaceModel::sendSysex(std::uint8_t command, const std::uint8_t* payload, std::size_t length) {
    std::uint8_t message[kMaxSysexOut];
    if (length + kSysexOverhead > sizeof message) return;
    message[0] = kSysexStart;
    std::memcpy(message + 1, kHeader, sizeof kHeader);
    message[4] = id;
    message[5] = command;
    if (length > 0) std::memcpy(message + 6, payload, length);
    message[6 + length] = kSysexEnd;
    send(message, length + kSysexOverhead);
}

void SurfaceModel::connect() {
    current.online = false;
    std::uint8_t query[sizeof kSerial + sizeof kChallenge];
    std::memcpy(query, kSerial, sizeof kSerial);
    std::memcpy(query + sizeof kSerial, kChallenge, sizeof kChallenge);
    sendSysex(sysex::kHostConnectionQuery, query, sizeof query);
}

void SurfaceModel::press(int key) {
    if (key < 0 || key > 127) return;
    const std::uint8_t message[3] = {0x90, static_cast<std::uint8_t>(key), 127};
    send(message, sizeof message);
}

void SurfaceModel::release(int key) {
    if (key < 0 || key > 127) return;
    const std::uint8_t message[3] = {0x90, static_cast<std::uint8_t>(key), 0};
    send(message, sizeof message);
}

void SurfaceModel::touch(int strip, bool isTouched) {
    if (!isFader(strip)) return;
    current.touched[strip] = isTouched;
    if (isTouched)
        press(key::kFaderTouch + strip);
    else
        release(key::kFaderTouch + strip);
}

void SurfaceModel::moveFader(int strip, int position) {
    if (!isFader(strip)) return;
    position = std::clamp(position, 0, kFaderMax);
    current.faders[strip] = static_cast<std::uint16_t>(position);
    const std::uint8_t message[3] = {static_cast<std::uint8_t>(0xE0 + strip),
                                     static_cast<std::uint8_t>((position & 7) << 4),
                                     static_cast<std::uint8_t>(position >> 3)};
    send(message, sizeof message);
}

void SurfaceModel::sendRelative(int controller, int steps) {
    while (steps != 0) {
        const int count = std::min(std::abs(steps), kMaxRelativeSteps);
        const int value = steps > 0 ? count : 0x40 | count;
        const std::uint8_t message[3] = {0xB0, static_cast<std::uint8_t>(controller), static_cast<std::uint8_t>(value)};
        send(message, sizeof message);
        steps += steps > 0 ? -count : count;
    }
}

void SurfaceModel::turnVPot(int strip, int steps) {
    if (isStrip(strip)) sendRelative(cc::kVPotTurn + strip, steps);
}

void SurfaceModel::jog(int steps) {
    sendRelative(cc::kJog, steps);
}

void SurfaceModel::tempo(int steps) {
    sendRelative(cc::kTempo, steps);
}

// ---- What it shows ----

int SurfaceModel::led(int key) const {
    return key >= 0 && key < 128 ? current.leds[key] : kLedOff;
}

int SurfaceModel::ring(int strip) const {
    return isStrip(strip) ? current.rings[strip] : 0;
}

int SurfaceModel::fader(int strip) const {
    return isFader(strip) ? current.faders[strip] : 0;
}

bool SurfaceModel::touched(int strip) const {
    return isFader(strip) && current.touched[strip];
}

int SurfaceModel::meter(int strip) const {
    return isStrip(strip) ? current.meters[strip] : 0;
}

bool SurfaceModel::clip(int strip) const {
    return isStrip(strip) && current.clips[strip];
}

std::string SurfaceModel::lcd() const {
    return std::string(current.lcd, sizeof current.lcd);
}

std::string SurfaceModel::line(int which) const {
    if (which != 1 && which != 2) return {};
    return std::string(current.lcd + (which - 1) * kLineLength, kLineLength);
}

std::string SurfaceModel::assignment() const {
    char text[8];
    return std::string(text, segmentText(current.assignment, 2, text, sizeof text));
}

std::string SurfaceModel::timecode() const {
    std::uint8_t reading[kTimecodeDigits];
    for (int i = 0; i < kTimecodeDigits; ++i) reading[i] = current.timecode[kTimecodeDigits - 1 - i];
    char text[2 * kTimecodeDigits + 1];
    return std::string(text, segmentText(reading, kTimecodeDigits, text, sizeof text));
}

char SurfaceModel::segmentChar(std::uint8_t code) {
    code &= 0x3F;
    if (code == 0 || code == 32) return ' ';
    if (code <= 26) return kSegmentLetters[code - 1];
    if (code < 32) return "[\\]^_"[code - 27];
    return static_cast<char>(code);
}

std::size_t SurfaceModel::segmentText(const std::uint8_t* codes, std::size_t count, char* out, std::size_t size) {
    if (out == nullptr || size == 0) return 0;
    std::size_t used = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (used + 1 >= size) break;
        out[used++] = segmentChar(codes[i]);
        if ((codes[i] & 0x40) != 0 && used + 1 < size) out[used++] = '.';
    }
    out[used] = '\0';
    return used;
}

std::uint16_t SurfaceModel::ringLights(std::uint8_t value) {
    const int position = value & 0x0F;
    if (position == 0 || position > kRingLights) return 0;
    const int at = position - 1; // 0..10, 5 the centre
    constexpr int centre = kRingLights / 2;
    int from = at;
    int to = at;
    switch ((value >> 4) & 3) {
    case 0: break;
    case 1:
        from = std::min(at, centre);
        to = std::max(at, centre);
        break;
    case 2: from = 0; break;
    default:
        // Spread: position 1 is the centre alone, 6 the whole ring.
        from = centre - at;
        to = centre + at;
        break;
    }
    from = std::max(from, 0);
    to = std::min(to, kRingLights - 1);
    std::uint16_t lights = 0;
    for (int i = from; i <= to; ++i) lights = static_cast<std::uint16_t>(lights | (1u << i));
    return lights;
}

} // namespace mcusim
