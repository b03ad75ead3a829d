#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "midi/MidiRoute.h"
#include "rack/MidiLayer.h"

namespace trelvo::rack {

class RackController;

/// What the properties dialog edits, without the dialog: a private copy of one slot's MIDI
/// routes, output port, preset behaviour and flags (slot mode), or of the 16 virtual ports
/// (virtual-port mode). Nothing reaches the rack before apply(); dropping the editor is
/// Cancel. Thread: user interface.
class PropertiesEditor {
public:
    enum Mode { kSlotMode = 0, kVirtualPortMode = 2 };
    /// The columns of a channel row, as shown: channels 1..16, notes and velocities
    /// 0..127, transpose -60..60.
    enum Column { kInChannel, kOutChannel, kNoteLo, kNoteHi, kVelLo, kVelHi, kTranspose, kNumColumns };

    static constexpr const char* kNoPortsSelected = "no ports selected";
    static constexpr const char* kNoPortsAvailable = "no ports available";
    static constexpr const char* kNotOnline = "... This port currently not on-line ...";

    PropertiesEditor(RackController& controller, int slot, Mode mode);

    Mode mode() const noexcept { return editMode; }
    int slot() const noexcept { return slotIndex; }

    // ---- Pages ----
    /// " Select Virtual Port:" or " Select: [F6]".
    std::string pagesHeading() const;
    /// Slot mode: "MIDI", then "Details" and "Info" for a loaded plug-in. Virtual-port
    /// mode: the named ports, or "Default" when none is named.
    std::vector<std::string> pages() const;
    /// Virtual-port mode: the entry being edited (its page).
    int currentPort() const noexcept { return portIndex; }
    void selectPort(int entry);

    // ---- The routes of the slot or of the virtual port being edited ----
    midi::RouteBlock& routes();
    const midi::RouteBlock& routes() const;
    midi::MidiRoute& route() { return routes().routes[static_cast<std::size_t>(routeIndex)]; }
    const midi::MidiRoute& route() const { return routes().routes[static_cast<std::size_t>(routeIndex)]; }
    int currentRoute() const noexcept { return routeIndex; }
    /// "MIDI 1" .. "MIDI n".
    std::vector<std::string> routeTabs() const;
    void selectRoute(int index);
    /// "&Add inPort": at most four routes; the new one reads portName with every channel
    /// mapped to itself and everything passing, and becomes current.
    bool addRoute(const std::string& portName);
    /// "&Delete inPort": only when more than one route; later routes move up.
    bool deleteRoute();
    void nextRoute();
    void previousRoute();

    /// The Port&IN choices: slot mode "DEFAULT", the named virtual ports, then the slot
    /// ports ("SlotID-5001 (Piano)"); virtual-port mode the input aliases, then the absent
    /// ones in braces.
    std::vector<std::string> inPortEntries() const;
    /// What the IN combo shows for the current route: its port's entry, "no ports
    /// selected" for an unset route, "no ports available" when nothing can be chosen.
    std::string inPortText() const;
    /// The current route's port is open (or the route is unset).
    bool inPortOnline() const;
    /// The user picked entry position of inPortEntries(); the route reads that port.
    void setInPort(int position);
    /// The text the dialog shows in its caption after a port change.
    std::string portNote;

    /// The Port&OUT choices: slot mode the virtual ports with an output alias ("Name
    /// (alias)", in braces when the device is absent); virtual-port mode the output
    /// aliases, then the absent ones in braces. Entry 0 is always "" (no output).
    std::vector<std::string> outPortEntries() const;
    int outPortPosition() const;
    void setOutPort(int position);

    // ---- Channel rows ----
    static std::pair<int, int> range(Column column);
    int value(int row, Column column) const;
    /// False, with nothing changed, outside the column's range.
    bool setValue(int row, Column column, int shown);
    bool rowEnabled(int row) const;
    void setRowEnabled(int row, bool on);

    // ---- Message types and controllers ----
    static const std::array<const char*, midi::kNumMessageTypes>& typeCaptions();
    /// "CC - 07" .. "CC - 127".
    static std::string controllerCaption(int number);
    /// Switching "Control Change (CC)" switches all 128 controllers with it.
    void setType(int type, bool on);
    void setController(int number, bool on);
    void setAllControllers(bool on);

    // ---- Virtual ports (virtual-port mode) ----
    /// "&std vPort" (kind "new") or a surface ("MCU", "LCU", "BCRU"). Empty on success,
    /// else the message for a box titled "Add vPort".
    std::string addVirtualPort(const std::string& kind);
    /// Empty on success (every route that names the port follows it), else why not.
    std::string renameVirtualPort(const std::string& name);
    /// The port being edited is the one "DEFAULT" routes read; making it so.
    bool isDefaultPort() const;
    void makeDefaultPort();
    /// "Delete Virtual port: "Name"".
    std::string deleteQuestion() const;
    /// Only when more than one port exists; later ports move down.
    bool deleteVirtualPort();
    const std::array<midi::MidiLayer::VirtualPort, midi::kVirtualPorts>& virtualPorts() const { return ports; }

    // ---- Details (slot mode, a loaded plug-in) ----
    struct Details {
        int pcKeys = 1;        ///< "off", "pre", "post"
        int pcMouseWheel = 1;  ///< the same
        int presetDisplay = 0; ///< 's', 'p', 'x', 'm'; -1 another letter, kept
        bool chgPresetOnMidiPc = false;
        int fileMode = 0; ///< 's', 'p', 'x'; -1 another letter, kept
        int midiMode = 0; ///< ' ', 'p', 'l', 'm', 'b', 'r'; -1 another letter, kept
        bool programsFromOne = false;
        int midiChannels = 1; ///< 1..16
        int useFxbFxp = 3;    ///< "None", "FXP", "FXB", "Both"
        bool checkVstIds = false;
        std::string vstIds; ///< further accepted plug-in ids, "," separated
        std::string fxbFolder, fxbFile, fxpFolder, fxpFile, fxpBank, dllTemplate;
        bool isMidiVport = false;
        bool isMidiPlugin = false;
    } details;
    static const std::vector<std::string>& presetDisplayNames();
    static const std::vector<std::string>& midiModeNames();
    static const std::vector<std::string>& useFxbFxpNames();
    static const std::vector<std::string>& pcChoiceNames();

    /// The Info page: what the plug-in says about itself, one line per item.
    const std::vector<std::string>& infoLines() const noexcept { return info; }

    // ---- OK ----
    /// The first entry the rack would misread, in words; empty when everything is valid.
    std::string problem() const;
    /// Writes the copy back (audio halted around it). Virtual-port mode also writes
    /// "vMIDIports" and opens MIDI again on the new ports. False, with nothing changed,
    /// when problem() is not empty.
    bool apply();

private:
    void buildInfo();
    std::string slotPortEntry(int tablePosition) const;
    std::string problemInRoutes(const midi::RouteBlock& block, const std::string& owner) const;
    std::string nameProblem(const std::string& name, int except) const;
    void applySlot();
    void applyVirtualPorts();

    RackController& rack;
    Mode editMode;
    int slotIndex;
    int portIndex = 0;
    int routeIndex = 0;
    bool hasPlugin = false;
    midi::RouteBlock slotRoutes;
    std::string slotOutName;
    std::array<midi::MidiLayer::VirtualPort, midi::kVirtualPorts> ports;
    std::string defaultPortName;
    std::vector<std::pair<std::string, std::string>> renames; ///< old, new
    Details initial;
    std::vector<std::string> info;
};

} // namespace trelvo::rack
