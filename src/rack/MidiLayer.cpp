#include "rack/MidiLayer.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
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

// ---- Virtual ports and slot ports ----

namespace {

/// How many bytes a short message with this status has.
std::size_t shortLength(std::uint8_t status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 2;
    case 0xF0:
        if (status == 0xF1 || status == 0xF3) return 2;
        if (status == 0xF2) return 3;
        return 1;
    default: return 3;
    }
}

bool isSurfaceName(const std::string& name) {
    return persist::sameName(name, "MCU") || persist::sameName(name, "LCU") || persist::sameName(name, "BCRU");
}

std::string twoDigits(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    return text;
}

} // namespace

void MidiLayer::readVirtualPorts(persist::IniHandle& handle) {
    debugLine("openINI vMIDIports");
    for (VirtualPort& entry : vports) {
        entry = VirtualPort{};
        entry.routes.count = 0;
    }
    const bool sectionFound = persist::OpenIni(handle, env.settingsFile, "vMIDIports", persist::kIniRead);
    std::array<std::string, kVirtualPorts> prefixes;
    std::size_t filled = 0;
    for (int n = 1; n <= 25 && filled < vports.size(); ++n) {
        const std::string prefix = twoDigits(n) + "_";
        const std::string name(persist::trimmed(persist::IniStr(handle, prefix + "Name", "")));
        if (name.empty()) continue;
        prefixes[filled] = prefix;
        vports[filled++].name = name;
    }
    const auto resolver = [this](const std::string& port) { return resolvePort(port); };
    for (std::size_t e = 0; e < filled; ++e) {
        VirtualPort& entry = vports[e];
        readRoutes(handle, prefixes[e], entry.routes, resolver);
        entry.outName = persist::IniStr(handle, prefixes[e] + "oMid1-Port", "");
        entry.outDevice = resolveOutputAlias(entry.outName);
        if (!entry.outName.empty())
            debugLine("oMid1-Port=\"" + entry.outName + "\", oPortIdx=" + std::to_string(entry.outDevice));
    }
    if (filled == 0) {
        VirtualPort& main = vports[0];
        main.name = "MAIN";
        if (!sectionFound) {
            // A first start: the default port hears the first four inputs, everything on them.
            for (int i = 0; i < table.numInputs && main.routes.count < 4; ++i) {
                const MidiPort& input = table.ports[static_cast<std::size_t>(i)];
                if (input.index < 0 || !input.buffer) continue;
                MidiRoute& route = main.routes.routes[static_cast<std::size_t>(main.routes.count++)];
                route = MidiRoute{};
                route.portName = input.name;
                route.portIndex = i;
                diag::hookedLog("MIDI: first start: \"MAIN\" takes input \"" + input.name + "\"");
            }
        }
        filled = 1;
    }
    for (std::size_t e = 0; e < filled; ++e) {
        openPort(table.numInputs + static_cast<int>(e), vports[e].name);
        if (isSurfaceName(vports[e].name) && surfaceSetup) surfaceSetup(static_cast<int>(e));
    }
    for (int i = 0; i < table.length; ++i) {
        const MidiPort& port = table.ports[static_cast<std::size_t>(i)];
        if (port.index >= 0 && persist::sameName(port.name, defaultPortName)) {
            defaultPosition = i;
            break;
        }
    }
    debugLine("curMIDIvPortIdx=" + std::to_string(defaultPosition));
    resolveSlotOutputs();
    resolveSlotRoutes();
}

void MidiLayer::writeVirtualPorts(persist::IniHandle& handle) {
    persist::OpenIni(handle, env.settingsFile, "vMIDIports", persist::kIniClearKeys);
    persist::IniStr(handle, "DefaultPort", defaultPortName);
    int number = 0;
    for (const VirtualPort& entry : vports) {
        if (entry.name.empty()) continue;
        const std::string prefix = twoDigits(++number) + "_";
        persist::IniStr(handle, prefix + "Name", entry.name);
        writeRoutes(handle, prefix, entry.routes, true);
        persist::IniStr(handle, prefix + "oMid1-Port", entry.outName);
    }
}

void MidiLayer::releaseSlotPorts() {
    if (table.length == 0) return;
    const int first = table.numInputs + kVirtualPorts;
    for (int i = 0; i < rack::kMaxSlots; ++i) rack.slot(i).midi->slotPort = -1;
    for (int p = first; p < first + kSlotPorts; ++p)
        if (table.ports[static_cast<std::size_t>(p)].index >= 0) closePort(p);
}

void MidiLayer::useAsDefaultPort(int position) {
    if (position < 0 || position >= table.length || table.ports[static_cast<std::size_t>(position)].index < 0) return;
    defaultPosition = position;
    resolveSlotRoutes();
}

void MidiLayer::assignSlotPorts() {
    if (table.length == 0) return;
    releaseSlotPorts();
    const int first = table.numInputs + kVirtualPorts;
    int next = 0;
    for (int i = 0; i < rack.numSlots() && next < kSlotPorts; ++i) {
        host::TVstPlugIn& slot = rack.slot(i);
        if (!slot.isMidiVport) continue;
        const int position = first + next++;
        openPort(position, "SlotID-" + std::to_string(slot.SlotID));
        slot.midi->slotPort = position;
    }
    resolveSlotOutputs();
    resolveSlotRoutes();
}

// ---- Input ----

int MidiLayer::framesOf(MidiTime time) const noexcept {
    if (time.isFrame) return static_cast<int>(time.value);
    const std::int64_t ms = time.value - static_cast<std::int64_t>(engine.blockStartMs.load(std::memory_order_relaxed));
    // An event stamped before the block began belongs at its start.
    int frames = ms <= 0 ? 0 : static_cast<int>(std::lround(static_cast<double>(ms) * env.samplesPerMs()));
    const int blockSize = rack.host().engineBlockSize.load(std::memory_order_relaxed);
    if (env.audioActive() && frames >= blockSize) frames = blockSize - 1;
    return frames;
}

void MidiLayer::appendToPort(int position, const MidiEvent& event, const std::uint8_t* sysex,
                             std::size_t length) noexcept {
    if (position < 0 || position >= table.length) return;
    MidiEventBuffer* buffer = table.ports[static_cast<std::size_t>(position)].buffer.get();
    if (buffer == nullptr) return;
    if (!buffer->halves[currentWriteHalf].append(event, sysex, length))
        inputDrops.fetch_add(1, std::memory_order_relaxed);
}

void MidiLayer::shortMessage(int device, std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                             MidiTime time) noexcept {
    if (engine.applicationStage.load(std::memory_order_acquire) < rack::kStageRunning) return;
    MidiLockGuard lock;
    if (!inputsOpen()) return;
    MidiEvent event;
    event.time = framesOf(time);
    event.status = status;
    event.data1 = data1;
    event.data2 = data2;
    if ((status & 0xF0) == 0x80) event.data2 = 0; // a release velocity is not kept
    if ((status & 0xF0) == 0x90 && data2 == 0) {
        event.status = static_cast<std::uint8_t>(status - 0x10); // note on with velocity 0 is a note off
        event.data2 = 0;
    }
    appendToPort(device, event, nullptr, 0);
}

void MidiLayer::sysexPiece(int device, const std::uint8_t* bytes, std::size_t length, MidiTime time) noexcept {
    if (engine.applicationStage.load(std::memory_order_acquire) < rack::kStageRunning || length == 0) return;
    MidiLockGuard lock;
    if (!inputsOpen()) return;
    MidiEvent event;
    event.time = framesOf(time);
    event.status = 0xF0;
    event.data1 = static_cast<std::uint8_t>(length & 0xFF);
    appendToPort(device, event, bytes, length);
}

bool MidiLayer::sendToSlot(host::TVstPlugIn& slot, std::uint8_t status, std::uint8_t data1,
                           std::uint8_t data2) noexcept {
    MidiLockGuard lock;
    if (!slot.midi->slotBuffer) return false;
    MidiEvent event;
    event.status = status;
    event.data1 = data1;
    event.data2 = data2;
    return slot.midi->slotBuffer->halves[currentWriteHalf].append(event);
}

// ---- Output ----

bool MidiLayer::sendToOutputPort(int position, const std::uint8_t* bytes, std::size_t length, int frame) noexcept {
    if (!outputs || position < 0 || position >= 64) return false;
    const int device = outPorts[static_cast<std::size_t>(position)].deviceIndex;
    return device >= 0 && outputs->enqueue(device, bytes, length, frame);
}

void MidiLayer::wakeOutput() noexcept {
    if (outputs) outputs->wake();
}

void MidiLayer::plugInOutput(int slotIndex, const VstEvents* events) noexcept {
    if (events == nullptr || events->numEvents <= 0 || slotIndex < 0 || slotIndex >= rack::kMaxSlots) return;
    host::TVstPlugIn& slot = rack.slot(slotIndex);
    MidiLockGuard lock;
    auto* const* list =
        reinterpret_cast<VstEvent* const*>(reinterpret_cast<const char*>(events) + offsetof(VstEvents, events));
    // Into the slot port's half of this block, so that later slots hear it at once.
    const int position = slot.midi->slotPort.load(std::memory_order_relaxed);
    MidiEventBuffer* portBuffer = slot.isMidiVport && position >= 0 && position < table.length
                                      ? table.ports[static_cast<std::size_t>(position)].buffer.get()
                                      : nullptr;
    if (portBuffer != nullptr) {
        MidiHalf& half = portBuffer->halves[currentReadHalf];
        for (int i = 0; i < events->numEvents; ++i) {
            const VstEvent* event = list[i];
            if (event == nullptr) continue;
            MidiEvent stored;
            stored.time = event->deltaFrames;
            bool added = true;
            if (event->type == kVstMidiType) {
                const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
                stored.status = static_cast<std::uint8_t>(midi->midiData[0]);
                stored.data1 = static_cast<std::uint8_t>(midi->midiData[1]);
                stored.data2 = static_cast<std::uint8_t>(midi->midiData[2]);
                stored.spare = static_cast<std::uint8_t>(midi->midiData[3]);
                added = half.append(stored);
            } else if (event->type == kVstSysExType) {
                const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
                if (sysex->sysexDump == nullptr || sysex->dumpBytes <= 0) continue;
                stored.status = 0xF0;
                added = half.append(stored, reinterpret_cast<const std::uint8_t*>(sysex->sysexDump),
                                    static_cast<std::size_t>(sysex->dumpBytes));
            } else {
                continue;
            }
            if (!added) {
                diag::hookedLog("overload");
                break;
            }
        }
    }
    const int device = slot.midi->outputPort.load(std::memory_order_relaxed);
    if (device < 0 || !outputs) return;
    for (int i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (event == nullptr) continue;
        if (event->type == kVstMidiType) {
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            const auto status = static_cast<std::uint8_t>(midi->midiData[0]);
            if (status == 0xF0) continue;
            sendToOutputPort(device, reinterpret_cast<const std::uint8_t*>(midi->midiData), shortLength(status),
                             midi->deltaFrames);
        } else if (event->type == kVstSysExType) {
            const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
            if (sysex->sysexDump != nullptr && sysex->dumpBytes > 0)
                sendToOutputPort(device, reinterpret_cast<const std::uint8_t*>(sysex->sysexDump),
                                 static_cast<std::size_t>(sysex->dumpBytes), sysex->deltaFrames);
        }
    }
    wakeOutput();
}

// ---- Engine hooks ----

void MidiLayer::beginBlockMidi() noexcept {
    // Called with MidiLock held, by the audio thread only. Sequentially consistent, so that
    // either the interface sees this pass running or the block sees every buffer it replaced.
    if ((blockPass.load(std::memory_order_relaxed) & 1) == 0) blockPass.fetch_add(1);
}

void MidiLayer::switchMidiHalves() noexcept {
    // Called with MidiLock held.
    currentReadHalf = currentWriteHalf;
    currentWriteHalf ^= 1;
}

void MidiLayer::virtualPortStep() noexcept {
    if (!inputsOpen() || table.length == 0) return;
    bool sent = false;
    for (std::size_t e = 0; e < vports.size(); ++e) {
        const VirtualPort& entry = vports[e];
        const int own = table.numInputs + static_cast<int>(e);
        MidiEventBuffer* ownBuffer = table.ports[static_cast<std::size_t>(own)].buffer.get();
        if (entry.name.empty() || ownBuffer == nullptr) continue;
        if (isSurfaceName(entry.name)) {
            if (surfaceStep) surfaceStep(static_cast<int>(e));
            continue;
        }
        MidiHalf& merged = ownBuffer->halves[currentReadHalf];
        merged.clear();
        for (int r = 0; r < entry.routes.count && r < 4; ++r) {
            const MidiRoute& route = entry.routes.routes[static_cast<std::size_t>(r)];
            const int position = route.portIndex;
            if (position < 0 || position >= table.length || position == own) continue;
            const MidiEventBuffer* sourceBuffer = table.ports[static_cast<std::size_t>(position)].buffer.get();
            if (sourceBuffer == nullptr) continue;
            const MidiHalf& source = sourceBuffer->halves[currentReadHalf];
            for (int i = 0; i < source.count(); ++i) {
                const MidiEvent& event = source.event(i);
                if (event.isSysex()) {
                    merged.insertInTimeOrder(event, source.sysex(event), event.sysexLength);
                    continue;
                }
                filterEvent(route, event, [&](const RoutedMessage& copy) {
                    MidiEvent routed = event;
                    routed.status = copy.status;
                    routed.data1 = copy.data1;
                    routed.data2 = copy.data2;
                    merged.insertInTimeOrder(routed, nullptr, 0);
                });
            }
        }
        if (merged.count() == 0 || !outputs || entry.outDevice < 0) continue;
        for (int i = 0; i < merged.count(); ++i) {
            const MidiEvent& event = merged.event(i);
            if (event.isSysex()) {
                if (event.sysexLength > 0)
                    sendToOutputPort(entry.outDevice, merged.sysex(event), event.sysexLength, event.time);
            } else {
                const std::uint8_t bytes[3] = {event.status, event.data1, event.data2};
                sendToOutputPort(entry.outDevice, bytes, shortLength(event.status), event.time);
            }
        }
        sent = true;
    }
    if (sent) wakeOutput();
}

void MidiLayer::deliverMidi(host::TVstPlugIn& slot) noexcept {
    if (!slot.PlugLoaded.load(std::memory_order_acquire) || !slot.hasEffect()) return;
    SlotMidi& midi = *slot.midi;
    VstEventBlock& block = midi.block;
    block.clear();
    std::uint32_t dropped = 0;
    for (int r = 0; r < midi.routes.count && r < 4; ++r) {
        const MidiRoute& route = midi.routes.routes[static_cast<std::size_t>(r)];
        const int position = route.portIndex;
        // A route that names no open port: this slot gets no MIDI in this block at all.
        const MidiEventBuffer* buffer = position >= 0 && position < table.length
                                            ? table.ports[static_cast<std::size_t>(position)].buffer.get()
                                            : nullptr;
        if (buffer == nullptr) return;
        const MidiHalf& half = buffer->halves[currentReadHalf];
        for (int e = 0; e < half.count(); ++e) {
            const MidiEvent& event = half.event(e);
            if (event.isSysex()) {
                if (!block.addSysex(event.time, half.sysex(event), event.sysexLength)) ++dropped;
                continue;
            }
            if ((event.status & 0xF0) == 0xC0 && midi.chgFxpOnMidiPc) {
                rack.commands().EnqueueRequest(rack::SlotCommandCode::SelectPreset, slot.SlotIdx, event.data1, 0);
                continue;
            }
            filterEvent(route, event, [&](const RoutedMessage& copy) {
                if (!block.addMidi(event.time, copy.status, copy.data1, copy.data2)) ++dropped;
            });
        }
    }
    if (midi.slotBuffer) {
        MidiHalf& own = midi.slotBuffer->halves[currentReadHalf];
        for (int e = 0; e < own.count(); ++e) {
            const MidiEvent& event = own.event(e);
            const bool added = event.isSysex() ? block.addSysex(event.time, own.sysex(event), event.sysexLength)
                                               : block.addMidi(event.time, event.status, event.data1, event.data2);
            if (!added) ++dropped;
        }
        own.clear();
    }
    if (dropped > 0) midi.droppedEvents.fetch_add(dropped, std::memory_order_relaxed);
    slot.ProcessEvents(block.events());
}

void MidiLayer::panic() noexcept {
    MidiLockGuard lock;
    if (table.numInputs <= 0 || table.length > 64) return;
    for (int i = 0; i < table.length; ++i) {
        MidiPort& port = table.ports[static_cast<std::size_t>(i)];
        MidiEventBuffer* buffer = port.buffer.get();
        if (buffer == nullptr || port.index < 0) continue;
        MidiHalf& half = buffer->halves[currentWriteHalf];
        half.clear();
        for (std::uint8_t channel = 0; channel < 16; ++channel) {
            MidiEvent allNotesOff;
            allNotesOff.status = static_cast<std::uint8_t>(0xB0 + channel);
            allNotesOff.data1 = 123;
            half.append(allNotesOff);
            MidiEvent sustainOff = allNotesOff;
            sustainOff.data1 = 64;
            half.append(sustainOff);
        }
    }
}

void MidiLayer::endOfBlockMidi() noexcept {
    {
        // Under the lock: a plug-in may add its output to a slot port's read half from any
        // thread, and with audio held this runs while the interface rebuilds the table.
        MidiLockGuard lock;
        for (int i = 0; i < table.length; ++i)
            if (MidiEventBuffer* buffer = table.ports[static_cast<std::size_t>(i)].buffer.get())
                buffer->halves[currentReadHalf].clear();
    }
    if ((blockPass.load(std::memory_order_relaxed) & 1) != 0) blockPass.fetch_add(1, std::memory_order_release);
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

} // namespace trelvo::midi
