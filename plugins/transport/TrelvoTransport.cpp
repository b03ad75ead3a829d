// TrelvoTransport: plays what the host says of its transport, for tests of the song position.
//   Left:  1.0 for a block the host reports as playing, else 0.0.
//   Right: the song position at the block's start in quarter notes, divided by 1000
//          (0.002 after two beats), or 0.0 when the host gives no position.
// It asks for the time info once per block, from the audio thread, as tempo-synced
// plug-ins do. No inputs, two outputs.

#include "common/PluginBase.h"

namespace trelvo::plugins {

namespace {

constexpr PluginInfo kTransportInfo{
    .effectName = "TrelvoTransport",
    .productName = "TrelvoTransport",
    .uniqueId = fourCharCode("TTrn"),
    .version = 1000,
    .category = kPlugCategGenerator,
    .numInputs = 0,
    .numOutputs = 2,
    .numParams = 0,
    .numPrograms = 1,
    .flags = 0,
};

class TrelvoTransport final : public PluginBase {
public:
    explicit TrelvoTransport(audioMasterCallback host) : PluginBase(host, kTransportInfo) {
        copyText(program(0).name, "Clock", sizeof program(0).name);
    }

protected:
    std::string parameterName(int) const override { return {}; }

    void processReplacing(float**, float** outputs, VstInt32 frames) override {
        const auto info = reinterpret_cast<const VstTimeInfo*>(callHost(audioMasterGetTime, 0, kVstPpqPosValid));
        const bool playing = info != nullptr && (info->flags & kVstTransportPlaying) != 0;
        const bool hasPosition = info != nullptr && (info->flags & kVstPpqPosValid) != 0;
        const float left = playing ? 1.0f : 0.0f;
        const float right = hasPosition ? static_cast<float>(info->ppqPos / 1000.0) : 0.0f;
        for (VstInt32 i = 0; i < frames; ++i) {
            outputs[0][i] = left;
            outputs[1][i] = right;
        }
    }
};

} // namespace
} // namespace trelvo::plugins

TRELVO_PLUGIN_ENTRY(trelvo::plugins::TrelvoTransport)
