#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioDriver.h"
#include "audio/DriverList.h"
#include "audio/SampleConverters.h"
#include "model/UiMessages.h"
#include "persist/ChannelSelection.h"

namespace trelvo::audio {

/// Host notice codes, carried by message 2676 to the user-interface thread.
enum HostNotice : int {
    kNoticeReset = 0,
    kNoticeBufferSwitch = 1,
    kNoticeBufferSwitchTimeInfo = 2,
    kNoticeLatencies = 3,
    kNoticeSampleRate = 4, ///< a driver's rate change, handled here rather than on its thread
};

/// The channel-selection tables, kept with the settings that store them.
using persist::ChannelSelection;
using persist::channelSelection;

/// The latest time information a driver gave with a block.
class TASIOTimeSub {
public:
    TASIOTimeSub();
    AsioTime record{};
    double speed = 1.0;
    double sampleRate = 44100.0;
    std::int64_t samplePosition = 0;
    std::uint32_t flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid | kSpeedValid;
};

/// TASIOHost: the driver list, the one open driver, the buffers exchanged with it, the
/// per-channel sample converters and the driver's callbacks. Each block, the driver's
/// buffers become one float array per active channel for the engine and back.
/// Exactly one host exists at a time; the callbacks find it through current().
class TASIOHost {
public:
    using BufferSwitchEvent = std::function<void(const float* const* inputs, int numInputs, float* const* outputs,
                                                 int numOutputs, int frames)>;

    /// Lists the drivers (listDrivers() unless a list is given). messages receives the
    /// driver notices for the user-interface thread.
    explicit TASIOHost(rack::UiMessageQueue* messages, std::vector<DriverEntry> drivers = {}, bool listNow = true);
    ~TASIOHost();
    TASIOHost(const TASIOHost&) = delete;
    TASIOHost& operator=(const TASIOHost&) = delete;

    static TASIOHost* current() noexcept;

    // ---- User-interface thread ----
    /// Opens list entry n (reduced to the last one; below 0 closes). Ignored when n is
    /// already the current index.
    void setDriverIndex(int n);
    int driverIndex() const noexcept { return currentIndex; }
    const std::vector<DriverEntry>& drivers() const noexcept { return driverList; }
    /// Starts (true) or stops the driver; false when the driver did not start.
    bool setActive(bool on);
    bool isActive() const noexcept { return active.load(std::memory_order_acquire); }
    /// A driver is open (and so the engine may use the host).
    bool ready() const noexcept { return driver != nullptr; }
    void setSampleRate(double rate);
    AsioError controlPanel();
    /// Opens the driver again and raises OnReset.
    void reset();
    /// For a driver that went away (its server stopped): opens the current driver again
    /// without telling the user when that fails. True when it is open; OnReset is raised then.
    bool retryOpen();
    /// Lets the open driver do its periodic work. Thread: user interface.
    void idleDriver() {
        if (driver) driver->idle();
    }
    /// Handles a notice posted by a driver callback. Thread: user interface.
    void handleNotice(int code);
    bool buffersCreated() const noexcept { return buffersExist; }
    /// The xruns since the program started: those of every driver closed so far (drivers
    /// are opened again on every reset and server restart, and the player wants one count
    /// across them) plus the open driver's. Thread: user interface.
    XrunCount xruns() const noexcept;
    AudioDriver* openDriver() noexcept { return driver.get(); }

    // ---- Values the engine control reads ----
    std::string driverName;
    std::int32_t driverVersion = 0;
    std::int32_t inputLatency = -1;
    std::int32_t outputLatency = -1;
    std::int32_t inputChannels = 0;
    std::int32_t outputChannels = 0;
    double sampleRate = 0.0;
    std::int32_t bufferSize = 0;
    std::int32_t minimumSize = 0, maximumSize = 0, preferredSize = 0, granularity = 0;
    std::vector<AsioChannelInfo> inputInfos, outputInfos;
    int activeInputs = 0;
    int activeOutputs = 0;
    TASIOTimeSub timeSub;

    // ---- Events ----
    BufferSwitchEvent OnBufferSwitch;
    std::function<void(std::int64_t position)> OnUpdateSamplePos;
    std::function<void()> OnReset, OnLatencyChanged, OnSampleRateChanged, OnDestroy, OnDriverChanged, OnBuffersCreated;
    /// Shows a message to the user; unset, the text goes to the error log.
    std::function<void(const std::string& text, const std::string& caption)> messageBox;

    /// The answer to asioMessage. Thread: the driver's.
    std::int32_t asioMessage(std::int32_t selector, std::int32_t value) noexcept;
    /// One block of buffer half index with the time record held in timeSub.
    /// Thread: the driver's.
    void processBlock(int index) noexcept;

private:
    /// quiet: a failure is not shown to the user.
    void open(bool quiet = false);
    void close();
    bool createBuffers();
    void disposeBuffers();
    void post(int notice) noexcept;

    rack::UiMessageQueue* messages;
    std::vector<DriverEntry> driverList;
    int currentIndex = -1;
    std::unique_ptr<AudioDriver> driver;
    std::atomic<bool> active{false};
    bool buffersExist = false;
    XrunCount closedDriversXruns;
    AsioCallbacks callbacks{};
    std::vector<AsioBufferInfo> bufferInfos;
    std::vector<std::vector<float>> inputArrays, outputArrays;
    std::vector<float*> inputPointers, outputPointers;
    std::vector<InputConverter> inputConverters;
    std::vector<OutputConverter> outputConverters;
    /// Per active channel: the engine works in the driver's memory instead of an array.
    std::vector<char> inputDirect, outputDirect;
};

} // namespace trelvo::audio
