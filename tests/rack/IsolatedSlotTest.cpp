#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <functional>

#include "TestPaths.h"
#include "host/IsolatedEffect.h"
#include "midi/VstEventBlock.h"
#include "platform/Clock.h"
#include "platform/RealtimeThread.h"
#include "rack/PlugInFaults.h"
#include "support/AllocationGuard.h"
#include "support/EngineRunner.h"
#include "support/LogCapture.h"
#include "support/ThirdPartyPlugins.h"

namespace trelvo::test {
namespace {

using host::IsolatedEffect;
using rack::SlotKind;

/// Polls until done() holds; false when it did not within the limit.
bool eventually(const std::function<bool()>& done, int limitMs = 20000) {
    for (int waited = 0; waited < limitMs; waited += 5) {
        if (done()) return true;
        platform::sleepMs(5);
    }
    return done();
}

void sine(EngineRunner& runner, int offset) {
    for (std::size_t i = 0; i < runner.inLeft.size(); ++i) {
        const auto t = static_cast<float>(offset + static_cast<int>(i));
        runner.inLeft[i] = 0.4f * std::sin(0.031f * t);
        runner.inRight[i] = 0.3f * std::cos(0.017f * t);
    }
}

class IsolatedSlotTest : public ::testing::Test {
protected:
    IsolatedSlotTest() {
        runner.rack.host().slotWorker = TRELVO_SLOT_WORKER_PATH;
        runner.rack.addSlot(SlotKind::Output);
        channel = runner.rack.addSlot(SlotKind::Channel);
        runner.rack.slot(channel).InpVol.set(0);
    }

    host::TVstPlugIn& slot(int index) { return runner.rack.slot(index); }
    IsolatedEffect& isolation(int index) { return *slot(index).isolation; }

    /// Blocks of a constant input until done() holds (or the limit passes); every output
    /// sample of them is checked against expected.
    bool playUntil(int index, float input, float expected, const std::function<bool()>& done) {
        std::fill(runner.inLeft.begin(), runner.inLeft.end(), input);
        std::fill(runner.inRight.begin(), runner.inRight.end(), input);
        // The slots' volumes glide to their values over the first blocks.
        for (; settled < 20; ++settled) runner.block();
        return eventually([&] {
            runner.block();
            for (float sample : runner.outLeft)
                if (sample != expected) {
                    ADD_FAILURE() << "slot " << index << " played " << sample << " instead of " << expected;
                    return true;
                }
            return done();
        });
    }

    LogCapture log;
    EngineRunner runner{256};
    int channel = -1;
    int settled = 0;
};

TEST_F(IsolatedSlotTest, APlugInThatCrashesWhileLoadingOrOpeningFailsToLoadAndTheHostGoesOn) {
    const int crashInEntry = addPlugIn(runner.rack, TrelvoFaulty_CrashInEntry_PATH, "Entry", true);
    EXPECT_EQ(crashInEntry, -1);
    EXPECT_THAT(slot(runner.rack.numSlots()).LoadFailure, ::testing::HasSubstr("it crashed while loading (SIGSEGV"));
    const int crashInOpen = addPlugIn(runner.rack, TrelvoFaulty_CrashInOpen_PATH, "Open", true);
    EXPECT_EQ(crashInOpen, -1);
    EXPECT_THAT(slot(runner.rack.numSlots()).LoadFailure, ::testing::HasSubstr("it crashed while opening (SIGSEGV"));
    EXPECT_FALSE(slot(runner.rack.numSlots()).isolation);
    const int missing = addPlugIn(runner.rack, "/nonexistent/Nothing.so", "Missing", true);
    EXPECT_EQ(missing, -1);
    EXPECT_EQ(slot(runner.rack.numSlots()).LoadFailure, "the file does not exist");

    // The rack still plays, and an isolated plug-in that behaves loads in the same slot.
    const int plain = addPlugIn(runner.rack, TrelvoFaulty_Plain_PATH, "Plain", true);
    ASSERT_GE(plain, 0);
    EXPECT_GT(isolation(plain).workerPid(), 0);
    runner.start();
    EXPECT_TRUE(playUntil(plain, 0.25f, 0.25f, [] { return true; }));
}

TEST_F(IsolatedSlotTest, IsolatedPlugInsSoundExactlyAsInTheProcess) {
    // The engine waits for every block here, as when rendering to a file.
    runner.rack.host().offlineRendering = true;
    EngineRunner direct{256};
    direct.rack.addSlot(SlotKind::Output);
    direct.rack.slot(direct.rack.addSlot(SlotKind::Channel)).InpVol.set(0);
    std::vector<std::string> libraries = {TrelvoGain_PATH};
    for (const std::string& path : thirdPartyPlugins())
        if (path.find("3BandEQ") != std::string::npos || path.find("MVerb") != std::string::npos)
            libraries.push_back(path);
    ASSERT_GE(libraries.size(), 3u) << "dpf-plugins-vst is not installed";
    for (const std::string& path : libraries) {
        const int isolated = addPlugIn(runner.rack, path, "Isolated", true);
        const int inProcess = addPlugIn(direct.rack, path, "Direct", false);
        ASSERT_GE(isolated, 0) << path << ": " << slot(runner.rack.numSlots()).LoadFailure;
        ASSERT_GE(inProcess, 0) << path;
        EXPECT_EQ(slot(isolated).effectNumParams(), direct.rack.slot(inProcess).effectNumParams());
        EXPECT_EQ(slot(isolated).GetEffectName(), direct.rack.slot(inProcess).GetEffectName());
        // The same changes through both: a program and a parameter.
        slot(isolated).SetProgram(1);
        direct.rack.slot(inProcess).SetProgram(1);
        slot(isolated).SetParameter(0, 0.3f);
        direct.rack.slot(inProcess).SetParameter(0, 0.3f);
        EXPECT_EQ(slot(isolated).GetParameter(0), direct.rack.slot(inProcess).GetParameter(0));
        EXPECT_EQ(slot(isolated).GetParamDisplay(0), direct.rack.slot(inProcess).GetParamDisplay(0));
    }
    runner.start();
    direct.start();
    {
        // Handing blocks to the workers allocates nothing on the engine's thread.
        const AllocationGuard guard;
        for (int b = 0; b < 200; ++b) {
            sine(runner, b * 256);
            runner.run(1);
        }
        EXPECT_EQ(guard.allocations(), 0u);
        EXPECT_EQ(guard.frees(), 0u);
    }
    for (int b = 0; b < 200; ++b) {
        sine(direct, b * 256);
        direct.run(1);
    }
    ASSERT_EQ(runner.recordedLeft.size(), direct.recordedLeft.size());
    EXPECT_TRUE(runner.recordedLeft == direct.recordedLeft);
    EXPECT_TRUE(runner.recordedRight == direct.recordedRight);
    EXPECT_NE(runner.recordedLeft[200 * 256 - 1], 0.0f);
}

TEST_F(IsolatedSlotTest, AnEffectThatCrashesPassesItsInputIsRestartedOnceThenStaysOffUntilSwitchedOn) {
    const int crasher = addPlugIn(runner.rack, TrelvoFaulty_CrashInProcess_PATH, "Crasher", true);
    ASSERT_GE(crasher, 0);
    runner.start();
    // Every block plays the input through: the plug-in's own sound or the fallback.
    EXPECT_TRUE(playUntil(crasher, 0.25f, 0.25f, [&] { return isolation(crasher).restarts() == 1; }));
    EXPECT_TRUE(
        playUntil(crasher, 0.25f, 0.25f, [&] { return isolation(crasher).state() == IsolatedEffect::State::Off; }));
    EXPECT_EQ(isolation(crasher).restarts(), 1);
    // The user hears of it once, with the worker's fault.
    const std::vector<std::string> notices = rack::takePlugInFaults(runner.rack);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_THAT(notices[0], ::testing::HasSubstr("ended (SIGSEGV) again soon after a restart"));
    EXPECT_THAT(notices[0], ::testing::HasSubstr("its input passes unchanged until it is switched on"));
    EXPECT_TRUE(rack::takePlugInFaults(runner.rack).empty());
    EXPECT_FALSE(slot(crasher).isQuarantined());

    EXPECT_TRUE(isolation(crasher).switchOn());
    EXPECT_TRUE(playUntil(crasher, 0.25f, 0.25f, [&] { return isolation(crasher).restarts() == 2; }));
}

TEST_F(IsolatedSlotTest, APlugInThatHangsOrCrashesOnItsOwnThreadIsEndedAndTheRackPlaysOn) {
    const int hanging = addPlugIn(runner.rack, TrelvoFaulty_HangInProcess_PATH, "Hanging", true);
    const int second = runner.rack.addSlot(SlotKind::Channel);
    runner.rack.slot(second).InpVol.set(0);
    const int threadCrash = addPlugIn(runner.rack, TrelvoFaulty_CrashOnThread_PATH, "Thread", true);
    ASSERT_GE(hanging, 0);
    ASSERT_GE(threadCrash, 0);
    runner.start();
    // Two channels of 0.25 each, whatever their plug-ins do.
    EXPECT_TRUE(playUntil(hanging, 0.25f, 0.5f, [&] {
        return isolation(hanging).state() == IsolatedEffect::State::Off &&
               isolation(threadCrash).state() == IsolatedEffect::State::Off;
    }));
    EXPECT_EQ(isolation(hanging).restarts(), 1);
    EXPECT_EQ(isolation(threadCrash).restarts(), 1);
    const std::vector<std::string> notices = rack::takePlugInFaults(runner.rack);
    EXPECT_THAT(notices, ::testing::Contains(::testing::HasSubstr("stopped answering and was ended again soon")));
    EXPECT_THAT(notices, ::testing::Contains(::testing::HasSubstr("ended (SIGSEGV) again soon")));
}

TEST_F(IsolatedSlotTest, AClosedPlugInIsNotStartedAgainWhenItsWorkerEnds) {
    const int gain = addPlugIn(runner.rack, TrelvoGain_PATH, "Gain", true);
    ASSERT_GE(gain, 0);
    slot(gain).Close(); // as when the program ends: closed, still loaded
    ASSERT_EQ(::kill(isolation(gain).workerPid(), SIGKILL), 0);
    EXPECT_TRUE(eventually([&] { return isolation(gain).state() == IsolatedEffect::State::Off; }));
    platform::sleepMs(200);
    EXPECT_EQ(isolation(gain).restarts(), 0);
    EXPECT_FALSE(isolation(gain).switchOn());
    EXPECT_TRUE(rack::takePlugInFaults(runner.rack).empty());
}

/// Plays one note on an instrument slot, block by block, from a fresh start of the note.
std::vector<float> playNote(host::TVstPlugIn& synth, int blocks) {
    constexpr int kFrames = 256;
    std::vector<float> left(kFrames), right(kFrames), recorded;
    float* outputs[2] = {left.data(), right.data()};
    midi::VstEventBlock events;
    platform::AudioBlockScope inBlock;
    for (int b = 0; b < blocks; ++b) {
        events.clear();
        if (b == 2) events.addMidi(17, 0x90, 60, 100);
        if (b == blocks - 3) events.addMidi(0, 0x80, 60, 0);
        synth.ProcessEvents(events.events());
        synth.ProcessReplacing(nullptr, outputs, kFrames);
        recorded.insert(recorded.end(), left.begin(), left.end());
    }
    return recorded;
}

TEST_F(IsolatedSlotTest, EventsOfBlocksTheSlotDidNotProcessDoNotPileUpForTheNextOne) {
    runner.rack.host().offlineRendering = true;
    const int synth = addPlugIn(runner.rack, TrelvoSynth_PATH, "Synth", true);
    ASSERT_GE(synth, 0);
    std::vector<float> left(256), right(256);
    float* outputs[2] = {left.data(), right.data()};
    midi::VstEventBlock events;
    {
        // An instrument slot switched off still has its MIDI delivered, block after block.
        platform::AudioBlockScope inBlock;
        for (int b = 0; b < 600; ++b) {
            events.clear();
            events.addMidi(0, 0x90, static_cast<std::uint8_t>(40 + b % 40), 100);
            slot(synth).ProcessEvents(events.events());
        }
        // Processed again, it hears only its own block's events: none.
        events.clear();
        slot(synth).ProcessEvents(events.events());
        slot(synth).ProcessReplacing(nullptr, outputs, 256);
    }
    EXPECT_EQ(*std::max_element(left.begin(), left.end()), 0.0f);
    platform::sleepMs(150); // the keeper's look
    EXPECT_THAT(log.errors(), ::testing::Not(::testing::Contains(::testing::HasSubstr("did not fit"))));
}

TEST_F(IsolatedSlotTest, AnInstrumentRestartedAfterItsWorkerWasKilledSoundsAsBefore) {
    runner.rack.host().offlineRendering = true;
    const int synth = addPlugIn(runner.rack, TrelvoSynth_PATH, "Synth", true);
    ASSERT_GE(synth, 0);
    slot(synth).SetProgram(5);
    slot(synth).SetParameter(0, 0.6f);
    slot(synth).SetParameter(1, 0.9f);

    // A fresh instrument in the process with the same program and values is the reference.
    EngineRunner direct{256};
    const int reference = addPlugIn(direct.rack, TrelvoSynth_PATH, "Reference");
    ASSERT_GE(reference, 0);
    direct.rack.slot(reference).SetProgram(5);
    direct.rack.slot(reference).SetParameter(0, 0.6f);
    direct.rack.slot(reference).SetParameter(1, 0.9f);
    const std::vector<float> expected = playNote(direct.rack.slot(reference), 40);
    ASSERT_NE(*std::max_element(expected.begin(), expected.end()), 0.0f);
    EXPECT_EQ(playNote(slot(synth), 40), expected);

    ASSERT_TRUE(eventually([&] { return isolation(synth).stateTaken(); }));
    const pid_t first = isolation(synth).workerPid();
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ASSERT_TRUE(eventually([&] {
        return isolation(synth).restarts() == 1 && isolation(synth).state() == IsolatedEffect::State::Running;
    }));
    EXPECT_NE(isolation(synth).workerPid(), first);
    EXPECT_EQ(slot(synth).GetProgram(), 5);
    EXPECT_FLOAT_EQ(slot(synth).GetParameter(1), 0.9f);
    // Its first blocks fade in from silence; the note starts after them.
    EXPECT_EQ(playNote(slot(synth), 40), expected);
    const std::vector<std::string> notices = rack::takePlugInFaults(runner.rack);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_THAT(notices[0], ::testing::HasSubstr("ended (SIGKILL); it is silent while it is restarted"));
}

} // namespace
} // namespace trelvo::test
