#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "audio/AsioTypes.h"

namespace trelvo::audio {

/// How many xruns there were, and when the last one was.
struct XrunCount {
    std::uint64_t count = 0;
    std::int64_t lastUnixMs = 0; ///< wall-clock milliseconds since the epoch; 0 while count is 0
};

/// A driver's xrun tally: noted on whichever of the driver's threads learns of an xrun,
/// read by the user-interface thread.
class XrunCounter {
public:
    /// One more xrun, now. Thread: any, wait-free: it only reads the wall clock.
    void note() noexcept {
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        lastUnixMs.store(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count(),
                         std::memory_order_relaxed);
        count.fetch_add(1, std::memory_order_release);
    }
    /// Thread: any, wait-free. The time is never older than the counted xruns; it may
    /// belong to one noted just after.
    XrunCount read() const noexcept {
        XrunCount result;
        result.count = count.load(std::memory_order_acquire);
        result.lastUnixMs = lastUnixMs.load(std::memory_order_relaxed);
        return result;
    }

private:
    std::atomic<std::uint64_t> count{0};
    std::atomic<std::int64_t> lastUnixMs{0};
};

/// One audio driver with the designed driver methods. Every backend (JACK, ALSA, Dummy,
/// Offline) implements it; TASIOHost is its only user and calls it from the
/// user-interface thread, except getSamplePosition and outputReady, which it calls from
/// the driver's own thread inside a block.
class AudioDriver {
public:
    virtual ~AudioDriver() = default;

    /// First call after creation; false means the driver is unusable.
    virtual bool init(void* systemHandle) = 0;
    virtual std::string getDriverName() = 0;
    virtual std::int32_t getDriverVersion() = 0;
    virtual AsioError start() = 0;
    virtual AsioError stop() = 0;
    virtual AsioError getChannels(std::int32_t& numInputs, std::int32_t& numOutputs) = 0;
    virtual AsioError getLatencies(std::int32_t& inputLatency, std::int32_t& outputLatency) = 0;
    virtual AsioError getBufferSize(std::int32_t& minimum, std::int32_t& maximum, std::int32_t& preferred,
                                    std::int32_t& granularity) = 0;
    virtual AsioError getSampleRate(double& rate) = 0;
    virtual AsioError setSampleRate(double rate) = 0;
    virtual AsioError getSamplePosition(std::int64_t& position, std::int64_t& systemTime) = 0;
    virtual AsioError getChannelInfo(AsioChannelInfo& info) = 0;
    /// Allocates two halves per listed channel, fills in their addresses and keeps the
    /// callbacks for the blocks to come.
    virtual AsioError createBuffers(AsioBufferInfo* infos, std::int32_t numChannels, std::int32_t bufferSize,
                                    AsioCallbacks* callbacks) = 0;
    virtual AsioError disposeBuffers() = 0;
    /// Applies the settings chosen with setControlPanelSettings (the control panel is a
    /// small dialog of the user interface).
    virtual AsioError controlPanel() = 0;
    virtual AsioError outputReady() = 0;
    /// The device's own memory for one listed channel (its place in createBuffers' list)
    /// in the block in progress, for a driver that can lend it (JACK's port buffers), in the
    /// channel's sample type. Where it is not null the driver leaves that channel's halves
    /// alone in this block: the host reads the input there and writes the output there
    /// before bufferSwitch returns. nullptr: the halves, as always.
    /// Thread: the driver's, inside bufferSwitch.
    virtual void* blockBuffer(int index) noexcept { return nullptr; }
    /// Periodic work of the driver while it is open, a few times a second.
    /// Thread: user interface.
    virtual void idle() {}
    /// The xruns since this driver object was created; drivers that cannot have any
    /// (Dummy, Offline) keep the zero. Thread: any.
    virtual XrunCount xruns() const noexcept { return {}; }

    /// What the control panel dialog chose; 0 keeps a value as it is.
    void setControlPanelSettings(std::int32_t bufferSize, double sampleRate) {
        panelBufferSize = bufferSize;
        panelSampleRate = sampleRate;
    }

protected:
    std::int32_t panelBufferSize = 0;
    double panelSampleRate = 0.0;
};

} // namespace trelvo::audio
