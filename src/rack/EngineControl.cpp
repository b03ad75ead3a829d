#include "rack/EngineControl.h"

#include <cmath>
#include <stdexcept>

#include "diag/DiagLog.h"
#include "platform/Clock.h"
#include "rack/AudioEngine.h"
#include "rack/Rack.h"

namespace trelvo::audio {

namespace {
using diag::debugLine;
void errorLine(const std::string& line) {
    diag::hookedLogError(line);
}
} // namespace

EngineControl::EngineControl(rack::Rack& owner, rack::AudioEngine& audioEngine, rack::UiMessageQueue& queue)
    : sleep([](int ms) { platform::sleepMs(static_cast<unsigned>(ms)); }), rack(owner), engine(audioEngine),
      messages(queue) {}

EngineControl::~EngineControl() {
    if (asioHost) {
        ASIOdestroy();
        destroying = true;
        asioHost.reset();
    }
}

void EngineControl::waitForRunningBlock() {
    // A block that began before allowed was cleared runs to its end, and nothing it uses may
    // change under it, so there is no time-out: a driver always returns from its callback. A
    // block that takes unusually long (a plug-in hanging in its processing) is reported once.
    // Sequentially consistent, against the engine's claim of busy before it reads allowed.
    if (!engine.busy.load()) return;
    const std::uint32_t start = platform::tickCountMs();
    bool reported = false;
    while (engine.busy.load(std::memory_order_acquire)) {
        if (!reported && platform::tickCountMs() - start >= static_cast<std::uint32_t>(longBlockReportMs)) {
            errorLine("setAllowed(0): the running audio block has not ended after " +
                      std::to_string(longBlockReportMs) + " ms, waiting for it");
            reported = true;
        }
        platform::sleepMs(reported ? 1 : 0);
    }
    if (reported)
        errorLine("setAllowed(0): the running audio block ended after " +
                  std::to_string(platform::tickCountMs() - start) + " ms");
}

void EngineControl::setAllowed(std::uint32_t flags) {
    const bool allow = (flags & kAllowBit) != 0;
    try {
        if (!allow) {
            if (!engine.allowed.load()) return;
            debugLine("   setAllowed(0)");
            if (idleTimer) idleTimer(false);
            engine.panic();
            engine.allowed = false;
            engine.engineOn = false;
            if ((flags & kWaitBit) != 0) {
                sleep(settleTimeMs);
                sleep(settleTimeMs);
                waitForRunningBlock();
            }
            if ((flags & kDriverBit) != 0) {
                try {
                    stopAudio();
                } catch (...) {
                }
            }
            if ((flags & kWaitBit) != 0) sleep(settleTimeMs);
            return;
        }
        if (engine.applicationStage.load() < 6) return;
        debugLine("   setAllowed(1)");
        if (!engine.buffersReady.load() || !hostReady()) return;
        // A driver reset may have grown the buffer since the engine's buffers were made.
        if (engine.bufferCapacity() < asioHost->bufferSize) setBuffers(1);
        if ((flags & kDriverBit) != 0) {
            try {
                startAudio();
            } catch (const std::exception&) {
                errorLine("setAllowed(1).StartAudio");
            }
        }
        if (hostReady()) {
            if (asioHost->isActive()) {
                engine.engineOn = true;
                engine.allowed = true;
            }
            if (idleTimer) idleTimer(true);
        }
    } catch (...) {
        errorLine(std::string("setAllowed(") + (allow ? "1" : "0") + ")");
    }
}

void EngineControl::startAudio() {
    if (!hostReady() || asioHost->isActive()) return;
    asioHost->setActive(false);
    rack.host().SetBlockSize(asioHost->bufferSize);
    const int n = rack.numSlots();
    for (int i = 0; i < n; ++i) {
        host::TVstPlugIn& slot = rack.slot(i);
        if (!slot.PlugLoaded.load() || !slot.Active.load()) continue;
        slot.CanDo("sendVstTimeInfo");
        slot.CanDo("receiveVstTimeInfo");
    }
    rack.transport().resetForAudio();
    // Plug-ins are resumed before the driver runs; the ones the engine suspended because
    // their slot is Off stay suspended until the slot is switched on.
    for (int i = 0; i < n; ++i) {
        host::TVstPlugIn& slot = rack.slot(i);
        if (slot.PlugLoaded.load() && slot.Active.load() && !slot.mainsOn && !slot.suspended.load())
            slot.MainsChanged(true);
    }
    if (!asioHost->setActive(true)) throw std::runtime_error("ERROR: Could not start ASIO driver!");
}

void EngineControl::stopAudio() {
    if (!hostReady()) return;
    rack.transport().resetForAudio();
    if (asioHost->isActive()) asioHost->setActive(false);
    // Plug-ins stay resumed: a structural change must not cut the notes that sound.
}

void EngineControl::setBuffers(int mode) {
    const bool wasOn = engine.engineOn.load();
    engine.engineOn = false;
    try {
        if (mode == 0) {
            if (engine.buffersReady.load()) {
                debugLine("   clrBuffers");
                engine.releaseBuffers();
            }
        } else {
            if (engine.applicationStage.load() < 6) {
                engine.engineOn = wasOn;
                return;
            }
            const int blockSize = rack.host().engineBlockSize.load();
            if (!hostReady()) {
                errorLine(" setBuffers.ASIOBufSz=" + std::to_string(blockSize) + ", ASIO_OK=false");
                return;
            }
            debugLine(" setBuffers.ASIOBufSz=" + std::to_string(blockSize) + ", " +
                      std::to_string(asioHost->bufferSize));
            engine.allocateBuffers(asioHost->bufferSize);
        }
    } catch (...) {
        errorLine("error: setBuffers(" + std::to_string(mode) + ")");
    }
    engine.engineOn = wasOn;
}

void EngineControl::recomputeTiming() {
    const double rate = asioHost->sampleRate;
    const int size = asioHost->bufferSize;
    if (rate <= 0.0 || size <= 0) return;
    blocksPerSecond = rate / size;
    rack.host().engineBlockSize = size;
    millisecondsPerSample = static_cast<float>(1000.0 / rate);
    blockMilliseconds = size * 1000.0 / rate;
    samplesPerMs = static_cast<float>(rate / 1000.0);
    settleTimeMs = static_cast<int>(std::lround(2.0 * blockMilliseconds));
}

void EngineControl::ASIOinit(std::vector<DriverEntry> drivers) {
    debugLine("--- ASIOinit begin ---");
    const bool listed = !drivers.empty();
    asioHost = std::make_unique<TASIOHost>(&messages, std::move(drivers), !listed);
    if (TASIOHost::current() != asioHost.get()) {
        asioHost.reset();
        errorLine("ASIOinit: ASIOhost=nil");
        debugLine("--- ASIOinit end ---");
        return;
    }
    asioHost->OnBufferSwitch = [this](const float* const* inputs, int numInputs, float* const* outputs, int numOutputs,
                                      int frames) {
        rack::DriverBlock block;
        block.inputs = inputs;
        block.numInputs = numInputs;
        block.outputs = outputs;
        block.numOutputs = numOutputs;
        block.bufferSize = frames;
        block.hostReady = asioHost->isActive();
        engine.bufferSwitch(block);
    };
    asioHost->OnDestroy = [this] {
        if (!destroying) ASIOdestroy();
    };
    asioHost->OnLatencyChanged = [this] { onLatencyChanged(); };
    asioHost->OnReset = [this] { onReset(); };
    asioHost->OnSampleRateChanged = [this] { onSampleRateChanged(); };
    asioHost->OnUpdateSamplePos = [this](std::int64_t position) { rack.transport().updateSamplePos(position); };

    const auto& drivers_ = asioHost->drivers();
    debugLine(" ASIOinit, scanning " + std::to_string(drivers_.size()) + " drivers:");
    selectedDriver = -1;
    for (std::size_t i = 0; i < drivers_.size(); ++i) {
        debugLine("   " + std::to_string(i) + ": \"" + drivers_[i].name + "\"");
        if (drivers_[i].name == selectedDriverName) {
            selectedDriver = static_cast<int>(i);
            debugLine("   " + std::to_string(i) + ": ASIOinit, \"" + drivers_[i].name + "\" is current driver");
        }
    }
    if (selectedDriver >= 0)
        ASIOchange(selectedDriver);
    else
        errorLine("no ASIO driver selected");
    debugLine("--- ASIOinit end ---");
}

void EngineControl::ASIOchange(int driverIndex) {
    if (!asioHost) {
        errorLine("ASIOchange: ASIOhost=nil");
        return;
    }
    debugLine(" ASIOchange begin:");
    setAllowed(kAllowedStop);
    lostDriver = -1;
    selectedDriver = driverIndex;
    if (driverIndex >= 0) {
        if (driverIndex < static_cast<int>(asioHost->drivers().size()))
            selectedDriverName = asioHost->drivers()[static_cast<std::size_t>(driverIndex)].name;
        asioHost->setDriverIndex(-1);
        if (engine.applicationStage.load() > 6) sleep(500);
        asioHost->setDriverIndex(driverIndex);
    }
    onReset();
    setBuffers(1);
    setAllowed(kAllowedStart);
    debugLine(" ASIOchange end.");
}

void EngineControl::onReset() {
    if (!hostReady()) {
        errorLine("ASIOreset: ASIO_OK=false");
        return;
    }
    debugLine(" ASIOreset begin:");
    setAllowed(kAllowedStop);
    onSampleRateChanged();
    recomputeTiming();
    debugLine(" ASIOreset end.");
}

void EngineControl::onLatencyChanged() {
    if (!hostReady()) {
        errorLine("ASIOLatencyChanged: ASIO_OK=false");
        return;
    }
    debugLine("  ASIOlatencyChanged begin:");
    rack.host().InputLatency = asioHost->inputLatency;
    rack.host().OutputLatency = asioHost->outputLatency;
    recomputeTiming();
    debugLine("  ASIOlatencyChanged end.");
}

void EngineControl::onSampleRateChanged() {
    if (!hostReady()) {
        errorLine("ASIOsampleRateChanged: ASIO_OK=false");
        return;
    }
    debugLine("  ASIOsampleRateChanged begin:");
    const double rate = asioHost->sampleRate;
    rack.host().engineSampleRate = static_cast<float>(rate);
    for (int i = 0; i < rack.numSlots(); ++i) {
        host::TVstPlugIn& slot = rack.slot(i);
        if (slot.PlugLoaded.load() && slot.Active.load()) slot.SetSampleRate(rate);
    }
    rack.host().TimeInfo.set(rack::TimeField::SampleRate, rate);
    recomputeTiming();
    debugLine("  ASIOsampleRateChanged end:");
}

void EngineControl::ASIOdestroy() {
    debugLine(" ASIOdestroy begin:");
    lostDriver = -1;
    setAllowed(kAllowedStop);
    setBuffers(0);
    debugLine(" ASIOdestroy end.");
}

void EngineControl::controlPanel(std::int32_t bufferSize, double sampleRate) {
    if (!hostReady()) return;
    setAllowed(kAllowedStop);
    sleep(100);
    setBuffers(0);
    sleep(300);
    if (AudioDriver* driver = asioHost->openDriver()) driver->setControlPanelSettings(bufferSize, sampleRate);
    asioHost->controlPanel();
    asioHost->reset();
    setBuffers(1);
    setAllowed(kAllowedStart);
}

void EngineControl::handleNotice(int code) {
    if (!asioHost) return;
    // A reset the driver asked for (a new buffer size, a restarted server) brings audio
    // back by itself when it was playing: a musician should not have to do anything.
    const bool wasPlaying = code == kNoticeReset && engine.allowed.load();
    asioHost->handleNotice(code);
    if (code != kNoticeReset) return;
    if (!hostReady() && asioHost->driverIndex() >= 0) {
        driverLost(wasPlaying);
    } else if (waitingForDriver() && hostReady()) {
        driverBack(); // a reset queued before the loss found it back already
    } else if (wasPlaying && hostReady()) {
        setBuffers(1);
        setAllowed(kAllowedStart);
    }
}

void EngineControl::driverLost(bool wasPlaying) {
    // A second reset (queued before the first was handled) finds the driver gone as well:
    // the first one said whether audio was playing.
    if (lostDriver < 0) {
        lostDriver = asioHost->driverIndex();
        resumeWhenBack = wasPlaying;
        errorLine(lostDriverSubject() + " gone: waiting for it to come back");
    }
    lastRetryMs = platform::tickCountMs();
    setAllowed(kAllowedStop);
    // The idle duties go on, so that the window shows the wait.
    if (idleTimer) idleTimer(true);
}

void EngineControl::driverBack() {
    const std::string subject = lostDriverSubject();
    lostDriver = -1;
    setBuffers(1);
    if (!resumeWhenBack) {
        diag::hookedLog(subject + " back");
        return;
    }
    setAllowed(kAllowedStart);
    if (engine.allowed.load())
        diag::hookedLog(subject + " back: audio restarted");
    else
        errorLine(subject + " back, but audio did not start");
}

std::string EngineControl::lostDriverSubject() const {
    if (!asioHost || lostDriver < 0 || lostDriver >= static_cast<int>(asioHost->drivers().size())) return "driver";
    const DriverEntry& entry = asioHost->drivers()[static_cast<std::size_t>(lostDriver)];
    return entry.backend == "jack" ? "JACK server" : "driver \"" + entry.name + "\"";
}

std::string EngineControl::waitingText() const {
    if (!asioHost || lostDriver < 0 || lostDriver >= static_cast<int>(asioHost->drivers().size())) return {};
    const DriverEntry& entry = asioHost->drivers()[static_cast<std::size_t>(lostDriver)];
    return entry.name + (entry.backend == "jack" ? ": waiting for server" : ": waiting for the device");
}

void EngineControl::pollDriver() {
    pollDriver(platform::tickCountMs());
}

void EngineControl::pollDriver(std::uint32_t nowMs) {
    if (!asioHost) return;
    if (!waitingForDriver()) {
        asioHost->idleDriver();
        return;
    }
    // Signed: a clock value from before the last retry counts as "not yet".
    if (static_cast<std::int32_t>(nowMs - lastRetryMs) < static_cast<std::int32_t>(kDriverRetryMs)) return;
    lastRetryMs = nowMs;
    if (asioHost->retryOpen()) driverBack();
}

} // namespace trelvo::audio
