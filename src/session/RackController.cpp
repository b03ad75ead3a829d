#include "session/RackController.h"

#include <algorithm>
#include <cmath>

#include "audio/DriverSettings.h"
#include "diag/DiagLog.h"
#include "host/IsolatedEffect.h"
#include "session/ControllerText.h"

namespace trelvo::rack {

using audio::kAllowedStart;
using audio::kAllowedStop;
using detail::panColumn;
using detail::volumeColumn;
using detail::withoutExtension;
using host::TVstPlugIn;

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
    presetEnvironment.instrumentFolder = [this] { return settings.instrDefFolder; };
    presetEnvironment.clipboardFolder = [this] {
        const std::string& file = settings.fileName();
        return file.substr(0, file.rfind('/') + 1);
    };
    presetList = std::make_unique<presets::PresetList>(racked, *midiLayer, std::move(presetEnvironment));

    surfaceControl = std::make_unique<SurfaceControl>(*this);
    midiLayer->surface().setMessages(&messageQueue);
    surfaceNotice = [this](int code, int value) { surfaceControl->notice(code, value); };
    surfaceMeter = [this](int kindNo, int level, int clip) { surfaceControl->meter(kindNo, level, clip); };
    racked.transport().onSurfaceNotice = [this](int code, int value) { surfaceNotice(code, value); };

    host::TVstPlugIn::DeveloperSwitch = settings.isDev;
    audioEngine.useAllCpus = settings.useAllCpus;
    audioEngine.outputVolume = settings.outputVolumeGain;
    racked.transport().setTempo(settings.tempo);
    racked.transport().setTimeSignature(settings.timeSigNumerator, settings.timeSigDenominator);
}

RackController::~RackController() {
    surfaceControl->shutdown();
    engineControl.setAllowed(kAllowedStop);
    audioEngine.applicationStage = 0;
    for (int i = 0; i < racked.numSlots(); ++i)
        if (racked.slot(i).Active.load()) racked.slot(i).SetActive(false);
    midiLayer->setMIDI(midi::iClose | midi::iHalt);
    audioEngine.setHooks(nullptr);
    engineControl.ASIOdestroy();
}

// ---- Start-up ----

void RackController::applyDriverChoice() {
    if (settings.asioDriver.empty() || settings.driverBufferSize <= 0 || settings.driverSampleRate <= 0) return;
    audio::DriverSettings chosen = audio::settingsFor(settings.asioDriver);
    chosen.bufferSize = settings.driverBufferSize;
    chosen.sampleRate = settings.driverSampleRate;
    audio::storeSettings(settings.asioDriver, chosen);
}

void RackController::startAudio(std::vector<audio::DriverEntry> drivers) {
    applyDriverChoice();
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
        if (slot.isolation && slot.isolation->state() == host::IsolatedEffect::State::Off) slot.isolation->switchOn();
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

void RackController::setSwitch(SlotCommandCode code, int index, bool on) {
    if (index < 0 || index >= racked.numSlots()) return;
    if (code == SlotCommandCode::Off) {
        if (racked.slot(index).runMode.isSet(RunMode::Off) != on) switchOn(index);
        return;
    }
    racked.enqueue(code, index, on ? 1 : 0);
}

void RackController::setMasterVolume(int decibels) {
    settings.outputVolumeDb = std::clamp(decibels, kVolumeOff, 0);
    settings.outputVolumeGain = settings.outputVolumeDb <= kVolumeOff
                                    ? 0.0f
                                    : static_cast<float>(std::pow(10.0, settings.outputVolumeDb / 20.0));
    audioEngine.outputVolume.store(settings.outputVolumeGain);
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
    surfaceControl->mcuSelect(index);
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

void RackController::applyTypedProgram(int slot, int number, bool midiMode) {
    if (number < 0) return;
    presetList->typedNumberEntered(slot, midiMode, number);
}

void RackController::stepFocusedValue(int column, int direction) {
    if (direction == 0 || selected < 0 || selected >= racked.numSlots()) return;
    const int step = direction > 0 ? 1 : -1;
    if (column == 1) {
        presetList->SelectPreset(selected, step > 0 ? presets::kNextPreset : presets::kPreviousPreset, true);
        return;
    }
    const TVstPlugIn& slot = racked.slot(selected);
    SlotCommandCode code = SlotCommandCode::WetVol;
    int now = 0, wanted = 0;
    switch (column) {
    case 2: now = slot.WetVol.getDb(); break;
    case 3:
        code = SlotCommandCode::DryVol;
        now = slot.DryVol.getDb();
        break;
    case 5:
        code = SlotCommandCode::InpVol;
        now = slot.InpVol.getDb();
        break;
    case 4:
        code = SlotCommandCode::Pan;
        now = slot.pan.getStep();
        wanted = clampPanStep(now + step);
        break;
    default: return;
    }
    // Off is -49, one step below -48: up from off gives -48, down from -48 gives off.
    if (code != SlotCommandCode::Pan) wanted = clampVolumeDb(std::max(now, kVolumeOff) + step);
    if (wanted != now) racked.enqueue(code, selected, wanted);
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

} // namespace trelvo::rack
