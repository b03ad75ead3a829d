#pragma once

// The device side of a control surface: eight channel strips and a master fader, a two-line
// display of 56 characters, a two-digit assignment display and a ten-digit timecode display,
// buttons with LEDs, V-Pots with LED rings and level meters. The model answers the host the
// way the hardware does and sends what a user does on the surface. MCUsim (the plug-in) and
// the host's tests drive it; it knows nothing of VST, JACK or X11.
//
// Every message the host sends is handed to receive() whole: a short message of one to three
// bytes, or a SysEx message from F0 to F7. SysEx for the surface starts F0 00 00 66 and the
// device id (0x14 for the main unit, 0x10 for an extender); anything else, and anything
// malformed or truncated, changes nothing and counts in ignored().
//
// What the surface sends goes to the sink, one whole message a call, in order.
//
// Not thread-safe: the owner calls everything from one thread at a time. receive(), the
// actions and state() allocate nothing (the plug-in calls them on its audio thread); the
// accessors that return std::string do.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace mcusim {

inline constexpr std::uint8_t kMainUnitId = 0x14;
inline constexpr std::uint8_t kExtenderId = 0x10;

inline constexpr int kStrips = 8;
inline constexpr int kFaders = 9; ///< eight strips and the master (index 8)
inline constexpr int kMasterFader = 8;
inline constexpr int kFaderMax = 1023;
inline constexpr int kLineLength = 56;
inline constexpr int kDisplaySize = 2 * kLineLength;
inline constexpr int kTimecodeDigits = 10;
inline constexpr int kRingLights = 11;
inline constexpr int kMeterMax = 12;

/// LED values of Note On messages from the host (led() reports these three only).
inline constexpr std::uint8_t kLedOff = 0;
inline constexpr std::uint8_t kLedBlink = 1;
inline constexpr std::uint8_t kLedOn = 127;

/// Button notes: what press() and release() send, and the LEDs the host lights.
namespace key {
inline constexpr int kRecord = 0;    ///< + strip: arm the strip
inline constexpr int kSolo = 8;      ///< + strip
inline constexpr int kMute = 16;     ///< + strip
inline constexpr int kSelect = 24;   ///< + strip
inline constexpr int kVPotPush = 32; ///< + strip
inline constexpr int kPageChannels = 40;
inline constexpr int kPageGroups = 41;
inline constexpr int kPageOutputs = 42;
inline constexpr int kPagePlugins = 43;
inline constexpr int kBankLeft = 46;
inline constexpr int kBankRight = 47;
inline constexpr int kChannelLeft = 48;
inline constexpr int kChannelRight = 49;
inline constexpr int kSave = 80;
inline constexpr int kCancel = 82;
inline constexpr int kEnter = 83;
inline constexpr int kRewind = 91;
inline constexpr int kFastForward = 92;
inline constexpr int kStop = 93;
inline constexpr int kPlay = 94;
inline constexpr int kRecordTransport = 95;
inline constexpr int kCursorUp = 96;
inline constexpr int kCursorDown = 97;
inline constexpr int kCursorLeft = 98;
inline constexpr int kCursorRight = 99;
inline constexpr int kFaderTouch = 104; ///< + strip, 112 for the master
} // namespace key

/// Control Change numbers of the surface.
namespace cc {
inline constexpr int kVPotRing = 48; ///< + strip, host to surface
inline constexpr int kVPotTurn = 16; ///< + strip, surface to host
inline constexpr int kJog = 60;
inline constexpr int kTempo = 61;
} // namespace cc

/// SysEx command bytes (the byte after the device id).
namespace sysex {
inline constexpr std::uint8_t kDeviceQuery = 0x00;
inline constexpr std::uint8_t kHostConnectionQuery = 0x01;
inline constexpr std::uint8_t kHostConnectionReply = 0x02;
inline constexpr std::uint8_t kHostConnectionConfirm = 0x03;
inline constexpr std::uint8_t kTimecode = 0x10;
inline constexpr std::uint8_t kAssignment = 0x11;
inline constexpr std::uint8_t kDisplay = 0x12;
inline constexpr std::uint8_t kVersionRequest = 0x13;
inline constexpr std::uint8_t kVersionReply = 0x14;
inline constexpr std::uint8_t kFadersToMinimum = 0x61;
inline constexpr std::uint8_t kAllLedsOff = 0x62;
inline constexpr std::uint8_t kGoOffline = 0x7F;
} // namespace sysex

/// The serial number and challenge the surface sends in its host connection query.
inline constexpr std::uint8_t kSerial[7] = {'T', 'R', 'L', 'V', 'O', '0', '1'};
inline constexpr std::uint8_t kChallenge[4] = {0x11, 0x22, 0x33, 0x44};
inline constexpr char kVersionText[] = "V1.00";

struct SurfaceCounters {
    std::uint32_t received = 0; ///< every call of receive()
    std::uint32_t ignored = 0;  ///< malformed, foreign or unknown messages
    std::uint32_t sent = 0;     ///< messages handed to the sink (also without a sink)
    std::uint32_t displayMessages = 0;
    std::uint32_t displayBytes = 0; ///< text bytes of the display messages
    std::uint32_t fadersReceivedWhileTouched = 0;
    std::uint32_t versionRequests = 0;
    std::uint32_t offlineMessages = 0;
};

/// Everything the surface shows, as plain data: copying it allocates nothing.
struct SurfaceState {
    std::uint8_t leds[128];                 ///< kLedOff, kLedBlink or kLedOn per note
    std::uint8_t rings[kStrips];            ///< raw ring values as the host sent them
    std::uint16_t faders[kFaders];          ///< 0..1023
    bool touched[kFaders];                  ///< the user holds the fader
    std::uint8_t meters[kStrips];           ///< 0..12
    bool clips[kStrips];                    ///< overload LED of the meter
    char lcd[kDisplaySize];                 ///< not terminated
    std::uint8_t assignment[2];             ///< left, right: segment codes as sent
    std::uint8_t timecode[kTimecodeDigits]; ///< segment codes, [0] the rightmost digit
    bool online;
    SurfaceCounters counters;
};

class SurfaceModel {
public:
    using Sink = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

    explicit SurfaceModel(std::uint8_t deviceId = kMainUnitId);

    std::uint8_t deviceId() const noexcept { return id; }
    void setSink(Sink sink);

    /// One whole message from the host.
    void receive(const std::uint8_t* bytes, std::size_t length);

    // ---- What the user does: each sends its message(s) to the sink. ----

    /// Sends the host connection query (serial and challenge) and goes offline until the host
    /// asks for the version.
    void connect();
    /// Note On key 127 (0..127).
    void press(int key);
    /// Note On key 0.
    void release(int key);
    /// Presses (true) or releases the touch sensor of fader 0..8 (note 104 + strip).
    void touch(int strip, bool isTouched);
    /// Pitch Bend on channel strip (0..8), data1 = position & 7, data2 = position >> 3; the
    /// position is clamped to 0..1023 and kept as the fader's.
    void moveFader(int strip, int position);
    /// Relative turns of strip's V-Pot (CC 16 + strip), positive clockwise: one message per
    /// up to 63 steps, value n for +n and 0x40 | n for -n.
    void turnVPot(int strip, int steps);
    /// The jog wheel (CC 60), encoded as turnVPot.
    void jog(int steps);
    /// The tempo encoder (CC 61), encoded as turnVPot.
    void tempo(int steps);

    // ---- What the surface shows. ----

    const SurfaceState& state() const noexcept { return current; }
    /// kLedOff, kLedBlink or kLedOn; off for keys outside 0..127.
    int led(int key) const;
    int ring(int strip) const;
    int fader(int strip) const;
    bool touched(int strip) const;
    int meter(int strip) const;
    bool clip(int strip) const;
    /// The whole display, 112 characters, line 1 first.
    std::string lcd() const;
    /// Line 1 or 2, 56 characters.
    std::string line(int which) const;
    /// The two digits with a '.' after each one whose dot is lit ("-.-", "C1", " 3").
    std::string assignment() const;
    /// The ten timecode digits in reading order (unset ones as spaces), a '.' after each one
    /// whose dot is lit.
    std::string timecode() const;
    bool online() const noexcept { return current.online; }

    const SurfaceCounters& counters() const noexcept { return current.counters; }
    std::uint32_t ignored() const noexcept { return current.counters.ignored; }
    std::uint32_t displayMessages() const noexcept { return current.counters.displayMessages; }
    std::uint32_t displayBytes() const noexcept { return current.counters.displayBytes; }
    std::uint32_t fadersReceivedWhileTouched() const noexcept { return current.counters.fadersReceivedWhileTouched; }
    std::uint32_t versionRequests() const noexcept { return current.counters.versionRequests; }
    std::uint32_t offlineMessages() const noexcept { return current.counters.offlineMessages; }

    /// Back to the state after construction: blank display, everything off, counters 0.
    /// Sends nothing.
    void reset();

    // ---- Helpers the editor and tests share. ----

    /// The character a 7-segment digit shows for a code (bit 6, the dot, is left out):
    /// 0 and 32 blank, 1..26 letters, 27..31 "[\]^_", 33..63 the ASCII character.
    static char segmentChar(std::uint8_t code);
    /// Writes codes as text, '.' after each code with bit 6 set; terminated, truncated to
    /// fit size. Returns the characters written (without the terminator).
    static std::size_t segmentText(const std::uint8_t* codes, std::size_t count, char* out, std::size_t size);
    /// The LEDs of a V-Pot ring value, bit i for light i (0 leftmost .. 10 rightmost). Bits
    /// 4..5 are the mode (0 one light, 1 from the centre, 2 from the left, 3 spread from the
    /// centre), bits 0..3 the position (0 dark, 1..11). The centre LED below the knob (bit 6)
    /// is not part of it.
    static std::uint16_t ringLights(std::uint8_t value);

private:
    bool receiveShort(const std::uint8_t* bytes, std::size_t length);
    bool receiveSysex(const std::uint8_t* bytes, std::size_t length);
    void sendRelative(int controller, int steps);
    void sendSysex(std::uint8_t command, const std::uint8_t* payload, std::size_t length);
    void send(const std::uint8_t* bytes, std::size_t length);

    std::uint8_t id;
    Sink sink;
    SurfaceState current{};
};

} // namespace mcusim
