#include "rack/SurfaceState.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "midi/MidiLock.h"
#include "persist/IniFile.h"
#include "platform/Clock.h"

namespace trelvo::rack {

namespace {

constexpr std::uint8_t kManufacturer[3] = {0x00, 0x00, 0x66};

// The surface's 7-segment characters for the codes 1..26.
constexpr char kSegmentLetters[] = "AbCdEFGhIJKLNnoPprStuyUHYZ";

char segmentChar(std::uint8_t code) {
    code &= 0x3F;
    if (code == 0 || code == 32) return ' ';
    if (code <= 26) return kSegmentLetters[code - 1];
    if (code <= 31) return "[\\]^_"[code - 27];
    if (code == 37) return 'P';
    if (code == 36) return 'S';
    if (code == 46) return '_';
    return static_cast<char>(code);
}

// The code that shows a character: a digit or sign as itself, a letter as the glyph of the
// table that looks like it.
std::uint8_t segmentCode(char c) {
    if (c >= 33 && c <= 63 && c != 36 && c != 37 && c != 46) return static_cast<std::uint8_t>(c);
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 0; k < 26; ++k) {
            const char glyph = kSegmentLetters[k];
            if (glyph == c || (pass == 1 && std::toupper(static_cast<unsigned char>(glyph)) ==
                                                std::toupper(static_cast<unsigned char>(c))))
                return static_cast<std::uint8_t>(k + 1);
        }
    if (c == '_') return 31;
    return 32;
}

// Display text as the surface can show it: printable ASCII, one '?' per other character.
std::string displayable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c >= 0xC0) {
            out += '?';
            while (i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) ++i;
        } else {
            out += '?';
        }
    }
    return out;
}

// Codes of a 7-segment text: a '.' lights the dot of the character before it.
std::string segmentCodes(const std::string& text) {
    std::string codes;
    for (char c : text) {
        if (c == '.' && !codes.empty() && (codes.back() & 0x40) == 0)
            codes.back() = static_cast<char>(codes.back() | 0x40);
        else
            codes += static_cast<char>(segmentCode(c));
    }
    return codes;
}

} // namespace

SurfaceState::SurfaceState() : now(&platform::tickCountMs) {
    for (auto& position : faderInput) position.store(-1);
    resetMirrors();
}

std::string SurfaceState::segmentText(std::uint8_t first, std::uint8_t second) {
    std::string text;
    for (std::uint8_t code : {first, second}) {
        text += segmentChar(code);
        if ((code & 0x40) != 0) text += '.';
    }
    return text;
}

// ---- Set-up ----

void SurfaceState::setup(const std::string& name, int entry) {
    surfaceName = name.substr(0, 4);
    for (char& c : surfaceName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    withoutDisplay = !surfaceName.empty() && surfaceName[0] == 'B';
    id = persist::sameName(surfaceName, "LCU") ? 0x10 : 0x14;
    for (auto& state : buttonState) state.store(0, std::memory_order_relaxed);
    resetMirrors();
    clearFolding();
    portSlot.store(entry, std::memory_order_release);
    numSetups.fetch_add(1, std::memory_order_acq_rel);
}

void SurfaceState::clearFolding() noexcept {
    for (auto& flag : faderPosted) flag.store(false);
    for (auto& flag : encoderPosted) flag.store(false);
    for (auto& steps : encoderInput) steps.store(0);
}

void SurfaceState::forget() {
    portSlot.store(-1, std::memory_order_release);
    active.store(false, std::memory_order_release);
    connectMs.store(kNotStarted, std::memory_order_release);
    midi::MidiLockGuard lock;
    numPending = 0;
    arenaUsed = 0;
}

void SurfaceState::resetMirrors() noexcept {
    ledState.fill(255);
    ringState.fill(255);
    meterState.fill(255);
    faderState.fill(65535);
    lcd.fill(' ');
    assignment = "  ";
    timecode.clear();
}

void SurfaceState::forgetSent() noexcept {
    resetMirrors();
    lcd.fill('\0'); // nothing matches it: the next line writes send whole lines
    assignment.clear();
}

// ---- Handshake and lifecycle ----

void SurfaceState::beginConnecting() noexcept {
    std::uint32_t time = now();
    if (time == kNotStarted || time == kStarted) time = 1;
    versionReplied.store(false, std::memory_order_release);
    if (connectMs.load() != kStarted) connectMs.store(time, std::memory_order_release);
}

bool SurfaceState::startIsDue() const noexcept {
    const std::uint32_t since = connectMs.load(std::memory_order_acquire);
    return present() && since != kNotStarted && since != kStarted && now() - since >= kStartDelayMs;
}

bool SurfaceState::markStarted() noexcept {
    const bool first = connectMs.exchange(kStarted) != kStarted;
    // A surface that went away with a fader in the hand never sent its release.
    for (auto& state : buttonState) state.store(0, std::memory_order_relaxed);
    clearFolding();
    forgetSent();
    active.store(true, std::memory_order_release);
    return first;
}

void SurfaceState::markStopped() noexcept {
    active.store(false, std::memory_order_release);
    connectMs.store(kNotStarted, std::memory_order_release);
}

// ---- Output ----

void SurfaceState::queue(const std::uint8_t* bytes, std::size_t length, std::uint32_t delayMs,
                         bool handshake) noexcept {
    if (length == 0) return;
    const std::uint32_t due = now() + delayMs;
    midi::MidiLockGuard lock;
    if (numPending >= kPendingCapacity || arenaUsed + length > kArenaSize) {
        dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (length == 3 && bytes[0] != 0xF0) {
        // A later value for the same LED, ring or fader replaces one still waiting: a
        // stamped message must not arrive after it and leave the surface showing the old one.
        for (int i = 0; i < numPending; ++i) {
            Pending& entry = pending[static_cast<std::size_t>(i)];
            const std::uint8_t* old = arena.data() + entry.offset;
            if (entry.length == 3 && old[0] == bytes[0] && old[1] == bytes[1]) entry.length = 0;
        }
    }
    std::memcpy(arena.data() + arenaUsed, bytes, length);
    pending[static_cast<std::size_t>(numPending++)] =
        Pending{due, static_cast<std::uint16_t>(arenaUsed), static_cast<std::uint16_t>(length), handshake};
    arenaUsed += length;
}

void SurfaceState::queueSysex(std::initializer_list<std::uint8_t> body, std::uint32_t delayMs) {
    if (withoutDisplay) return;
    std::uint8_t message[64];
    std::size_t length = 0;
    message[length++] = 0xF0;
    for (std::uint8_t byte : kManufacturer) message[length++] = byte;
    message[length++] = id;
    for (std::uint8_t byte : body) message[length++] = byte;
    message[length++] = 0xF7;
    queue(message, length, delayMs);
}

void SurfaceState::sendRaw(const std::uint8_t* bytes, std::size_t length, std::uint32_t delayMs) {
    queue(bytes, length, delayMs);
}

void SurfaceState::deviceQuery() {
    if (withoutDisplay) return;
    const std::uint8_t message[7] = {0xF0, 0x00, 0x00, 0x66, id, 0x00, 0xF7};
    queue(message, sizeof message, 0, true);
}

void SurfaceState::goOffline(std::uint32_t delayMs) {
    queueSysex({0x7F}, delayMs);
}

void SurfaceState::fadersToMinimum() {
    if (!isActive()) return;
    if (withoutDisplay) {
        for (int fader = 0; fader < 9; ++fader) {
            const std::uint8_t bend[3] = {static_cast<std::uint8_t>(0xE0 + fader), 0, 0};
            queue(bend, 3, 0);
        }
    } else {
        queueSysex({0x61});
    }
    faderState.fill(0);
}

void SurfaceState::allLedsOff() {
    if (!isActive()) return;
    if (withoutDisplay) {
        for (int key = 0; key <= 118; ++key) {
            const std::uint8_t note[3] = {0x90, static_cast<std::uint8_t>(key), 0};
            queue(note, 3, 0);
        }
    } else {
        queueSysex({0x62});
    }
    ledState.fill(0);
}

void SurfaceState::sendLed(int key, int value, std::uint32_t delayMs) {
    int sent = value > 1 ? 127 : std::max(value, 0);
    if (withoutDisplay) {
        if (sent == 1) sent = 127;
        delayMs = std::max<std::uint32_t>(delayMs, 400);
    }
    if (ledState[static_cast<std::size_t>(key)] == sent) return;
    ledState[static_cast<std::size_t>(key)] = static_cast<std::uint8_t>(sent);
    const std::uint8_t note[3] = {0x90, static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(sent)};
    queue(note, 3, delayMs);
}

void SurfaceState::setLed(int key, int value, std::uint32_t delayMs) {
    if (!isActive() || key < 0 || key > 127) return;
    sendLed(key, value, delayMs);
}

void SurfaceState::setLedGroup(int key, int index, std::uint32_t delayMs) {
    if (!isActive()) return;
    const bool group = (key >= 24 && key <= 31) || (key >= 40 && key <= 45) || key == 91;
    if (group && (index < 0 || index > 7)) return;
    if (key >= 24 && key <= 31) {
        for (int k = 0; k < 8; ++k) sendLed(24 + k, k == index ? 127 : 0, delayMs);
    } else if (key >= 40 && key <= 45) {
        for (int k = 0; k < 6; ++k) sendLed(40 + k, k == index ? 127 : 0, delayMs);
    } else if (key == 91) {
        // The transport: stopped (0, 1), playing (2), paused (3: play blinks).
        sendLed(93, index <= 1 ? 127 : 0, delayMs);
        sendLed(94, index == 2 ? 127 : (index == 3 ? 1 : 0), delayMs);
    } else {
        setLed(key, index, delayMs);
    }
}

void SurfaceState::setRing(int strip, int value) {
    if (!isActive() || strip < 0 || strip >= kStrips) return;
    const int style = (value >> 4) & 0x0F;
    int sent = 0;
    if (style == 5 || style == 12) {
        sent = 64;
    } else {
        const int position = std::min(value & 0x0F, 11);
        sent = ((style & 3) << 4) | position | (value & 0x40);
        if ((style & 3) == 1 && position == 0) sent |= 64;
    }
    if (ringState[static_cast<std::size_t>(strip)] == sent) return;
    ringState[static_cast<std::size_t>(strip)] = static_cast<std::uint8_t>(sent);
    std::uint8_t message[3] = {0xB0, static_cast<std::uint8_t>(48 + strip), static_cast<std::uint8_t>(sent)};
    if (withoutDisplay) {
        // A surface without rings shows the value as a controller position.
        message[1] = static_cast<std::uint8_t>(16 + strip);
        message[2] =
            value == 0 ? 0 : static_cast<std::uint8_t>(std::min(127L, std::lround(((value - 1) & 15) * 12.7) + 3));
    }
    queue(message, 3, 0);
}

bool SurfaceState::touched(int fader) const noexcept {
    return fader >= 0 && fader <= 8 && buttonState[static_cast<std::size_t>(104 + fader)].load() != 0;
}

void SurfaceState::setFader(int fader, int position) {
    if (!isActive() || fader < 0 || fader > 8) return;
    position = std::clamp(position, 0, 1023);
    if (touched(fader) || faderState[static_cast<std::size_t>(fader)] == position) return;
    faderState[static_cast<std::size_t>(fader)] = static_cast<std::uint16_t>(position);
    const std::uint8_t bend[3] = {static_cast<std::uint8_t>(0xE0 + fader), 0, static_cast<std::uint8_t>(position / 8)};
    queue(bend, 3, 0);
}

void SurfaceState::heardFader(int fader, int position) noexcept {
    if (fader >= 0 && fader <= 8) faderState[static_cast<std::size_t>(fader)] = static_cast<std::uint16_t>(position);
}

void SurfaceState::setMeter(int strip, int level) {
    if (!isActive() || strip < 0 || strip >= kStrips) return;
    if (meterState[static_cast<std::size_t>(strip)] == level) return;
    meterState[static_cast<std::size_t>(strip)] = static_cast<std::uint8_t>(level);
    const std::uint8_t pressure[3] = {0xD0, static_cast<std::uint8_t>(strip * 16 + level), 0};
    queue(pressure, 3, 0);
}

void SurfaceState::writeDisplay(const std::string& text, int position, int mode, std::uint32_t delayMs) {
    if (!isActive() || position < 0 || position >= kLcdSize) return;
    const std::string shown = displayable(text);
    std::array<char, kLcdSize> updated = lcd;
    int start = position;
    int end = kLcdSize;
    if (mode == kWriteLine) {
        start = position > 55 ? kLineLength : 0;
        end = start + kLineLength;
    } else if (mode != kWriteAndBlankRest) {
        end = std::min<int>(kLcdSize, position + static_cast<int>(shown.size()));
    }
    for (int i = start; i < end; ++i) {
        const auto k = static_cast<std::size_t>(i - start);
        updated[static_cast<std::size_t>(i)] = k < shown.size() ? shown[k] : ' ';
    }
    int first = 0;
    while (first < kLcdSize && updated[static_cast<std::size_t>(first)] == lcd[static_cast<std::size_t>(first)])
        ++first;
    if (first == kLcdSize) return;
    int last = kLcdSize - 1;
    while (updated[static_cast<std::size_t>(last)] == lcd[static_cast<std::size_t>(last)]) --last;
    lcd = updated;
    sendDisplay(first, last + 1, delayMs);
}

void SurfaceState::sendDisplay(int from, int to, std::uint32_t delayMs) {
    if (withoutDisplay) return;
    std::uint8_t message[kLcdSize + 8];
    std::size_t length = 0;
    message[length++] = 0xF0;
    for (std::uint8_t byte : kManufacturer) message[length++] = byte;
    message[length++] = id;
    message[length++] = 0x12;
    message[length++] = static_cast<std::uint8_t>(from);
    for (int i = from; i < to; ++i) message[length++] = static_cast<std::uint8_t>(lcd[static_cast<std::size_t>(i)]);
    message[length++] = 0xF7;
    queue(message, length, delayMs);
}

void SurfaceState::setAssignment(const std::string& text) {
    if (!isActive()) return;
    std::string codes = segmentCodes(text);
    codes.resize(2, static_cast<char>(32));
    const auto first = static_cast<std::uint8_t>(codes[0]);
    const auto second = static_cast<std::uint8_t>(codes[1]);
    const std::string shown = segmentText(first, second);
    if (shown == assignment) return;
    assignment = shown;
    queueSysex({0x11, first, second});
    post(kMsgSurfaceStatus, kSurfaceRefresh, 0);
}

void SurfaceState::setTimecode(const std::string& text) {
    if (!isActive() || text == timecode) return;
    timecode = text;
    std::string codes = segmentCodes(text);
    // The display has ten digits: the rightmost ones are kept.
    if (codes.size() > 10) codes.erase(0, codes.size() - 10);
    if (withoutDisplay) return;
    std::uint8_t message[32];
    std::size_t length = 0;
    message[length++] = 0xF0;
    for (std::uint8_t byte : kManufacturer) message[length++] = byte;
    message[length++] = id;
    message[length++] = 0x10;
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) message[length++] = static_cast<std::uint8_t>(*it);
    message[length++] = 0xF7;
    queue(message, length, 0);
}

// ---- Flush ----

bool SurfaceState::flush(Sender send, void* context) noexcept {
    if (!present()) return false;
    const std::uint32_t time = now();
    const std::uint32_t since = connectMs.load(std::memory_order_acquire);
    // During the start delay only the handshake goes out.
    const bool holding = since != kNotStarted && since != kStarted && time - since < kStartDelayMs;
    midi::MidiLockGuard lock;
    bool sent = false;
    int kept = 0;
    std::size_t keptBytes = 0;
    for (int i = 0; i < numPending; ++i) {
        const Pending entry = pending[static_cast<std::size_t>(i)];
        if (entry.length == 0) continue;
        if ((!holding || entry.handshake) && static_cast<std::int32_t>(time - entry.dueMs) >= 0) {
            send(context, arena.data() + entry.offset, entry.length);
            sent = true;
            continue;
        }
        // Offsets grow with the entries, so moving a kept message down never overwrites
        // one that is still to be looked at.
        if (entry.offset != keptBytes)
            std::memmove(arena.data() + keptBytes, arena.data() + entry.offset, entry.length);
        pending[static_cast<std::size_t>(kept++)] =
            Pending{entry.dueMs, static_cast<std::uint16_t>(keptBytes), entry.length, entry.handshake};
        keptBytes += entry.length;
    }
    numPending = kept;
    arenaUsed = keptBytes;
    return sent;
}

// ---- Input ----

bool SurfaceState::post(std::uint32_t code, std::intptr_t wParam, std::intptr_t lParam) noexcept {
    return messages != nullptr && messages->post(code, wParam, lParam);
}

int SurfaceState::encoderSlot(int controller) const noexcept {
    if (controller >= 16 && controller <= 23) return controller - 16;
    if (controller == 60) return 8;
    if (controller == 61) return 9;
    return -1;
}

void SurfaceState::interpret(const midi::MidiEvent& event, const std::uint8_t* sysexBytes) noexcept {
    if (event.isSysex()) {
        interpretSysex(sysexBytes, event.sysexLength);
        return;
    }
    const int type = event.status & 0xF0;
    const int data1 = event.data1 & 0x7F;
    const int data2 = event.data2 & 0x7F;
    switch (type) {
    case 0x80:
    case 0x90: {
        const int velocity = type == 0x80 ? 0 : data2;
        buttonState[static_cast<std::size_t>(data1)].store(static_cast<std::uint8_t>(velocity));
        if (data1 >= 112 && !(data1 == 112 && velocity == 0)) return;
        // A press is a command; a released fader touch lets the fader follow the rack again.
        if (velocity > 0 || (data1 >= 104 && data1 <= 112)) post(kMsgSurfaceButtons, data1, velocity);
        return;
    }
    case 0xB0: {
        if (data1 < 16) return;
        const int slot = encoderSlot(data1);
        if (slot < 0) {
            // No control of the surface sends it: nothing to carry out.
            ignored.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        const int steps = (data2 & 0x3F) * ((data2 & 0x40) != 0 ? -1 : 1);
        encoderInput[static_cast<std::size_t>(slot)].fetch_add(steps);
        // A message lost to a full queue must not leave the encoder waiting for it.
        if (!encoderPosted[static_cast<std::size_t>(slot)].exchange(true) && !post(kMsgSurfaceEncoders, data1, 0))
            encoderPosted[static_cast<std::size_t>(slot)].store(false);
        return;
    }
    case 0xE0: {
        const int fader = event.status & 0x0F;
        if (fader > 8) return;
        // Ten bits of the 14-bit value: seven in the upper byte, three at the top of the lower.
        const int position = data2 * 8 + (data1 >> 4);
        faderInput[static_cast<std::size_t>(fader)].store(position);
        if (!faderPosted[static_cast<std::size_t>(fader)].exchange(true) &&
            !post(kMsgSurfaceEncoders, kSurfaceFaderBase + fader, position))
            faderPosted[static_cast<std::size_t>(fader)].store(false);
        return;
    }
    default: return;
    }
}

void SurfaceState::interpretSysex(const std::uint8_t* bytes, std::size_t length) noexcept {
    if (bytes == nullptr || length < 7 || bytes[0] != 0xF0 || bytes[length - 1] != 0xF7 ||
        std::memcmp(bytes + 1, kManufacturer, 3) != 0 || bytes[4] != id) {
        ignored.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    switch (bytes[5]) {
    case 0x01: {
        // The connection query: 7 serial bytes and 4 challenge bytes, answered with as many
        // of them as the device expects back (never the query's end byte).
        const std::size_t wanted = id == 0x10 || id == 0x11 ? 11 : 12;
        const std::size_t available = length - 7;
        bool sevenBit = true;
        for (std::size_t i = 6; i < length - 1; ++i) sevenBit = sevenBit && bytes[i] < 0x80;
        if (available < 11 || !sevenBit) {
            ignored.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        std::uint8_t reply[24] = {0xF0, 0x00, 0x00, 0x66, id, 0x02};
        const std::size_t count = std::min(wanted, available);
        std::memcpy(reply + 6, bytes + 6, count);
        reply[6 + count] = 0xF7;
        queue(reply, count + 7, 0, true);
        versionReplied.store(false, std::memory_order_release);
        post(kMsgSurfaceStatus, kSurfaceReconnect, 0);
        return;
    }
    case 0x03: {
        const std::uint8_t request[7] = {0xF0, 0x00, 0x00, 0x66, id, 0x13, 0xF7};
        queue(request, sizeof request, 350, true);
        return;
    }
    case 0x14:
        versionReplied.store(true, std::memory_order_release);
        post(kMsgSurfaceStatus, kSurfaceVersion, 0);
        return;
    default: return;
    }
}

// ---- Folded input ----

int SurfaceState::takeFaderPosition(int fader) noexcept {
    if (fader < 0 || fader > 8) return -1;
    faderPosted[static_cast<std::size_t>(fader)].store(false);
    return faderInput[static_cast<std::size_t>(fader)].exchange(-1);
}

int SurfaceState::takeEncoderSteps(int controller) noexcept {
    const int slot = encoderSlot(controller);
    if (slot < 0) return 0;
    encoderPosted[static_cast<std::size_t>(slot)].store(false);
    return encoderInput[static_cast<std::size_t>(slot)].exchange(0);
}

} // namespace trelvo::rack
