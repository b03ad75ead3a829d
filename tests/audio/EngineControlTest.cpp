#include "rack/EngineControl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestPaths.h"
#include "audio/DummyDriver.h"
#include "audio/OfflineDriver.h"
#include "platform/Clock.h"
#include "rack/AudioEngine.h"
#include "rack/Rack.h"
#include "support/EngineRunner.h"
#include "support/FakeDriver.h"
#include "support/LogCapture.h"

namespace trelvo::audio {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

/// Counts panics; plays one note on a chosen slot once MIDI is asked for; can hold a block
/// in the middle of its processing until released.
class CountingHooks : public rack::EngineHooks {
public:
    void virtualPortStep() noexcept override {
        if (!holdBlock.load()) return;
        blockHeld = true;
        while (holdBlock.load()) std::this_thread::yield();
        blockWentOn = true;
    }
    bool midiInputOpen() const noexcept override { return noteSlot >= 0; }
    void deliverMidi(host::TVstPlugIn& slot) noexcept override {
        if (slot.SlotIdx != noteSlot || played.exchange(true)) return;
        static VstMidiEvent note{kVstMidiType, sizeof(VstMidiEvent), 0, 0, 0, 0, {char(0x90), 69, 127, 0}, 0, 0, 0, 0};
        static struct { VstEvents header; } events{{1, 0, {reinterpret_cast<VstEvent*>(&note), nullptr}}};
        slot.ProcessEvents(&events.header);
    }
    void panic() noexcept override { ++panics; }
    int panics = 0;
    int noteSlot = -1;
    std::atomic<bool> played{false};
    std::atomic<bool> holdBlock{false};
    std::atomic<bool> blockHeld{false};
    std::atomic<bool> blockWentOn{false}; ///< the held block was released and went on
};

class EngineControlTest : public ::testing::Test {
protected:
    EngineControlTest() {
        control.sleep = [this](int ms) { sleeps.push_back(ms); };
        control.idleTimer = [this](bool on) { idle.push_back(on); };
        engine.applicationStage = 6;
        rack.addSlot(rack::SlotKind::Output);
        channel = rack.addSlot(rack::SlotKind::Channel);
        rack.slot(channel).InpVol.set(0);
    }

    std::vector<DriverEntry> fakeDriver(int size = 256, double rate = 48000.0) {
        fakeSize = size;
        return {{"Fake", "fake", "", [=, this] {
                     auto driver = std::make_unique<test::FakeDriver>(SampleType::Float32LSB, 2, 2, 64, 2048, fakeSize);
                     driver->setRate(rate);
                     fake = driver.get();
                     ++created;
                     return driver;
                 }}};
    }

    // A fake driver that can go away, as JACK does when its server stops: while absent it
    // cannot be created.
    std::vector<DriverEntry> vanishingDriver() {
        return {{"Fake", "fake", "", [this]() -> std::unique_ptr<AudioDriver> {
                     ++created;
                     if (!present) return nullptr;
                     auto driver = std::make_unique<test::FakeDriver>(SampleType::Float32LSB, 2, 2, 64, 2048, fakeSize);
                     fake = driver.get();
                     return driver;
                 }}};
    }

    // The driver goes away while audio plays: it asks for a reset and cannot be opened again.
    void loseTheDriver() {
        present = false;
        ASSERT_EQ(fake->message(kAsioResetRequest), 1);
        fake = nullptr;
        rack::UiMessage message;
        ASSERT_TRUE(messages.take(message));
        control.handleNotice(static_cast<int>(message.wParam));
    }

    // Declared before the control, which still sleeps and stops the idle timer on its way out.
    std::vector<int> sleeps;
    std::vector<bool> idle;
    test::LogCapture log;
    rack::Rack rack;
    CountingHooks hooks;
    rack::AudioEngine engine{rack, &hooks};
    rack::UiMessageQueue messages;
    EngineControl control{rack, engine, messages};
    test::FakeDriver* fake = nullptr;
    int created = 0;
    int fakeSize = 256;
    bool present = true;
    int channel = -1;
};

TEST_F(EngineControlTest, InitOpensTheSelectedDriverAndStartsAudio) {
    control.selectedDriverName = "Fake";
    control.ASIOinit(fakeDriver(256, 44100.0));
    ASSERT_TRUE(control.hostReady());
    EXPECT_EQ(control.selectedDriver, 0);
    EXPECT_TRUE(engine.buffersReady.load());
    EXPECT_EQ(engine.bufferCapacity(), 256);
    EXPECT_TRUE(engine.allowed.load());
    EXPECT_TRUE(engine.engineOn.load());
    EXPECT_TRUE(control.host()->isActive());
    EXPECT_NEAR(control.blockMilliseconds, 5.805, 0.001);
    EXPECT_EQ(control.settleTimeMs, 12);
    EXPECT_FLOAT_EQ(control.samplesPerMs, 44.1f);
    EXPECT_EQ(rack.host().engineSampleRate.load(), 44100.0f);
    EXPECT_EQ(rack.host().TimeInfo.get(rack::TimeField::SampleRate), 44100.0);
    EXPECT_THAT(log.lines(), Contains("   0: ASIOinit, \"Fake\" is current driver"));
}

TEST_F(EngineControlTest, WithoutASelectedDriverNothingOpens) {
    control.selectedDriverName = "Not there";
    control.ASIOinit(fakeDriver());
    EXPECT_FALSE(control.hostReady());
    EXPECT_THAT(log.errors(), Contains("no ASIO driver selected"));
}

TEST_F(EngineControlTest, StartingWithoutBuffersLeavesAudioOffAndTheIdleTimerStopped) {
    control.ASIOinit(fakeDriver());
    control.host()->setDriverIndex(0);
    control.setAllowed(kAllowedStart);
    EXPECT_FALSE(engine.allowed.load());
    EXPECT_TRUE(idle.empty());
    EXPECT_EQ(fake->starts, 0);
}

TEST_F(EngineControlTest, DisallowingWhenNotAllowedDoesNothing) {
    control.setAllowed(kAllowedStop);
    EXPECT_EQ(hooks.panics, 0);
    EXPECT_TRUE(sleeps.empty());
    EXPECT_TRUE(idle.empty());
}

TEST_F(EngineControlTest, StopAndStartAroundAChangeSleepPanicAndRestart) {
    control.selectedDriverName = "Fake";
    control.ASIOinit(fakeDriver(256, 44100.0));
    sleeps.clear();
    idle.clear();
    control.setAllowed(kAllowedStop);
    EXPECT_EQ(hooks.panics, 1);
    EXPECT_THAT(sleeps, ElementsAre(12, 12, 12));
    EXPECT_FALSE(control.host()->isActive());
    EXPECT_THAT(idle, ElementsAre(false));
    control.setAllowed(kAllowedStart);
    EXPECT_TRUE(engine.allowed.load());
    EXPECT_TRUE(control.host()->isActive());
    EXPECT_THAT(idle, ElementsAre(false, true));
    // Pause and resume leave the driver running.
    const int starts = fake->starts;
    control.setAllowed(kAllowedPause);
    EXPECT_TRUE(control.host()->isActive());
    control.setAllowed(kAllowedResume);
    EXPECT_EQ(fake->starts, starts);
    EXPECT_TRUE(engine.allowed.load());
}

// Guards against disallowing giving up on a running block after a fixed wait and letting the
// caller change what the block still uses: setAllowed returns only once the block's processing
// has ended, and says so when that takes long. (Stop waits the same way before it stops the
// driver; the fake driver here would not wait for its own callback as real drivers do.)
TEST_F(EngineControlTest, DisallowingReturnsOnlyAfterTheRunningBlockHasEndedHoweverLongItTakes) {
    control.selectedDriverName = "Fake";
    control.ASIOinit(fakeDriver());
    engine.applicationStage = rack::kStageRunning;
    control.longBlockReportMs = 20;
    hooks.holdBlock = true;
    std::atomic<bool> driverReturned{false}, disallowReturned{false};
    std::thread driver([&] {
        fake->block(0);
        driverReturned = true;
    });
    while (!hooks.blockHeld.load() && !driverReturned.load()) std::this_thread::yield();
    if (!hooks.blockHeld.load()) {
        driver.join();
        FAIL() << "the block did not reach its processing";
    }
    bool blockWentOnFirst = false;
    std::thread ui([&] {
        control.setAllowed(kAllowedPause);
        blockWentOnFirst = hooks.blockWentOn.load();
        disallowReturned = true;
    });
    // Hold the block until the wait is reported as long, or until setAllowed gives up on it.
    const std::string report = "setAllowed(0): the running audio block has not ended after 20 ms";
    while (!log.contains(report) && !disallowReturned.load()) std::this_thread::yield();
    hooks.holdBlock = false;
    ui.join();
    driver.join();
    EXPECT_TRUE(blockWentOnFirst);
    EXPECT_FALSE(engine.allowed.load());
    const auto errors = log.errors();
    EXPECT_EQ(
        std::count_if(errors.begin(), errors.end(), [&](const std::string& line) { return line.starts_with(report); }),
        1);
    EXPECT_THAT(errors, Contains(::testing::StartsWith("setAllowed(0): the running audio block ended after ")));
}

TEST_F(EngineControlTest, ChangingToTheSameDriverClosesAndReopensItWithAPause) {
    control.selectedDriverName = "Fake";
    control.ASIOinit(fakeDriver());
    EXPECT_EQ(created, 1);
    engine.applicationStage = rack::kStageRunning;
    sleeps.clear();
    control.ASIOchange(0);
    EXPECT_EQ(created, 2);
    EXPECT_THAT(sleeps, Contains(500));
    EXPECT_TRUE(engine.allowed.load());
}

TEST_F(EngineControlTest, AStartFailureIsLoggedAndAudioStaysOff) {
    control.selectedDriverName = "Fake";
    control.ASIOinit(fakeDriver());
    control.setAllowed(kAllowedStop);
    fake->startResult = ASE_HWMalfunction;
    control.setAllowed(kAllowedStart);
    EXPECT_FALSE(engine.allowed.load());
    EXPECT_THAT(log.errors(), Contains("setAllowed(1).StartAudio"));
}

TEST_F(EngineControlTest, PlugInsAreResumedWhenAudioStartsAndStayResumedAcrossStops) {
    const int gain = test::addPlugIn(rack, TrelvoGain_PATH, "Gain");
    rack.slot(gain).MainsChanged(false);
    control.selectedDriverName = "Fake";
    control.ASIOinit(fakeDriver());
    EXPECT_TRUE(rack.slot(gain).mainsOn);
    control.setAllowed(kAllowedStop); // a structural change: sounding notes must survive it
    EXPECT_TRUE(rack.slot(gain).mainsOn);
    rack.slot(gain).Close();
    EXPECT_FALSE(rack.slot(gain).mainsOn); // suspended before it was closed
}

TEST_F(EngineControlTest, AResetNoticeFollowsANewBufferSizeAndAudioComesBack) {
    control.selectedDriverName = "Fake";
    control.ASIOinit(fakeDriver(256));
    ASSERT_TRUE(engine.allowed.load());
    // The driver changes its buffer (as JACK does) and asks for a reset.
    fakeSize = 1024;
    EXPECT_EQ(fake->message(kAsioBufferSizeChange), 1);
    rack::UiMessage message;
    ASSERT_TRUE(messages.take(message));
    EXPECT_EQ(message.code, rack::kMsgAsioNotice);
    control.handleNotice(static_cast<int>(message.wParam));
    EXPECT_EQ(control.host()->bufferSize, 1024);
    EXPECT_EQ(engine.bufferCapacity(), 1024);
    EXPECT_TRUE(engine.allowed.load());
}

TEST_F(EngineControlTest, ADriverThatIsGoneAfterAResetIsPolledForQuietlyAndAudioComesBackWithIt) {
    control.selectedDriverName = "Fake";
    control.ASIOinit(vanishingDriver());
    ASSERT_TRUE(engine.allowed.load());
    const std::uint32_t lostAfter = platform::tickCountMs();
    loseTheDriver();
    const std::uint32_t lostBefore = platform::tickCountMs();
    EXPECT_TRUE(control.waitingForDriver());
    EXPECT_EQ(control.waitingText(), "Fake: waiting for the device");
    EXPECT_FALSE(engine.allowed.load());
    EXPECT_EQ(hooks.panics, 1);   // notes that sounded are ended
    EXPECT_EQ(idle.back(), true); // the idle duties go on showing the wait
    EXPECT_THAT(log.errors(), Contains("driver \"Fake\" gone: waiting for it to come back"));
    const std::size_t errorsAtLoss = log.errors().size();

    // Retries are spaced out and say nothing while the driver stays away.
    const int attempts = created;
    control.pollDriver(lostAfter + 100);
    EXPECT_EQ(created, attempts);
    control.pollDriver(lostBefore + EngineControl::kDriverRetryMs);
    EXPECT_EQ(created, attempts + 1);
    control.pollDriver(lostBefore + EngineControl::kDriverRetryMs + 100);
    EXPECT_EQ(created, attempts + 1);
    EXPECT_EQ(log.errors().size(), errorsAtLoss);
    EXPECT_TRUE(control.waitingForDriver());

    present = true;
    fakeSize = 512; // it may come back with another buffer size
    control.pollDriver(lostBefore + 2 * EngineControl::kDriverRetryMs);
    EXPECT_FALSE(control.waitingForDriver());
    ASSERT_TRUE(control.hostReady());
    EXPECT_TRUE(control.host()->isActive());
    EXPECT_TRUE(engine.allowed.load());
    EXPECT_EQ(engine.bufferCapacity(), 512);
    EXPECT_THAT(log.lines(), Contains("driver \"Fake\" back: audio restarted"));
    const std::uint32_t before = rack.host().bufferCount.load();
    fake->block(0);
    EXPECT_EQ(rack.host().bufferCount.load(), before + 1);
}

TEST_F(EngineControlTest, AResetQueuedBeforeTheLossThatFindsTheDriverBackRestartsAudio) {
    control.selectedDriverName = "Fake";
    control.ASIOinit(vanishingDriver());
    fake->message(kAsioBufferSizeChange);
    fake->message(kAsioResetRequest);
    present = false;
    rack::UiMessage message;
    ASSERT_TRUE(messages.take(message));
    control.handleNotice(static_cast<int>(message.wParam));
    ASSERT_TRUE(control.waitingForDriver());
    present = true;
    ASSERT_TRUE(messages.take(message));
    control.handleNotice(static_cast<int>(message.wParam));
    EXPECT_FALSE(control.waitingForDriver());
    EXPECT_TRUE(engine.allowed.load());
    EXPECT_THAT(log.lines(), Contains("driver \"Fake\" back: audio restarted"));
}

TEST_F(EngineControlTest, ChoosingAnotherDriverEndsTheWaitForALostOne) {
    std::vector<DriverEntry> drivers = vanishingDriver();
    drivers.push_back(fakeDriver().front());
    drivers.back().name = "Other";
    control.selectedDriverName = "Fake";
    control.ASIOinit(std::move(drivers));
    loseTheDriver();
    ASSERT_TRUE(control.waitingForDriver());
    control.ASIOchange(1);
    EXPECT_FALSE(control.waitingForDriver());
    EXPECT_EQ(control.host()->driverName, "Other");
    EXPECT_TRUE(engine.allowed.load());
    const int attempts = created;
    control.pollDriver(platform::tickCountMs() + 10 * EngineControl::kDriverRetryMs);
    EXPECT_EQ(created, attempts); // the lost driver is no longer tried
}

TEST_F(EngineControlTest, TheOfflineDriverRunsTheEngineBlockByBlock) {
    control.selectedDriverName = "Offline";
    control.ASIOinit({offlineDriverEntry(128, 48000.0)});
    engine.applicationStage = rack::kStageRunning;
    auto* offline = dynamic_cast<OfflineDriver*>(control.host()->openDriver());
    ASSERT_NE(offline, nullptr);
    std::vector<float> in(128, 0.5f);
    std::vector<std::vector<float>> out;
    for (int b = 0; b < 10; ++b) ASSERT_TRUE(offline->runBlock({in.data(), in.data()}, out));
    EXPECT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], std::vector<float>(128, 0.5f));
    EXPECT_EQ(rack.transport().state(), rack::TransportState::Stopped);
}

TEST_F(EngineControlTest, TheDummyDriverRunsInRealTimeAndPlaysAnInstrument) {
    rack.slot(channel).InpVol.set(rack::kVolumeOff);
    hooks.noteSlot = test::addPlugIn(rack, TrelvoSynth_PATH, "Synth");
    control.sleep = [](int ms) { platform::sleepMs(static_cast<unsigned>(ms)); };
    control.selectedDriverName = "Dummy";
    control.ASIOinit({{"Dummy", "dummy", "clock", [] { return std::make_unique<DummyDriver>(); }}});
    engine.applicationStage = rack::kStageRunning;
    auto* dummy = dynamic_cast<DummyDriver*>(control.host()->openDriver());
    ASSERT_NE(dummy, nullptr);
    const std::uint32_t before = rack.host().bufferCount.load();
    platform::sleepMs(300);
    const std::uint32_t blocks = rack.host().bufferCount.load() - before;
    // 300 ms of 256-frame blocks at 48 kHz is about 56 blocks.
    EXPECT_GT(blocks, 30u);
    EXPECT_LT(blocks, 90u);
    EXPECT_TRUE(hooks.played);
    EXPECT_GT(dummy->takeOutputPeak(), 0.05f);
    control.setAllowed(kAllowedStop);
}

} // namespace
} // namespace trelvo::audio
