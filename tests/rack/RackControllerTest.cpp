#include "session/RackController.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "TestPaths.h"
#include "audio/DummyDriver.h"
#include "diag/DiagLog.h"
#include "host/IsolatedEffect.h"
#include "platform/Clock.h"
#include "platform/ThreadScheduling.h"
#include "rack/PlugInFaults.h"
#include "support/AllocationGuard.h"
#include "support/DummyDrivers.h"
#include "support/EnvironmentVariable.h"
#include "support/FakeMidiBackend.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::rack {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class RackControllerTest : public ::testing::Test {
protected:
    RackControllerTest() { controller.newRack(); }

    /// The slots' SlotIDs in rack order: the identity of each slot object.
    std::vector<int> order() {
        std::vector<int> ids;
        for (int i = 0; i < controller.rack().numSlots(); ++i) ids.push_back(controller.rack().slot(i).SlotID);
        return ids;
    }
    int idOf(int index) { return controller.rack().slot(index).SlotID; }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    RackController controller{settings};
};

TEST_F(RackControllerTest, ANewRackIsAMasterAndAChannelWhoseFirstTwoSlotsCannotBeDeleted) {
    ASSERT_EQ(controller.rack().numSlots(), 2);
    EXPECT_EQ(controller.rows[0].name, "Master");
    EXPECT_EQ(controller.rows[1].name, "Channel 1");
    EXPECT_EQ(controller.rows[1].style, 'b');
    EXPECT_FALSE(controller.deleteSlot(SlotKind::Channel, 1));
    EXPECT_FALSE(controller.deleteSlot(SlotKind::Output, 0));
    EXPECT_EQ(controller.rack().numSlots(), 2);
}

TEST_F(RackControllerTest, DeletingAChannelLeavesItsPlugInsInTheStripAbove) {
    const int second = controller.addSlot(SlotKind::Channel);
    const int gain = controller.loadPlugin(TrelvoGain_PATH);
    const int synth = controller.loadPlugin(TrelvoSynth_PATH);
    ASSERT_EQ(std::vector<int>({second, gain, synth}), std::vector<int>({2, 3, 4}));
    const int gainId = idOf(gain), synthId = idOf(synth);

    EXPECT_FALSE(controller.deleteSlot(SlotKind::Group, second)); // the kind must match
    EXPECT_TRUE(controller.deleteSlot(SlotKind::Channel, second));
    ASSERT_EQ(controller.rack().numSlots(), 4);
    EXPECT_EQ(idOf(2), gainId);
    EXPECT_EQ(idOf(3), synthId);
    EXPECT_EQ(controller.rack().slot(2).OwnerIndex, 1);
    EXPECT_EQ(controller.rack().slot(3).KindNo, 1); // second plug-in of the strip
    EXPECT_EQ(controller.selected, 2);
    EXPECT_TRUE(controller.rack().slot(4).isFree());
}

TEST_F(RackControllerTest, StripsMoveAsWholesPastEachOther) {
    // 0 Master, 1 Channel 1, 2 Group 1 + one plug-in, 4 Channel 2 + two plug-ins.
    controller.addSlot(SlotKind::Group);
    controller.loadPlugin(TrelvoGain_PATH);
    controller.addSlot(SlotKind::Channel);
    controller.loadPlugin(TrelvoGain_PATH);
    controller.loadPlugin(TrelvoSynth_PATH);
    const std::vector<int> before = order();
    const auto& id = before;

    controller.moveUp(4);
    EXPECT_EQ(order(), std::vector<int>({id[0], id[1], id[4], id[5], id[6], id[2], id[3]}));
    EXPECT_EQ(controller.selected, 2);
    EXPECT_EQ(controller.rack().slot(3).OwnerIndex, 2);

    controller.moveDown(2); // the group strip of two moves back above it
    EXPECT_EQ(order(), before);
    EXPECT_EQ(controller.selected, 4);

    controller.moveDown(4); // the last strip: nothing below
    EXPECT_EQ(order(), before);

    controller.moveDown(3); // a plug-in past a mixer joins the next strip
    EXPECT_EQ(order(), std::vector<int>({id[0], id[1], id[2], id[4], id[3], id[5], id[6]}));
    EXPECT_EQ(controller.rack().slot(4).OwnerIndex, 3);

    controller.moveUp(1); // no mixer above the first channel but the Master: it moves to the top
    EXPECT_EQ(idOf(0), id[1]);
    EXPECT_EQ(idOf(1), id[0]);
}

TEST_F(RackControllerTest, AMissingLibraryIsSearchedInTheVstFoldersAndOtherwiseMarked) {
    test::TempFolder vst;
    std::filesystem::create_directories(vst.file("deep/er"));
    std::filesystem::copy_file(TrelvoGain_PATH, vst.file("deep/er/TrelvoGain.so"));
    test::writeFile(vst.file("Broken.so"), "not a library");
    settings.vstFolders = {{vst.path(), "Mine"}};

    const int found = controller.loadPlugin("/gone/TrelvoGain.so");
    ASSERT_EQ(found, 2);
    const host::TVstPlugIn& slot = controller.rack().slot(found);
    EXPECT_TRUE(slot.Active.load());
    EXPECT_EQ(slot.DllPath, vst.file("deep/er/TrelvoGain.so"));
    EXPECT_EQ(slot.SlotName, "TrelvoGain");
    EXPECT_EQ(slot.FXBfolder, vst.file("deep/er/"));
    EXPECT_EQ(slot.InpVol.getDb(), kVolumeOff);
    EXPECT_EQ(slot.WetVol.getDb(), 0);
    EXPECT_EQ(slot.midi->routes.routes[0].portName, "DEFAULT");
    EXPECT_EQ(slot.InputPinNames.size(), static_cast<std::size_t>(slot.effectNumInputs()));
    EXPECT_EQ(controller.rows[2].style, 'n');
    EXPECT_THAT(controller.slotTitle(found), ::testing::StartsWith("TGan.TrelvoGain - "));

    const int missing = controller.loadPlugin("/gone/Nowhere.so");
    EXPECT_EQ(controller.rack().slot(missing).SlotName, "?Nowhere");
    EXPECT_EQ(controller.rows[static_cast<std::size_t>(missing)].style, 'i');
    const int broken = controller.loadPlugin(vst.file("Broken.so"));
    EXPECT_EQ(controller.rack().slot(broken).SlotName, "?Broken");
    EXPECT_FALSE(controller.rack().slot(broken).PlugLoaded.load());
    EXPECT_THAT(log.errors(), Contains("/gone/Nowhere.so does not exist!"));
    EXPECT_THAT(log.errors(), Contains(vst.file("Broken.so") + " not a vAlid plugin!"));

    // The marked slots stay in the rack and can be deleted like any plug-in slot.
    EXPECT_TRUE(controller.deleteSlot(SlotKind::Plugin, missing));
    EXPECT_EQ(controller.rack().numSlots(), 4);
}

TEST_F(RackControllerTest, SwitchesByKindAndNumberAndRename) {
    controller.addSlot(SlotKind::Channel);
    EXPECT_TRUE(controller.toggle(SlotCommandCode::Mute, SlotKind::Channel, 1));
    EXPECT_FALSE(controller.toggle(SlotCommandCode::Mute, SlotKind::Channel, 2));
    EXPECT_FALSE(controller.toggle(SlotCommandCode::Bypass, SlotKind::Plugin, 0)); // no plug-in loaded
    const SlotCommand& entry = controller.rack().commands().entry(0);
    EXPECT_EQ(entry.code(), SlotCommandCode::Mute);
    EXPECT_EQ(entry.slot, 2);
    EXPECT_EQ(entry.wholeValue, 1);

    controller.switchOn(2); // applied at once
    EXPECT_TRUE(controller.rack().slot(2).runMode.isSet(RunMode::Off));
    EXPECT_EQ(controller.rows[2].icon, 4);
    controller.switchOn(2);
    EXPECT_EQ(controller.rack().slot(2).OnGain.load(), 1.0f);

    controller.askText = [](const std::string& caption, const std::string&, std::string& text) {
        text = caption == "Rename Slot" && text == "Channel 2" ? "Drums" : "?";
        return true;
    };
    controller.renameSlot(2);
    EXPECT_EQ(controller.rows[2].name, "Drums");
    EXPECT_EQ(controller.slotLabel, "2: Drums");
}

TEST(MeterBallistics, AClipHoldsForThirtyTicksAndAPeakFallsInQuarters) {
    MeterBallistics meter;
    EXPECT_EQ(MeterBallistics::segmentOf(meter.tick(1.2f, 0.0f)), 23);
    for (int tick = 2; tick <= 30; ++tick) ASSERT_EQ(meter.tick(0.1f, 0.1f), 1200) << tick;
    EXPECT_EQ(meter.tick(0.1f, 0.1f), 100);

    MeterBallistics peak;
    std::vector<int> shown;
    shown.push_back(peak.tick(0.0f, 0.5f));
    for (int tick = 0; tick < 6; ++tick) shown.push_back(peak.tick(0.0f, 0.0f));
    EXPECT_THAT(shown, ElementsAre(500, 500, 375, 250, 125, 0, 0));

    EXPECT_EQ(MeterBallistics::segmentOf(9), 0);
    EXPECT_EQ(MeterBallistics::segmentOf(1000), 22);
    EXPECT_EQ(MeterBallistics::segmentOf(5000), 28);
}

TEST(TransportText, ShowsBarBeatAndThousandthsOfAQuarter) {
    int beat = 0;
    EXPECT_EQ(RackController::transportTextOf(9.5, 4, 4, &beat), "  3. 2.9500");
    EXPECT_EQ(beat, 2);
    EXPECT_EQ(RackController::transportTextOf(0.0, 4, 4, &beat), "  1. 1.  0");
    EXPECT_EQ(beat, 1);
    EXPECT_EQ(RackController::transportTextOf(3.0, 6, 8), "  2. 1.3000"); // six eighths a bar
    EXPECT_EQ(RackController::transportTextOf(1e9, 4, 4).size(), 15u);
}

// ---- Against the Dummy driver ----

/// The MIDI layer's hooks, recording one strip's output block by block and counting the
/// blocks in which the work thread ran strips.
class RecordingHooks final : public EngineHooks {
public:
    explicit RecordingHooks(midi::MidiLayer& layer) : midi(layer), samples(kCapacity) {}

    void beginBlockMidi() noexcept override { midi.beginBlockMidi(); }
    void switchMidiHalves() noexcept override { midi.switchMidiHalves(); }
    void virtualPortStep() noexcept override {
        ran = true;
        midi.virtualPortStep();
    }
    bool midiInputOpen() const noexcept override { return midi.midiInputOpen(); }
    void deliverMidi(host::TVstPlugIn& slot) noexcept override {
        midi.deliverMidi(slot);
        // The synthesizer stands for a heavy strip: while it plays, a parked work thread
        // has time to wake and take another strip.
        if (slot.PlugLoaded.load() && slot.isSynth()) platform::sleepMs(1);
    }
    void panic() noexcept override { midi.panic(); }
    void endOfBlockMidi() noexcept override {
        midi.endOfBlockMidi();
        const std::size_t used = recorded.load(std::memory_order_relaxed);
        const int frames = watched->host.engineBlockSize.load();
        if (ran && watched->buffers && used + static_cast<std::size_t>(frames) <= kCapacity) {
            std::copy_n(watched->buffers->main->channel(0), frames,
                        samples.begin() + static_cast<std::ptrdiff_t>(used));
            recorded.store(used + static_cast<std::size_t>(frames), std::memory_order_release);
        }
        if (ran) {
            bool split = false;
            for (int i = 0; i < watchedRack->numSlots(); ++i) split = split || watchedRack->slot(i).workerFlag != 0;
            if (split) blocksSplit.fetch_add(1, std::memory_order_relaxed);
        }
        ran = false;
    }

    static constexpr std::size_t kCapacity = 256 * 120;
    midi::MidiLayer& midi;
    host::TVstPlugIn* watched = nullptr;
    Rack* watchedRack = nullptr;
    std::atomic<int> blocksSplit{0};
    std::vector<float> samples;
    std::atomic<std::size_t> recorded{0};
    bool ran = false;
};

class RackControllerDummyTest : public ::testing::Test {
protected:
    RackControllerDummyTest() {
        settings.asioDriver = "Dummy";
        settings.useAllCpus = true; // the work thread takes strips whenever it is free
    }

    void start(RackController& controller, test::FakeBackend*& backend) {
        controller.startAudio(test::dummyDriverOnly());
        controller.newRack();
        controller.startMidi([&backend](std::vector<std::string>&) {
            std::vector<std::unique_ptr<midi::MidiBackend>> list;
            auto fake = std::make_unique<test::FakeBackend>(1, 0);
            backend = fake.get();
            list.push_back(std::move(fake));
            return list;
        });
        controller.midi().openPort(0, "MAIN");
    }

    /// Plays a held note through Channel 1's synthesizer (which ignores controllers, so a
    /// panic does not end it) and records the channel while structural changes run.
    std::vector<float> play(bool changeTheRack) {
        RackController controller{settings};
        test::FakeBackend* backend = nullptr;
        start(controller, backend);
        const int synth = controller.loadPlugin(TrelvoSynth_PATH, 2);
        midi::MidiRoute& route = controller.rack().slot(synth).midi->routes.routes[0];
        route.typePass[midi::kControlChange] = 0;
        route.ccPass.fill(0);
        controller.rack().slot(synth).SetProgram(1); // a saw: its first sample is not zero
        controller.resolveSlotRoutes();
        RecordingHooks hooks(controller.midi());
        hooks.watched = &controller.rack().slot(1);
        hooks.watchedRack = &controller.rack();
        controller.engine().setHooks(&hooks);
        controller.setRunning();
        backend->sink->shortMessage(0, 0x90, 57, 100, {true, 0}); // sounds from the start of a block

        int step = 0;
        const std::uint32_t began = platform::tickCountMs();
        while (hooks.recorded.load() < RecordingHooks::kCapacity && platform::tickCountMs() - began < 20000) {
            controller.idleTick();
            platform::sleepMs(20);
            if (!changeTheRack) continue;
            switch (step++ % 6) {
            case 0: controller.addSlot(SlotKind::Channel); break;
            case 1: controller.loadPlugin(TrelvoGain_PATH); break;
            case 2: controller.addSlot(SlotKind::Group); break;
            case 3: controller.moveUp(controller.rack().numSlots() - 3); break;
            case 4: controller.moveDown(1); break;
            case 5:
                while (controller.rack().numSlots() > 3) controller.deleteSlot(controller.rack().slot(3).kind(), 3);
                break;
            }
        }
        controller.control().setAllowed(audio::kAllowedStop);
        controller.engine().setHooks(&controller.midi());
        EXPECT_EQ(hooks.recorded.load(), RecordingHooks::kCapacity);
        if (changeTheRack) {
            EXPECT_GT(step, 12) << "the rack should have changed while audio was recorded";
            // While the synthesizer's channel plays, the work thread takes another.
            EXPECT_GT(hooks.blocksSplit.load(), 0);
        }
        // From the note's first sample on.
        const auto sounding =
            std::find_if(hooks.samples.begin(), hooks.samples.end(), [](float v) { return v != 0.0f; });
        return std::vector<float>(sounding, hooks.samples.end());
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
};

TEST_F(RackControllerDummyTest, AChannelNobodyTouchesPlaysOnUnchangedWhileTheRackChanges) {
    const test::AllocationGuard guard; // the Dummy driver's thread and the work thread
    const std::vector<float> reference = play(false);
    const std::vector<float> changed = play(true);
    const std::size_t length = RecordingHooks::kCapacity - 256 * 20;
    ASSERT_GE(reference.size(), length);
    ASSERT_GE(changed.size(), length);
    ASSERT_GT(*std::max_element(reference.begin(), reference.end()), 0.01f);
    std::size_t firstDifference = 0;
    while (firstDifference < length && reference[firstDifference] == changed[firstDifference]) ++firstDifference;
    EXPECT_EQ(firstDifference, length) << "the outputs part at sample " << firstDifference;
    EXPECT_EQ(guard.allocations(), 0u);
    EXPECT_EQ(guard.frees(), 0u);
}

TEST_F(RackControllerDummyTest, APlugInThatFaultsIsIsolatedThenSwitchedOffWhileTheRackPlaysOn) {
    const test::EnvironmentVariable worker("TRELVO_SLOT_WORKER", TRELVO_SLOT_WORKER_PATH);
    settings.isolateAfterFault = true;
    RackController controller{settings};
    test::FakeBackend* backend = nullptr;
    start(controller, backend);
    const int crasher = controller.loadPlugin(TrelvoFaulty_CrashInProcess_PATH, 2);
    ASSERT_EQ(crasher, 2);
    host::TVstPlugIn& slot = controller.rack().slot(crasher);
    EXPECT_FALSE(slot.Isolated.load());
    controller.setRunning();
    const auto idleUntil = [&](const std::function<bool()>& done) {
        const std::uint32_t began = platform::tickCountMs();
        while (!done() && platform::tickCountMs() - began < 20000) {
            controller.idleTick();
            // The window tells the user of each fault, as it does on its idle timer.
            for (const std::string& fault : takePlugInFaults(controller.rack())) diag::hookedLogError(fault);
            platform::sleepMs(10);
        }
        return done();
    };
    // Faulted in the process, then moved into one of its own, where it crashes again,
    // is restarted once, crashes again and is switched off.
    ASSERT_TRUE(idleUntil([&] {
        return slot.isolation && slot.isolation->state() == host::IsolatedEffect::State::Off &&
               slot.runMode.isSet(RunMode::Off);
    }));
    EXPECT_TRUE(slot.Isolated.load());
    EXPECT_EQ(slot.isolation->restarts(), 1);
    EXPECT_TRUE(log.contains(
        "ERR: slot 2 \"TrelvoFaulty-CrashInProcess\" faulted: it is loaded again in a process of its own"));
    const std::uint32_t blocks = controller.rack().host().bufferCount.load();
    EXPECT_TRUE(idleUntil([&] { return controller.rack().host().bufferCount.load() > blocks + 10; }));

    // Switched on by the user, it is started again.
    controller.setSwitch(SlotCommandCode::Off, crasher, false);
    EXPECT_FALSE(slot.runMode.isSet(RunMode::Off));
    EXPECT_TRUE(idleUntil([&] { return slot.isolation->restarts() == 2; }));
    controller.control().setAllowed(audio::kAllowedStop);
}

TEST_F(RackControllerDummyTest, ASeventeenthOutputIsNotAddedAndAudioResumes) {
    RackController controller{settings};
    test::FakeBackend* backend = nullptr;
    start(controller, backend);
    controller.setRunning();
    for (int i = 0; i < 15; ++i) controller.addSlot(SlotKind::Output, false);
    const std::vector<int> before = [&] {
        std::vector<int> ids;
        for (int i = 0; i < controller.rack().numSlots(); ++i) ids.push_back(controller.rack().slot(i).SlotID);
        return ids;
    }();
    EXPECT_EQ(controller.addSlot(SlotKind::Output), -1);
    EXPECT_EQ(controller.rack().numSlots(), static_cast<int>(before.size()));
    EXPECT_TRUE(controller.engine().allowed.load());
    const std::uint32_t blocks = controller.rack().host().bufferCount.load();
    platform::sleepMs(60);
    EXPECT_GT(controller.rack().host().bufferCount.load(), blocks);
}

TEST_F(RackControllerDummyTest, IdleDutiesShowMetersAndRunTheSlowDutiesAtTheirPace) {
    // One driver host at a time: each controller is gone before the next starts.
    {
        settings.idleTime = 500;
        RackController controller{settings};
        test::FakeBackend* backend = nullptr;
        start(controller, backend);
        controller.setRunning();
        EXPECT_EQ(controller.idlePeriodMs(), 333);
        for (int tick = 0; tick < 2; ++tick) {
            controller.stateLabel1.clear();
            controller.rack().slot(1).PeakR = 1.2f;
            controller.idleTick();
            EXPECT_THAT(controller.stateLabel1, ::testing::EndsWith("ms....")); // the slow duties ran on this tick
            EXPECT_EQ(controller.rows[1].meterSegment, 23);
        }
        EXPECT_EQ(controller.caption, "Channel 1");
    }
    settings.idleTime = 30; // eleven ticks between the slow duties
    RackController controller{settings};
    controller.startAudio(test::dummyDriverOnly());
    controller.newRack();
    controller.setRunning();
    int ran = 0;
    for (int tick = 0; tick < 22; ++tick) {
        controller.stateLabel2.clear();
        controller.idleTick();
        ran += controller.stateLabel2.empty() ? 0 : 1;
    }
    EXPECT_EQ(ran, 2);
    // Where the system refuses real-time priority the line ends in " (no RT)".
    EXPECT_THAT(controller.stateLabel2, ::testing::StartsWith(" ** no MIDI **"));
}

// Runs idle ticks until the slow duties have written the device state line once more.
void tickUntilTheDeviceStateIsShown(RackController& controller) {
    controller.stateLabel2.clear();
    const std::uint32_t began = platform::tickCountMs();
    while (controller.stateLabel2.empty() && platform::tickCountMs() - began < 10000) {
        controller.idleTick();
        platform::sleepMs(5);
    }
}

TEST_F(RackControllerDummyTest, TheDeviceStateShowsTheWaitForAJackServerThatStoppedAndAudioAfterItCameBack) {
    // A stand-in for JACK, so that no server is needed: gone when present is cleared.
    bool present = true;
    RackController controller{settings};
    settings.asioDriver = "JACK";
    controller.startAudio({{"JACK", "jack", "default", [&present]() -> std::unique_ptr<audio::AudioDriver> {
                                if (!present) return nullptr;
                                return std::make_unique<audio::DummyDriver>();
                            }}});
    controller.newRack();
    test::FakeBackend* backend = nullptr;
    controller.startMidi([&backend](std::vector<std::string>&) {
        std::vector<std::unique_ptr<midi::MidiBackend>> list;
        auto fake = std::make_unique<test::FakeBackend>(1, 0);
        backend = fake.get();
        list.push_back(std::move(fake));
        return list;
    });
    controller.midi().openPort(0, "MAIN");
    controller.setRunning();
    ASSERT_TRUE(controller.engine().allowed.load());

    present = false;
    controller.control().host()->asioMessage(audio::kAsioResetRequest, 0); // the server shut down
    tickUntilTheDeviceStateIsShown(controller);
    EXPECT_THAT(controller.stateLabel2, ::testing::StartsWith(" JACK: waiting for server"));
    EXPECT_THAT(log.errors(), Contains("JACK server gone: waiting for it to come back"));

    present = true;
    controller.control().pollDriver(platform::tickCountMs() + audio::EngineControl::kDriverRetryMs);
    EXPECT_TRUE(controller.engine().allowed.load());
    tickUntilTheDeviceStateIsShown(controller);
    EXPECT_THAT(controller.stateLabel1, ::testing::EndsWith("ms....")); // block times again
    EXPECT_THAT(log.lines(), Contains("JACK server back: audio restarted"));
}

/// Lets a test refuse real-time scheduling, as a system without the right to it does.
class RefusedRealtime {
public:
    RefusedRealtime() { platform::setSchedulingSetterForTests(&refuse); }
    ~RefusedRealtime() { platform::setSchedulingSetterForTests(nullptr); }

private:
    static int refuse(pthread_t, int policy, const sched_param*) { return policy == SCHED_OTHER ? 0 : EPERM; }
};

TEST_F(RackControllerDummyTest, ARefusedRealtimePriorityIsLoggedOnceAndMarkedInTheDeviceState) {
    RefusedRealtime refused;
    RackController controller{settings};
    test::FakeBackend* backend = nullptr;
    start(controller, backend);
    controller.setRunning();
    const auto refusals = [this] {
        int count = 0;
        for (const std::string& line : log.errors())
            count += line ==
                     "no real-time priority for the audio thread: Operation not permitted; audio may glitch under load";
        return count;
    };
    const std::uint32_t began = platform::tickCountMs();
    while (refusals() == 0 && platform::tickCountMs() - began < 10000) platform::sleepMs(10);
    EXPECT_EQ(refusals(), 1);
    tickUntilTheDeviceStateIsShown(controller);
    EXPECT_THAT(controller.stateLabel2, ::testing::EndsWith("%   (no RT)")); // after the block-time shares

    // A structural change starts a new driver thread, which is refused again: not logged again.
    const std::uint32_t blocks = controller.rack().host().bufferCount.load();
    controller.addSlot(SlotKind::Channel);
    while (controller.rack().host().bufferCount.load() < blocks + 5 && platform::tickCountMs() - began < 20000)
        platform::sleepMs(10);
    EXPECT_GT(controller.rack().host().bufferCount.load(), blocks + 4);
    EXPECT_EQ(refusals(), 1);
}

} // namespace
} // namespace trelvo::rack
