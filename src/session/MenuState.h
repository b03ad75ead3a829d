#pragma once

namespace trelvo::rack {

class RackController;

/// Which commands of the menus and popup menus are enabled for the selected slot.
/// Commands whose windows are not part of the program yet stay disabled.
struct MenuState {
    // ---- Slot list ----
    bool addSlot = false;       ///< a free slot exists
    bool deleteMixer = false;   ///< "D&el Channel/Group": a CHANNEL or GROUP that may go
    bool deletePlugIn = false;  ///< "&Del MIDI/Plugin": a plug-in or MIDI slot that may go
    bool replacePlugIn = false; ///< a plug-in slot
    bool closePlugIn = false;   ///< a plug-in slot that may go (closing deletes the slot)
    bool plugInOpen = false;    ///< profile, plug-in help, program mode, preset display
                                ///< (a plug-in slot whose plug-in is loaded)
    bool showEditor = false;    ///< an open plug-in that has an editor
    bool properties = false;    ///< "Slot &Properties...": a plug-in or MIDI slot (its routes)
    bool moveUp = false, moveDown = false;
    bool switches = false; ///< On/Off and Bypass: a used slot
    bool muteSolo = false; ///< Mute and Solo: a mixer slot
    bool rename = false;   ///< a used slot
    // ---- Window ----
    bool addPage = false, deletePage = false;
    // ---- Presets (from the preset list) ----
    bool previousNext = false; ///< previous, next, first and last preset
    bool loadPreset = false, savePreset = false, savePresetPrms = false;
    bool openBank = false, saveBank = false, saveBankPrms = false, renamePreset = false;
    bool exportPresets = false; ///< program mode 's' or 'x'
    /// The preset list's popup menu (program modes 's' and 'p', presets shown), and its
    /// moves and export (mode 's' only).
    bool listMenu = false, listMoveAndExport = false;
    bool generateIns = false; ///< "generate INS file": a slot without a MIDI bank style
};

/// The menu state for the controller's selected slot. The moves and deletes are enabled
/// exactly where the controller's operation would change the rack; the preset items
/// follow the preset list's menu state (refreshed when a slot is selected) and need an
/// open plug-in. Thread: user interface.
MenuState menuStateOf(RackController& controller);

} // namespace trelvo::rack
