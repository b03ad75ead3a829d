#include "audio/OfflineDriver.h"

#include <cstring>

#include "audio/DriverThread.h"
#include "platform/RealtimeThread.h"

namespace trelvo::audio {

OfflineDriver::OfflineDriver(int bufferSize, double sampleRate, int numInputs, int numOutputs)
    : BufferedDriver("Offline", SampleType::Float32LSB, numInputs, numOutputs, bufferSize, sampleRate) {}

AsioError OfflineDriver::start() {
    started = true;
    return ASE_OK;
}

AsioError OfflineDriver::stop() {
    started = false;
    return ASE_OK;
}

bool OfflineDriver::runBlock(const std::vector<const float*>& inputs, std::vector<std::vector<float>>& outputsOut) {
    if (!started) return false;
    const int frames = framesPerBlock.load();
    const std::size_t bytes = sizeof(float) * static_cast<std::size_t>(frames);
    for (const Channel& channel : channels) {
        if (!channel.isInput) continue;
        const float* source = channel.number < static_cast<int>(inputs.size())
                                  ? inputs[static_cast<std::size_t>(channel.number)]
                                  : nullptr;
        if (source != nullptr)
            std::memcpy(halfOf(channel, half), source, bytes);
        else
            std::memset(halfOf(channel, half), 0, bytes);
    }
    {
        // The caller's thread plays the audio thread for this block.
        platform::RealtimeScope realtime;
        BufferedDriver::runBlock(half);
    }
    // The caller's vectors are reused from block to block; only a change of size allocates.
    outputsOut.resize(static_cast<std::size_t>(outputs));
    for (std::vector<float>& output : outputsOut) output.assign(static_cast<std::size_t>(frames), 0.0f);
    for (const Channel& channel : channels)
        if (!channel.isInput)
            std::memcpy(outputsOut[static_cast<std::size_t>(channel.number)].data(), halfOf(channel, half), bytes);
    half ^= 1;
    return true;
}

} // namespace trelvo::audio
