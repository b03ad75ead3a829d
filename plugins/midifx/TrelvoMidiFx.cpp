// TrelvoMidiFx: a MIDI plug-in without audio. Every MIDI event it receives through
// effProcessEvents goes back to the host with audioMasterProcessEvents during the next
// processing call, at the same frame, with note keys (note on, note off, polyphonic
// pressure) moved by Transpose semitones; a note moved outside 0..127 is dropped. SysEx
// passes through unchanged. Setting "SysEx" to 0.5 or more sends F0 7D 54 52 4C 56 F7 once
// at frame 0 of the next processing call and sets the parameter back to 0.
//   Transpose t (0..1): round(48 t) - 24 semitones, so 0.5 is 0.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "common/PluginBase.h"

namespace trelvo::plugins {

namespace {

constexpr int kMaxEvents = 512;
constexpr std::size_t kSysexPoolSize = 8192;
constexpr unsigned char kOwnSysex[] = {0xF0, 0x7D, 0x54, 0x52, 0x4C, 0x56, 0xF7};

constexpr PluginInfo kMidiFxInfo{
    .effectName = "TrelvoMidiFx",
    .productName = "TrelvoMidiFx",
    .uniqueId = fourCharCode("TMfx"),
    .version = 1000,
    .category = kPlugCategEffect,
    .numInputs = 0,
    .numOutputs = 0,
    .numParams = 2,
    .numPrograms = 1,
    .flags = 0,
};

class TrelvoMidiFx final : public PluginBase {
public:
    explicit TrelvoMidiFx(audioMasterCallback host) : PluginBase(host, kMidiFxInfo) {
        copyText(program(0).name, "Default", sizeof program(0).name);
        program(0).values[0] = 0.5f;
        program(0).values[1] = 0.0f;
    }

protected:
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override {
        if (opcode == effProcessEvents) return receiveEvents(static_cast<const VstEvents*>(ptr));
        return PluginBase::dispatch(opcode, index, value, ptr, opt);
    }

    VstIntPtr canDo(std::string_view text) const override {
        if (text == "receiveVstMidiEvent" || text == "receiveVstEvents" || text == "sendVstMidiEvent" ||
            text == "sendVstEvents")
            return 1;
        return -1;
    }

    std::string parameterName(int index) const override { return index == 0 ? "Transpose" : "SysEx"; }

    std::string parameterDisplay(int index) const override {
        if (index == 1) return parameter(1) >= 0.5f ? "send" : "-";
        char text[16];
        std::snprintf(text, sizeof text, "%d", semitones());
        return text;
    }

    std::string parameterLabel(int index) const override { return index == 0 ? "semi" : ""; }

    void parameterChanged(int index, float value) override {
        if (index == 1 && value >= 0.5f) sysexRequested.store(true, std::memory_order_release);
    }

    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
        if (sysexRequested.exchange(false, std::memory_order_acq_rel)) {
            program(0).values[1].store(0.0f, std::memory_order_relaxed);
            queueSysex(0, kOwnSysex, sizeof kOwnSysex, true);
        }
        if (numOut == 0) return;
        // Frame order, keeping arrival order for equal frames, without allocating.
        for (int i = 1; i < numOut; ++i) {
            VstEvent* moving = order[i];
            int j = i;
            for (; j > 0 && order[j - 1]->deltaFrames > moving->deltaFrames; --j) order[j] = order[j - 1];
            order[j] = moving;
        }
        auto* block = reinterpret_cast<VstEvents*>(blockStorage);
        auto** slots = reinterpret_cast<VstEvent**>(blockStorage + offsetof(VstEvents, events));
        block->numEvents = numOut;
        block->reserved = 0;
        for (int i = 0; i < numOut; ++i) slots[i] = order[i];
        callHost(audioMasterProcessEvents, 0, 0, block);
        numOut = 0;
        sysexUsed = 0;
    }

private:
    int semitones() const { return static_cast<int>(std::lround(parameter(0) * 48.0f)) - 24; }

    VstIntPtr receiveEvents(const VstEvents* events) {
        if (events == nullptr) return 0;
        const int shift = semitones();
        for (int i = 0; i < events->numEvents && numOut < kMaxEvents; ++i) {
            const VstEvent* event = events->events[i];
            if (event == nullptr) continue;
            if (event->type == kVstSysExType) {
                const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
                if (sysex->sysexDump != nullptr && sysex->dumpBytes > 0)
                    queueSysex(sysex->deltaFrames, reinterpret_cast<const unsigned char*>(sysex->sysexDump),
                               static_cast<std::size_t>(sysex->dumpBytes), false);
                continue;
            }
            if (event->type != kVstMidiType) continue;
            VstMidiEvent copy = *reinterpret_cast<const VstMidiEvent*>(event);
            const int status = static_cast<unsigned char>(copy.midiData[0]) & 0xF0;
            if (status == 0x80 || status == 0x90 || status == 0xA0) {
                const int key = (copy.midiData[1] & 0x7F) + shift;
                if (key < 0 || key > 127) continue;
                copy.midiData[1] = static_cast<char>(key);
            }
            midiOut[numOut] = copy;
            order[numOut] = reinterpret_cast<VstEvent*>(&midiOut[numOut]);
            ++numOut;
        }
        return 1;
    }

    void queueSysex(int frame, const unsigned char* bytes, std::size_t count, bool first) {
        if (numOut >= kMaxEvents || sysexUsed + count > kSysexPoolSize) return;
        std::memcpy(sysexPool + sysexUsed, bytes, count);
        VstMidiSysexEvent& event = sysexOut[numOut];
        event = VstMidiSysexEvent{};
        event.type = kVstSysExType;
        event.byteSize = sizeof(VstMidiSysexEvent) - 8;
        event.deltaFrames = frame;
        event.dumpBytes = static_cast<VstInt32>(count);
        event.sysexDump = reinterpret_cast<char*>(sysexPool + sysexUsed);
        sysexUsed += count;
        if (first) {
            std::memmove(order + 1, order, sizeof(VstEvent*) * static_cast<std::size_t>(numOut));
            order[0] = reinterpret_cast<VstEvent*>(&event);
        } else {
            order[numOut] = reinterpret_cast<VstEvent*>(&event);
        }
        ++numOut;
    }

    std::atomic<bool> sysexRequested{false};
    VstMidiEvent midiOut[kMaxEvents + 1] = {};
    VstMidiSysexEvent sysexOut[kMaxEvents + 1] = {};
    VstEvent* order[kMaxEvents + 1] = {};
    unsigned char sysexPool[kSysexPoolSize] = {};
    std::size_t sysexUsed = 0;
    int numOut = 0;
    // A VstEvents header whose pointer array holds up to kMaxEvents entries.
    alignas(VstEvents) unsigned char blockStorage[offsetof(VstEvents, events) + sizeof(VstEvent*) * kMaxEvents] = {};
};

} // namespace
} // namespace trelvo::plugins

TRELVO_PLUGIN_ENTRY(trelvo::plugins::TrelvoMidiFx)
