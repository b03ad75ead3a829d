#include "session/SurfaceControl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Version.h"
#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "persist/IniFile.h"
#include "platform/Clock.h"
#include "session/RackController.h"

namespace trelvo::rack {

namespace {

constexpr const char* kPageKeys[4] = {"chn", "grp", "out", "plg"};
constexpr const char* kModeNames[5] = {"vol", "pan", "dry", "inp", "pst"};
constexpr std::uint32_t kQueryPeriodMs = 2000;
constexpr std::uint32_t kGreetingMs = 1500;

int pageIndex(char letter) {
    switch (letter) {
    case 'C': return 0;
    case 'G': return 1;
    case 'O': return 2;
    default: return 3;
    }
}

SlotKind pageKind(char letter) {
    switch (letter) {
    case 'C': return SlotKind::Channel;
    case 'G': return SlotKind::Group;
    case 'O': return SlotKind::Output;
    default: return SlotKind::Plugin;
    }
}

// Ring styles: a single dot, boost/cut from the centre, a bar from the left.
int ring(int style, int position) {
    return (style << 4) | std::clamp(position, 0, 11);
}

int volumeRing(int decibels) {
    if (decibels <= kVolumeOff) return ring(2, 0);
    return ring(2, 1 + static_cast<int>(std::lround((decibels - kVolumeMin) * 10.0 / (kVolumeMax - kVolumeMin))));
}

// The meter thresholds of the twelve surface levels.
constexpr int kSurfaceMeterThresholds[12] = {10, 32, 45, 63, 89, 126, 178, 251, 355, 501, 708, 1000};

std::string cell(const std::string& text) {
    std::string shown = text.substr(0, 6);
    shown.resize(7, ' ');
    return shown;
}

} // namespace

SurfaceControl::SurfaceControl(RackController& controller) : rack(controller) {
    lendNothing();
}

SurfaceState& SurfaceControl::state() noexcept {
    return rack.midi().surface();
}

void SurfaceControl::lendNothing() {
    selectSlot = [this](int slot) { rack.select(slot); };
    saveProjectAs = [this] { rack.saveProjectAs(); };
    dialogKey = [](bool) {};
    started = [] {};
    statusChanged = [] {};
    toggleEditor = [](int) {};
}

SurfacePage& SurfaceControl::record(char letter) {
    return pages[static_cast<std::size_t>(pageIndex(letter))];
}

const SurfacePage& SurfaceControl::pageRecord(char letter) const {
    return pages[static_cast<std::size_t>(pageIndex(letter))];
}

// ---- Fader scales ----

int SurfaceControl::faderPosition(int decibels) {
    if (decibels <= kVolumeOff) return 0;
    return 1 + static_cast<int>(std::lround((std::min(decibels, kVolumeMax) - kVolumeMin) * 1022.0 / 60.0));
}

int SurfaceControl::faderDecibels(int position) {
    if (position <= 0) return kVolumeOff;
    return kVolumeMin + static_cast<int>(std::lround((std::min(position, 1023) - 1) * 60.0 / 1022.0));
}

int SurfaceControl::masterPosition(int decibels) {
    if (decibels <= kVolumeOff) return 0;
    return 1 + static_cast<int>(std::lround((std::min(decibels, 0) - kVolumeMin) * 1022.0 / 48.0));
}

int SurfaceControl::masterDecibels(int position) {
    if (position <= 0) return kVolumeOff;
    return kVolumeMin + static_cast<int>(std::lround((std::min(position, 1023) - 1) * 48.0 / 1022.0));
}

// ---- Lifecycle ----

void SurfaceControl::midiOpened() {
    SurfaceState& surface = state();
    if (!surface.present()) return;
    diag::hookedLog("surface \"" + surface.name() + "\": connecting");
    surface.beginConnecting();
    surface.deviceQuery();
    lastQuery = platform::tickCountMs();
    queried = true;
}

void SurfaceControl::start() {
    SurfaceState& surface = state();
    if (!surface.present()) return;
    const bool first = surface.markStarted();
    if (first) readSettings();
    diag::hookedLog("surface \"" + surface.name() + "\" started" + (surface.answered() ? "" : " (no reply)"));
    started();
    surface.fadersToMinimum();
    surface.allLedsOff();
    surface.setAssignment("-.-");
    surface.setLed(114, 127, 250);
    surface.setLedGroup(91, static_cast<int>(rack.rack().transport().state()), 50);
    surface.writeDisplay("...", 0, SurfaceState::kWriteAndBlankRest);
    surface.writeDisplay(std::string(kProductName) + " v" + kFileVersion + "  live VST host", 56, 0);
    greetingUntil = platform::tickCountMs() + kGreetingMs;
    // The strips start on the slot the rack has selected, its select and page LEDs lit.
    if (adopt(rack.selected)) {
        const int strip = slotStrip(rack.selected);
        if (strip >= 0 && strip < 8) surface.setLedGroup(24, strip);
        surface.setLedGroup(40, pageIndex(currentPage));
    }
    refreshStrips();
    refreshDisplay();
    statusChanged();
}

void SurfaceControl::shutdown() {
    SurfaceState& surface = state();
    if (!surface.present()) return;
    setupsAtShutdown = surface.setups();
    // Without MIDI nothing could reach the surface.
    if (surface.isActive() && rack.midi().inputsOpen()) {
        surface.fadersToMinimum();
        surface.allLedsOff();
        if (surface.noDisplay())
            for (int strip = 0; strip < SurfaceState::kStrips; ++strip) surface.setRing(strip, 0);
        surface.writeDisplay("...", 0, SurfaceState::kWriteAndBlankRest, 250);
        surface.writeDisplay("Trelvo session terminated...", 56, 0, 250);
        surface.goOffline(50);
        // The messages go out while we wait, whether or not audio still runs.
        const std::uint32_t begin = platform::tickCountMs();
        while (platform::tickCountMs() - begin < 300) {
            rack.midi().flushSurface();
            platform::sleepMs(10);
        }
        rack.midi().flushSurface();
        diag::hookedLog("surface \"" + surface.name() + "\" offline");
    }
    surface.markStopped();
    writeSettings();
    statusChanged();
}

void SurfaceControl::redraw() {
    SurfaceState& surface = state();
    if (!surface.isActive()) return;
    surface.forgetSent();
    surface.setAssignment(assignmentOf(pageRecord(currentPage).selected));
    surface.setLedGroup(91, static_cast<int>(rack.rack().transport().state()));
    mcuSelect(pageRecord(currentPage).selected);
    refreshStrips();
    refreshDisplay();
}

void SurfaceControl::tick() {
    SurfaceState& surface = state();
    if (!surface.present()) return;
    const std::uint32_t now = platform::tickCountMs();
    // MIDI opened (again) with a surface on its ports: it is asked to connect. A surface
    // that was shut down waits for the ports to be read again.
    if (surface.connectTime() == SurfaceState::kNotStarted && !surface.isActive() &&
        surface.setups() != setupsAtShutdown)
        midiOpened();
    if (surface.startIsDue()) start();
    // A surface that has not answered is asked again from time to time: it may be switched
    // on or plugged in later.
    if (!surface.answered() && (!queried || now - lastQuery >= kQueryPeriodMs)) {
        surface.deviceQuery();
        lastQuery = now;
        queried = true;
    }
    if (surface.isActive()) {
        refreshStrips();
        refreshDisplay();
        surface.setTimecode(timecodeOf());
    }
    rack.midi().flushSurface();
}

std::string SurfaceControl::timecodeOf() const {
    // Bars, beats and thousandths of a beat: "  12. 3.500".
    const TVTI& time = const_cast<RackController&>(rack).rack().host().TimeInfo;
    const double ppq = std::max(0.0, time.get(TimeField::PpqPos));
    const int denominator = std::max(1, time.get(TimeIntField::TimeSigDenominator));
    const int numerator = std::max(1, time.get(TimeIntField::TimeSigNumerator));
    const double beats = ppq / (4.0 / denominator);
    const auto whole = static_cast<long long>(std::floor(beats));
    const long long bar = whole / numerator + 1;
    const long long beat = whole % numerator + 1;
    const auto fraction = static_cast<long long>(std::floor((beats - static_cast<double>(whole)) * 1000.0));
    char text[48];
    std::snprintf(text, sizeof text, "%4lld.%2lld.%03lld", bar % 10000, beat % 100, fraction % 1000);
    return text;
}

void SurfaceControl::readSettings() {
    persist::IniHandle handle;
    const std::string& file = rack.appSettings().fileName();
    persist::OpenIni(handle, file, "mcu", persist::kIniRead);
    for (int p = 0; p < 4; ++p) {
        SurfacePage& page = pages[static_cast<std::size_t>(p)];
        const std::string key = kPageKeys[p];
        page.multi = persist::IniInt(handle, "Multi-" + key, page.multi ? 1 : 0) != 0;
        page.vpotMode = std::clamp(persist::IniInt(handle, "mPage-" + key, page.vpotMode), 0, p == 3 ? 5 : 3);
        page.paramBank = std::max(0, persist::IniInt(handle, "sPage-" + key, page.paramBank));
    }
    persist::CloseIni(handle);
}

void SurfaceControl::writeSettings() {
    persist::IniHandle handle;
    const std::string& file = rack.appSettings().fileName();
    if (file.empty()) return;
    persist::OpenIni(handle, file, "mcu", persist::kIniWrite);
    for (int p = 0; p < 4; ++p) {
        const SurfacePage& page = pages[static_cast<std::size_t>(p)];
        const std::string key = kPageKeys[p];
        persist::IniInt(handle, "Multi-" + key, page.multi ? 1 : 0);
        persist::IniInt(handle, "mPage-" + key, page.vpotMode);
        persist::IniInt(handle, "sPage-" + key, page.paramBank);
    }
    persist::CloseIni(handle);
}

bool SurfaceControl::attachSimulator(int slotIndex) {
    SurfaceState& surface = state();
    if (!surface.present() || slotIndex < 0 || slotIndex >= rack.rack().numSlots()) return false;
    host::TVstPlugIn& slot = rack.rack().slot(slotIndex);
    if (!slot.isMidiVport) {
        slot.isMidiVport = true;
        rack.holdAudio(); // the slot ports are given out again
        rack.releaseAudio();
    }
    midi::MidiLayer& layer = rack.midi();
    midi::MidiLayer::VirtualPort& port = layer.virtualPorts()[static_cast<std::size_t>(surface.port())];
    const std::string own = "SlotID-" + std::to_string(slot.SlotID);
    midi::MidiRoute& heard = slot.midi->routes.routes[0];
    heard.portName = port.name;
    slot.midi->routes.count = std::max(slot.midi->routes.count, 1);
    bool listed = false;
    int unused = -1;
    for (int r = 0; r < port.routes.count && r < 4; ++r) {
        const std::string& name = port.routes.routes[static_cast<std::size_t>(r)].portName;
        listed = listed || persist::sameName(name, own);
        if (name.empty() && unused < 0) unused = r;
    }
    if (!listed && unused < 0 && port.routes.count >= 4) return false;
    rack.control().setAllowed(audio::kAllowedPause);
    if (!listed) {
        if (unused < 0) unused = port.routes.count++;
        midi::MidiRoute& route = port.routes.routes[static_cast<std::size_t>(unused)];
        route = midi::MidiRoute{};
        route.portName = own;
    }
    for (int r = 0; r < port.routes.count && r < 4; ++r) {
        midi::MidiRoute& route = port.routes.routes[static_cast<std::size_t>(r)];
        route.portIndex = layer.resolvePort(route.portName);
    }
    rack.control().setAllowed(audio::kAllowedResume);
    rack.resolveSlotRoutes();
    diag::hookedLog("surface \"" + port.name + "\": simulated by slot " + std::to_string(slotIndex));
    return true;
}

// ---- Pages and strips ----

int SurfaceControl::numParameters(int slot) const {
    if (slot < 0 || slot >= rack.rack().numSlots()) return 0;
    host::TVstPlugIn& plugin = rack.rack().slot(slot);
    return plugin.PlugLoaded.load() ? plugin.effectNumParams() : 0;
}

int SurfaceControl::stripSlot(int strip) const {
    if (strip < 0 || strip >= SurfaceState::kStrips) return -1;
    const Rack& racked = const_cast<RackController&>(rack).rack();
    if (currentPage != 'P') return racked.kindLookup(pageKind(currentPage), strip);
    const int owner = pageRecord('P').owner;
    if (owner < 0 || owner >= racked.numSlots()) return -1;
    for (int i = owner + 1; i < racked.numSlots() && !racked.slot(i).IsMixer; ++i) {
        const host::TVstPlugIn& slot = racked.slot(i);
        if (slot.kind() == SlotKind::Plugin && slot.KindNo == strip) return i;
    }
    return -1;
}

int SurfaceControl::slotStrip(int slot) const {
    const Rack& racked = const_cast<RackController&>(rack).rack();
    if (slot < 0 || slot >= racked.numSlots()) return -1;
    return racked.slot(slot).KindNo;
}

bool SurfaceControl::vpotTarget(int strip, int& slot, int& mode) const {
    const SurfacePage& page = pageRecord(currentPage);
    if (page.multi) {
        slot = stripSlot(strip);
        mode = page.vpotMode;
        return slot >= 0;
    }
    slot = page.selected;
    if (slot < 0 || slot >= const_cast<RackController&>(rack).rack().numSlots()) return false;
    if (currentPage == 'P' && page.paramBank > 0) {
        const int parameter = 8 * (page.paramBank - 1) + strip;
        mode = 100 + parameter;
        return parameter < numParameters(slot);
    }
    mode = strip;
    return strip < (currentPage == 'P' ? 6 : 4);
}

int SurfaceControl::parameterRing(int slot, int parameter) {
    const float value = std::clamp(rack.rack().slot(slot).GetParameter(parameter), 0.0f, 1.0f);
    return ring(2, 1 + static_cast<int>(std::lround(value * 10.0f)));
}

int SurfaceControl::ringOf(int slot, int mode) {
    if (mode >= 100) return parameterRing(slot, mode - 100);
    host::TVstPlugIn& target = rack.rack().slot(slot);
    switch (mode) {
    case 0: return volumeRing(target.WetVol.getDb());
    case 1: return ring(1, 6 + static_cast<int>(std::lround(target.pan.getStep() * 5.0 / 12.0)));
    case 2: return volumeRing(target.DryVol.getDb());
    case 3: return volumeRing(target.InpVol.getDb());
    case 4: {
        const int programs = std::max(1, target.NumPrograms);
        const int program = choosingSlot == slot && choosingPreset >= 0 ? choosingPreset : target.CurProgram;
        return ring(0, 1 + (programs > 1 ? program * 10 / (programs - 1) : 0));
    }
    case 5: return ring(0, target.EditorOpen.load() ? 11 : 0);
    default: return 0;
    }
}

void SurfaceControl::refreshStrips() {
    SurfaceState& surface = state();
    if (!surface.isActive()) return;
    const std::uint32_t now = platform::tickCountMs();
    for (int strip = 0; strip < SurfaceState::kStrips; ++strip) {
        const int slot = stripSlot(strip);
        const host::TVstPlugIn* shown = slot >= 0 ? &rack.rack().slot(slot) : nullptr;
        const int decibels = shown != nullptr ? shown->WetVol.getDb() : kVolumeOff;
        Commanded& sent = commanded[static_cast<std::size_t>(strip)];
        if (sent.waiting && (decibels == sent.decibels || now - sent.sinceMs > 500)) sent.waiting = false;
        if (!sent.waiting) surface.setFader(strip, shown != nullptr ? faderPosition(decibels) : 0);
        // REC lights while the strip's slot is switched off, SOLO and MUTE while they are set.
        const auto lit = [&](RunMode::Position position) {
            return shown != nullptr && shown->runMode.isSet(position) ? 127 : 0;
        };
        surface.setLed(strip, lit(RunMode::Off));
        surface.setLed(8 + strip, lit(RunMode::Solo));
        surface.setLed(16 + strip, lit(RunMode::Mute));
        int target = -1;
        int mode = 0;
        surface.setRing(strip, vpotTarget(strip, target, mode) ? ringOf(target, mode) : 0);
    }
    surface.setFader(8, masterPosition(rack.appSettings().outputVolumeDb));
}

std::string SurfaceControl::firstLine() const {
    const int slot = pageRecord(currentPage).selected;
    Rack& racked = const_cast<RackController&>(rack).rack();
    if (slot < 0 || slot >= racked.numSlots()) return "no slot selected";
    const host::TVstPlugIn& target = racked.slot(slot);
    const auto shortName = [](const host::TVstPlugIn& s) -> std::string {
        switch (s.kind()) {
        case SlotKind::Channel: return "c" + std::to_string(s.KindNo + 1);
        case SlotKind::Group: return "g" + std::to_string(s.KindNo + 1);
        case SlotKind::Output: return "o1";
        default: return "";
        }
    };
    switch (target.kind()) {
    case SlotKind::Channel:
    case SlotKind::Group:
    case SlotKind::Output: {
        std::string line = shortName(target) + "_" + target.SlotName;
        if (target.kind() == SlotKind::Channel && target.runMode.isSet(RunMode::Off)) line += "  OFF";
        return line;
    }
    default: {
        std::string line = target.runMode.isSet(RunMode::Bypass) ? "*" : "";
        const int owner = racked.stripHeadOf(slot);
        if (owner >= 0) line += shortName(racked.slot(owner)) + "_" + racked.slot(owner).SlotName;
        line += ".." + target.SlotName + ": \"" + target.CurProgramName + "\"";
        return line;
    }
    }
}

std::string SurfaceControl::secondLine() {
    const SurfacePage& page = pageRecord(currentPage);
    if (choosingPreset >= 0 && choosingSlot >= 0 && choosingSlot < rack.rack().numSlots()) {
        // Room for the 64 characters plug-ins write, whatever the 24 of the standard.
        char name[256] = {};
        host::TVstPlugIn& target = rack.rack().slot(choosingSlot);
        if (target.GetProgramNameIndexed(-1, choosingPreset, name) == 0)
            std::snprintf(name, sizeof name, "%d", choosingPreset);
        return "select new preset: " + std::string(name);
    }
    if (page.multi) {
        std::string line = kModeNames[std::clamp(page.vpotMode, 0, 4)];
        for (int strip = 1; strip <= 8; ++strip) line += cell("[" + std::to_string(strip) + "]");
        return line;
    }
    if (currentPage == 'P' && page.paramBank > 0 && page.selected >= 0) {
        std::string line;
        host::TVstPlugIn& target = rack.rack().slot(page.selected);
        const int count = numParameters(page.selected);
        for (int strip = 0; strip < 8; ++strip) {
            const int parameter = 8 * (page.paramBank - 1) + strip;
            line += cell(parameter < count ? target.GetParamName(parameter) : std::string());
        }
        return line;
    }
    if (currentPage == 'P') return "vol    pan    dry    inp    pst    edt    .      .      ";
    return "vol    pan    dry    inp    .      .      .      .      ";
}

void SurfaceControl::refreshDisplay() {
    SurfaceState& surface = state();
    if (!surface.isActive()) return;
    surface.writeDisplay(firstLine(), 0, SurfaceState::kWriteLine);
    if (static_cast<std::int32_t>(platform::tickCountMs() - greetingUntil) >= 0)
        surface.writeDisplay(secondLine(), 56, SurfaceState::kWriteLine);
}

bool SurfaceControl::adopt(int slot) {
    if (slot < 0 || slot >= rack.rack().numSlots()) return false;
    const SlotKind kind = rack.rack().slot(slot).kind();
    if (kind != SlotKind::Channel && kind != SlotKind::Group && kind != SlotKind::Output && kind != SlotKind::Plugin)
        return false;
    currentPage = static_cast<char>(kind);
    SurfacePage& page = record(currentPage);
    page.selected = slot;
    page.owner = kind == SlotKind::Plugin ? rack.rack().stripHeadOf(slot) : slot;
    if (kind == SlotKind::Plugin) {
        const int banks = (numParameters(slot) - 1) / 8 + 1;
        page.paramBank = std::clamp(page.paramBank, 0, std::max(0, banks));
    }
    if (choosingSlot != slot) choosingPreset = -1;
    return true;
}

std::string SurfaceControl::assignmentOf(int slot) const {
    const int number = slotStrip(slot) + 1;
    if (number <= 0) return "-.-";
    return std::string(1, currentPage) + (number < 10 ? std::to_string(number) : std::string("+"));
}

void SurfaceControl::mcuSelect(int slot) {
    SurfaceState& surface = state();
    if (!surface.isActive() || slot < 0 || slot >= rack.rack().numSlots()) return;
    diag::hookedLog("mcuSelect: " + std::to_string(slot));
    if (!adopt(slot)) return;

    const int strip = slotStrip(slot);
    if (strip >= 0 && strip < 8) {
        surface.setLedGroup(24, strip);
    } else {
        for (int k = 0; k < 8; ++k) surface.setLed(24 + k, 0);
    }
    surface.setLedGroup(40, pageIndex(currentPage));
    surface.setAssignment(assignmentOf(slot));
    refreshStrips();
    if (strip < 8) refreshDisplay();
    statusChanged();
}

// ---- Events ----

void SurfaceControl::handleMessage(const UiMessage& message) {
    SurfaceState& surface = state();
    switch (message.code) {
    case kMsgSurfaceStatus:
        if (message.wParam == kSurfaceVersion) start();
        if (message.wParam == kSurfaceReconnect)
            diag::hookedLog("surface \"" + surface.name() + "\": connection query");
        statusChanged();
        break;
    case kMsgSurfaceButtons:
        if (message.lParam > 0)
            buttonPressed(static_cast<int>(message.wParam));
        else
            buttonReleased(static_cast<int>(message.wParam));
        break;
    case kMsgSurfaceEncoders:
        if (message.wParam >= kSurfaceFaderBase) {
            const int number = static_cast<int>(message.wParam - kSurfaceFaderBase);
            const int position = surface.takeFaderPosition(number);
            if (position >= 0) fader(number, position);
        } else {
            const int controller = static_cast<int>(message.wParam);
            const int steps = surface.takeEncoderSteps(controller);
            if (steps != 0) encoder(controller, steps);
        }
        break;
    default: break;
    }
}

void SurfaceControl::fader(int number, int position) {
    SurfaceState& surface = state();
    surface.heardFader(number, position);
    if (number == 8) {
        rack.setMasterVolume(masterDecibels(position));
        return;
    }
    const int slot = stripSlot(number);
    if (slot < 0 || number < 0 || number >= 8) return;
    const int decibels = faderDecibels(position);
    commanded[static_cast<std::size_t>(number)] = Commanded{decibels, platform::tickCountMs(), true};
    rack.setVolume(SlotCommandCode::WetVol, slot, decibels);
}

void SurfaceControl::encoder(int controller, int steps) {
    if (controller >= 16 && controller <= 23) {
        int slot = -1;
        int mode = 0;
        if (vpotTarget(controller - 16, slot, mode)) stepValue(slot, mode, steps);
        return;
    }
    Transport& transport = rack.rack().transport();
    if (controller == 60) {
        if (transport.state() == TransportState::Paused) transport.jog(steps);
    } else if (controller == 61) {
        transport.setTempo(static_cast<int>(std::lround(transport.tempo())) + steps);
    }
}

void SurfaceControl::stepValue(int slot, int mode, int steps) {
    host::TVstPlugIn& target = rack.rack().slot(slot);
    const auto stepVolume = [&](SlotCommandCode code, int decibels) {
        int next = decibels <= kVolumeOff ? (steps > 0 ? kVolumeMin - 1 + steps : kVolumeOff) : decibels + steps;
        rack.setVolume(code, slot, clampVolumeDb(next));
    };
    if (mode >= 100) {
        const float value = target.GetParameter(mode - 100) + 0.01f * static_cast<float>(steps);
        target.SetParameter(mode - 100, std::clamp(value, 0.0f, 1.0f));
        return;
    }
    switch (mode) {
    case 0: stepVolume(SlotCommandCode::WetVol, target.WetVol.getDb()); break;
    case 1: rack.setVolume(SlotCommandCode::Pan, slot, clampPanStep(target.pan.getStep() + steps)); break;
    case 2: stepVolume(SlotCommandCode::DryVol, target.DryVol.getDb()); break;
    case 3: stepVolume(SlotCommandCode::InpVol, target.InpVol.getDb()); break;
    case 4: {
        const int programs = target.NumPrograms;
        if (programs <= 0) return;
        const int from = choosingSlot == slot && choosingPreset >= 0 ? choosingPreset : target.CurProgram;
        choosingSlot = slot;
        choosingPreset = std::clamp(from + steps, 0, programs - 1);
        refreshDisplay();
        break;
    }
    default: break;
    }
}

void SurfaceControl::pushValue(int slot, int mode) {
    host::TVstPlugIn& target = rack.rack().slot(slot);
    if (mode >= 100) {
        // A parameter flips between its ends: the switches of a plug-in work at a push.
        target.SetParameter(mode - 100, target.GetParameter(mode - 100) >= 0.5f ? 0.0f : 1.0f);
        return;
    }
    switch (mode) {
    case 0: rack.setVolume(SlotCommandCode::WetVol, slot, 0); break;
    case 1: rack.setVolume(SlotCommandCode::Pan, slot, 0); break;
    case 2: rack.setVolume(SlotCommandCode::DryVol, slot, 0); break;
    case 3: rack.setVolume(SlotCommandCode::InpVol, slot, 0); break;
    case 4:
        if (choosingSlot == slot && choosingPreset >= 0) {
            rack.presets().SelectPreset(slot, choosingPreset, true);
            choosingPreset = -1;
            refreshDisplay();
        }
        break;
    case 5: toggleEditor(slot); break;
    default: break;
    }
}

void SurfaceControl::stepSelection(int direction) {
    const SlotKind kind = pageKind(currentPage);
    const int n = rack.rack().numSlots();
    for (int i = record(currentPage).selected + direction; i >= 0 && i < n; i += direction) {
        const host::TVstPlugIn& slot = rack.rack().slot(i);
        if (slot.kind() == kind && (kind != SlotKind::Plugin || slot.PlugLoaded.load())) {
            selectSlot(i);
            return;
        }
    }
}

void SurfaceControl::switchPage(char letter) {
    SurfacePage& page = record(letter);
    if (letter == currentPage) {
        // The page's own button again: the strips change between one slot's values and
        // eight slots in one V-Pot mode.
        page.multi = !page.multi;
        mcuSelect(page.selected);
        return;
    }
    int slot = page.selected;
    const int n = rack.rack().numSlots();
    if (currentPage == 'P') {
        const int owner = record('P').owner;
        if (owner >= 0 && owner < n && rack.rack().slot(owner).kind() == pageKind(letter)) slot = owner;
    } else if (letter == 'P') {
        // The plug-ins of the selected strip, the one last chosen first.
        const int head = record(currentPage).selected;
        if (slot < 0 || slot >= n || rack.rack().stripHeadOf(slot) != head) {
            slot = -1;
            for (int i = head + 1; head >= 0 && i < n && !rack.rack().slot(i).IsMixer; ++i)
                if (rack.rack().slot(i).kind() == SlotKind::Plugin && rack.rack().slot(i).PlugLoaded.load()) {
                    slot = i;
                    break;
                }
        }
    }
    if (slot < 0 || slot >= n || rack.rack().slot(slot).kind() != pageKind(letter)) {
        slot = -1;
        for (int i = 0; i < n && slot < 0; ++i)
            if (rack.rack().slot(i).kind() == pageKind(letter) &&
                (letter != 'P' || rack.rack().slot(i).PlugLoaded.load()))
                slot = i;
    }
    if (slot >= 0) selectSlot(slot);
}

void SurfaceControl::buttonPressed(int key) {
    SurfaceState& surface = state();
    if (!surface.isActive()) return;
    const auto stripOf = [&](int first) { return stripSlot(key - first); };
    if (key >= 0 && key <= 7) {
        if (const int slot = stripOf(0); slot >= 0) rack.switchOn(slot);
    } else if (key >= 8 && key <= 15) {
        if (const int slot = stripOf(8); slot >= 0) rack.toggleSolo(slot);
    } else if (key >= 16 && key <= 23) {
        if (const int slot = stripOf(16); slot >= 0) rack.toggleMute(slot);
    } else if (key >= 24 && key <= 31) {
        if (const int slot = stripOf(24); slot >= 0) selectSlot(slot);
    } else if (key >= 32 && key <= 39) {
        int slot = -1;
        int mode = 0;
        if (vpotTarget(key - 32, slot, mode)) pushValue(slot, mode);
    } else if (key >= 40 && key <= 43) {
        switchPage("CGOP"[key - 40]);
    } else if (key == 80) {
        surface.writeDisplay("There is a file-select dialog on the screen", 0, SurfaceState::kWriteAndBlankRest);
        rack.midi().flushSurface();
        saveProjectAs();
    } else if (key == 82 || key == 83) {
        dialogKey(key == 83);
    } else if (key == 91) {
        rack.rack().transport().pressRewind();
    } else if (key == 93) {
        rack.rack().transport().pressStop();
    } else if (key == 94) {
        rack.rack().transport().pressStartPause();
    } else if (key == 96 || key == 97) {
        if (currentPage != 'O') stepSelection(key == 96 ? -1 : 1);
    } else if (key == 98 || key == 99) {
        SurfacePage& page = record(currentPage);
        const int direction = key == 98 ? -1 : 1;
        if (currentPage == 'P' && !page.multi) {
            const int banks = (numParameters(page.selected) - 1) / 8 + 1;
            page.paramBank = page.paramBank + direction < 0 ? banks : (page.paramBank + direction) % (banks + 1);
        } else {
            const int modes = currentPage == 'P' ? 5 : 4;
            page.vpotMode = (page.vpotMode + direction + modes) % modes;
        }
        mcuSelect(page.selected);
    }
}

void SurfaceControl::buttonReleased(int key) {
    // A released fader takes the rack's value again, had it changed meanwhile.
    if (key >= 104 && key <= 112) refreshStrips();
}

void SurfaceControl::notice(int code, int value) {
    SurfaceState& surface = state();
    if (!surface.isActive()) return;
    surface.setLedGroup(code, value);
}

void SurfaceControl::meter(int kindNo, int level, int clipCountdown) {
    SurfaceState& surface = state();
    if (!surface.isActive() || currentPage != 'C' || kindNo < 0 || kindNo >= SurfaceState::kStrips) return;
    int shown = 0;
    while (shown < 12 && level >= kSurfaceMeterThresholds[shown]) ++shown;
    surface.setMeter(kindNo, clipCountdown > 0 ? 14 : shown);
}

} // namespace trelvo::rack
