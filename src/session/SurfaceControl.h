#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "model/UiMessages.h"
#include "rack/SurfaceState.h"

namespace trelvo::rack {

class RackController;

/// One page of the surface: the eight strips show the slots of one kind.
struct SurfacePage {
    int selected = -1;  ///< the slot the page last selected
    int vpotMode = 0;   ///< 0 vol, 1 pan, 2 dry, 3 inp, 4 pst
    int paramBank = 0;  ///< plug-in page: 1-based group of eight parameters, 0 none
    bool multi = false; ///< the strips show eight slots in one V-Pot mode
    int owner = -1;     ///< the strip head of the selected slot
};

/// What the control surface does to the rack: its start and shutdown, the pages that map
/// the eight strips onto slots, the selection (`mcuSelect`), the display, rings, faders,
/// meters and LEDs that follow the rack, and the buttons, encoders and faders carried out
/// through the rack controller. Everything here runs on the user-interface thread; the
/// protocol itself is the MIDI layer's SurfaceState.
class SurfaceControl {
public:
    explicit SurfaceControl(RackController& controller);

    SurfaceState& state() noexcept;

    // ---- Lifecycle. Thread: user interface ----
    /// MIDI is open: a surface named by the virtual ports is asked to connect.
    void midiOpened();
    /// Starts the surface: after the version reply, or when it never came.
    void start();
    /// Says goodbye on the surface and takes it offline; the pages are kept in the settings.
    void shutdown();
    /// Sends the surface everything it shows again (its display may have been disturbed).
    void redraw();
    /// One idle tick: the start delay, connection queries, the output while no block runs,
    /// and the faders, rings, display and timecode that follow the rack.
    void tick();

    // ---- Events. Thread: user interface ----
    /// Window messages 9991, 9993 and 9994.
    void handleMessage(const UiMessage& message);
    void buttonPressed(int key);
    void buttonReleased(int key);
    void encoder(int controller, int steps);
    void fader(int fader, int position);
    /// `mcuSelect`: the window selected a slot.
    void mcuSelect(int slot);
    /// A notice for an LED: 91 the transport state, other keys on their own.
    void notice(int code, int value);
    /// A channel's meter (its shown level and clip countdown).
    void meter(int kindNo, int level, int clipCountdown);

    /// Wires a simulated surface in a slot to the surface's port: the slot hears the port
    /// and the port hears the slot's own port. False when no port is a surface.
    bool attachSimulator(int slot);

    // ---- What the window lends. Thread: user interface ----
    std::function<void(int slot)> selectSlot;
    std::function<void()> saveProjectAs;
    /// Key 82 closes every dialog of the main window, 83 confirms the first one.
    std::function<void(bool confirm)> dialogKey = [](bool) {};
    /// The surface started: the window enables its "MC&U" item; status changes refresh it.
    std::function<void()> started = [] {};
    std::function<void()> statusChanged = [] {};
    /// Opens or closes a plug-in's editor (the "edt" V-Pot).
    std::function<void(int slot)> toggleEditor = [](int) {};
    /// Takes back what the window lent (the window is going).
    void lendNothing();

    // ---- What it shows. Thread: user interface ----
    char page() const noexcept { return currentPage; }
    const SurfacePage& pageRecord(char letter) const;
    /// The slot a strip of the current page shows, -1 none.
    int stripSlot(int strip) const;
    /// The fader position of a volume and back (0 is off, 1023 is +12 dB).
    static int faderPosition(int decibels);
    static int faderDecibels(int position);
    /// The master fader: 0 off, 1023 is 0 dB.
    static int masterPosition(int decibels);
    static int masterDecibels(int position);
    /// The preset a "pst" V-Pot is choosing, -1 none.
    int presetChoice() const noexcept { return choosingPreset; }

private:
    SurfacePage& record(char letter);
    /// Makes the slot the current page's selection; false for a slot no page shows.
    bool adopt(int slot);
    int slotStrip(int slot) const;
    /// The assignment display for a selected slot: the page letter and its strip.
    std::string assignmentOf(int slot) const;
    int ringOf(int slot, int mode);
    int parameterRing(int slot, int parameter);
    void stepValue(int slot, int mode, int steps);
    void pushValue(int slot, int mode);
    void stepParameter(int slot, int parameter, int steps);
    /// The slot and what a V-Pot strip changes: a V-Pot mode, or 100 + a parameter index.
    bool vpotTarget(int strip, int& slot, int& mode) const;
    void refreshStrips();
    void refreshDisplay();
    std::string firstLine() const;
    std::string secondLine();
    void stepSelection(int direction);
    void switchPage(char letter);
    void readSettings();
    void writeSettings();
    int numParameters(int slot) const;

    RackController& rack;
    char currentPage = 'P';
    std::array<SurfacePage, 4> pages{};
    int choosingPreset = -1;
    int choosingSlot = -1;
    std::uint32_t greetingUntil = 0;
    int setupsAtShutdown = -1; ///< the set-up that was shut down: not connected again by itself
    /// A fader's volume sent to the rack and not yet applied there: the fader is not moved
    /// back to the old value meanwhile.
    struct Commanded {
        int decibels = 0;
        std::uint32_t sinceMs = 0;
        bool waiting = false;
    };
    std::array<Commanded, 8> commanded{};
    std::string timecodeOf() const;
    std::uint32_t lastQuery = 0;
    bool queried = false;
};

} // namespace trelvo::rack
