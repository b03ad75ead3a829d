// TrelvoParams: a stereo pass-through with 1000 parameters, the size of the largest plug-ins
// players load, for the parameter list's tests and benchmark. Parameter i is named "Param"
// and i in three digits, shows its value in percent with one decimal ("42.5") and the unit
// "%", and starts at i / 999. One program, no chunks.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/PluginBase.h"

namespace trelvo::plugins {

namespace {

constexpr int kParams = 1000;

constexpr PluginInfo kParamsInfo{
    .effectName = "TrelvoParams",
    .productName = "TrelvoParams",
    .uniqueId = fourCharCode("TPrm"),
    .version = 1000,
    .category = kPlugCategEffect,
    .numInputs = 2,
    .numOutputs = 2,
    .numParams = kParams,
    .numPrograms = 1,
    .flags = 0,
};

class TrelvoParams final : public PluginBase {
public:
    explicit TrelvoParams(audioMasterCallback host) : PluginBase(host, kParamsInfo) {
        copyText(program(0).name, "Default", sizeof program(0).name);
        for (int i = 0; i < kParams; ++i) values[static_cast<std::size_t>(i)].store(static_cast<float>(i) / 999.0f);
        // More parameters than the base keeps per program: this plug-in keeps its own.
        aeffect.setParameter = [](AEffect* effect, VstInt32 index, float value) {
            if (index >= 0 && index < kParams)
                self(effect).values[static_cast<std::size_t>(index)].store(std::clamp(value, 0.0f, 1.0f));
        };
        aeffect.getParameter = [](AEffect* effect, VstInt32 index) {
            return index >= 0 && index < kParams ? self(effect).values[static_cast<std::size_t>(index)].load() : 0.0f;
        };
    }

protected:
    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
        for (int channel = 0; channel < 2; ++channel)
            if (outputs[channel] != inputs[channel])
                std::memcpy(outputs[channel], inputs[channel], sizeof(float) * static_cast<std::size_t>(frames));
    }

    std::string parameterName(int index) const override {
        char text[16];
        std::snprintf(text, sizeof text, "Param %03d", index);
        return text;
    }

    std::string parameterLabel(int) const override { return "%"; }

    std::string parameterDisplay(int index) const override {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f",
                      100.0 * values[static_cast<std::size_t>(std::clamp(index, 0, kParams - 1))].load());
        return text;
    }

private:
    static TrelvoParams& self(AEffect* effect) {
        return *static_cast<TrelvoParams*>(static_cast<PluginBase*>(effect->object));
    }

    std::array<std::atomic<float>, kParams> values{};
};

} // namespace

} // namespace trelvo::plugins

TRELVO_PLUGIN_ENTRY(trelvo::plugins::TrelvoParams)
