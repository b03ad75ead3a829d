#include "model/StripBuffers.h"

#include <algorithm>
#include <cstring>

namespace trelvo::rack {

ChannelArray::ChannelArray(int frames, int numChannels)
    : numFrames(frames),
      storage(static_cast<std::size_t>(frames) * static_cast<std::size_t>(std::max(numChannels, 1)), 0.0f),
      pointers(static_cast<std::size_t>(std::max(numChannels, 1))) {
    for (std::size_t c = 0; c < pointers.size(); ++c)
        pointers[c] = storage.data() + c * static_cast<std::size_t>(frames);
}

PlugInPins::PlugInPins(int frames, int width)
    : inputs(frames, std::clamp(width, kStripChannels, kMaxPlugInChannels)),
      outputs(frames, std::clamp(width, kStripChannels, kMaxPlugInChannels)),
      inputPtrs(inputs.channels(), inputs.channels() + inputs.count()),
      outputPtrs(outputs.channels(), outputs.channels() + outputs.count()) {}

void PlugInPins::prepare(const float* inL, const float* inR, float* outL, float* outR, int numIn, int frames) noexcept {
    const auto bytes = sizeof(float) * static_cast<std::size_t>(frames);
    numIn = std::clamp(numIn, 0, width());
    // The plug-in may have written into what it was lent as input last time: silence is
    // made again for each call, but only as far as this plug-in reads.
    const int silent = inL == nullptr ? std::max(numIn, kStripChannels) : numIn;
    for (int c = inL == nullptr ? 0 : kStripChannels; c < silent; ++c) std::memset(inputs.channel(c), 0, bytes);
    if (inL == nullptr) {
        inputPtrs[0] = inputs.channel(0);
        inputPtrs[1] = inputs.channel(1);
    } else if (numIn == 1) {
        float* mono = inputs.channel(0);
        for (int i = 0; i < frames; ++i) mono[i] = 0.5f * (inL[i] + inR[i]);
        inputPtrs[0] = mono;
        inputPtrs[1] = inputs.channel(1);
    } else {
        // The ABI has no const: a plug-in is trusted not to write its inputs, and a strip's
        // input buffer is its own anyway.
        inputPtrs[0] = const_cast<float*>(inL);
        inputPtrs[1] = const_cast<float*>(inR);
    }
    outputPtrs[0] = outL != nullptr ? outL : outputs.channel(0);
    outputPtrs[1] = outR != nullptr ? outR : outputs.channel(1);
}

void PlugInPins::zeroOutputs(int numOut, int frames) noexcept {
    const auto bytes = sizeof(float) * static_cast<std::size_t>(frames);
    const int count = std::clamp(numOut, kStripChannels, width());
    for (int c = 0; c < count; ++c) std::memset(outputPtrs[static_cast<std::size_t>(c)], 0, bytes);
}

} // namespace trelvo::rack
