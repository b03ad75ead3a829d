// The rack controller: loading a plug-in into a slot, finding its library, its profile.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "diag/DiagLog.h"
#include "host/IsolatedEffect.h"
#include "persist/IniFile.h"
#include "persist/PathForms.h"
#include "platform/Clock.h"
#include "platform/FileReplacer.h"
#include "platform/TrelvoHome.h"
#include "project/PluginProfile.h"
#include "session/ControllerText.h"
#include "session/RackController.h"

namespace trelvo::rack {

using detail::folderOf;
using detail::withoutExtension;
using host::TVstPlugIn;

// ---- Loading a plug-in ----

std::string RackController::findInVstFolders(const std::string& fileName) const {
    namespace fs = std::filesystem;
    std::vector<std::string> folders;
    for (const auto& [folder, name] : settings.vstFolders) folders.push_back(persist::ExpandPath({}, folder));
    // Trelvo's own plug-ins come last, so that a user's copy of one wins.
    for (const std::string& folder : platform::ownPluginFolders()) folders.push_back(folder);
    for (const std::string& folder : folders) {
        std::error_code error;
        const fs::path root = folder;
        fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied, error);
        for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
            if (walk->is_regular_file(error) && persist::sameName(walk->path().filename().string(), fileName))
                return walk->path().string();
        }
    }
    return {};
}

int RackController::loadPlugin(const std::string& path, int index) {
    const int n = racked.numSlots();
    if (index < 0 || index > n) index = racked.findFreeSlot();
    if (index < 0 || index >= kMaxSlots) return -1;
    // Only a plug-in slot, or the next free one, takes a library.
    if (index < n && racked.slot(index).kind() != SlotKind::Plugin) return -1;
    holdAudio();
    loadLibrary(index, path, {});
    releaseAudio();
    // A simulated surface goes straight onto the surface's port, if there is one.
    if (withoutExtension(platform::fileNamePart(path)) == "MCUsim" && racked.slot(index).PlugLoaded.load())
        surfaceControl->attachSimulator(index);
    selected = index;
    rebuildRows();
    presetList->RefreshPresetDisplay(index);
    return index;
}

bool RackController::loadLibrary(int index, const std::string& path,
                                 const std::function<void(host::TVstPlugIn&)>& projectKeys,
                                 const std::function<bool(host::TVstPlugIn&)>& projectState, int isolated) {
    TVstPlugIn& slot = racked.slot(index);
    if (slot.PlugLoaded.load() || slot.hasEffect()) {
        racked.clearSlot(index);
        platform::sleepMs(static_cast<unsigned>(std::lround(std::max(1.0, engineControl.blockMilliseconds))));
    }
    if (index == racked.numSlots()) {
        racked.setNumSlots(index + 1);
        racked.assignIdentity(index, 0);
    }

    const std::string file = resolveLibrary(path);

    const std::string displayName = withoutExtension(platform::fileNamePart(path));
    slot.Kind = SlotKind::Plugin;
    slot.IsMixer = false;
    slot.PlugDisplayName = displayName;
    slot.SlotName = displayName;
    slot.InpVol.set(kVolumeOff);
    slot.DryVol.set(kVolumeOff);
    slot.WetVol.set(0);
    slot.pan.set(0);
    slot.runMode.reset();
    slot.MuteGain = 1.0f;
    slot.SoloGain = 1.0f;
    slot.OnGain = 1.0f;
    slot.suspended = false;
    slot.ProjectStateFile.clear();
    slot.ProjectStateProgram = -1;
    slotEvents.assignTo(slot);

    bool loaded = false;
    if (file.empty()) {
        diag::hookedLogError(path + " does not exist!");
        slot.DllPath = path;
    } else {
        slot.DllPath = file;
        slot.Isolated = isolated >= 0 ? isolated == 1 : project::profileIsolated(settings, file);
        slot.Open();
        loaded = slot.Active.load();
        if (!loaded) {
            diag::hookedLogError(file + " not a vAlid plugin!");
            if (slot.PlugLoaded.load() || slot.hasEffect()) slot.Unload();
            slot.Kind = SlotKind::Plugin; // Open may have failed before it set the kind
        }
    }
    midi::RouteBlock& routes = slot.midi->routes;
    routes.count = 1;
    routes.routes[0].portName = "DEFAULT";
    bool presetState = false;
    if (loaded) {
        slot.GetEffectName();
        slot.InputPinNames.clear();
        slot.OutputPinNames.clear();
        for (int pin = 0; pin < slot.effectNumInputs(); ++pin) {
            VstPinProperties properties{};
            const bool named = slot.GetInputProperties(pin, properties) != 0 && properties.label[0] != '\0';
            slot.InputPinNames.push_back(
                named ? std::string(properties.label, strnlen(properties.label, sizeof properties.label))
                      : "iN-" + std::to_string(pin + 1));
        }
        for (int pin = 0; pin < slot.effectNumOutputs(); ++pin) {
            VstPinProperties properties{};
            const bool named = slot.GetOutputProperties(pin, properties) != 0 && properties.label[0] != '\0';
            slot.OutputPinNames.push_back(
                named ? std::string(properties.label, strnlen(properties.label, sizeof properties.label))
                      : "oUT-" + std::to_string(pin + 1));
        }
        slot.FXBfolder = folderOf(slot.DllPath);
        slot.FXPfolder = slot.FXBfolder;
        slot.CurProgramName = slot.GetProgramName();
        presetState = readProfile(slot);
    } else {
        slot.SlotName = "?" + displayName;
    }
    if (projectKeys) {
        projectKeys(slot);
        presetState = true;
    }
    for (int r = 0; r < routes.count && r < 4; ++r) {
        midi::MidiRoute& route = routes.routes[static_cast<std::size_t>(r)];
        route.portIndex = route.portName.empty() ? -1 : midiLayer->resolvePort(route.portName);
    }
    if (loaded) {
        const bool selected = presetState && restorePresetState(index);
        const bool restored = projectState && projectState(slot);
        if (!selected && !restored) {
            // What the plug-in reports is then also what it plays, and what a project
            // saved now brings back.
            const int program = slot.GetProgram();
            if (program >= 0 && program < slot.effectNumPrograms()) {
                slot.SetProgram(program);
                slot.CurProgramName = slot.GetProgramName();
            }
        }
        slot.SetEditKnobMode(persist::knobModeNumber(settings.knobMode));
    }
    return loaded;
}

bool RackController::setIsolated(int index, bool isolated) {
    if (index < 0 || index >= racked.numSlots()) return false;
    TVstPlugIn& slot = racked.slot(index);
    if (slot.kind() != SlotKind::Plugin || !slot.PlugLoaded.load() || !slot.Active.load()) return false;
    if (slot.Isolated.load() == isolated && (slot.isolation != nullptr) == isolated) return true;
    // The whole state crosses in a file of its own; a plug-in that faulted can give none,
    // and keeps the program it had.
    std::error_code error;
    const std::string stateFile = platform::temporaryNameFor(
        (std::filesystem::temp_directory_path(error) / ("trelvo-slot-" + std::to_string(index) + ".state")).string());
    const bool faulted = slot.isQuarantined();
    const int program = faulted ? slot.CurProgram : slot.GetProgram();
    const bool saved = !faulted && slot.SaveState(stateFile);
    const bool wasOn = slot.mainsOn.load() || faulted;
    holdAudio();
    slot.Close();
    slot.Unload();
    slot.Isolated = isolated;
    slot.Open();
    const bool opened = slot.Active.load();
    if (opened) {
        if (saved)
            slot.LoadState(stateFile, program);
        else if (program >= 0 && program < slot.effectNumPrograms())
            slot.SetProgram(program);
        if (wasOn && !slot.suspended.load()) slot.MainsChanged(true);
    }
    releaseAudio();
    std::filesystem::remove(stateFile, error);
    diag::hookedLog("slot " + std::to_string(index) + " \"" + slot.SlotName + "\" runs " +
                    (isolated ? "in a process of its own" : "in Trelvo's process"));
    if (!opened)
        showMessage("slot " + std::to_string(index) + " \"" + slot.SlotName +
                    "\" did not open again: " + slot.LoadFailure);
    if (index < static_cast<int>(rows.size())) rows[static_cast<std::size_t>(index)] = rowOf(index);
    return opened;
}

std::string RackController::resolveLibrary(const std::string& path) const {
    // A bare file name is looked for in the program's folder, never the working folder.
    std::string file = path.find('/') == std::string::npos ? persist::ExpandPath({}, path) : path;
    if (!platform::isRegularFile(file)) {
        const std::string fromProfile = profileLibraryPath(path);
        if (!fromProfile.empty()) file = fromProfile;
    }
    if (!platform::isRegularFile(file)) file = findInVstFolders(platform::fileNamePart(path));
    return file;
}

bool RackController::restorePresetState(int index) {
    TVstPlugIn& slot = racked.slot(index);
    const std::string program = slot.CurProgramName;
    const char mode = slot.ProgramMode();
    if ((mode == 'p' || mode == 'x') && !slot.PresetFileName.empty()) {
        presetList->LoadPresetByName(index, slot.PresetFileName, false);
        return true;
    }
    const bool bank = mode == 's' && !slot.FXBfile.empty();
    if (bank) presetList->LoadPresetByName(index, slot.FXBfile, false);
    if (!program.empty()) presetList->LoadPresetByName(index, program, false);
    return bank || !program.empty();
}

std::string RackController::profileLibraryPath(const std::string& path) const {
    return project::profileLibraryPath(settings, path);
}

bool RackController::readProfile(TVstPlugIn& slot) {
    // A profile given on the command line describes the library it started: it is read
    // whole, wherever it lies.
    const bool given = !pendingProfile.empty() && !pendingLibrary.empty() &&
                       persist::sameName(platform::fileNamePart(slot.DllPath), platform::fileNamePart(pendingLibrary));
    return project::readProfile(
        settings, slot, [this](const std::string& port) { return midiLayer->resolvePort(port); },
        given ? pendingProfile : std::string());
}

bool RackController::savePluginProfile(int index) {
    if (index < 0 || index >= racked.numSlots()) return false;
    TVstPlugIn& slot = racked.slot(index);
    if (!slot.PlugLoaded.load() || !slot.Active.load()) return false;
    slot.CurProgramName = slot.GetProgramName();
    return project::writeProfile(settings, slot);
}

} // namespace trelvo::rack
