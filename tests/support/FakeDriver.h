#pragma once

#include <cstdint>

#include "audio/BufferedDriver.h"

namespace trelvo::test {

using audio::AsioBufferInfo;
using audio::AsioCallbacks;
using audio::AsioError;
using audio::SampleType;

/// A driver whose sizes, type and channels the test chooses, and whose blocks it runs.
class FakeDriver final : public audio::BufferedDriver {
public:
    FakeDriver(SampleType type, int numInputs, int numOutputs, int minimum, int maximum, int preferred)
        : audio::BufferedDriver("Fake", type, numInputs, numOutputs, preferred, 48000.0), minimum(minimum),
          maximum(maximum) {}

    AsioError getBufferSize(std::int32_t& min, std::int32_t& max, std::int32_t& preferred,
                            std::int32_t& granularity) override {
        min = minimum;
        max = maximum;
        preferred = framesPerBlock.load();
        granularity = 1;
        return audio::ASE_OK;
    }
    AsioError start() override {
        ++starts;
        return startResult;
    }
    AsioError stop() override { return audio::ASE_OK; }
    AsioError controlPanel() override { return audio::ASE_OK; }
    AsioError createBuffers(AsioBufferInfo* infos, std::int32_t count, std::int32_t size,
                            AsioCallbacks* callbacks) override {
        const AsioError result = audio::BufferedDriver::createBuffers(infos, count, size, callbacks);
        if (dropSecondHalfOfFirst && count > 0) infos[0].buffers[1] = nullptr;
        return result;
    }
    void block(int half) { runBlock(half); }
    void setRate(double sampleRate) { rate = sampleRate; }
    /// Sends a driver message to the host, as a driver does from its own thread.
    std::int32_t message(std::int32_t selector) {
        AsioCallbacks* current = callbacks.load();
        return current != nullptr ? current->asioMessage(selector, 0, nullptr, nullptr) : 0;
    }
    unsigned char* half(bool isInput, int number, int which) {
        for (const Channel& channel : channels)
            if (channel.isInput == isInput && channel.number == number) return halfOf(channel, which);
        return nullptr;
    }

    int minimum, maximum;
    AsioError startResult = audio::ASE_OK;
    int starts = 0;
    bool dropSecondHalfOfFirst = false;
};

} // namespace trelvo::test
