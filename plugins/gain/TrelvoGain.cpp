// TrelvoGain: a stereo gain and balance with exact, documented arithmetic.
//   Gain g (0..1):      linear factor 2g, so 0.5 is unity and 1.0 is +6.02 dB.
//   Balance b (0..1):   left x min(1, 2(1-b)), right x min(1, 2b); 0.5 leaves both alone.
//   Bypass (effSetBypass): output = input.
// Programs: "Unity" (0.5, 0.5), "Half" (0.25, 0.5), "Left only" (0.5, 0.0),
// "Boost" (1.0, 0.5); parameter-form presets, no chunks.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/PluginBase.h"

namespace trelvo::plugins {

namespace {

constexpr PluginInfo kGainInfo{
    .effectName = "TrelvoGain",
    .productName = "TrelvoGain",
    .uniqueId = fourCharCode("TGan"),
    .version = 1000,
    .category = kPlugCategEffect,
    .numInputs = 2,
    .numOutputs = 2,
    .numParams = 2,
    .numPrograms = 4,
    .flags = 0,
};

struct GainPreset {
    const char* name;
    float gain;
    float balance;
};
constexpr GainPreset kPresets[] = {
    {"Unity", 0.5f, 0.5f}, {"Half", 0.25f, 0.5f}, {"Left only", 0.5f, 0.0f}, {"Boost", 1.0f, 0.5f}};

class TrelvoGain final : public PluginBase {
public:
    explicit TrelvoGain(audioMasterCallback host) : PluginBase(host, kGainInfo) {
        for (int i = 0; i < kGainInfo.numPrograms; ++i) {
            copyText(program(i).name, kPresets[i].name, sizeof program(i).name);
            program(i).values[0] = kPresets[i].gain;
            program(i).values[1] = kPresets[i].balance;
        }
    }

protected:
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override {
        if (opcode == effSetBypass) {
            bypassed.store(value != 0, std::memory_order_relaxed);
            return 1;
        }
        return PluginBase::dispatch(opcode, index, value, ptr, opt);
    }

    VstIntPtr canDo(std::string_view text) const override { return text == "bypass" ? 1 : -1; }

    std::string parameterName(int index) const override { return index == 0 ? "Gain" : "Balance"; }

    std::string parameterLabel(int index) const override { return index == 0 ? "dB" : "%"; }

    std::string parameterDisplay(int index) const override {
        char text[32];
        const float value = parameter(index);
        if (index == 0) {
            if (value <= 0.0f) return "-inf";
            std::snprintf(text, sizeof text, "%.2f", 20.0 * std::log10(2.0 * value));
        } else {
            std::snprintf(text, sizeof text, "%.0f", (value - 0.5) * 200.0);
        }
        return text;
    }

    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
        if (bypassed.load(std::memory_order_relaxed)) {
            for (int c = 0; c < 2; ++c)
                if (outputs[c] != inputs[c])
                    std::memmove(outputs[c], inputs[c], sizeof(float) * static_cast<std::size_t>(frames));
            return;
        }
        const float gain = 2.0f * parameter(0);
        const float balance = parameter(1);
        const float left = gain * std::min(1.0f, 2.0f * (1.0f - balance));
        const float right = gain * std::min(1.0f, 2.0f * balance);
        for (VstInt32 i = 0; i < frames; ++i) {
            outputs[0][i] = inputs[0][i] * left;
            outputs[1][i] = inputs[1][i] * right;
        }
    }

private:
    std::atomic<bool> bypassed{false};
};

} // namespace
} // namespace trelvo::plugins

TRELVO_PLUGIN_ENTRY(trelvo::plugins::TrelvoGain)
