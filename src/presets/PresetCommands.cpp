// The preset file commands: banks and programs opened and saved through the file dialogs,
// several programs loaded at once, programs copied, pasted, moved and renamed, and a whole
// bank exported into a folder.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "persist/IniFile.h"
#include "platform/TrelvoHome.h"
#include "presets/PresetList.h"
#include "presets/PresetText.h"
#include "rack/MidiLayer.h"
#include "rack/Rack.h"

namespace trelvo::presets {

using host::TVstPlugIn;

namespace {

constexpr std::size_t kProgramNameLength = 24;

std::string withoutExtension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

/// The first characters of a name that a program name holds, never cutting a UTF-8
/// character in two.
std::string programNamePart(const std::string& name) {
    if (name.size() <= kProgramNameLength) return name;
    std::size_t end = kProgramNameLength;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end);
}

/// The folder of a file as the slot's folder fields keep it: without its trailing "/".
std::string folderField(const std::string& file) {
    return platform::withoutTrailingSlash(folderOf(file));
}

} // namespace

std::string fileNameSafe(const std::string& name) {
    std::string safe(persist::trimmed(name));
    for (char& c : safe)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    return safe;
}

// ---- Banks and single programs ----

bool PresetList::openBank(int slot, const std::string& file) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return false;
    env.holdAudio(true);
    const bool loaded = entry->LoadBank(file);
    env.holdAudio(false);
    if (!loaded) return false;
    entry->FXBfolder = folderField(file);
    entry->FXBfile = platform::fileNamePart(file);
    // The bank's first program, whatever program the bank itself left current.
    env.holdAudio(true);
    entry->SetProgram(0);
    env.holdAudio(false);
    displayChanged = true;
    pendingPresetChange = -1;
    RefreshPresetDisplay(slot);
    return true;
}

bool PresetList::saveBank(int slot, const std::string& file, bool parameters) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return false;
    // A bank of parameters is read by stepping through the programs: not while playing.
    const bool stepping = parameters || !entry->programsAreChunks();
    if (stepping) {
        midiLayer.cmdPanic();
        env.holdAudio(true);
    }
    const bool saved = entry->SaveBank(file, parameters);
    if (stepping) env.holdAudio(false);
    if (!saved) return false;
    entry->FXBfolder = folderField(file);
    entry->FXBfile = platform::fileNamePart(file);
    displayChanged = true;
    RefreshPresetDisplay(slot);
    return true;
}

bool PresetList::savePresetAs(int slot, const std::string& file, bool parameters) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return false;
    midiLayer.cmdPanic();
    if (!entry->SavePreset(file, parameters ? 1 : 2)) return false;
    if (entry->FXPbank.empty()) entry->FXPfolder = folderField(file);
    displayChanged = true;
    RefreshPresetDisplay(slot);
    return true;
}

std::string PresetList::proposedPresetFile(int slot, bool parameters) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return {};
    std::string name;
    if (parameters || entry->ProgramMode() == 's') {
        name = entry->CurProgramName;
    } else if (slot == listSlot && selectedItem >= 0 && selectedItem < static_cast<int>(items.size())) {
        name = withoutExtension(items[static_cast<std::size_t>(selectedItem)].name());
    }
    name = fileNameSafe(name);
    return currentFxpFolder(*entry) + (name.empty() ? std::string("preset") : name) + ".fxp";
}

int PresetList::loadPresetFiles(int slot, const std::vector<std::string>& files, bool useFileName) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr || files.empty()) return 0;
    int loaded = 0;
    const auto nameAfter = [entry, useFileName](const std::string& file) {
        if (!useFileName) return;
        entry->SetProgramName(programNamePart(withoutExtension(platform::fileNamePart(file))));
        entry->Idle();
        entry->EditIdle();
    };
    if (files.size() == 1) {
        if (!LoadFxp(slot, files[0], true)) return 0;
        nameAfter(files[0]);
        loaded = 1;
    } else {
        env.holdAudio(true);
        for (std::size_t i = 0; i < files.size(); ++i) {
            // From the second file on, each goes into the next program; the bank's end ends
            // the loading (files beyond it would all land on its last program).
            if (i > 0) {
                if (entry->GetProgram() + 1 >= entry->NumPrograms) break;
                entry->SetProgram(entry->GetProgram() + 1);
            }
            if (!entry->LoadPreset(files[i])) continue;
            nameAfter(files[i]);
            ++loaded;
        }
        env.holdAudio(false);
    }
    // A folder of FXP banks keeps its root; loading from elsewhere does not move it.
    if (loaded > 0 && entry->FXPbank.empty()) entry->FXPfolder = folderField(files.back());
    displayChanged = true;
    pendingPresetChange = -1;
    RefreshPresetDisplay(slot);
    return loaded;
}

// ---- The clipboard files ----

std::string PresetList::clipboardFile(int which) const {
    std::string folder = env.clipboardFolder();
    if (folder.empty()) folder = platform::trelvoHome();
    return platform::withTrailingSlash(folder) + (which == 0 ? "$clpbrd$.tmp" : "$clpbrd1$.tmp");
}

bool PresetList::saveToClipboard(TVstPlugIn& slot, int which) {
    return slot.SavePreset(clipboardFile(which), 0);
}

bool PresetList::loadFromClipboard(int slot, int which) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return false;
    env.holdAudio(true);
    const bool loaded = entry->LoadPreset(clipboardFile(which));
    env.holdAudio(false);
    return loaded;
}

bool PresetList::copyPreset(int slot) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return false;
    midiLayer.cmdPanic();
    return saveToClipboard(*entry, 0);
}

bool PresetList::hasCopiedPreset() const {
    return platform::isRegularFile(clipboardFile(0));
}

bool PresetList::pastePreset(int slot) {
    if (loadedSlot(slot) == nullptr || !hasCopiedPreset()) return false;
    if (!loadFromClipboard(slot, 0)) return false;
    displayChanged = true;
    RefreshPresetDisplay(slot);
    return true;
}

bool PresetList::movePreset(int slot, bool up) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return false;
    const int p = entry->GetProgram();
    const int q = up ? p - 1 : p + 1;
    if (q < 0 || q >= entry->NumPrograms) return false;
    midiLayer.cmdPanic();
    failure.clear();
    if (!saveToClipboard(*entry, 0)) return false;
    entry->SetProgram(q);
    if (!saveToClipboard(*entry, 1)) {
        entry->SetProgram(p);
        std::remove(clipboardFile(1).c_str());
        return false;
    }
    // From here each program has a copy in a clipboard file. A step that fails puts back
    // what it may have touched; a copy that cannot be put back stays on disk and is named.
    const auto restore = [&](int program, int which) {
        entry->SetProgram(program);
        if (loadFromClipboard(slot, which)) return true;
        failure =
            "program " + std::to_string(program) + " could not be restored; it is kept in " + clipboardFile(which);
        diag::hookedLogError("MovePreset: " + failure);
        return false;
    };
    bool moved = loadFromClipboard(slot, 0); // p's program into q
    bool keepCopy = false;
    if (!moved) {
        keepCopy = !restore(q, 1);
    } else {
        entry->SetProgram(p);
        moved = loadFromClipboard(slot, 1); // q's program into p
        if (!moved) {
            const bool pBack = restore(p, 0);
            const bool qBack = restore(q, 1);
            keepCopy = !pBack || !qBack;
        }
    }
    if (!keepCopy) std::remove(clipboardFile(1).c_str());
    entry->SetProgram(moved ? q : p);
    displayChanged = true;
    RefreshPresetDisplay(slot);
    return moved;
}

// ---- Renaming ----

std::string PresetList::renameFileProposal(int slot) const {
    if (slot != listSlot || selectedItem < 0 || selectedItem >= static_cast<int>(items.size())) return {};
    return items[static_cast<std::size_t>(selectedItem)].name();
}

std::string PresetList::renamedFileName(const std::string& answer) {
    std::string name = fileNameSafe(answer);
    if (!name.empty() && extensionOf(name).empty()) name += ".fxp";
    return name;
}

bool PresetList::renamePresetFile(int slot, const std::string& from, const std::string& to) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr || from.empty() || to.empty()) return false;
    const std::string folder = currentFxpFolder(*entry);
    failure.clear();
    if (!platform::renameWithoutReplacing(folder + from, folder + to, failure)) {
        diag::hookedLogError("RenamePreset: " + failure);
        return false;
    }
    if (persist::sameName(entry->PresetFileName, from)) entry->PresetFileName = to;
    displayChanged = true;
    FillPresetList(slot);
    // The renamed file stays the selected item.
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].name() == to) selectedItem = static_cast<int>(i);
    return true;
}

void PresetList::renameProgram(int slot, const std::string& name) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return;
    entry->SetProgramName(programNamePart(name));
    entry->Idle();
    entry->EditIdle();
    displayChanged = true;
    RefreshPresetDisplay(slot);
}

// ---- Export ----

bool PresetList::exportAllowed(int slot) const {
    if (slot < 0 || slot >= rack.numSlots()) return false;
    const TVstPlugIn& entry = rack.slot(slot);
    return entry.PlugLoaded.load() && (entry.ProgramMode() == 's' || entry.ProgramMode() == 'x');
}

PresetList::ExportResult PresetList::exportPresets(int slot, const std::string& folder, bool withNumbers,
                                                   long long limitMs) {
    ExportResult result;
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr || !exportAllowed(slot)) return result;
    const auto now = [] {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    };
    const long long start = now();
    const int remembered = entry->GetProgram();
    const std::string target = platform::withTrailingSlash(folder);
    midiLayer.cmdPanic();
    env.holdAudio(true);
    const int count = std::max(entry->NumPrograms, 1);
    std::vector<std::string> written;
    for (int program = 0; program < count; ++program) {
        entry->SetProgram(program);
        entry->CurProgramName = entry->GetProgramName();
        // A name that cannot stand in a file name as it is keeps its other characters.
        const std::string name = fileNameSafe(entry->CurProgramName);
        if (!name.empty()) {
            const std::string file =
                target + (withNumbers ? threeDigits(program) + "-" : std::string()) + name + ".fxp";
            if (!entry->SavePreset(file, 0))
                ++result.failed;
            else if (std::find(written.begin(), written.end(), file) == written.end())
                written.push_back(file); // a later program of the same name replaces the file
        }
        if (now() - start >= limitMs) break;
    }
    entry->SetProgram(remembered);
    env.holdAudio(false);
    result.count = static_cast<int>(written.size());
    result.message = "Exported: " + std::to_string(result.count) + " presets in folder:\n" + target;
    if (result.failed > 0)
        result.message +=
            "\n" + std::to_string(result.failed) + " could not be written: " + TVstPlugIn::lastPresetFailure();
    RefreshPresetDisplay(slot);
    return result;
}

} // namespace trelvo::presets
