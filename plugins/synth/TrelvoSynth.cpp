// TrelvoSynth: a small polyphonic instrument with exactly predictable output.
//
// Each voice plays a naive waveform at 440 * 2^((key - 69) / 12) Hz, starting at phase 0
// on the frame of its note-on and stopping on the frame of its note-off (no envelope).
// One voice's sample is  Volume * (velocity / 127) * 0.25 * wave(phase), where the phase
// starts at 0 and grows by frequency / sampleRate per frame (wrapping below 1.0), and
// wave is sin(2 pi phase), 2 phase - 1 (saw) or +1 / -1 (square, +1 below half a cycle).
// Both outputs carry the same signal. 16 voices; a seventeenth note takes the oldest.
//
// 256 programs in chunk form over two MIDI banks (Bank Select MSB or LSB 0 and 1, 128 each).
// Program p is named like "A005 Saw" (bank letter, number in bank, wave) and starts with
// Volume 0.5 and the wave p mod 3 (sine, saw, square). Bank Select (CC 0) and Program
// Change switch programs at the frame they arrive; CC 120 and CC 123 silence all voices.
//
// The editor (SynthEditor.h, whose rules it documents) is an X11 window with a knob for
// each parameter.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/PluginBase.h"
#include "synth/SynthEditor.h"

namespace trelvo::plugins {

namespace {

constexpr int kNumPrograms = 256;
constexpr int kNumVoices = 16;
constexpr int kMaxPendingEvents = 1024;
constexpr char kProgramMagic[4] = {'T', 'S', 'P', '1'};
constexpr char kBankMagic[4] = {'T', 'S', 'B', '1'};
constexpr std::size_t kProgramChunkSize = 4 + kVstMaxProgNameLen + 4 + 2 * 4;
constexpr const char* kWaveNames[3] = {"Sine", "Saw", "Square"};

constexpr PluginInfo kSynthInfo{
    .effectName = "TrelvoSynth",
    .productName = "TrelvoSynth",
    .uniqueId = fourCharCode("TSyn"),
    .version = 1000,
    .category = kPlugCategSynth,
    .numInputs = 0,
    .numOutputs = 2,
    .numParams = 2,
    .numPrograms = kNumPrograms,
    .flags = effFlagsIsSynth | effFlagsProgramChunks | effFlagsHasEditor,
};

int waveOf(float value) {
    return std::min(2, static_cast<int>(value * 3.0f));
}

void putInt(std::vector<char>& out, std::int32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF));
}
std::int32_t getInt(const char* in) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    return static_cast<std::int32_t>(value);
}
void putFloat(std::vector<char>& out, float value) {
    std::int32_t bits;
    std::memcpy(&bits, &value, 4);
    putInt(out, bits);
}
float getFloat(const char* in) {
    const std::int32_t bits = getInt(in);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

struct Voice {
    bool active = false;
    int key = 0;
    float amplitude = 0.0f;
    double phase = 0.0;
    double increment = 0.0;
    std::uint64_t startedAt = 0;
};

struct PendingEvent {
    int frame;
    unsigned char data[3];
};

class TrelvoSynth final : public PluginBase, private SynthEditorController {
public:
    explicit TrelvoSynth(audioMasterCallback host) : PluginBase(host, kSynthInfo), editor(*this) {
        for (int p = 0; p < kNumPrograms; ++p) {
            std::snprintf(program(p).name, sizeof program(p).name, "%c%03d %s", p < 128 ? 'A' : 'B', p % 128,
                          kWaveNames[p % 3]);
            program(p).values[0] = 0.5f;
            program(p).values[1] = static_cast<float>(p % 3) / 2.0f;
        }
    }

protected:
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override {
        switch (opcode) {
        case effProcessEvents: return receiveEvents(static_cast<const VstEvents*>(ptr));
        case effGetChunk: return getChunk(index != 0, static_cast<void**>(ptr));
        case effSetChunk: return setChunk(index != 0, static_cast<const char*>(ptr), value);
        case effGetMidiProgramName: return midiProgramName(static_cast<MidiProgramName*>(ptr), false);
        case effGetCurrentMidiProgram: return midiProgramName(static_cast<MidiProgramName*>(ptr), true);
        case effGetMidiProgramCategory: return midiProgramCategory(static_cast<MidiProgramCategory*>(ptr));
        case effHasMidiProgramsChanged: return 0;
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
        if (text == "receiveVstMidiEvent" || text == "receiveVstEvents" || text == "midiProgramNames") return 1;
        return -1;
    }

    std::string parameterName(int index) const override { return index == 0 ? "Volume" : "Wave"; }

    std::string parameterDisplay(int index) const override {
        if (index == 1) return kWaveNames[waveOf(parameter(1))];
        return PluginBase::parameterDisplay(index);
    }

    void mainsChanged(bool on) override {
        for (Voice& voice : voices) voice.active = false;
        numPending = 0;
    }

    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
        int frame = 0;
        for (int e = 0; e < numPending; ++e) {
            const int at = std::clamp(pending[e].frame, frame, std::max(frame, frames - 1));
            render(outputs, frame, at);
            frame = at;
            applyEvent(pending[e].data);
        }
        numPending = 0;
        render(outputs, frame, frames);
    }

private:
    int numKnobs() const override { return pluginInfo().numParams; }
    float knobValue(int index) const override { return parameter(index); }
    std::string knobName(int index) const override { return parameterName(index); }
    std::string knobDisplay(int index) const override { return parameterDisplay(index); }
    std::string programName() const override { return program(currentProgram()).name; }
    void knobEdited(int index, float value) override { setParameterAutomated(index, value); }
    void sizeRequested(int width, int height) override { callHost(audioMasterSizeWindow, width, height); }

    VstIntPtr receiveEvents(const VstEvents* events) {
        if (events == nullptr) return 0;
        for (int i = 0; i < events->numEvents && numPending < kMaxPendingEvents; ++i) {
            const VstEvent* event = events->events[i];
            if (event == nullptr || event->type != kVstMidiType) continue;
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            PendingEvent& slot = pending[numPending++];
            slot.frame = midi->deltaFrames;
            std::memcpy(slot.data, midi->midiData, 3);
        }
        // Keep arrival order for equal frames; hosts normally send them sorted already.
        // An insertion sort: nothing is allocated on the audio thread.
        for (int i = 1; i < numPending; ++i) {
            const PendingEvent moving = pending[i];
            int j = i;
            for (; j > 0 && pending[j - 1].frame > moving.frame; --j) pending[j] = pending[j - 1];
            pending[j] = moving;
        }
        return 1;
    }

    void applyEvent(const unsigned char* data) {
        const int status = data[0] & 0xF0;
        const int first = data[1] & 0x7F;
        const int second = data[2] & 0x7F;
        if (status == 0x90 && second > 0) {
            noteOn(first, second);
        } else if (status == 0x80 || (status == 0x90 && second == 0)) {
            for (Voice& voice : voices)
                if (voice.active && voice.key == first) voice.active = false;
        } else if (status == 0xB0) {
            // Bank select MSB or LSB: a 1 in either picks the second bank.
            if (first == 0) bankMsb = second;
            if (first == 32) bankLsb = second;
            if (first == 120 || first == 123)
                for (Voice& voice : voices) voice.active = false;
        } else if (status == 0xC0) {
            const int target = (bankMsb > 0 ? bankMsb : bankLsb) * 128 + first;
            if (target < kNumPrograms) {
                selectProgram(target);
                callHost(audioMasterUpdateDisplay);
            }
        }
    }

    void noteOn(int key, int velocity) {
        Voice* chosen = nullptr;
        for (Voice& voice : voices)
            if (voice.active && voice.key == key) chosen = &voice;
        if (chosen == nullptr)
            for (Voice& voice : voices)
                if (!voice.active) {
                    chosen = &voice;
                    break;
                }
        if (chosen == nullptr) {
            chosen = &voices[0];
            for (Voice& voice : voices)
                if (voice.startedAt < chosen->startedAt) chosen = &voice;
        }
        chosen->active = true;
        chosen->key = key;
        chosen->amplitude = static_cast<float>(velocity) / 127.0f * 0.25f;
        chosen->phase = 0.0;
        chosen->increment = 440.0 * std::pow(2.0, (key - 69) / 12.0) / sampleRate;
        chosen->startedAt = ++noteCounter;
    }

    void render(float** outputs, int from, int to) {
        const float volume = parameter(0);
        const int wave = waveOf(parameter(1));
        for (int i = from; i < to; ++i) {
            float sample = 0.0f;
            for (Voice& voice : voices) {
                if (!voice.active) continue;
                float shape;
                if (wave == 0)
                    shape = static_cast<float>(std::sin(2.0 * M_PI * voice.phase));
                else if (wave == 1)
                    shape = static_cast<float>(2.0 * voice.phase - 1.0);
                else
                    shape = voice.phase < 0.5 ? 1.0f : -1.0f;
                sample += volume * voice.amplitude * shape;
                voice.phase += voice.increment;
                if (voice.phase >= 1.0) voice.phase -= 1.0;
            }
            outputs[0][i] = sample;
            outputs[1][i] = sample;
        }
    }

    void appendProgram(std::vector<char>& out, int index) {
        out.insert(out.end(), kProgramMagic, kProgramMagic + 4);
        char name[kVstMaxProgNameLen] = {};
        std::memcpy(name, program(index).name, std::min<std::size_t>(std::strlen(program(index).name), sizeof name));
        out.insert(out.end(), name, name + sizeof name);
        putInt(out, 2);
        putFloat(out, program(index).values[0].load());
        putFloat(out, program(index).values[1].load());
    }

    bool readProgram(const char* in, int index) {
        if (std::memcmp(in, kProgramMagic, 4) != 0 || getInt(in + 4 + kVstMaxProgNameLen) != 2) return false;
        copyText(program(index).name, std::string_view(in + 4, strnlen(in + 4, kVstMaxProgNameLen)),
                 sizeof program(index).name);
        program(index).values[0] = std::clamp(getFloat(in + 8 + kVstMaxProgNameLen), 0.0f, 1.0f);
        program(index).values[1] = std::clamp(getFloat(in + 12 + kVstMaxProgNameLen), 0.0f, 1.0f);
        return true;
    }

    VstIntPtr getChunk(bool isPreset, void** data) {
        if (data == nullptr) return 0;
        chunk.clear();
        if (isPreset) {
            appendProgram(chunk, currentProgram());
        } else {
            chunk.insert(chunk.end(), kBankMagic, kBankMagic + 4);
            putInt(chunk, kNumPrograms);
            putInt(chunk, currentProgram());
            for (int p = 0; p < kNumPrograms; ++p) appendProgram(chunk, p);
        }
        *data = chunk.data();
        return static_cast<VstIntPtr>(chunk.size());
    }

    VstIntPtr setChunk(bool isPreset, const char* data, VstIntPtr size) {
        if (data == nullptr || size < 0) return 0;
        const auto length = static_cast<std::size_t>(size);
        if (isPreset) {
            if (length < kProgramChunkSize) return 0;
            const bool ok = readProgram(data, currentProgram());
            if (ok) programChanged();
            return ok ? 1 : 0;
        }
        if (length < 12 || std::memcmp(data, kBankMagic, 4) != 0) return 0;
        const std::int32_t count = getInt(data + 4);
        const std::int32_t selected = getInt(data + 8);
        if (count < 0 || count > kNumPrograms || length < 12 + static_cast<std::size_t>(count) * kProgramChunkSize)
            return 0;
        for (int p = 0; p < count; ++p)
            if (!readProgram(data + 12 + static_cast<std::size_t>(p) * kProgramChunkSize, p)) return 0;
        selectProgram(std::clamp<std::int32_t>(selected, 0, kNumPrograms - 1));
        return 1;
    }

    VstIntPtr midiProgramName(MidiProgramName* record, bool current) {
        if (record == nullptr) return 0;
        if (current) record->thisProgramIndex = currentProgram();
        const int index = record->thisProgramIndex;
        if (index < 0 || index >= kNumPrograms) return 0;
        copyText(record->name, program(index).name, sizeof record->name);
        record->midiProgram = static_cast<char>(index % 128);
        record->midiBankMsb = static_cast<char>(index / 128);
        record->midiBankLsb = static_cast<char>(index / 128);
        record->reserved = 0;
        record->parentCategoryIndex = index % 3;
        record->flags = 0;
        return current ? index : kNumPrograms;
    }

    VstIntPtr midiProgramCategory(MidiProgramCategory* record) {
        if (record == nullptr) return 0;
        const int index = record->thisCategoryIndex;
        if (index < 0 || index >= 3) return 3;
        copyText(record->name, kWaveNames[index], sizeof record->name);
        record->parentCategoryIndex = -1;
        record->flags = 0;
        return 3;
    }

    Voice voices[kNumVoices];
    std::uint64_t noteCounter = 0;
    PendingEvent pending[kMaxPendingEvents];
    int numPending = 0;
    int bankMsb = 0, bankLsb = 0;
    std::vector<char> chunk;
    SynthEditor editor;
};

} // namespace
} // namespace trelvo::plugins

TRELVO_PLUGIN_ENTRY(trelvo::plugins::TrelvoSynth)
