// TrelvoChannels: a pass-through with a channel count chosen by the build
// (TRELVO_CHANNELS_IN, TRELVO_CHANNELS_OUT), for testing how a host lends channel pointers.
//   Output k = input k for every k the plug-in has on both sides. With one input and two or
//   more outputs, every output copies input 0. Any other output gets kMarker, a constant the
//   host must never mix into what it plays.
// Every block it checks what the host lent, and keeps the result in its parameters:
//   0 "Pointer faults"  1 when any input or output pointer was null or two outputs shared
//                       memory in any block so far, else 0;
//   1 "Noisy inputs"    1 when an input past the first two ever held anything but silence;
//   2 "Blocks"          1 once a block has been processed.
// Every input sample is read and every output sample written, so a pointer into memory the
// host does not own shows up under the address sanitizer.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "common/PluginBase.h"

#ifndef TRELVO_CHANNELS_IN
#define TRELVO_CHANNELS_IN 128
#endif
#ifndef TRELVO_CHANNELS_OUT
#define TRELVO_CHANNELS_OUT 128
#endif
#ifndef TRELVO_CHANNELS_NAME
#define TRELVO_CHANNELS_NAME "TrelvoWide"
#endif

namespace trelvo::plugins {

namespace {

constexpr int kInputs = TRELVO_CHANNELS_IN;
constexpr int kOutputs = TRELVO_CHANNELS_OUT;
constexpr float kMarker = 0.5f;

constexpr PluginInfo kChannelsInfo{
    .effectName = TRELVO_CHANNELS_NAME,
    .productName = TRELVO_CHANNELS_NAME,
    .uniqueId = fourCharCode("TChn") + kInputs * 1000 + kOutputs,
    .version = 1000,
    .category = kPlugCategEffect,
    .numInputs = kInputs,
    .numOutputs = kOutputs,
    .numParams = 3,
    .numPrograms = 1,
    .flags = 0,
};

class TrelvoChannels final : public PluginBase {
public:
    explicit TrelvoChannels(audioMasterCallback host) : PluginBase(host, kChannelsInfo) {
        copyText(program(0).name, "Pass", sizeof program(0).name);
    }

protected:
    std::string parameterName(int index) const override {
        static const char* const kNames[] = {"Pointer faults", "Noisy inputs", "Blocks"};
        return kNames[index];
    }

    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
        const auto count = static_cast<std::size_t>(frames);
        bool pointerFault = inputs == nullptr || outputs == nullptr;
        if (!pointerFault) {
            for (int c = 0; c < kInputs; ++c) pointerFault = pointerFault || inputs[c] == nullptr;
            for (int c = 0; c < kOutputs; ++c) {
                if (outputs[c] == nullptr) {
                    pointerFault = true;
                    continue;
                }
                // Two outputs in one place would overwrite each other.
                for (int d = 0; d < c; ++d)
                    if (outputs[d] != nullptr && outputs[d] < outputs[c] + count && outputs[c] < outputs[d] + count)
                        pointerFault = true;
            }
        }
        if (pointerFault) {
            setParameter(0, 1.0f);
            return;
        }

        // Read everything first: a host may lend an output in the same place as an input.
        bool noisy = false;
        for (int c = 0; c < kInputs; ++c) {
            float peak = 0.0f;
            for (std::size_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(inputs[c][i]));
            inputPeaks[static_cast<std::size_t>(c)] = peak;
            if (c >= 2 && peak != 0.0f) noisy = true;
        }
        if (noisy) setParameter(1, 1.0f);

        for (int c = kOutputs - 1; c >= 0; --c) {
            const float* source = c < kInputs ? inputs[c] : (kInputs == 1 ? inputs[0] : nullptr);
            if (source == outputs[c]) continue;
            if (source != nullptr)
                std::memmove(outputs[c], source, sizeof(float) * count);
            else
                for (std::size_t i = 0; i < count; ++i) outputs[c][i] = kMarker;
        }
        setParameter(2, 1.0f);
    }

private:
    std::array<float, kInputs> inputPeaks{};
};

} // namespace
} // namespace trelvo::plugins

TRELVO_PLUGIN_ENTRY(trelvo::plugins::TrelvoChannels)
