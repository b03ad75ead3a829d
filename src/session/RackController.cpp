#include "session/RackController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "diag/DiagLog.h"
#include "midi/MidiLock.h"
#include "persist/IniFile.h"
#include "persist/PathForms.h"
#include "platform/Clock.h"
#include "platform/ThreadScheduling.h"
#include "platform/TrelvoHome.h"
#include "project/PluginProfile.h"
#include "session/ProjectFile.h"

namespace trelvo::rack {

using audio::kAllowedStart;
using audio::kAllowedStop;
using host::TVstPlugIn;

namespace {

std::string volumeColumn(int dB) {
    return dB < kVolumeMin ? "~" : std::to_string(dB);
}
std::string panColumn(int step) {
    return step == 0 ? "[C]" : std::to_string(step);
}

std::string withoutExtension(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

RackController::RackController(persist::AppSettings& appSettings) : settings(appSettings) {
    midi::MidiLayer::Environment environment;
    environment.settingsFile = settings.fileName();
    environment.haltAudio = [this] { engineControl.setAllowed(audio::kAllowedPause); };
    environment.resumeAudio = [this] { engineControl.setAllowed(audio::kAllowedResume); };
    environment.settleMs = [this] { return engineControl.settleTimeMs; };
    environment.sleep = [this](int milliseconds) { engineControl.sleep(milliseconds); };
    environment.samplesPerMs = [this] {
        return engineControl.samplesPerMs > 0.0f ? engineControl.samplesPerMs : 48.0f;
    };
    environment.audioActive = [this] { return audioEngine.allowed.load(); };
    environment.backends = [this](std::vector<std::string>& whyNot) {
        return midiBackends ? midiBackends(whyNot) : midi::openMidiBackends(whyNot);
    };
    midiLayer = std::make_unique<midi::MidiLayer>(racked, audioEngine, std::move(environment));
    midiLayer->defaultPortName = settings.defaultPort;
    audioEngine.setHooks(midiLayer.get());
    slotEvents.plugInMidiOut = [this](int slot, VstEvents* events) { midiLayer->plugInOutput(slot, events); };
    releaseSlotPorts = [this] { midiLayer->releaseSlotPorts(); };
    rebuildSlotPorts = [this] { midiLayer->assignSlotPorts(); };
    slotEvents.assignToAll();
    engineControl.idleTimer = [this](bool enable) { idleEnabled = enable; };

    presets::PresetList::Environment presetEnvironment;
    presetEnvironment.holdAudio = [this](bool hold) {
        engineControl.setAllowed(hold ? audio::kAllowedPause : audio::kAllowedResume);
    };
    presetEnvironment.requestDisplayRefresh = [this](int slot) { slotEvents.onUpdateDisplay(slot); };
    presetEnvironment.rowChanged = [this](int slot) {
        if (slot >= 0 && slot < static_cast<int>(rows.size())) rows[static_cast<std::size_t>(slot)] = rowOf(slot);
    };
    presetEnvironment.selectedSlot = [this] { return selected; };
    presetEnvironment.searchFolders = [this] { return std::vector<std::string>{settings.presetFolder}; };
    presetList = std::make_unique<presets::PresetList>(racked, *midiLayer, std::move(presetEnvironment));

    host::TVstPlugIn::DeveloperSwitch = settings.isDev;
    audioEngine.useAllCpus = settings.useAllCpus;
    audioEngine.outputVolume = settings.outputVolumeGain;
    racked.transport().setTempo(settings.tempo);
    racked.transport().setTimeSignature(settings.timeSigNumerator, settings.timeSigDenominator);
}

RackController::~RackController() {
    engineControl.setAllowed(kAllowedStop);
    audioEngine.applicationStage = 0;
    for (int i = 0; i < racked.numSlots(); ++i)
        if (racked.slot(i).Active.load()) racked.slot(i).SetActive(false);
    midiLayer->setMIDI(midi::iClose | midi::iHalt);
    audioEngine.setHooks(nullptr);
    engineControl.ASIOdestroy();
}

// ---- Start-up ----

void RackController::startAudio(std::vector<audio::DriverEntry> drivers) {
    engineControl.selectedDriverName = settings.asioDriver;
    engineControl.ASIOinit(std::move(drivers));
}

void RackController::startMidi(MidiBackends backends) {
    midiBackends = std::move(backends);
    midiLayer->setMIDI(midi::iOpen);
    resolveSlotRoutes();
}

void RackController::resolveSlotRoutes() {
    engineControl.setAllowed(audio::kAllowedPause);
    midiLayer->resolveSlotRoutes();
    engineControl.setAllowed(audio::kAllowedResume);
}

void RackController::setRunning() {
    audioEngine.applicationStage = kStageRunning;
    engineControl.setBuffers(1);
    engineControl.setAllowed(kAllowedStart);
    rebuildRows();
}

void RackController::clearRack() {
    holdAudio();
    for (int i = racked.numSlots() - 1; i >= 0; --i) racked.clearSlot(i);
    racked.setNumSlots(0);
    selected = 0;
    engineControl.setBuffers(1);
    releaseAudio();
    rebuildRows();
}

void RackController::newRack() {
    clearRack();
    addSlot(SlotKind::Output, false);
    addSlot(SlotKind::Channel, false);
    holdAudio();
    engineControl.setBuffers(1);
    releaseAudio();
    selected = 1;
    rebuildRows();
}

// ---- Structural changes ----

void RackController::holdAudio() {
    engineControl.setAllowed(kAllowedStop);
    releaseSlotPorts();
}

void RackController::releaseAudio() {
    renumber();
    engineControl.setBuffers(1);
    rebuildSlotPorts();
    engineControl.setAllowed(kAllowedStart);
}

void RackController::renumber() {
    racked.recountKinds();
    for (int i = 0; i < racked.numSlots(); ++i) {
        TVstPlugIn& slot = racked.slot(i);
        if (slot.kind() == SlotKind::Plugin) slot.OwnerIndex = racked.stripHeadOf(i);
    }
}

int RackController::addSlot(SlotKind kind, bool interactive) {
    if (kind == SlotKind::Plugin || racked.findFreeSlot() < 0) return -1;
    if (interactive) engineControl.setAllowed(kAllowedStop);
    const int index = racked.addSlot(kind);
    if (index >= 0) {
        slotEvents.assignTo(racked.slot(index));
        selected = index;
    }
    if (interactive) {
        renumber();
        engineControl.setBuffers(1);
        engineControl.setAllowed(kAllowedStart);
        selected = std::max(0, racked.numSlots() - 1);
        rebuildRows();
    }
    return index;
}

bool RackController::deleteSlot(SlotKind kind, int index) {
    const int n = racked.numSlots();
    if (n < 2 || index < 2 || index > n - 1 || racked.slot(index).kind() != kind) return false;
    holdAudio();
    racked.clearSlot(index);
    compact();
    releaseAudio();
    selected = racked.numSlots() == 0 ? 0 : std::min(index, racked.numSlots() - 1);
    rebuildRows();
    return true;
}

void RackController::compact() {
    int n = racked.numSlots();
    for (int i = 0; i < n;) {
        if (!racked.slot(i).isFree()) {
            ++i;
            continue;
        }
        for (int j = i; j < n - 1; ++j) racked.exchangeSlots(j, j + 1);
        racked.setNumSlots(--n);
    }
}

void RackController::renameSlot(int index) {
    if (index < 0 || index >= racked.numSlots() || !askText) return;
    std::string text = racked.slot(index).SlotName;
    if (askText("Rename Slot", "New slot name:", text)) renameSlot(index, text);
}

void RackController::renameSlot(int index, const std::string& name) {
    if (index < 0 || index >= racked.numSlots()) return;
    racked.slot(index).SlotName = name;
    rebuildRows();
    slotLabel = std::to_string(index) + ": " + name;
}

void RackController::moveBlock(int from, int count, int to) {
    // Bubbles the block [from, from + count) up to start at to, keeping every order.
    for (int k = 0; k < count; ++k)
        for (int j = from + k; j > to + k; --j) racked.exchangeSlots(j - 1, j);
}

void RackController::moveUp(int s) {
    const int n = racked.numSlots();
    if (n < 1 || s < 1 || s >= n || racked.slot(s).isFree()) return;
    const TVstPlugIn& slot = racked.slot(s);
    const SlotKind kind = slot.kind();
    if (kind == SlotKind::Plugin || kind == SlotKind::Midi) {
        if (s < 2) return;
        holdAudio();
        racked.exchangeSlots(s - 1, s);
        selected = s - 1;
    } else if (kind == SlotKind::Input) {
        selected = 0;
        rebuildRows();
        rebuildSlotPorts();
        engineControl.setAllowed(kAllowedStart);
        return;
    } else if (slot.IsMixer) {
        int p = s - 1;
        while (p >= 0 && !racked.slot(p).IsMixer) --p;
        if (p < 0) return;
        int end = s + 1;
        while (end < n && !racked.slot(end).IsMixer) ++end;
        holdAudio();
        moveBlock(s, end - s, p);
        selected = p;
    } else {
        return;
    }
    releaseAudio();
    rebuildRows();
}

void RackController::moveDown(int s) {
    const int n = racked.numSlots();
    if (n < 1 || s < 1 || s >= n - 1 || racked.slot(s).isFree()) return;
    const TVstPlugIn& slot = racked.slot(s);
    const SlotKind kind = slot.kind();
    if (kind == SlotKind::Plugin || kind == SlotKind::Midi) {
        holdAudio();
        racked.exchangeSlots(s, s + 1);
        selected = s + 1;
    } else if (slot.IsMixer) {
        int q = s + 1;
        while (q < n && !racked.slot(q).IsMixer) ++q;
        if (q >= n) return;
        int k = 0;
        while (q + k + 1 < n && !racked.slot(q + k + 1).IsMixer) ++k;
        holdAudio();
        moveBlock(q, k + 1, s);
        selected = s + k + 1;
    } else {
        // An input slot stays where it is.
        selected = s + 1;
        rebuildRows();
        rebuildSlotPorts();
        engineControl.setAllowed(kAllowedStart);
        return;
    }
    releaseAudio();
    rebuildRows();
}

// ---- Switches ----

bool RackController::holdsInstrument(const TVstPlugIn& slot) const {
    return slot.PlugLoaded.load() && slot.isSynth();
}

void RackController::resumeIfSuspended(TVstPlugIn& slot) {
    if (!slot.suspended.load()) return;
    if (slot.PlugLoaded.load()) slot.MainsChanged(true);
    slot.suspended = false;
}

void RackController::switchOn(int index) {
    if (index < 0 || index >= racked.numSlots()) return;
    TVstPlugIn& slot = racked.slot(index);
    if (slot.runMode.isSet(RunMode::Off)) {
        slot.OnGain = 1.0f;
        slot.runMode.set(RunMode::Off, false);
        resumeIfSuspended(slot);
    } else {
        if (slot.kind() == SlotKind::Channel || holdsInstrument(slot)) midiLayer->cmdPanic();
        slot.OnGain = 0.0f;
        slot.runMode.set(RunMode::Off, true);
    }
    if (index < static_cast<int>(rows.size())) rows[static_cast<std::size_t>(index)] = rowOf(index);
}

void RackController::toggle(SlotCommandCode code, int index) {
    if (index < 0 || index >= racked.numSlots()) return;
    racked.enqueue(code, index, kToggle);
}

bool RackController::toggle(SlotCommandCode code, SlotKind kind, int kindNo) {
    const int index = racked.kindLookup(kind, kindNo);
    if (index < 0) return false;
    if (code == SlotCommandCode::Off)
        switchOn(index);
    else
        toggle(code, index);
    return true;
}

// ---- The list ----

void RackController::select(int index) {
    if (index < 0 || index >= racked.numSlots()) return;
    selected = index;
    presetList->RefreshPresetDisplay(index);
}

void RackController::refreshList() {
    const int n = racked.numSlots();
    if (selected < 0 || selected >= n) selected = 0;
    if (n > 0) {
        TVstPlugIn& slot = racked.slot(selected);
        if (slot.PlugLoaded.load() && slot.Active.load()) slot.SetProgram(slot.CurProgram);
    }
    renumber();
    rebuildRows();
    if (n > 0) presetList->FillPresetList(selected);
    audioEngine.timing.resetPeaks();
    std::string line = "procTm=";
    bool first = true;
    for (int i = 0; i < n; ++i) {
        if (racked.slot(i).kind() != SlotKind::Channel) continue;
        if (!first) line += ' ';
        line += std::to_string(racked.slot(i).averageTime.load());
        first = false;
    }
    diag::hookedLog(line);
}

RowView RackController::rowOf(int index) const {
    const TVstPlugIn& slot = racked.slot(index);
    RowView row;
    row.slot = index;
    row.name = slot.SlotName;
    if (slot.PlugLoaded.load()) {
        const char mode = slot.presetMode.size() >= 3 ? slot.presetMode[2] : 's';
        row.preset = mode == 'p' ? slot.FXPbank : slot.CurProgramName;
    }
    row.wet = volumeColumn(slot.WetVol.getDb());
    row.dry = volumeColumn(slot.DryVol.getDb());
    row.pan = panColumn(slot.pan.getStep());
    row.in = volumeColumn(slot.InpVol.getDb());
    const RunMode& mode = slot.runMode;
    if (slot.IsMixer) {
        row.icon = (mode.isSet(RunMode::Off) ? 4 : 0) + (mode.isSet(RunMode::Mute) ? 2 : 0) +
                   (mode.isSet(RunMode::Solo) ? 1 : 0);
        row.style = 'b';
        if (index < static_cast<int>(rows.size()))
            row.meterSegment = rows[static_cast<std::size_t>(index)].meterSegment;
    } else {
        row.icon = 8 + (mode.isSet(RunMode::Bypass) ? 1 : 0) + (mode.isSet(RunMode::Off) ? 2 : 0);
        row.style = slot.kind() == SlotKind::Plugin && slot.PlugLoaded.load() ? 'n' : 'i';
    }
    return row;
}

void RackController::rebuildRows() {
    const int n = racked.numSlots();
    std::vector<RowView> fresh;
    fresh.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) fresh.push_back(rowOf(i));
    rows = std::move(fresh);
}

std::string RackController::slotTitle(int index) const {
    if (index < 0 || index >= racked.numSlots()) return {};
    const TVstPlugIn& slot = racked.slot(index);
    if (!slot.PlugLoaded.load()) return slot.SlotName;
    std::string title;
    for (int i = 0; i < 4; ++i) {
        const char c =
            i < static_cast<int>(slot.UniqueIdText.size()) ? slot.UniqueIdText[static_cast<std::size_t>(i)] : '\0';
        title += c == '\0' ? ' ' : c;
    }
    title += '.';
    title += slot.EffectName.empty() ? slot.PlugDisplayName : slot.EffectName;
    const char mode = slot.presetMode.size() >= 3 ? slot.presetMode[2] : 's';
    if (mode == 'p' && !slot.FXPbank.empty())
        title += " - " + slot.FXPbank + ": " + slot.CurProgramName;
    else if (mode == 's' && !slot.FXBfile.empty())
        title += " - " + withoutExtension(slot.FXBfile) + "..." + slot.CurProgramName;
    else if (mode == 'x' && !slot.PresetFileName.empty())
        title += " - " + withoutExtension(slot.PresetFileName) + "..." + slot.CurProgramName;
    else
        title += " - " + slot.CurProgramName;
    return title;
}

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
    selected = index;
    rebuildRows();
    presetList->RefreshPresetDisplay(index);
    return index;
}

bool RackController::loadLibrary(int index, const std::string& path,
                                 const std::function<void(host::TVstPlugIn&)>& projectKeys) {
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
    slotEvents.assignTo(slot);

    bool loaded = false;
    if (file.empty()) {
        diag::hookedLogError(path + " does not exist!");
        slot.DllPath = path;
    } else {
        slot.DllPath = file;
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
        if (presetState) restorePresetState(index);
        slot.SetEditKnobMode(persist::knobModeNumber(settings.knobMode));
    }
    return loaded;
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

void RackController::restorePresetState(int index) {
    TVstPlugIn& slot = racked.slot(index);
    const std::string program = slot.CurProgramName;
    const char mode = slot.ProgramMode();
    if ((mode == 'p' || mode == 'x') && !slot.PresetFileName.empty()) {
        presetList->LoadPresetByName(index, slot.PresetFileName, false);
        return;
    }
    if (mode == 's' && !slot.FXBfile.empty()) presetList->LoadPresetByName(index, slot.FXBfile, false);
    if (!program.empty()) presetList->LoadPresetByName(index, program, false);
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

// ---- Projects ----

void RackController::newProject() {
    newRack();
    templateSlot = -1;
    libraryReplacedTemplate = false;
    projectName = "untitled";
    caption = projectName;
}

bool RackController::openProject(const std::string& path) {
    if (!project::loadProject(*this, path)) return false;
    settings.lastProject = path;
    projectName = platform::fileNamePart(path);
    return true;
}

bool RackController::saveProjectTo(const std::string& path) {
    if (!project::saveProject(*this, path)) return false;
    settings.lastProject = path;
    projectName = platform::fileNamePart(path);
    return true;
}

bool RackController::saveProject() {
    const bool named =
        !settings.dllTemplateMode && templateSlot < 0 && !projectName.empty() && projectName != "untitled";
    if (!named) return saveProjectAs();
    // A project whose file has gone is not saved under its old name unasked.
    if (!platform::isRegularFile(settings.lastProject)) return false;
    return saveProjectTo(settings.lastProject);
}

bool RackController::saveProjectAs() {
    if (!askSavePath) return false;
    const bool named =
        !settings.dllTemplateMode && templateSlot < 0 && !projectName.empty() && projectName != "untitled";
    const std::string proposed = named ? settings.lastProject : folderOf(settings.lastProject) + "new project";
    const std::string path = askSavePath("Save project as", proposed);
    return !path.empty() && saveProjectTo(path);
}

void RackController::startWithLibrary(const std::string& path) {
    std::string library = path;
    std::string profile = project::profilePath(settings, path);
    if (path.size() > 5 && persist::sameName(path.substr(path.size() - 5), ".vprf")) {
        // A profile stands for the library it describes.
        profile = path;
        pendingProfile = path;
        persist::IniHandle handle;
        persist::OpenIni(handle, profile, "VST", persist::kIniRead);
        const std::string folder(persist::trimmed(persist::IniStr(handle, "DLLpath", "")));
        persist::CloseIni(handle);
        library = (folder.empty() ? std::string() : persist::ExpandPath({}, folder) + "/") +
                  withoutExtension(platform::fileNamePart(path)) + ".so";
    }
    settings.dllTemplateMode = true;
    pendingLibrary = library;
    std::string name;
    if (platform::isRegularFile(profile)) {
        persist::IniHandle handle;
        persist::OpenIni(handle, profile, "VST", persist::kIniRead);
        name = std::string(persist::trimmed(persist::IniStr(handle, "DLLtemplate", "")));
        persist::CloseIni(handle);
    }
    const std::string templates = settings.templatesFolder.empty() || settings.templatesFolder.back() == '/'
                                      ? settings.templatesFolder
                                      : settings.templatesFolder + "/";
    if (!name.empty() && platform::fileNamePart(name).find('.') == std::string::npos) name += ".vprj";
    std::string chosen = name.empty() ? std::string() : templates + name;
    if (chosen.empty() || !platform::isRegularFile(chosen)) chosen = templates + "DLL-template.vprj";
    bool built = platform::isRegularFile(chosen) && project::loadProject(*this, chosen);
    if (built && !libraryReplacedTemplate) {
        // A template without the placeholder still gets the library, at the end.
        loadPlugin(library);
        libraryReplacedTemplate = true;
    }
    if (!built) {
        newRack();
        const int index = loadPlugin(library);
        // An effect hears the driver's inputs through the channel; an instrument needs none.
        if (index >= 0 && racked.slot(index).PlugLoaded.load() && racked.slot(index).effectNumInputs() > 0)
            racked.slot(1).InpVol.set(0);
    }
    pendingLibrary.clear();
    pendingProfile.clear();
    projectName = "untitled";
}

// ---- Idle duties ----

void RackController::idleTick() {
    if (inTick) return;
    // A driver that went away (a JACK server stopped) is looked for again, a few times a
    // second at most, whatever else the duties are doing.
    engineControl.pollDriver();
    if (!idleEnabled) {
        // The duties pause while audio is held; driver notices must still be heard.
        handleMessages();
        return;
    }
    inTick = true;
    const std::uint32_t start = platform::tickCountMs();
    const auto settle = static_cast<std::uint32_t>(std::max(engineControl.settleTimeMs, 1));
    while (audioEngine.busy.load(std::memory_order_acquire) && platform::tickCountMs() - start < settle)
        platform::sleepMs(0);
    racked.host().idleTick.fetch_add(1, std::memory_order_relaxed);

    const int n = racked.numSlots();
    if (audioEngine.allowed.load() && !audioEngine.busy.load() && n > 0) {
        for (int i = 0; i < n; ++i) {
            TVstPlugIn& slot = racked.slot(i);
            if (!slot.PlugLoaded.load() || !slot.Active.load()) continue;
            if (slot.NeedIdle.load()) slot.Idle();
            if (slot.EditorOpen.load()) slot.EditIdle();
        }
    }
    updateMeters();
    serveCommandResults();
    handleMessages();
    updateTransport();

    const int period = std::max(1, idlePeriodMs());
    if (++slowCounter >= std::max(1, 333 / period)) {
        slowCounter = 0;
        slowDuties();
    }
    inTick = false;
}

void RackController::updateMeters() {
    if (rows.size() != static_cast<std::size_t>(racked.numSlots())) rebuildRows();
    for (int i = 0; i < racked.numSlots(); ++i) {
        TVstPlugIn& slot = racked.slot(i);
        if (!slot.IsMixer) continue;
        const float left = slot.PeakL.exchange(0.0f, std::memory_order_relaxed);
        const float right = slot.PeakR.exchange(0.0f, std::memory_order_relaxed);
        MeterBallistics& meter = meters[static_cast<std::size_t>(slot.SlotIdx)];
        const int level = meter.tick(left, right);
        if (slot.kind() == SlotKind::Channel) surfaceMeter(slot.KindNo, level, meter.clipCountdown());
        rows[static_cast<std::size_t>(i)].meterSegment = MeterBallistics::segmentOf(level);
    }
}

void RackController::serveCommandResults() {
    if (!audioEngine.allowed.load() || audioEngine.busy.load()) return;
    SlotCommandQueue& queue = racked.commands();
    const int count = queue.count();
    for (int e = 0; e < count; ++e) {
        SlotCommand& entry = queue.entry(e);
        const std::uint32_t state = entry.state.load(std::memory_order_acquire);
        if (state == 0 || (state & kBeingFilled) != 0) continue;
        const int index = entry.slot;
        const bool valid = index >= 0 && index < racked.numSlots();
        const SlotCommandCode code = entry.code();
        if (code == SlotCommandCode::SelectPreset || code == SlotCommandCode::RefreshParameter) {
            if (valid && code == SlotCommandCode::SelectPreset) {
                const std::string text(entry.text, strnlen(entry.text, kCommandTextCapacity));
                entry.text[0] = '\0';
                if (text.empty())
                    presetList->SelectPreset(index, entry.argument, true);
                else
                    presetList->LoadPresetByName(index, text, true);
            } else if (valid && code == SlotCommandCode::RefreshParameter && refreshParameter && index == selected &&
                       racked.slot(index).PlugLoaded.load() && entry.wholeValue >= 0 &&
                       entry.wholeValue < racked.slot(index).effectNumParams()) {
                refreshParameter(index, entry.wholeValue);
            }
            queue.transition(e, state, kAppliedByAudio);
            continue;
        }
        if ((state & (kWaitingForAudio | kWaitingForListView)) != kWaitingForListView) continue;
        if (valid) {
            TVstPlugIn& slot = racked.slot(index);
            RowView* row = index < static_cast<int>(rows.size()) ? &rows[static_cast<std::size_t>(index)] : nullptr;
            switch (code) {
            case SlotCommandCode::WetVol:
                if (row) row->wet = volumeColumn(slot.WetVol.getDb());
                break;
            case SlotCommandCode::DryVol:
                if (row) row->dry = volumeColumn(slot.DryVol.getDb());
                break;
            case SlotCommandCode::InpVol:
                if (row) row->in = volumeColumn(slot.InpVol.getDb());
                break;
            case SlotCommandCode::Pan:
                if (row) row->pan = panColumn(slot.pan.getStep());
                break;
            case SlotCommandCode::Solo: surfaceNotice(115, racked.host().anySolo.load() ? 15 : 0); break;
            case SlotCommandCode::Bypass:
                if (slot.runMode.isSet(RunMode::Bypass) && (slot.kind() == SlotKind::Channel || holdsInstrument(slot)))
                    midiLayer->cmdPanic();
                break;
            case SlotCommandCode::Off:
                if (!slot.runMode.isSet(RunMode::Off) && slot.suspended.load())
                    resumeIfSuspended(slot);
                else if (slot.kind() == SlotKind::Channel || holdsInstrument(slot))
                    midiLayer->cmdPanic();
                break;
            default: break;
            }
            if (row) *row = rowOf(index);
        }
        queue.transition(e, state, state & ~kWaitingForListView);
    }
    queue.freeApplied();
}

std::string RackController::transportTextOf(double ppqPos, int numerator, int denominator, int* beatInBar) {
    if (numerator < 1) numerator = 4;
    if (denominator < 1) denominator = 4;
    const auto beat = static_cast<long long>(std::trunc(ppqPos / (4.0 / denominator)));
    const long long bar = beat / numerator + 1;
    const long long inBar = beat - (bar - 1) * numerator + 1;
    if (beatInBar) *beatInBar = static_cast<int>(inBar);
    char text[64];
    std::snprintf(text, sizeof text, "%3lld.%2lld.%3lld", bar, inBar,
                  static_cast<long long>(std::trunc(ppqPos * 1000.0)));
    return std::string(text).substr(0, 15);
}

void RackController::updateTransport() {
    const TVTI& time = racked.host().TimeInfo;
    int beatInBar = 0;
    transportText = transportTextOf(time.get(TimeField::PpqPos), time.get(TimeIntField::TimeSigNumerator),
                                    time.get(TimeIntField::TimeSigDenominator), &beatInBar);
    const std::uint32_t now = platform::tickCountMs();
    const int denominator = std::max(1, time.get(TimeIntField::TimeSigDenominator));
    const auto beat = static_cast<long long>(std::trunc(time.get(TimeField::PpqPos) / (4.0 / denominator)));
    if (beatInBar == 1 && beat != lastBeat) {
        firstBeatVisible = false;
        beatHiddenAt = now;
    }
    lastBeat = beat;
    if (!firstBeatVisible && now - beatHiddenAt >= 150) firstBeatVisible = true;
}

void RackController::handleMessages() {
    UiMessage message;
    while (messageQueue.take(message)) {
        switch (message.code) {
        case kMsgAsioNotice: engineControl.handleNotice(static_cast<int>(message.wParam)); break;
        case kMsgProgramChange:
            racked.commands().EnqueueRequest(SlotCommandCode::SelectPreset, static_cast<int>(message.wParam),
                                             static_cast<int>(message.lParam), 0);
            break;
        case kMsgAutomate:
            racked.commands().EnqueueRequest(SlotCommandCode::RefreshParameter,
                                             static_cast<int>(message.wParam / 65536), 0,
                                             static_cast<int>(message.wParam & 0xFFFF));
            break;
        case kMsgUpdateDisplay: {
            const auto slot = static_cast<int>(message.wParam / 65536);
            if (slot >= 0 && slot < racked.numSlots()) presetList->RefreshPresetDisplay(slot);
            slotEvents.displayNeedsRefresh = false;
            break;
        }
        default: break;
        }
    }
}

void RackController::slowDuties() {
    std::string load;
    if (cpuMeterWorks) {
        cpuMeterWorks = cpuMeter.Sample();
        if (cpuMeterWorks) load = cpuMeter.loadText();
    }
    cpuText = load;
    updateDeviceState(load);

    std::string title;
    for (int i = 0; i < racked.numSlots(); ++i) {
        const std::string slotCaption = slotTitle(i);
        if (i == selected) title = slotCaption;
    }
    caption = title.empty() ? "untitled" : title;

    for (const std::string& line : midiLayer->takeDropReports()) diag::hookedLogError(line);
}

void RackController::updateDeviceState(const std::string& load) {
    // A refused real-time priority stays visible: audio may glitch under load.
    const std::string noRealtime = platform::realtimeRefused() ? " (no RT)" : "";
    std::string loads; // the meter's columns, one space apart
    for (char c : load)
        if (c != ' ' || (!loads.empty() && loads.back() != ' ')) loads += c;
    while (!loads.empty() && loads.back() == ' ') loads.pop_back();
    const std::string cpu = loads.empty() ? std::string() : "; processors " + loads;
    const std::string realtime = platform::realtimeRefused() ? "; no real-time priority" : "";
    const bool midiOpen = midiLayer->inputsOpen() || midiLayer->numOutputPorts() > 0;
    const std::string midiText = midiOpen ? "" : "; MIDI: no devices";
    if (engineControl.waitingForDriver()) {
        stateLabel1 = " cpu: " + load;
        stateLabel2 = " " + engineControl.waitingText() + noRealtime;
        stateText = "audio: " + engineControl.waitingText() + midiText + cpu + realtime;
        return;
    }
    if (!midiOpen) {
        stateLabel1 = " cpu: " + load;
        stateLabel2 = (engineControl.hostReady() ? " ** no MIDI **" : " * noMIDI noASIO *") + noRealtime;
        if (!engineControl.hostReady()) {
            stateText = "audio: no driver" + midiText + cpu + realtime;
            return;
        }
    }
    if (!engineControl.hostReady()) {
        engineControl.setAllowed(kAllowedStop);
        engineControl.setBuffers(0);
        stateLabel1 = " cpu: " + load;
        stateLabel2 = " ** no ASIO **" + noRealtime;
        stateText = "audio: no driver" + midiText + cpu + realtime;
        return;
    }
    if (!audioEngine.engineOn.load()) {
        if (midiOpen) {
            stateLabel1 = " cpu: " + load;
            stateLabel2 = " engine STOPPED" + noRealtime;
        }
        stateText = "audio: stopped" + midiText + cpu + realtime;
        return;
    }
    const double ticksPerMs = static_cast<double>(platform::kPerfFrequency) / 1000.0;
    const double average = static_cast<double>(audioEngine.timing.average.load()) / ticksPerMs;
    const double recent = static_cast<double>(audioEngine.timing.recentPeak.load()) / ticksPerMs;
    const double maximum = static_cast<double>(audioEngine.timing.maximum.load()) / ticksPerMs;
    const double block = engineControl.blockMilliseconds;
    const auto percent = [block](double value) { return block > 0.0 ? fixed(value * 100.0 / block, 0) + "%" : "0%"; };
    stateText = "audio: a block takes " + fixed(average, 2) + " ms on average (" + percent(average) + " of its " +
                fixed(block, 2) + " ms), " + fixed(recent, 2) + " ms lately (" + percent(recent) + "), " +
                fixed(maximum, 2) + " ms at most (" + percent(maximum) + ")" + midiText + cpu + realtime;
    if (!midiOpen) return; // the labels say "no MIDI", as ever
    stateLabel1 =
        fixed(average, 2) + " " + fixed(recent, 2) + " " + fixed(maximum, 2) + " " + fixed(block, 2) + "ms....";
    stateLabel2 = percent(average) + "  " + percent(recent) + "  " + percent(maximum) + "  " + noRealtime;
}

} // namespace trelvo::rack
