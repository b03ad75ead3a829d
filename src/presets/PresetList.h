#pragma once

#include <functional>
#include <string>
#include <vector>

#include "persist/IniFile.h"

namespace trelvo::host {
class TVstPlugIn;
}
namespace trelvo::midi {
class MidiLayer;
}
namespace trelvo::rack {
class Rack;
}

namespace trelvo::presets {

/// Selection codes a preset request may carry instead of a list index.
inline constexpr int kSelectedItem = -29;
inline constexpr int kFirstPreset = -26;
inline constexpr int kPreviousPreset = -24;
inline constexpr int kNextPreset = -23;
inline constexpr int kLastPreset = -21;

/// ResolveCode: the target index of a request (an index, or a selection code) between low
/// and high, clamped; false for a code that means nothing here.
bool ResolveCode(int request, int current, int selectedItem, int low, int high, int& target) noexcept;

/// One line of the preset list: "  007: Grand Piano", and the number it stands for.
struct PresetItem {
    std::string text;
    int number = 0;
    /// The text without its number part, trimmed: what the item names.
    std::string name() const;
};

/// "  " + the number as three digits + ": " + name.
std::string presetItemText(int number, const std::string& name);

/// The files of a folder with an extension ("*.fxp", "*.fxb"), or its sub-folders when
/// the extension is empty; sorted by name without regard to case, duplicates dropped.
std::vector<std::string> listPresetFolder(const std::string& folder, const std::string& extension);

/// Which preset commands the window enables.
struct PresetMenuState {
    bool loadPreset = false, savePreset = false, savePresetPrms = false;
    bool openBank = false, saveBank = false, saveBankPrms = false;
    bool renamePreset = false;
    /// The list's context menu is offered, and its items that only mode 's' allows.
    bool listMenu = false, listMoveAndExport = false;
};

/// The preset list beside the rack, the program modes and every preset selection: menus,
/// keys, list clicks, control surfaces and MIDI program changes all end in SelectPreset.
/// Thread: user interface.
class PresetList {
public:
    struct Environment {
        /// Holds audio processing while a file loads (true), then releases it (false).
        std::function<void(bool hold)> holdAudio = [](bool) {};
        /// The 50 ms rate-limited display refresh of a slot.
        std::function<void(int slot)> requestDisplayRefresh = [](int) {};
        /// The slot's line in the rack shows a new preset name.
        std::function<void(int slot)> rowChanged = [](int) {};
        /// The rack's selected slot: the one the list shows.
        std::function<int()> selectedSlot = [] { return 0; };
        /// Folders searched for a preset file named without a folder, after the library's.
        std::function<std::vector<std::string>()> searchFolders = [] { return std::vector<std::string>(); };
        /// The folder of instrument definitions.
        std::function<std::string()> instrumentFolder = [] { return std::string(); };
        /// The folder of the clipboard files that copy, paste and move go through.
        std::function<std::string()> clipboardFolder = [] { return std::string(); };
    };

    PresetList(rack::Rack& rack, midi::MidiLayer& midi, Environment environment);

    /// The single entry for every preset change of a slot.
    void SelectPreset(int slot, int request, bool holdAudio);
    /// How many presets a number given to SelectPreset may choose from (the programs, or
    /// the list's files); -1 when the slot selects by MIDI bank and program instead.
    int numSelectable(int slot);
    /// Finds a preset by name or file name (".fxp", ".fxb", or a program name) and loads it;
    /// false when nothing has that name. Then the first program is selected, unless
    /// firstWhenUnknown is false: then nothing changes.
    bool LoadPresetByName(int slot, const std::string& name, bool holdAudio, bool firstWhenUnknown = true);
    /// Loads an FXP file into the slot's current program.
    bool LoadFxp(int slot, const std::string& file, bool holdAudio);
    /// Re-reads the current program and refreshes the slot's line, list and menu state.
    void RefreshPresetDisplay(int slot);
    /// Rebuilds the list and its caption for a slot.
    void FillPresetList(int slot);
    void ShowPresetCaption(int slot);
    /// The button that cycles the preset view 0, 1 (2 for MIDI bank styles B and R), 0.
    void cyclePresetView();
    /// Chooses a program mode for a slot ('s', 'p', 'x', 'm'); the display is rebuilt
    /// when it changed.
    void setProgramMode(int slot, char mode);

    // ---- Preset file commands (the "&Presets" menu and the list's popup menu) ----
    // Each acts on a slot whose plug-in is loaded and does nothing for any other. A save
    // goes through a temporary file, so a failed one leaves the old file as it was.
    /// Opens an FXB bank and selects its first program.
    bool openBank(int slot, const std::string& file);
    /// Saves the bank, as chunks when the plug-in keeps them or as parameters.
    bool saveBank(int slot, const std::string& file, bool parameters);
    /// Saves the current program after a MIDI panic; with parameters always as values.
    bool savePresetAs(int slot, const std::string& file, bool parameters);
    /// The file "Save Preset As" proposes: in the current FXP folder, named after the
    /// program (mode 's', or parameters) or the selected list item, with ".fxp".
    std::string proposedPresetFile(int slot, bool parameters);
    /// Loads FXP files into consecutive programs from the current one on, up to the end of
    /// the bank; the last one loaded stays current. With useFileName each program loaded
    /// is named after its file. Returns how many loaded.
    int loadPresetFiles(int slot, const std::vector<std::string>& files, bool useFileName);
    /// Copies the current program to the clipboard file.
    bool copyPreset(int slot);
    /// A program was copied (the clipboard file exists).
    bool hasCopiedPreset() const;
    /// Pastes the clipboard file into the current program; false when there is none.
    bool pastePreset(int slot);
    /// Swaps the current program with the one before (up) or after it; the moved program
    /// stays current. Nothing happens at either end. A step that fails puts both programs
    /// back (a copy that cannot be put back stays in its clipboard file, named in failure).
    bool movePreset(int slot, bool up);
    /// Renaming the selected FXP file (mode 'p'): the name proposed, and the name an
    /// answer becomes (".fxp" added when it has none, characters a file name cannot hold
    /// replaced by "_").
    std::string renameFileProposal(int slot) const;
    static std::string renamedFileName(const std::string& answer);
    /// Renames a file of the current FXP folder; false, with the reason in failure, when
    /// the file system refused.
    bool renamePresetFile(int slot, const std::string& from, const std::string& to);
    /// Renames the current program (mode 's'): its first 24 characters.
    void renameProgram(int slot, const std::string& name);
    /// Export of every named program into folder, numbered "007-Name.fxp" when asked.
    /// Stops after the program being written when the time limit has passed. The
    /// current program is selected again at the end.
    struct ExportResult {
        int count = 0;
        int failed = 0;
        std::string message;
    };
    bool exportAllowed(int slot) const;
    ExportResult exportPresets(int slot, const std::string& folder, bool withNumbers, long long limitMs = 5000);

    // ---- MIDI program selection ----
    /// Typed numbers: the prefix shown while digits are entered.
    std::string typedNumberPrefix(int slot, bool channelEntry) const;
    /// A completed typed number for a slot.
    void typedNumberEntered(int slot, bool channelEntry, int number);
    /// The slot's channel count (dialog OK): clamped to 1..16, used flags follow.
    static void setMidiChannelCount(host::TVstPlugIn& slot, int count);

    // ---- What the window shows ----
    int PresetView = 0;
    std::vector<PresetItem> items;
    int selectedItem = -1;
    int listSlot = -1; ///< the slot the list was built for
    std::string caption;
    PresetMenuState menu;
    /// Set when a preset was loaded; the next list fill rebuilds even an equal list.
    bool displayChanged = false;
    /// Why the last move or file rename failed, in words; empty after one that did not.
    std::string failure;
    /// Set when the list is to be rebuilt (mode 's' program changes).
    bool listRebuildRequested = false;
    /// The window's pending preset change (a list click not yet applied); -1 when none.
    int pendingPresetChange = -1;

private:
    host::TVstPlugIn* loadedSlot(int slot);
    void midiSelection(host::TVstPlugIn& slot, int request);
    void sendMidiSelection(host::TVstPlugIn& slot, int channel);
    std::vector<PresetItem> itemsFor(host::TVstPlugIn& slot, int view);
    std::vector<PresetItem> programItems(host::TVstPlugIn& slot);
    int currentItemOf(host::TVstPlugIn& slot, const std::vector<PresetItem>& list, int view) const;
    std::string findPresetFile(host::TVstPlugIn& slot, const std::string& name, const std::string& folder);
    void updateMenu(int slot);
    std::string clipboardFile(int which) const;
    bool saveToClipboard(host::TVstPlugIn& slot, int which);
    bool loadFromClipboard(int slot, int which);

    rack::Rack& rack;
    midi::MidiLayer& midiLayer;
    Environment env;
};

/// The current FXP folder of a slot: FXPfolder + "/" + FXPbank + "/", or FXPfolder + "/".
std::string currentFxpFolder(const host::TVstPlugIn& slot);

/// A name with every character a file name cannot hold (on this system or on others a
/// file may travel to) replaced by "_", trimmed.
std::string fileNameSafe(const std::string& name);

/// "MidiPgms", "MidiPgm" and "MidiPgm-nn" with a key prefix. The channel count is taken
/// from "MidiPgms" only when reading a profile.
void readMidiProgramKeys(persist::IniHandle& handle, const std::string& prefix, host::TVstPlugIn& slot, bool isProfile);
void writeMidiProgramKeys(persist::IniHandle& handle, const std::string& prefix, const host::TVstPlugIn& slot);

} // namespace trelvo::presets
