#include "rack/MidiLayer.h"

#include <sched.h>

#include <algorithm>

#include "diag/DiagLog.h"
#include "midi/MidiLock.h"
#include "midi/MidiRoute.h"
#include "platform/Clock.h"
#include "rack/AudioEngine.h"
#include "rack/Rack.h"

namespace trelvo::midi {

namespace {

using diag::debugLine;

/// Reads the "device=alias" lines of an enumerated section open on `handle` and calls
/// `open(i, alias)` for every device i of the first `count` named so; returns the lines that
/// named no device ("device=alias"), to be written back untouched.
template <class NameOf, class Open>
std::vector<std::string> matchDeviceLines(persist::IniHandle& handle, int count, NameOf nameOf, Open open) {
    std::vector<std::string> unmatched;
    for (int line = 0; line < 100; ++line) {
        const std::string entry = persist::IniStr(handle, "", "");
        if (entry.empty()) break;
        const std::size_t split = entry.find(persist::kEnumSeparator);
        const std::string device = entry.substr(0, split), alias = entry.substr(split + 1);
        bool matched = false;
        for (int i = 0; i < count; ++i) {
            if (!persist::sameName(nameOf(i), device)) continue;
            open(i, alias);
            matched = true;
        }
        if (!matched) unmatched.push_back(device + "=" + alias);
    }
    return unmatched;
}

} // namespace

MidiLayer::MidiLayer(rack::Rack& owner, rack::AudioEngine& audioEngine, Environment environment)
    : rack(owner), engine(audioEngine), env(std::move(environment)) {}

void MidiLayer::settle() {
    const int milliseconds = env.settleMs();
    if (env.sleep)
        env.sleep(milliseconds);
    else
        platform::sleepMs(static_cast<unsigned>(milliseconds));
}

MidiLayer::~MidiLayer() {
    if (inputsOpen() || outputs) setMIDI(iClose | iHalt);
}

void MidiLayer::setMIDI(int flags) {
    if ((flags & (iOpen | iClose)) == 0) return;
    if ((flags & iClose) != 0) closeLayer((flags & iHalt) != 0);
    if ((flags & iOpen) != 0) openLayer();
}

void MidiLayer::openLayer() {
    debugLine("setMIDI(iOpen)");
    env.haltAudio();
    // Blocks leave the table alone until it is complete again (a second open rebuilds it).
    inputsOpened.store(false);
    waitForBlockToLeavePorts();
    std::vector<std::string> whyNot;
    backends = env.backends ? env.backends(whyNot) : openMidiBackends(whyNot);
    inputs.clear();
    inputNames.clear();
    for (auto& backend : backends) {
        const auto names = backend->inputNames();
        for (std::size_t i = 0; i < names.size(); ++i) {
            inputs.push_back({backend.get(), static_cast<int>(i)});
            inputNames.push_back(names[i]);
        }
    }
    settle();
    if (inputs.empty()) {
        std::string reasons;
        for (const std::string& reason : whyNot) reasons += (reasons.empty() ? "" : "; ") + reason;
        diag::hookedLog("MIDI: no input devices (" + reasons + ")");
    }

    {
        std::array<std::unique_ptr<MidiEventBuffer>, kMaxPorts> released;
        {
            MidiLockGuard lock;
            table.numInputs = std::clamp(static_cast<int>(inputs.size()), 1, kMaxInputPorts);
            table.length = table.numInputs + kVirtualPorts + kSlotPorts;
            for (int i = 0; i < kMaxPorts; ++i) {
                MidiPort& port = table.ports[static_cast<std::size_t>(i)];
                port.kind = i < table.numInputs ? 'I' : (i < table.numInputs + kVirtualPorts ? 'P' : 'V');
                port.index = -1;
                port.name.clear();
                released[static_cast<std::size_t>(i)] = port.buffer.replace(nullptr);
            }
        }
        waitForBlockToLeavePorts();
    }

    persist::IniHandle handle;
    readDeviceSections(handle);

    settle();
    std::vector<MidiBackend*> raw;
    for (auto& backend : backends) raw.push_back(backend.get());
    outputs = std::make_unique<TMidiOutputs>(raw);
    settle();
    numOutputs = std::clamp(outputs->count(), 1, 64);
    for (MidiOutPort& port : outPorts) port = MidiOutPort{};
    persist::OpenIni(handle, env.settingsFile, "MIDIoutputs", persist::kIniEnumerate);
    unmatchedOutputs = matchDeviceLines(
        handle, std::min(outputs->count(), numOutputs), [this](int i) { return outputs->name(i); },
        [this](int i, const std::string& alias) {
            openOutputPort(i, alias);
            debugLine("setMIDIout: " + std::to_string(i) + "  \"" + alias + "\", oDevIdx=" + std::to_string(i));
        });
    readVirtualPorts(handle);
    persist::CloseIni(handle);
    assignSlotPorts();
    // Only now may blocks route through the ports, virtual ports and slot routes set up above.
    inputsOpened.store(true);
    env.resumeAudio();
}

void MidiLayer::readDeviceSections(persist::IniHandle& handle) {
    unmatchedInputs.clear();
    unmatchedOutputs.clear();
    inputSectionFound = persist::OpenIni(handle, env.settingsFile, "MIDIinputs", persist::kIniEnumerate);
    if (!inputSectionFound) {
        // A first start: every input plays, under its own name, until the user chooses.
        for (int i = 0; i < static_cast<int>(inputNames.size()) && i < table.numInputs; ++i) {
            openPort(i, inputNames[static_cast<std::size_t>(i)]);
            diag::hookedLog("MIDI: first start: input \"" + inputNames[static_cast<std::size_t>(i)] + "\" opened");
        }
        return;
    }
    unmatchedInputs = matchDeviceLines(
        handle, std::min(static_cast<int>(inputNames.size()), table.numInputs),
        [this](int i) { return inputNames[static_cast<std::size_t>(i)]; },
        [this](int i, const std::string& alias) { openPort(i, alias); });
    // "DefaultPort=" in this section names the default virtual port, not a device.
    std::erase_if(unmatchedInputs, [](const std::string& line) {
        return persist::sameName(line.substr(0, line.find('=')), "DefaultPort");
    });
}

void MidiLayer::closeLayer(bool halt) {
    debugLine(" setMIDI.iClose begin:");
    if (!halt) {
        debugLine("  setMIDI no iHalt 1");
        env.haltAudio();
    }
    inputsOpened.store(false);
    // A block that saw the layer open may still be routing through it: let it end first.
    waitForBlockToLeavePorts();
    if (!inputs.empty()) {
        debugLine("  MidiInputs.CloseAll");
        debugLine("    TMidiInputs.CloseAll");
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            if (!inputs[i].open) continue;
            debugLine("    TMidiInputs.Close(" + std::to_string(i) + ") \"" + inputNames[i] + "\"");
            inputs[i].backend->closeInput(inputs[i].local);
            inputs[i].open = false;
        }
    }
    if (outputs) {
        debugLine("  MidiOutputs.CloseAll");
        // A surface flush holds MidiLock while it sends: once we had the lock, none is
        // still sending, and the next one sees the layer closed.
        { MidiLockGuard lock; }
        outputs.reset();
    }
    debugLine("  Clear MIDIbufs");
    {
        std::array<std::unique_ptr<MidiEventBuffer>, kMaxPorts> released;
        {
            MidiLockGuard lock;
            for (std::size_t i = 0; i < table.ports.size(); ++i) {
                released[i] = table.ports[i].buffer.replace(nullptr);
                table.ports[i].index = -1;
            }
            table.length = 0;
            table.numInputs = 0;
            numOutputs = 0;
            defaultPosition = -1;
        }
        waitForBlockToLeavePorts();
    }
    debugLine("  MIDIin0s.Clear");
    unmatchedInputs.clear();
    debugLine("  MIDIout0s.Clear");
    unmatchedOutputs.clear();
    backends.clear(); // the JACK backend waits here for JACK's thread to leave its sink
    inputs.clear();
    inputNames.clear();
    if (!halt) {
        env.resumeAudio();
        debugLine("  setMIDI no iHalt 2");
    }
    debugLine(" setMIDI.iClose end");
}

// ---- Ports ----

std::vector<std::string> MidiLayer::outputDeviceNames() const {
    std::vector<std::string> names;
    for (int i = 0; outputs && i < outputs->count(); ++i) names.push_back(outputs->name(i));
    return names;
}

bool MidiLayer::openPort(int position, const std::string& name) {
    if (position < 0 || position >= table.length) return false;
    MidiPort& port = table.ports[static_cast<std::size_t>(position)];
    auto buffer = port.buffer ? nullptr : std::make_unique<MidiEventBuffer>();
    {
        MidiLockGuard lock;
        if (buffer) port.buffer.replace(std::move(buffer)); // replaces none
        port.name = name;
        port.index = position;
    }
    if (position < table.numInputs && position < static_cast<int>(inputs.size()) &&
        !inputs[static_cast<std::size_t>(position)].open) {
        InputDevice& device = inputs[static_cast<std::size_t>(position)];
        device.open = device.backend->openInput(device.local, position, this);
        if (!device.open)
            diag::hookedLogError("MIDI: cannot open input " + inputNames[static_cast<std::size_t>(position)]);
    }
    return true;
}

void MidiLayer::closePort(int position) {
    if (position < 0 || position >= table.length) return;
    if (position < static_cast<int>(inputs.size()) && inputs[static_cast<std::size_t>(position)].open) {
        inputs[static_cast<std::size_t>(position)].backend->closeInput(
            inputs[static_cast<std::size_t>(position)].local);
        inputs[static_cast<std::size_t>(position)].open = false;
    }
    std::unique_ptr<MidiEventBuffer> released;
    {
        MidiLockGuard lock;
        MidiPort& port = table.ports[static_cast<std::size_t>(position)];
        port.name.clear();
        port.index = -1;
        released = port.buffer.replace(nullptr);
    }
    // A running block may have picked the buffer up before it was taken out.
    if (released) waitForBlockToLeavePorts();
}

void MidiLayer::waitForBlockToLeavePorts() const {
    const std::uint64_t pass = blockPass.load();
    if ((pass & 1) == 0) return; // no block is past beginBlockMidi: later ones see the change
    // The block ends on its own: a driver always returns from its callback.
    while (blockPass.load(std::memory_order_acquire) == pass) sched_yield();
}

bool MidiLayer::openOutputPort(int position, const std::string& alias) {
    if (position < 0 || position >= 64) return false;
    outPorts[static_cast<std::size_t>(position)].alias = alias;
    if (!outputs || !outputs->open(position)) return false;
    outPorts[static_cast<std::size_t>(position)].deviceIndex = position;
    return true;
}

void MidiLayer::closeOutputPort(int position) {
    if (position < 0 || position >= 64) return;
    if (outputs) outputs->close(outPorts[static_cast<std::size_t>(position)].deviceIndex);
    outPorts[static_cast<std::size_t>(position)].deviceIndex = -1; // the alias stays
}

int MidiLayer::resolvePort(const std::string& name) const {
    const bool isDefault = persist::sameName(name, "DEFAULT");
    if (isDefault && defaultPosition >= 0 && defaultPosition < table.length &&
        table.ports[static_cast<std::size_t>(defaultPosition)].index >= 0)
        return defaultPosition;
    const std::string& wanted = isDefault ? defaultPortName : name;
    for (int i = 0; i < table.length; ++i) {
        const MidiPort& port = table.ports[static_cast<std::size_t>(i)];
        if (port.index >= 0 && port.buffer && persist::sameName(port.name, wanted)) return i;
    }
    return -1;
}

int MidiLayer::resolveOutputAlias(const std::string& alias) const {
    if (alias.empty()) return -1;
    for (int i = 0; i < 64; ++i)
        if (outPorts[static_cast<std::size_t>(i)].deviceIndex >= 0 &&
            persist::sameName(outPorts[static_cast<std::size_t>(i)].alias, alias))
            return i;
    return -1;
}

void MidiLayer::resolveSlotOutputs() {
    for (int i = 0; i < rack::kMaxSlots; ++i) {
        SlotMidi& slot = *rack.slot(i).midi;
        int device = resolveOutputAlias(slot.outputPortName);
        for (std::size_t e = 0; device < 0 && !slot.outputPortName.empty() && e < vports.size(); ++e)
            if (vports[e].outDevice >= 0 && persist::sameName(vports[e].name, slot.outputPortName))
                device = vports[e].outDevice;
        slot.outputPort = device;
    }
}

void MidiLayer::resolveSlotRoutes() {
    for (int i = 0; i < rack::kMaxSlots; ++i) {
        RouteBlock& block = rack.slot(i).midi->routes;
        for (int r = 0; r < block.count && r < 4; ++r) {
            MidiRoute& route = block.routes[static_cast<std::size_t>(r)];
            route.portIndex = route.portName.empty() ? -1 : resolvePort(route.portName);
        }
    }
}

// ---- Reports and settings ----

std::vector<std::string> MidiLayer::takeDropReports() {
    std::vector<std::string> lines;
    const std::uint64_t drops = inputDrops.load();
    if (drops != reportedInputDrops) {
        lines.push_back("MIDI: " + std::to_string(drops - reportedInputDrops) +
                        " incoming events dropped: a port's buffer holds 511 events a block");
        reportedInputDrops = drops;
    }
    for (int i = 0; i < rack::kMaxSlots; ++i) {
        const std::uint32_t dropped = rack.slot(i).midi->droppedEvents.exchange(0);
        if (dropped > 0)
            lines.push_back("MIDI: " + std::to_string(dropped) + " events for slot " + std::to_string(i) + " \"" +
                            rack.slot(i).SlotName + "\" dropped: a block holds 512 events");
    }
    for (const std::string& line : lines) diag::hookedLogError(line);
    return lines;
}

void MidiLayer::writeDeviceSections(persist::IniHandle& handle) {
    persist::OpenIni(handle, env.settingsFile, "MIDIinputs", persist::kIniClearKeys);
    for (int i = 0; i < table.numInputs && i < static_cast<int>(inputNames.size()); ++i) {
        const MidiPort& port = table.ports[static_cast<std::size_t>(i)];
        if (port.index >= 0) persist::IniStr(handle, inputNames[static_cast<std::size_t>(i)], port.name);
    }
    for (const std::string& line : unmatchedInputs) {
        const std::size_t split = line.find('=');
        persist::IniStr(handle, line.substr(0, split), line.substr(split + 1));
    }
    persist::OpenIni(handle, env.settingsFile, "MIDIoutputs", persist::kIniClearKeys);
    for (int i = 0; outputs && i < outputs->count() && i < 64; ++i)
        if (outPorts[static_cast<std::size_t>(i)].deviceIndex >= 0)
            persist::IniStr(handle, outputs->name(i), outPorts[static_cast<std::size_t>(i)].alias);
    for (const std::string& line : unmatchedOutputs) {
        const std::size_t split = line.find('=');
        persist::IniStr(handle, line.substr(0, split), line.substr(split + 1));
    }
}

namespace {

std::vector<std::pair<std::string, std::string>> splitDeviceLines(const std::vector<std::string>& lines) {
    std::vector<std::pair<std::string, std::string>> devices;
    for (const std::string& line : lines) {
        const std::size_t split = line.find('=');
        if (split != std::string::npos) devices.emplace_back(line.substr(0, split), line.substr(split + 1));
    }
    return devices;
}

} // namespace

std::vector<std::pair<std::string, std::string>> MidiLayer::absentInputDevices() const {
    return splitDeviceLines(unmatchedInputs);
}

std::vector<std::pair<std::string, std::string>> MidiLayer::absentOutputDevices() const {
    return splitDeviceLines(unmatchedOutputs);
}

} // namespace trelvo::midi
