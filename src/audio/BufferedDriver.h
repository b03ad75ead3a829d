#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/AudioDriver.h"

namespace trelvo::audio {

/// The part every backend shares: a fixed channel layout of one sample type, the two
/// halves of every listed channel (owned here), the callbacks, and the sample position.
/// A backend moves its device's data in and out of the halves and calls runBlock.
class BufferedDriver : public AudioDriver {
public:
    BufferedDriver(std::string name, SampleType type, int numInputs, int numOutputs, int bufferSize, double sampleRate);

    bool init(void* systemHandle) override { return true; }
    std::string getDriverName() override { return driverName; }
    std::int32_t getDriverVersion() override { return 1; }
    AsioError getChannels(std::int32_t& numInputs, std::int32_t& numOutputs) override;
    AsioError getLatencies(std::int32_t& inputLatency, std::int32_t& outputLatency) override;
    AsioError getBufferSize(std::int32_t& minimum, std::int32_t& maximum, std::int32_t& preferred,
                            std::int32_t& granularity) override;
    AsioError getSampleRate(double& rate) override;
    AsioError setSampleRate(double rate) override;
    AsioError getSamplePosition(std::int64_t& position, std::int64_t& systemTime) override;
    AsioError getChannelInfo(AsioChannelInfo& info) override;
    AsioError createBuffers(AsioBufferInfo* infos, std::int32_t numChannels, std::int32_t bufferSize,
                            AsioCallbacks* callbacks) override;
    AsioError disposeBuffers() override;
    AsioError outputReady() override { return ASE_OK; }

protected:
    struct Channel {
        bool isInput;
        int number;
        std::vector<unsigned char> halves[2];
    };

    /// Stores the block size and rate chosen in the control panel as this driver's settings,
    /// for a driver whose device takes them when it is opened again.
    AsioError storePanelChoices();
    /// One block: the callback for half index, then the position moves on.
    /// Thread: the driver's audio thread.
    void runBlock(int half) noexcept;
    /// The listed channel buffers of one half, for the backend's data transfer.
    unsigned char* halfOf(const Channel& channel, int half) const noexcept {
        return const_cast<unsigned char*>(channel.halves[half].data());
    }

    std::string driverName;
    SampleType sampleType;
    int inputs;
    int outputs;
    std::atomic<int> framesPerBlock;
    std::atomic<double> rate;
    std::int32_t inputLatency = 0;
    std::int32_t outputLatency = 0;
    std::vector<Channel> channels;
    std::atomic<AsioCallbacks*> callbacks{nullptr};
    std::atomic<std::int64_t> samplePosition{0};
    std::atomic<std::int64_t> systemTimeNs{0};
};

} // namespace trelvo::audio
