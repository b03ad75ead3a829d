#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "midi/MidiEvent.h"
#include "model/UiMessages.h"

namespace trelvo::rack {

/// What a surface message asks of the main window, in the wParam of kMsgSurfaceStatus.
enum SurfaceStatusCode : std::intptr_t {
    kSurfaceRefresh = 0,   ///< the assignment display changed
    kSurfaceVersion = 1,   ///< the version reply arrived: start the surface
    kSurfaceReconnect = 2, ///< the surface asked to connect (it came back): start over
};
/// kMsgSurfaceEncoders carries a controller number (16..127), or kSurfaceFaderBase plus the
/// fader (0..8) with the position in the lParam.
inline constexpr std::intptr_t kSurfaceFaderBase = 0x1000;

/// The control surface's side of the protocol (manufacturer bytes 00 00 66): the handshake,
/// the mirrors of what was sent (LEDs, rings, faders, meters, the displays), the output
/// buffer with its time stamps and the reading of what the surface sends.
///
/// Threads: the audio thread reads the surface's input (`interpret`) and flushes the output
/// (`flush`); the user-interface thread does every other output operation. The output
/// buffer is shared under MidiLock; the mirrors belong to the user-interface thread; what
/// the audio thread finds reaches the user interface as window messages, and fader moves
/// and encoder steps are folded so that a flood of them costs one message per control.
class SurfaceState {
public:
    static constexpr int kStrips = 8;
    static constexpr int kLcdSize = 112;
    static constexpr int kLineLength = 56;
    static constexpr std::uint32_t kStartDelayMs = 500;
    static constexpr std::uint32_t kNotStarted = 0;
    static constexpr std::uint32_t kStarted = 0xFFFFFFFFu;

    SurfaceState();

    // ---- Set-up. Thread: user interface, audio held ----
    /// Takes the surface named by a virtual port ("MCU", "LCU" or "BCRU") at that entry.
    void setup(const std::string& name, int entry);
    /// No surface any more (the virtual ports were read without one).
    void forget();
    /// Where button, control and status messages go.
    void setMessages(UiMessageQueue* queue) noexcept { messages = queue; }

    bool present() const noexcept { return portSlot.load(std::memory_order_acquire) >= 0; }
    int port() const noexcept { return portSlot.load(std::memory_order_acquire); }
    const std::string& name() const noexcept { return surfaceName; }
    bool noDisplay() const noexcept { return withoutDisplay; }
    std::uint8_t deviceId() const noexcept { return id; }
    bool isActive() const noexcept { return active.load(std::memory_order_acquire); }
    /// Counts the set-ups: a new one means the MIDI layer read its ports again.
    int setups() const noexcept { return numSetups.load(std::memory_order_acquire); }

    // ---- Handshake and lifecycle. Thread: user interface ----
    /// The connection attempt begins now: output is held for kStartDelayMs.
    void beginConnecting() noexcept;
    std::uint32_t connectTime() const noexcept { return connectMs.load(std::memory_order_acquire); }
    /// True once the start delay has passed without a version reply.
    bool startIsDue() const noexcept;
    /// Marks the surface started and active; the mirrors are reset so that everything is
    /// sent again. Returns true the first time since the last shutdown.
    bool markStarted() noexcept;
    /// Clears active and the connection time (after the shutdown messages went out).
    void markStopped() noexcept;
    /// Forgets what was sent, so that every LED, ring, fader, meter and the whole display are
    /// sent again at their next update.
    void forgetSent() noexcept;
    /// True once a version reply arrived since the last connection query.
    bool answered() const noexcept { return versionReplied.load(std::memory_order_acquire); }

    // ---- Output. Thread: user interface; nothing is sent while the surface is not active,
    // except the handshake's own messages ----
    void deviceQuery();
    void goOffline(std::uint32_t delayMs);
    void fadersToMinimum();
    void allLedsOff();
    /// An LED: 0 off, 1 blink, anything above 1 on. Only a change is sent.
    void setLed(int key, int value, std::uint32_t delayMs = 0);
    /// A group of LEDs of which only the member `index` lights: the select LEDs (24..31),
    /// the assignment LEDs (40..45) and the transport (key 91, with the transport state).
    void setLedGroup(int key, int index, std::uint32_t delayMs = 0);
    /// A V-Pot ring: style in bits 4..5, position in bits 0..3. Only a change is sent.
    void setRing(int strip, int value);
    /// A fader 0..7 or the master 8, position 0..1023. Not sent while it is touched.
    void setFader(int fader, int position);
    /// The surface moved a fader there itself: remembered, so that it is not echoed.
    void heardFader(int fader, int position) noexcept;
    /// A strip's meter level, 0..12 or 14 for clip.
    void setMeter(int strip, int level);
    /// Display write modes: 4 writes from position and blanks the rest, 102 writes one
    /// whole line, anything else writes the text where it lands.
    static constexpr int kWriteAndBlankRest = 4;
    static constexpr int kWriteLine = 102;
    void writeDisplay(const std::string& text, int position, int mode, std::uint32_t delayMs = 0);
    /// The two characters of the assignment display (a '.' after one lights its dot).
    void setAssignment(const std::string& text);
    void setTimecode(const std::string& text);
    /// Any message, for the rest of the protocol (ring resets on a surface without display).
    void sendRaw(const std::uint8_t* bytes, std::size_t length, std::uint32_t delayMs = 0);

    // ---- Mirrors. Thread: user interface ----
    std::string lcdLine(int line) const { return std::string(lcd.data() + (line == 2 ? kLineLength : 0), kLineLength); }
    std::string assignmentText() const { return assignment; }
    std::string timecodeText() const { return timecode; }
    int ledValue(int key) const noexcept {
        return key >= 0 && key < 128 ? ledState[static_cast<std::size_t>(key)] : 255;
    }
    int ringValue(int strip) const noexcept {
        return strip >= 0 && strip < kStrips ? ringState[static_cast<std::size_t>(strip)] : 255;
    }
    bool touched(int fader) const noexcept;
    /// The text of two assignment-display codes with the surface's 7-segment table.
    static std::string segmentText(std::uint8_t first, std::uint8_t second);

    // ---- Audio thread ----
    /// One event the surface sent. Thread: audio, wait-free (takes MidiLock for a reply).
    void interpret(const midi::MidiEvent& event, const std::uint8_t* sysexBytes) noexcept;
    /// Hands every message that is due to send(context, bytes, length), in order; nothing
    /// while the start delay runs. True when something was sent. Thread: audio (once per
    /// block) or user interface (while no block runs); takes MidiLock.
    using Sender = void (*)(void* context, const std::uint8_t* bytes, std::size_t length);
    bool flush(Sender send, void* context) noexcept;
    /// The millisecond clock every time stamp is taken from (tests set their own).
    using Clock = std::uint32_t (*)();
    void setClock(Clock clock) noexcept { now = clock; }

    // ---- Folded input. Thread: user interface ----
    /// The newest position of a fader whose message arrived, -1 when it was taken already.
    int takeFaderPosition(int fader) noexcept;
    /// The steps an encoder (16..23, 60 or 61) gathered since they were last taken.
    int takeEncoderSteps(int controller) noexcept;

    // ---- Counters. Thread: any ----
    std::uint64_t ignoredMessages() const noexcept { return ignored.load(std::memory_order_relaxed); }
    std::uint64_t droppedOutput() const noexcept { return dropped.load(std::memory_order_relaxed); }

private:
    struct Pending {
        std::uint32_t dueMs;
        std::uint16_t offset;
        std::uint16_t length; ///< 0: superseded by a later message for the same control
        bool handshake;       ///< goes out during the start delay too
    };
    static constexpr int kPendingCapacity = 1024;
    static constexpr std::size_t kArenaSize = 32768;

    void queue(const std::uint8_t* bytes, std::size_t length, std::uint32_t delayMs, bool handshake = false) noexcept;
    void queueSysex(std::initializer_list<std::uint8_t> body, std::uint32_t delayMs = 0);
    void sendLed(int key, int value, std::uint32_t delayMs);
    void sendDisplay(int from, int to, std::uint32_t delayMs);
    void interpretSysex(const std::uint8_t* bytes, std::size_t length) noexcept;
    bool post(std::uint32_t code, std::intptr_t wParam, std::intptr_t lParam) noexcept;
    void clearFolding() noexcept;
    int encoderSlot(int controller) const noexcept;
    void resetMirrors() noexcept;

    std::string surfaceName;
    bool withoutDisplay = false;
    std::uint8_t id = 0x14;
    std::atomic<int> portSlot{-1};
    std::atomic<int> numSetups{0};
    std::atomic<bool> active{false};
    std::atomic<std::uint32_t> connectMs{kNotStarted};
    std::atomic<bool> versionReplied{false};
    UiMessageQueue* messages = nullptr;

    std::array<std::atomic<std::uint8_t>, 128> buttonState{};
    std::array<std::uint8_t, 128> ledState{};
    std::array<std::uint8_t, kStrips> ringState{};
    std::array<std::uint16_t, 9> faderState{};
    std::array<std::uint8_t, kStrips> meterState{};
    std::array<char, kLcdSize> lcd{};
    std::string assignment;
    std::string timecode;

    // Folded input: the newest fader position (-1 taken) and the gathered encoder steps,
    // each with a flag that says a window message is on its way.
    std::array<std::atomic<int>, 9> faderInput{};
    std::array<std::atomic<bool>, 9> faderPosted{};
    std::array<std::atomic<int>, 10> encoderInput{};
    std::array<std::atomic<bool>, 10> encoderPosted{};

    // The output buffer, under MidiLock.
    std::array<Pending, kPendingCapacity> pending{};
    int numPending = 0;
    std::array<std::uint8_t, kArenaSize> arena{};
    std::size_t arenaUsed = 0;
    Clock now;

    std::atomic<std::uint64_t> ignored{0};
    std::atomic<std::uint64_t> dropped{0};
};

} // namespace trelvo::rack
