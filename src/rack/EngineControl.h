#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/TASIOHost.h"

namespace trelvo::rack {
class AudioEngine;
class Rack;
} // namespace trelvo::rack

namespace trelvo::audio {

/// setAllowed flags (the top byte selects the action).
inline constexpr std::uint32_t kAllowBit = 0x04000000;
inline constexpr std::uint32_t kWaitBit = 0x02000000;
inline constexpr std::uint32_t kDriverBit = 0x08000000;
inline constexpr std::uint32_t kAllowedStop = 0x0A000000;   ///< disallow, wait, stop the driver
inline constexpr std::uint32_t kAllowedStart = 0x0C000000;  ///< allow, start the driver
inline constexpr std::uint32_t kAllowedPause = 0x02000000;  ///< disallow and wait; the driver runs on
inline constexpr std::uint32_t kAllowedResume = 0x04000000; ///< allow

/// The main window's engine-control operations: the audio driver host, the engine's
/// buffers, the "allowed" gate every structural change passes through, starting and
/// stopping the driver, and following resets, latency and sample-rate changes.
/// Thread: user interface, all of it.
class EngineControl {
public:
    EngineControl(rack::Rack& rack, rack::AudioEngine& engine, rack::UiMessageQueue& messages);
    ~EngineControl();
    EngineControl(const EngineControl&) = delete;
    EngineControl& operator=(const EngineControl&) = delete;

    void setAllowed(std::uint32_t flags);
    void startAudio();
    void stopAudio();
    /// 0 releases the engine's buffers, 1 (re)creates them for the host's buffer size.
    void setBuffers(int mode);
    /// Creates the host, lists the drivers and opens the selected one (by name).
    /// drivers replaces the list of present drivers (render mode, tests).
    void ASIOinit(std::vector<DriverEntry> drivers = {});
    void ASIOchange(int driverIndex);
    void onReset();
    void onLatencyChanged();
    void onSampleRateChanged();
    void ASIOdestroy();
    /// The control-panel sequence with the dialog's choice of buffer size and rate.
    void controlPanel(std::int32_t bufferSize, double sampleRate);

    /// Hands a message 2676 to the host. Thread: user interface.
    void handleNotice(int code);

    /// The user-interface thread's regular call, a few times a second (the idle timer, the
    /// headless loop): lets the driver do its periodic work and, while the selected driver
    /// is gone (its server stopped), tries to open it again every kDriverRetryMs and brings
    /// audio back when it opens. nowMs: the monotonic clock (tests pass their own).
    void pollDriver(std::uint32_t nowMs);
    void pollDriver();
    /// True while the selected driver is gone and polled for.
    bool waitingForDriver() const noexcept { return lostDriver >= 0; }
    /// What the device state shows while waiting: "JACK: waiting for server".
    std::string waitingText() const;
    static constexpr std::uint32_t kDriverRetryMs = 500;

    TASIOHost* host() noexcept { return asioHost.get(); }
    bool hostReady() const noexcept { return asioHost != nullptr && asioHost->ready(); }

    /// Starts (true) or stops the idle timer; the rack controller sets it.
    std::function<void(bool enable)> idleTimer;
    /// Sleeps the given milliseconds; tests may replace it.
    std::function<void(int milliseconds)> sleep;
    /// Disallowing waits for the running block without a time-out; after this long it says
    /// so in the error log, once. Tests may shorten it.
    int longBlockReportMs = 2000;

    // ---- Values kept by the engine control ----
    int selectedDriver = -1;
    std::string selectedDriverName; ///< the setting "ASIO Driver"
    double blocksPerSecond = 0.0;
    double blockMilliseconds = 0.0;
    float millisecondsPerSample = 0.0f;
    float samplesPerMs = 0.0f;
    int settleTimeMs = 50;

private:
    void recomputeTiming();
    void waitForRunningBlock();
    void driverLost(bool wasPlaying);
    void driverBack();
    /// "JACK server" or "driver "NAME"", for the log lines about a lost driver.
    std::string lostDriverSubject() const;

    rack::Rack& rack;
    rack::AudioEngine& engine;
    rack::UiMessageQueue& messages;
    std::unique_ptr<TASIOHost> asioHost;
    bool destroying = false;
    // A driver that went away: its index, whether audio played then, the last retry.
    int lostDriver = -1;
    bool resumeWhenBack = false;
    std::uint32_t lastRetryMs = 0;
};

} // namespace trelvo::audio
