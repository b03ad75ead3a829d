#include "remote/RemoteControl.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "diag/DiagLog.h"
#include "platform/Clock.h"
#include "remote/QuietMessages.h"
#include "session/RackController.h"

namespace trelvo::remote {

using rack::RunMode;
using rack::SlotCommandCode;
using rack::SlotKind;

namespace {

enum Command {
    kPing = 1,
    kListSlots,
    kSubscribe,
    kUnsubscribe,
    kSlotOn,
    kSlotBypass,
    kSlotMute,
    kSlotSolo,
    kSlotWet,
    kSlotDry,
    kSlotInput,
    kSlotPan,
    kPresetNumber,
    kPresetName,
    kPresetNext,
    kPresetPrevious,
    kParameter,
    kParameterGet,
    kSelect,
    kMasterVolume,
    kTransportStart,
    kTransportStop,
    kTransportPause,
    kTransportRewind,
    kTempo,
    kPanic,
    kProjectLoad,
    kProjectSave,
    kProjectSaveAs,
};

std::vector<OscAddress> addressTable() {
    return {
        {"/trelvo/ping", "", kPing},
        {"/trelvo/slots", "", kListSlots},
        {"/trelvo/subscribe", "", kSubscribe},
        {"/trelvo/unsubscribe", "", kUnsubscribe},
        {"/trelvo/slot/on", "ii", kSlotOn},
        {"/trelvo/slot/bypass", "ii", kSlotBypass},
        {"/trelvo/slot/mute", "ii", kSlotMute},
        {"/trelvo/slot/solo", "ii", kSlotSolo},
        {"/trelvo/slot/wet", "if", kSlotWet},
        {"/trelvo/slot/dry", "if", kSlotDry},
        {"/trelvo/slot/input", "if", kSlotInput},
        {"/trelvo/slot/pan", "if", kSlotPan},
        {"/trelvo/slot/preset", "ii", kPresetNumber},
        {"/trelvo/slot/preset/name", "is", kPresetName},
        {"/trelvo/slot/preset/next", "i", kPresetNext},
        {"/trelvo/slot/preset/previous", "i", kPresetPrevious},
        {"/trelvo/slot/parameter", "iif", kParameter},
        {"/trelvo/slot/parameter", "ii", kParameterGet},
        {"/trelvo/slot/select", "i", kSelect},
        {"/trelvo/master/volume", "f", kMasterVolume},
        {"/trelvo/transport/start", "", kTransportStart},
        {"/trelvo/transport/stop", "", kTransportStop},
        {"/trelvo/transport/pause", "", kTransportPause},
        {"/trelvo/transport/rewind", "", kTransportRewind},
        {"/trelvo/transport/tempo", "f", kTempo},
        {"/trelvo/panic", "", kPanic},
        {"/trelvo/project/load", "s", kProjectLoad},
        {"/trelvo/project/save", "", kProjectSave},
        {"/trelvo/project/save", "s", kProjectSaveAs},
    };
}

std::string kindWord(SlotKind kind) {
    switch (kind) {
    case SlotKind::Output: return "output";
    case SlotKind::Group: return "group";
    case SlotKind::Channel: return "channel";
    case SlotKind::Input: return "input";
    case SlotKind::Midi: return "midi";
    case SlotKind::Plugin: return "plugin";
    default: return "free";
    }
}

const char* transportWord(rack::TransportState state) {
    switch (state) {
    case rack::TransportState::Playing: return "playing";
    case rack::TransportState::Paused: return "paused";
    default: return "stopped";
    }
}

/// A volume in dB from the network: whole dB from -48 to +12, anything below -48 is off.
bool volumeOf(float value, int& decibels) {
    if (value > static_cast<float>(rack::kVolumeMax)) return false;
    decibels = value < static_cast<float>(rack::kVolumeMin) ? rack::kVolumeOff : static_cast<int>(std::lround(value));
    return true;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

struct RemoteControl::SlotView {
    std::string kind, name, preset;
    int on = 0, bypass = 0, mute = 0, solo = 0;
    int wet = 0, dry = 0, pan = 0, input = 0;

    bool operator==(const SlotView&) const = default;
};

RemoteControl::RemoteControl(rack::RackController& controller, const std::string& host, int port)
    : controller(controller), endpoint(addressTable()) {
    openProject = [&controller](const std::string& path) { return controller.openProject(path); };
    saveProjectTo = [&controller](const std::string& path) { return controller.saveProjectTo(path); };
    listening = endpoint.open(host, port, why);
    if (!listening) {
        diag::hookedLogError("OSC remote control: " + why);
        return;
    }
    diag::hookedLog("OSC remote control listening on " + host + ":" + std::to_string(endpoint.port()));
    dutyId = controller.addIdleDuty([this] { tick(); });
}

RemoteControl::~RemoteControl() {
    detach();
}

void RemoteControl::detach() {
    if (dutyId != 0) controller.removeIdleDuty(dutyId);
    dutyId = 0;
}

void RemoteControl::tick() {
    const std::uint32_t start = platform::tickCountMs();
    OscRequest request;
    for (int handled = 0; handled < kMaxPerTick && platform::tickCountMs() - start <= kBudgetMs; ++handled) {
        if (hasWaiting) {
            if (rackInUse()) break;
            request = waiting;
            hasWaiting = false;
        } else if (!endpoint.take(request)) {
            break;
        }
        if (request.command == kProjectLoad && rackInUse()) {
            // What came after it waits too: commands keep their order.
            waiting = request;
            hasWaiting = true;
            break;
        }
        handle(request);
        // A project load or save takes its time: the rest waits for the next tick.
        if (request.command == kProjectLoad || request.command == kProjectSave || request.command == kProjectSaveAs)
            break;
    }
    if (!subscribers.empty()) notifyChanges();

    // Refusals are logged, a few seconds apart at most: a flood must not flood the log.
    const std::uint64_t refused = endpoint.refusals().refused();
    if (refused != reportedRefusals && platform::tickCountMs() - lastRefusalReport >= 5000) {
        const OscRefusals& counts = endpoint.refusals();
        diag::hookedLog("OSC: refused " + std::to_string(refused - reportedRefusals) + " messages (in all: malformed " +
                        std::to_string(counts.malformed.load()) + ", unknown address " +
                        std::to_string(counts.unknownAddress.load()) + ", wrong arguments " +
                        std::to_string(counts.wrongArguments.load()) + ", out of range " +
                        std::to_string(counts.outOfRange.load()) + ", flooded " +
                        std::to_string(counts.flooded.load()) + ", foreign " + std::to_string(counts.foreign.load()) +
                        ")");
        reportedRefusals = refused;
        lastRefusalReport = platform::tickCountMs();
    }
}

void RemoteControl::refuse(const OscRequest& request, const std::string& text) {
    static const std::vector<OscAddress> table = addressTable();
    std::string address;
    for (const OscAddress& entry : table)
        if (entry.command == request.command) address = entry.path;
    reply(request.from, OscMessage("/trelvo/error").add(address).add(text));
}

bool RemoteControl::slotArgument(const OscRequest& request, int& slot, bool needsPlugIn) {
    slot = request.integer(0);
    if (slot < 0 || slot >= controller.rack().numSlots()) {
        refuse(request, "there is no slot " + std::to_string(slot));
        return false;
    }
    if (needsPlugIn && !controller.rack().slot(slot).PlugLoaded.load()) {
        refuse(request, "slot " + std::to_string(slot) + " holds no plug-in");
        return false;
    }
    return true;
}

void RemoteControl::handle(const OscRequest& request) {
    rack::Rack& rack = controller.rack();
    int slot = 0;
    const auto setSwitch = [&](SlotCommandCode code) {
        if (slotArgument(request, slot, false)) controller.setSwitch(code, slot, request.integer(1) != 0);
    };
    const auto setVolume = [&](SlotCommandCode code) {
        int decibels = 0;
        if (!slotArgument(request, slot, false)) return;
        if (!volumeOf(request.number(1), decibels)) {
            refuse(request, "a volume is at most +12 dB");
            return;
        }
        controller.setVolume(code, slot, decibels);
    };
    switch (request.command) {
    case kPing: reply(request.from, OscMessage("/trelvo/pong")); break;
    case kListSlots: sendAll(request.from); break;
    case kSubscribe:
        // The others hear what changed so far; the newcomer gets the whole state.
        notifyChanges(true);
        if (std::find(subscribers.begin(), subscribers.end(), request.from) == subscribers.end()) {
            // The oldest subscriber makes room: a client that went away without a word
            // must not keep the newest out for ever.
            if (subscribers.size() >= static_cast<std::size_t>(kMaxSubscribers)) subscribers.erase(subscribers.begin());
            subscribers.push_back(request.from);
        }
        sendAll(request.from);
        notifyChanges(false); // what the newcomer was sent is what is shown now
        break;
    case kUnsubscribe:
        subscribers.erase(std::remove(subscribers.begin(), subscribers.end(), request.from), subscribers.end());
        break;
    case kSlotOn:
        if (slotArgument(request, slot, false))
            controller.setSwitch(SlotCommandCode::Off, slot, request.integer(1) == 0);
        break;
    case kSlotBypass: setSwitch(SlotCommandCode::Bypass); break;
    case kSlotMute: setSwitch(SlotCommandCode::Mute); break;
    case kSlotSolo: setSwitch(SlotCommandCode::Solo); break;
    case kSlotWet: setVolume(SlotCommandCode::WetVol); break;
    case kSlotDry: setVolume(SlotCommandCode::DryVol); break;
    case kSlotInput: setVolume(SlotCommandCode::InpVol); break;
    case kSlotPan: {
        if (!slotArgument(request, slot, false)) break;
        const float step = request.number(1);
        if (step < static_cast<float>(rack::kPanMin) || step > static_cast<float>(rack::kPanMax)) {
            refuse(request, "the pan goes from -12 (left) to 12 (right)");
            break;
        }
        controller.setVolume(SlotCommandCode::Pan, slot, static_cast<int>(std::lround(step)));
        break;
    }
    case kPresetNumber: {
        if (!slotArgument(request, slot, true)) break;
        const int number = request.integer(1);
        const int selectable = controller.presets().numSelectable(slot);
        if (number < 0 || (selectable >= 0 && number >= selectable) || (selectable < 0 && number > 127)) {
            refuse(request, "slot " + std::to_string(slot) + " has no preset " + std::to_string(number));
            break;
        }
        controller.presets().SelectPreset(slot, number, true);
        break;
    }
    case kPresetName: {
        if (!slotArgument(request, slot, true)) break;
        const std::string name = request.text(1);
        // A name, never a path: the network does not choose files to read.
        if (name.empty() || name.find('/') != std::string::npos) {
            refuse(request, "a preset is named without a folder");
            break;
        }
        QuietMessages quiet(controller);
        // An unknown name changes nothing: a typo must not change the sound on stage.
        if (!controller.presets().LoadPresetByName(slot, name, true, false))
            refuse(request, quiet.text().empty() ? "slot " + std::to_string(slot) + " has no preset \"" + name + "\""
                                                 : quiet.text());
        break;
    }
    case kPresetNext:
    case kPresetPrevious:
        if (slotArgument(request, slot, true))
            controller.presets().SelectPreset(
                slot, request.command == kPresetNext ? presets::kNextPreset : presets::kPreviousPreset, true);
        break;
    case kParameter:
    case kParameterGet: {
        if (!slotArgument(request, slot, true)) break;
        host::TVstPlugIn& plugIn = rack.slot(slot);
        const int index = request.integer(1);
        if (index < 0 || index >= plugIn.effectNumParams()) {
            refuse(request, "slot " + std::to_string(slot) + " has no parameter " + std::to_string(index));
            break;
        }
        if (request.command == kParameter) {
            const float value = request.number(2);
            if (value < 0.0f || value > 1.0f) {
                refuse(request, "a parameter goes from 0 to 1");
                break;
            }
            plugIn.SetParameter(index, value);
            if (controller.refreshParameter) controller.refreshParameter(slot, index);
        }
        reply(request.from, OscMessage("/trelvo/parameter")
                                .add(slot)
                                .add(index)
                                .add(plugIn.GetParameter(index))
                                .add(plugIn.GetParamName(index))
                                .add(plugIn.GetParamDisplay(index) + " " + plugIn.GetParamLabel(index)));
        break;
    }
    case kSelect:
        if (slotArgument(request, slot, false)) controller.select(slot);
        break;
    case kMasterVolume: {
        const float value = request.number(0);
        if (value > 0.0f) {
            refuse(request, "the master volume is at most 0 dB");
            break;
        }
        controller.setMasterVolume(value < static_cast<float>(rack::kVolumeMin) ? rack::kVolumeOff
                                                                                : static_cast<int>(std::lround(value)));
        break;
    }
    case kTransportStart: rack.transport().request(rack::TransportRequest::Play); break;
    case kTransportStop: rack.transport().pressStop(); break;
    case kTransportPause:
        if (rack.transport().state() == rack::TransportState::Playing)
            rack.transport().request(rack::TransportRequest::Pause);
        break;
    case kTransportRewind: rack.transport().pressRewind(); break;
    case kTempo: {
        const float tempo = request.number(0);
        if (tempo < static_cast<float>(rack::kTempoMin) || tempo > static_cast<float>(rack::kTempoMax)) {
            refuse(request, "the tempo goes from 16 to 360 beats a minute");
            break;
        }
        rack.transport().setTempo(static_cast<int>(std::lround(tempo)));
        break;
    }
    case kPanic: controller.midi().cmdPanic(); break;
    case kProjectLoad: loadProject(request); break;
    case kProjectSave: saveProject(request, false); break;
    case kProjectSaveAs: saveProject(request, true); break;
    default: break;
    }
}

bool RemoteControl::isNamed() const {
    return !controller.projectName.empty() && controller.projectName != "untitled";
}

std::string RemoteControl::projectPath() const {
    return isNamed() ? controller.appSettings().lastProject : std::string();
}

void RemoteControl::loadProject(const OscRequest& request) {
    const std::string path = request.text(0);
    struct stat status {};
    if (path.empty() || path.front() != '/' || !endsWith(path, ".vprj")) {
        refuse(request, "a project is named by its whole path, ending in .vprj");
        return;
    }
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        refuse(request, "there is no project file " + path);
        return;
    }
    if (static_cast<std::uint64_t>(status.st_size) > kMaxProjectBytes) {
        refuse(request, path + " is too large for a project");
        return;
    }
    runProjectCommand(request, "open", path, openProject);
}

void RemoteControl::saveProject(const OscRequest& request, bool named) {
    std::string path = named ? request.text(0) : controller.appSettings().lastProject;
    if (named) {
        struct stat status {};
        const std::string folder = path.substr(0, path.find_last_of('/') + 1);
        if (path.empty() || path.front() != '/' || !endsWith(path, ".vprj") || path.size() <= 6 ||
            stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            refuse(request, "a project is saved to a whole path, ending in .vprj, in a folder that exists");
            return;
        }
        // Another project's file (and the plug-in states beside it) is never written over
        // from the network.
        if (stat(path.c_str(), &status) == 0 && !(isNamed() && path == controller.appSettings().lastProject)) {
            refuse(request, path + " exists: a remote save never replaces another project");
            return;
        }
    } else if (!isNamed() || !endsWith(path, ".vprj")) {
        refuse(request, "the project has no file yet: save it with a path");
        return;
    }
    runProjectCommand(request, "save", path, saveProjectTo);
}

void RemoteControl::runProjectCommand(const OscRequest& request, const std::string& verb, const std::string& path,
                                      const std::function<bool(const std::string&)>& command) {
    diag::hookedLog("OSC: " + verb + " " + path + " for " + request.from.text());
    QuietMessages quiet(controller);
    if (!command(path)) {
        refuse(request, quiet.text().empty() ? "cannot " + verb + " " + path : quiet.text());
        return;
    }
    reply(request.from, OscMessage("/trelvo/project").add(controller.projectName).add(projectPath()));
}

RemoteControl::SlotView RemoteControl::viewOf(int slot) const {
    const host::TVstPlugIn& record = controller.rack().slot(slot);
    SlotView view;
    view.kind = kindWord(record.kind());
    view.name = record.SlotName;
    if (slot < static_cast<int>(controller.rows.size()))
        view.preset = controller.rows[static_cast<std::size_t>(slot)].preset;
    view.on = record.runMode.isSet(RunMode::Off) ? 0 : 1;
    view.bypass = record.runMode.isSet(RunMode::Bypass) ? 1 : 0;
    view.mute = record.runMode.isSet(RunMode::Mute) ? 1 : 0;
    view.solo = record.runMode.isSet(RunMode::Solo) ? 1 : 0;
    view.wet = record.WetVol.getDb();
    view.dry = record.DryVol.getDb();
    view.pan = record.pan.getStep();
    view.input = record.InpVol.getDb();
    return view;
}

void RemoteControl::sendSlot(const OscPeer& to, int slot) {
    const SlotView view = viewOf(slot);
    reply(to, OscMessage("/trelvo/slot")
                  .add(slot)
                  .add(view.kind)
                  .add(view.name)
                  .add(view.preset)
                  .add(view.on)
                  .add(view.bypass)
                  .add(view.mute)
                  .add(view.solo)
                  .add(static_cast<float>(view.wet))
                  .add(static_cast<float>(view.dry))
                  .add(static_cast<float>(view.pan))
                  .add(static_cast<float>(view.input)));
}

void RemoteControl::sendAll(const OscPeer& to) {
    const int n = controller.rack().numSlots();
    reply(to, OscMessage("/trelvo/slots").add(n));
    for (int i = 0; i < n; ++i) sendSlot(to, i);
    reply(to, OscMessage("/trelvo/master/volume").add(static_cast<float>(controller.appSettings().outputVolumeDb)));
    const rack::Transport& transport = controller.rack().transport();
    reply(to, OscMessage("/trelvo/transport")
                  .add(transportWord(transport.state()))
                  .add(static_cast<float>(transport.tempo())));
    reply(to, OscMessage("/trelvo/project").add(controller.projectName).add(projectPath()));
}

void RemoteControl::notifyChanges(bool announce) {
    const std::vector<OscPeer> none;
    const std::vector<OscPeer>& listeners = announce ? subscribers : none;
    const int n = controller.rack().numSlots();
    const bool resized = static_cast<int>(shown.size()) != n;
    if (resized) {
        shown.resize(static_cast<std::size_t>(n));
        for (const OscPeer& peer : listeners) reply(peer, OscMessage("/trelvo/slots").add(n));
    }
    for (int i = 0; i < n; ++i) {
        SlotView view = viewOf(i);
        if (!resized && view == shown[static_cast<std::size_t>(i)]) continue;
        shown[static_cast<std::size_t>(i)] = std::move(view);
        for (const OscPeer& peer : listeners) sendSlot(peer, i);
    }
    if (const int master = controller.appSettings().outputVolumeDb; master != shownMaster) {
        shownMaster = master;
        for (const OscPeer& peer : listeners)
            reply(peer, OscMessage("/trelvo/master/volume").add(static_cast<float>(master)));
    }
    const rack::Transport& transport = controller.rack().transport();
    const int state = static_cast<int>(transport.state());
    const int tempo = static_cast<int>(std::lround(transport.tempo()));
    if (state != shownTransport || tempo != shownTempo) {
        shownTransport = state;
        shownTempo = tempo;
        for (const OscPeer& peer : listeners)
            reply(peer,
                  OscMessage("/trelvo/transport").add(transportWord(transport.state())).add(static_cast<float>(tempo)));
    }
    if (controller.projectName != shownProject || projectPath() != shownProjectPath) {
        shownProject = controller.projectName;
        shownProjectPath = projectPath();
        for (const OscPeer& peer : listeners)
            reply(peer, OscMessage("/trelvo/project").add(shownProject).add(shownProjectPath));
    }
}

} // namespace trelvo::remote
