#pragma once

// How a host test drives MCUsim, the simulated control surface: effVendorSpecific with
// index kMcuSimIndex ('MCUs'), value a McuSimCode and ptr a McuSimCommand (for kMcuSimSnapshot
// a McuSimSnapshot). The dispatcher returns 1 when it handled the command, 0 otherwise (an
// unknown code, a null pointer where one is needed, or a full queue).
//
// Actions (everything but kMcuSimSnapshot) are queued for the audio thread: the plug-in
// carries them out at the start of its next processReplacing and the messages they cause
// reach the host through audioMasterProcessEvents in that same call. The snapshot is the state
// the plug-in published at the end of its last processReplacing (and at construction), so an
// action or a message the host sent shows after one more processing call.
//
// Plain C++ with fixed sizes: the host's tests include it as it is.

#include <cstdint>

namespace mcusim {

/// 'MCUs', the four characters packed first-highest as the other four-character codes.
inline constexpr std::int32_t kMcuSimIndex = 0x4D435573;

enum McuSimCode : std::int32_t {
    kMcuSimConnect = 1,   ///< send the host connection query (also done on every resume)
    kMcuSimPress = 2,     ///< a = key 0..127
    kMcuSimRelease = 3,   ///< a = key 0..127
    kMcuSimTouch = 4,     ///< a = fader 0..8, b = 1 touch, 0 let go
    kMcuSimMoveFader = 5, ///< a = fader 0..8, b = position 0..1023
    kMcuSimTurnVPot = 6,  ///< a = strip 0..7, b = steps (negative counter-clockwise)
    kMcuSimJog = 7,       ///< a = steps
    kMcuSimSnapshot = 8,  ///< ptr is a McuSimSnapshot to fill in; nothing is queued
    kMcuSimTempo = 9,     ///< a = steps
    kMcuSimReset = 10,    ///< everything back to the start (blank, off, counters 0), sends nothing
};

struct McuSimCommand {
    std::int32_t code; ///< informational: the dispatcher's value is the code it obeys
    std::int32_t a;
    std::int32_t b;
};

struct McuSimSnapshot {
    std::uint8_t leds[128];  ///< per note: 0 off, 1 blink, 127 on
    std::uint8_t rings[8];   ///< raw V-Pot ring values
    std::int32_t faders[9];  ///< 0..1023, [8] the master
    std::uint8_t touched[9]; ///< 1 while the user holds the fader
    std::uint8_t meters[8];  ///< 0..12
    std::uint8_t clips[8];   ///< 1 while the overload LED is lit
    char lcd[113];           ///< both lines, 56 characters each, terminated
    char assignment[8];      ///< e.g. "-.-", terminated
    char timecode[24];       ///< ten digits (unset ones as spaces) and the lit dots, terminated
    std::int32_t online;     ///< 1 after a version request, 0 after going offline or connecting
    // Counters since construction or the last reset.
    std::uint32_t received; ///< messages from the host
    std::uint32_t ignored;
    std::uint32_t sent; ///< messages the surface sent
    std::uint32_t displayMessages;
    std::uint32_t displayBytes;
    std::uint32_t fadersReceivedWhileTouched;
    std::uint32_t versionRequests;
    std::uint32_t offlineMessages;
    // Progress of the audio thread, for a test that waits for its commands to take effect.
    std::uint32_t blocks;          ///< processReplacing calls before this snapshot was published
    std::uint32_t commandsQueued;  ///< actions accepted by the dispatcher so far
    std::uint32_t commandsApplied; ///< actions carried out as of this snapshot
    std::uint32_t dropped;         ///< outgoing messages lost to a full output queue
};

} // namespace mcusim
