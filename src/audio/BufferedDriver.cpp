#include "audio/BufferedDriver.h"

#include <cstdio>

#include "audio/DriverSettings.h"
#include "platform/Clock.h"
#include "platform/RealtimeThread.h"

namespace trelvo::audio {

BufferedDriver::BufferedDriver(std::string name, SampleType type, int numInputs, int numOutputs, int bufferSize,
                               double sampleRate)
    : driverName(std::move(name)), sampleType(type), inputs(numInputs), outputs(numOutputs), framesPerBlock(bufferSize),
      rate(sampleRate) {}

AsioError BufferedDriver::getChannels(std::int32_t& numInputs, std::int32_t& numOutputs) {
    numInputs = inputs;
    numOutputs = outputs;
    return ASE_OK;
}

AsioError BufferedDriver::getLatencies(std::int32_t& in, std::int32_t& out) {
    in = inputLatency;
    out = outputLatency;
    return ASE_OK;
}

AsioError BufferedDriver::getBufferSize(std::int32_t& minimum, std::int32_t& maximum, std::int32_t& preferred,
                                        std::int32_t& granularity) {
    minimum = maximum = preferred = framesPerBlock.load();
    granularity = 0;
    return ASE_OK;
}

AsioError BufferedDriver::getSampleRate(double& sampleRate) {
    sampleRate = rate.load();
    return ASE_OK;
}

AsioError BufferedDriver::setSampleRate(double sampleRate) {
    if (sampleRate <= 0.0) return ASE_InvalidParameter;
    rate = sampleRate;
    return ASE_OK;
}

AsioError BufferedDriver::getSamplePosition(std::int64_t& position, std::int64_t& systemTime) {
    position = samplePosition.load(std::memory_order_acquire);
    systemTime = systemTimeNs.load(std::memory_order_acquire);
    return ASE_OK;
}

AsioError BufferedDriver::getChannelInfo(AsioChannelInfo& info) {
    const bool isInput = info.isInput != 0;
    if (info.channel < 0 || info.channel >= (isInput ? inputs : outputs)) return ASE_InvalidParameter;
    info.isActive = 0;
    for (const Channel& channel : channels)
        if (channel.isInput == isInput && channel.number == info.channel) info.isActive = 1;
    info.channelGroup = 0;
    info.type = sampleType;
    std::snprintf(info.name, sizeof info.name, "%s %d", isInput ? "in" : "out", info.channel + 1);
    return ASE_OK;
}

AsioError BufferedDriver::createBuffers(AsioBufferInfo* infos, std::int32_t numChannels, std::int32_t bufferSize,
                                        AsioCallbacks* newCallbacks) {
    if (bufferSize < 1 || numChannels < 0 || (numChannels > 0 && infos == nullptr)) return ASE_InvalidParameter;
    channels.clear();
    framesPerBlock = bufferSize;
    const std::size_t bytes =
        static_cast<std::size_t>(bufferSize) * static_cast<std::size_t>(bytesPerSample(sampleType));
    channels.reserve(static_cast<std::size_t>(numChannels));
    for (std::int32_t i = 0; i < numChannels; ++i) {
        AsioBufferInfo& info = infos[i];
        const bool isInput = info.isInput != 0;
        if (info.channelNum < 0 || info.channelNum >= (isInput ? inputs : outputs)) {
            channels.clear();
            return ASE_InvalidParameter;
        }
        Channel& channel = channels.emplace_back();
        channel.isInput = isInput;
        channel.number = info.channelNum;
        for (int half = 0; half < 2; ++half) {
            channel.halves[half].assign(bytes, 0);
            info.buffers[half] = channel.halves[half].data();
        }
    }
    callbacks = newCallbacks;
    return ASE_OK;
}

AsioError BufferedDriver::disposeBuffers() {
    callbacks = nullptr;
    channels.clear();
    return ASE_OK;
}

void BufferedDriver::runBlock(int half) noexcept {
    platform::AudioBlockScope block;
    systemTimeNs.store(platform::perfCounter(), std::memory_order_release);
    AsioCallbacks* current = callbacks.load(std::memory_order_acquire);
    if (current != nullptr && current->bufferSwitch != nullptr) current->bufferSwitch(half, 1);
    samplePosition.fetch_add(framesPerBlock.load(std::memory_order_relaxed), std::memory_order_acq_rel);
}

AsioError BufferedDriver::storePanelChoices() {
    DriverSettings settings = settingsFor(driverName);
    if (panelBufferSize > 0) settings.bufferSize = panelBufferSize;
    if (panelSampleRate > 0.0) settings.sampleRate = panelSampleRate;
    storeSettings(driverName, settings);
    return ASE_OK;
}

} // namespace trelvo::audio
