// MCUsim: a simulated control surface as a plug-in, for trying the host's surface support
// without the hardware. Whatever the host sends to the surface arrives as MIDI events
// (short messages and SysEx) through effProcessEvents and goes to a SurfaceModel; whatever the
// surface sends (answers to the host's queries, buttons, faders, V-Pots and the jog wheel)
// goes back through audioMasterProcessEvents during the next processReplacing. Its audio is
// two outputs of silence.
//
// The user plays it in the editor (SurfaceEditor.h); host tests play it through
// effVendorSpecific (McuSimControl.h). Both queue actions for the audio thread, which carries
// them out at the start of processReplacing, and both read the state the audio thread
// published at the end of its last processReplacing. The audio thread never waits: it takes
// either lock with try_lock and leaves the work for the next call when it is taken.
//
// On resume (effMainsChanged 1) it sends the host connection query. effVendorSpecific with
// index 'stCA' and value 'Whee' (the host's mouse wheel) jogs one step in the direction of
// opt and returns 1.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "common/PluginBase.h"
#include "mcusim/McuSimControl.h"
#include "mcusim/SurfaceEditor.h"
#include "mcusim/SurfaceModel.h"

namespace trelvo::plugins {

namespace {

constexpr int kMaxOutEvents = 512;
constexpr std::size_t kSysexPoolSize = 16384;
constexpr int kMaxCommands = 1024;
constexpr VstInt32 kWheelIndex = fourCharCode("stCA");
constexpr VstIntPtr kWheelValue = fourCharCode("Whee");

constexpr PluginInfo kMcuSimInfo{
    .effectName = "MCUsim",
    .productName = "MCUsim",
    .uniqueId = fourCharCode("TMcu"),
    .version = 1000,
    .category = kPlugCategEffect,
    .numInputs = 0,
    .numOutputs = 2,
    .numParams = 0,
    .numPrograms = 1,
    .flags = effFlagsHasEditor,
};

/// The state the other threads see, and how far the audio thread had come when it was taken.
struct Published {
    mcusim::SurfaceState state{};
    std::uint32_t blocks = 0;
    std::uint32_t commandsApplied = 0;
    std::uint32_t dropped = 0;
};

class McuSim final : public PluginBase, private SurfaceEditorController {
public:
    explicit McuSim(audioMasterCallback host) : PluginBase(host, kMcuSimInfo), editor(*this) {
        copyText(program(0).name, "Surface", sizeof program(0).name);
        model.setSink([this](const std::uint8_t* bytes, std::size_t length) { queueOut(bytes, length); });
        published.state = model.state();
    }

protected:
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override {
        switch (opcode) {
        case effProcessEvents: return receiveEvents(static_cast<const VstEvents*>(ptr));
        case effVendorSpecific:
            if (index == mcusim::kMcuSimIndex) return control(static_cast<VstInt32>(value), ptr);
            if (index == kWheelIndex && value == kWheelValue) {
                const int steps = opt > 0.0f   ? std::max(1, static_cast<int>(std::lround(opt)))
                                  : opt < 0.0f ? std::min(-1, static_cast<int>(std::lround(opt)))
                                               : 0;
                if (steps == 0) return 0;
                return queueCommand({mcusim::kMcuSimJog, steps, 0}) ? 1 : 0;
            }
            return 0;
        case effEditGetRect:
            if (ptr == nullptr) return 0;
            *static_cast<ERect**>(ptr) = editor.rect();
            return 1;
        case effEditOpen: return editor.open(static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(ptr))) ? 1 : 0;
        case effEditClose: editor.close(); return 1;
        case effEditIdle:
            if (!editor.isOpen()) return 0;
            editor.idle();
            return 1;
        default: return PluginBase::dispatch(opcode, index, value, ptr, opt);
        }
    }

    VstIntPtr canDo(std::string_view text) const override {
        if (text == "receiveVstEvents" || text == "receiveVstMidiEvent" || text == "sendVstEvents" ||
            text == "sendVstMidiEvent")
            return 1;
        return -1;
    }

    std::string parameterName(int index) const override { return {}; }

    void mainsChanged(bool on) override {
        if (on) queueCommand({mcusim::kMcuSimConnect, 0, 0});
    }

    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
        applyCommands();
        if (numOut > 0) {
            auto* block = reinterpret_cast<VstEvents*>(blockStorage);
            auto** slots = reinterpret_cast<VstEvent**>(blockStorage + offsetof(VstEvents, events));
            block->numEvents = numOut;
            block->reserved = 0;
            for (int i = 0; i < numOut; ++i) slots[i] = order[i];
            callHost(audioMasterProcessEvents, 0, 0, block);
            numOut = 0;
            sysexUsed = 0;
        }
        ++blocks;
        publish();
        for (int c = 0; c < 2; ++c)
            if (outputs != nullptr && outputs[c] != nullptr)
                std::fill(outputs[c], outputs[c] + std::max(frames, 0), 0.0f);
    }

private:
    // ---- Audio thread ----

    VstIntPtr receiveEvents(const VstEvents* events) {
        if (events == nullptr) return 0;
        for (int i = 0; i < events->numEvents; ++i) {
            const VstEvent* event = events->events[i];
            if (event == nullptr) continue;
            if (event->type == kVstSysExType) {
                const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
                if (sysex->sysexDump != nullptr && sysex->dumpBytes > 0)
                    model.receive(reinterpret_cast<const std::uint8_t*>(sysex->sysexDump),
                                  static_cast<std::size_t>(sysex->dumpBytes));
                else
                    model.receive(nullptr, 0);
                continue;
            }
            if (event->type != kVstMidiType) continue;
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            const auto* data = reinterpret_cast<const std::uint8_t*>(midi->midiData);
            const int kind = data[0] & 0xF0;
            const std::size_t length = data[0] < 0x80 || data[0] >= 0xF0 ? 1 : kind == 0xC0 || kind == 0xD0 ? 2 : 3;
            model.receive(data, length);
        }
        return 1;
    }

    void applyCommands() {
        std::unique_lock lock(commandMutex, std::try_to_lock);
        if (!lock.owns_lock()) return;
        for (; commandsRead != commandsWritten; ++commandsRead) {
            const mcusim::McuSimCommand& command = commands[commandsRead % kMaxCommands];
            switch (command.code) {
            case mcusim::kMcuSimConnect: model.connect(); break;
            case mcusim::kMcuSimPress: model.press(command.a); break;
            case mcusim::kMcuSimRelease: model.release(command.a); break;
            case mcusim::kMcuSimTouch: model.touch(command.a, command.b != 0); break;
            case mcusim::kMcuSimMoveFader: model.moveFader(command.a, command.b); break;
            case mcusim::kMcuSimTurnVPot: model.turnVPot(command.a, command.b); break;
            case mcusim::kMcuSimJog: model.jog(command.a); break;
            case mcusim::kMcuSimTempo: model.tempo(command.a); break;
            case mcusim::kMcuSimReset: model.reset(); break;
            default: break;
            }
            ++commandsApplied;
        }
    }

    void publish() {
        std::unique_lock lock(publishMutex, std::try_to_lock);
        if (!lock.owns_lock()) return;
        published.state = model.state();
        published.blocks = blocks;
        published.commandsApplied = commandsApplied;
        published.dropped = dropped;
    }

    /// The model's sink: copies a message into the preallocated output events.
    void queueOut(const std::uint8_t* bytes, std::size_t length) {
        if (numOut >= kMaxOutEvents || length == 0) {
            ++dropped;
            return;
        }
        if (bytes[0] == 0xF0) {
            if (sysexUsed + length > kSysexPoolSize) {
                ++dropped;
                return;
            }
            std::memcpy(sysexPool + sysexUsed, bytes, length);
            VstMidiSysexEvent& event = sysexOut[numOut];
            event = VstMidiSysexEvent{};
            event.type = kVstSysExType;
            event.byteSize = sizeof(VstMidiSysexEvent) - 8;
            event.dumpBytes = static_cast<VstInt32>(length);
            event.sysexDump = reinterpret_cast<char*>(sysexPool + sysexUsed);
            sysexUsed += length;
            order[numOut++] = reinterpret_cast<VstEvent*>(&event);
            return;
        }
        VstMidiEvent& event = midiOut[numOut];
        event = VstMidiEvent{};
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent) - 8;
        std::memcpy(event.midiData, bytes, std::min<std::size_t>(length, 3));
        order[numOut++] = reinterpret_cast<VstEvent*>(&event);
    }

    // ---- Other threads ----

    bool queueCommand(const mcusim::McuSimCommand& command) {
        std::lock_guard lock(commandMutex);
        if (commandsWritten - commandsRead >= static_cast<std::uint32_t>(kMaxCommands)) return false;
        commands[commandsWritten % kMaxCommands] = command;
        ++commandsWritten;
        commandsQueued.fetch_add(1, std::memory_order_relaxed);
        return true;
    }

    VstIntPtr control(VstInt32 code, void* ptr) {
        const auto* command = static_cast<const mcusim::McuSimCommand*>(ptr);
        const int a = command != nullptr ? command->a : 0;
        const int b = command != nullptr ? command->b : 0;
        switch (code) {
        case mcusim::kMcuSimSnapshot:
            if (ptr == nullptr) return 0;
            snapshot(*static_cast<mcusim::McuSimSnapshot*>(ptr));
            return 1;
        case mcusim::kMcuSimConnect:
        case mcusim::kMcuSimReset: return queueCommand({code, 0, 0}) ? 1 : 0;
        case mcusim::kMcuSimPress:
        case mcusim::kMcuSimRelease:
        case mcusim::kMcuSimTouch:
        case mcusim::kMcuSimMoveFader:
        case mcusim::kMcuSimTurnVPot:
        case mcusim::kMcuSimJog:
        case mcusim::kMcuSimTempo:
            if (command == nullptr) return 0;
            return queueCommand({code, a, b}) ? 1 : 0;
        default: return 0;
        }
    }

    void snapshot(mcusim::McuSimSnapshot& out) {
        Published copy;
        {
            std::lock_guard lock(publishMutex);
            copy = published;
        }
        const mcusim::SurfaceState& state = copy.state;
        out = mcusim::McuSimSnapshot{};
        std::memcpy(out.leds, state.leds, sizeof out.leds);
        std::memcpy(out.rings, state.rings, sizeof out.rings);
        for (int f = 0; f < mcusim::kFaders; ++f) {
            out.faders[f] = state.faders[f];
            out.touched[f] = state.touched[f] ? 1 : 0;
        }
        for (int s = 0; s < mcusim::kStrips; ++s) {
            out.meters[s] = state.meters[s];
            out.clips[s] = state.clips[s] ? 1 : 0;
        }
        std::memcpy(out.lcd, state.lcd, mcusim::kDisplaySize);
        out.lcd[mcusim::kDisplaySize] = '\0';
        mcusim::SurfaceModel::segmentText(state.assignment, 2, out.assignment, sizeof out.assignment);
        std::uint8_t reading[mcusim::kTimecodeDigits];
        for (int i = 0; i < mcusim::kTimecodeDigits; ++i) reading[i] = state.timecode[mcusim::kTimecodeDigits - 1 - i];
        mcusim::SurfaceModel::segmentText(reading, mcusim::kTimecodeDigits, out.timecode, sizeof out.timecode);
        out.online = state.online ? 1 : 0;
        out.received = state.counters.received;
        out.ignored = state.counters.ignored;
        out.sent = state.counters.sent;
        out.displayMessages = state.counters.displayMessages;
        out.displayBytes = state.counters.displayBytes;
        out.fadersReceivedWhileTouched = state.counters.fadersReceivedWhileTouched;
        out.versionRequests = state.counters.versionRequests;
        out.offlineMessages = state.counters.offlineMessages;
        out.blocks = copy.blocks;
        out.commandsQueued = commandsQueued.load(std::memory_order_relaxed);
        out.commandsApplied = copy.commandsApplied;
        out.dropped = copy.dropped;
    }

    // SurfaceEditorController
    void readSurface(mcusim::SurfaceState& state) override {
        std::lock_guard lock(publishMutex);
        state = published.state;
    }
    void surfaceAction(const mcusim::McuSimCommand& command) override { queueCommand(command); }

    mcusim::SurfaceModel model;

    // Actions for the audio thread: a ring the other threads fill under commandMutex; the
    // audio thread empties it when try_lock succeeds.
    std::mutex commandMutex;
    mcusim::McuSimCommand commands[kMaxCommands] = {};
    std::uint32_t commandsWritten = 0;
    std::uint32_t commandsRead = 0;
    std::atomic<std::uint32_t> commandsQueued{0};
    std::uint32_t commandsApplied = 0; // audio thread

    std::mutex publishMutex;
    Published published;
    std::uint32_t blocks = 0;  // audio thread
    std::uint32_t dropped = 0; // audio thread

    // What goes to the host in the next processReplacing; owned by the audio thread.
    VstMidiEvent midiOut[kMaxOutEvents] = {};
    VstMidiSysexEvent sysexOut[kMaxOutEvents] = {};
    VstEvent* order[kMaxOutEvents] = {};
    int numOut = 0;
    unsigned char sysexPool[kSysexPoolSize] = {};
    std::size_t sysexUsed = 0;
    alignas(VstEvents) unsigned char blockStorage[offsetof(VstEvents, events) + sizeof(VstEvent*) * kMaxOutEvents] = {};

    SurfaceEditor editor;
};

} // namespace
} // namespace trelvo::plugins

TRELVO_PLUGIN_ENTRY(trelvo::plugins::McuSim)
