#include "rack/AudioEngine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "TestPaths.h"
#include "diag/OpcodeLevels.h"
#include "support/AllocationGuard.h"
#include "support/EngineRunner.h"
#include "support/LogCapture.h"

namespace trelvo::rack {
namespace {

using test::addPlugIn;
using test::EngineRunner;

/// MIDI for the tests: notes handed to a chosen slot in the next block, and a panic count.
class TestMidi : public EngineHooks {
public:
    bool midiInputOpen() const noexcept override { return true; }
    void deliverMidi(host::TVstPlugIn& slot) noexcept override {
        if (slot.SlotIdx != targetSlot || pending.empty()) return;
        auto* block = reinterpret_cast<VstEvents*>(storage);
        auto** slots = reinterpret_cast<VstEvent**>(storage + offsetof(VstEvents, events));
        block->numEvents = static_cast<VstInt32>(pending.size());
        for (std::size_t i = 0; i < pending.size(); ++i) slots[i] = reinterpret_cast<VstEvent*>(&pending[i]);
        slot.ProcessEvents(block);
        pending.clear();
    }
    void panic() noexcept override { ++panics; }

    void noteOn(int slot, int frame, int key, int velocity) {
        targetSlot = slot;
        VstMidiEvent event{};
        event.type = kVstMidiType;
        event.byteSize = sizeof event;
        event.deltaFrames = frame;
        event.midiData[0] = static_cast<char>(0x90);
        event.midiData[1] = static_cast<char>(key);
        event.midiData[2] = static_cast<char>(velocity);
        pending.push_back(event);
    }

    int targetSlot = -1;
    int panics = 0;
    std::vector<VstMidiEvent> pending;
    alignas(VstEvents) unsigned char storage[offsetof(VstEvents, events) + 64 * sizeof(VstEvent*)] = {};
};

void fill(std::vector<float>& buffer, float value) {
    std::fill(buffer.begin(), buffer.end(), value);
}

/// Applies a command as the user interface would: through the queue, at the next block.
void command(EngineRunner& runner, SlotCommandCode code, int slot, int value) {
    runner.rack.enqueue(code, slot, value);
}

class AudioEngineTest : public ::testing::Test {
protected:
    // An output and one channel hearing the driver input at 0 dB, settled.
    void outputAndChannel() {
        runner.rack.addSlot(SlotKind::Output);
        channel = runner.rack.addSlot(SlotKind::Channel);
        runner.rack.slot(channel).InpVol.set(0);
    }
    void settle(int blocks = 8) { runner.run(blocks); }

    test::LogCapture log;
    TestMidi midi;
    EngineRunner runner{256, &midi};
    int channel = -1;
};

TEST_F(AudioEngineTest, AChannelPassesTheInputToTheOutputAfterItsFadeIn) {
    outputAndChannel();
    runner.start();
    fill(runner.inLeft, 0.5f);
    fill(runner.inRight, -0.25f);
    runner.run(8); // the wet gains start at 0 and ramp up over 1000 samples
    EXPECT_LT(runner.recordedLeft[0], 0.01f);
    EXPECT_EQ(runner.outLeft, std::vector<float>(256, 0.5f));
    EXPECT_EQ(runner.outRight, std::vector<float>(256, -0.25f));
}

TEST_F(AudioEngineTest, WithoutAnOutputSlotTheDriverOutputsStaySilent) {
    runner.rack.addSlot(SlotKind::Channel);
    runner.rack.slot(0).InpVol.set(0);
    runner.start();
    fill(runner.inLeft, 0.5f);
    fill(runner.outLeft, 9.0f);
    runner.run(4);
    EXPECT_EQ(runner.recordedLeft, std::vector<float>(4 * 256, 0.0f));
}

TEST_F(AudioEngineTest, OnlyTheLastOutputFeedsTheDriver) {
    outputAndChannel();
    const int second = runner.rack.addSlot(SlotKind::Output);
    runner.rack.slot(second).WetVol.set(-6);
    runner.rack.slot(0).WetVol.set(kVolumeOff); // the first output is not the bus
    runner.start();
    fill(runner.inLeft, 0.5f);
    settle();
    EXPECT_NEAR(runner.outLeft[100], 0.5f * volumeGain(-6), 1e-6f);
}

TEST_F(AudioEngineTest, AChannelWithItsInputOffStillPlaysItsInstrument) {
    runner.rack.addSlot(SlotKind::Output);
    runner.rack.addSlot(SlotKind::Channel); // input volume off, as a new channel has
    const int synth = addPlugIn(runner.rack, TrelvoSynth_PATH, "Synth");
    runner.start();
    fill(runner.inLeft, 0.9f); // the driver input must not be heard
    settle();
    midi.noteOn(synth, 0, 69, 127);
    runner.block();
    float loudest = 0.0f;
    for (float sample : runner.outLeft) loudest = std::max(loudest, std::fabs(sample));
    EXPECT_NEAR(loudest, 0.125f, 0.01f); // Volume 0.5 x velocity 1.0 x 0.25
}

TEST_F(AudioEngineTest, InputGainIsAppliedOnce) {
    // A channel set to +6 dB input gain is 6 dB louder, not 12.
    outputAndChannel();
    runner.rack.slot(channel).InpVol.set(6);
    runner.start();
    fill(runner.inLeft, 0.25f);
    settle(12);
    EXPECT_NEAR(runner.outLeft[200], 0.25f * volumeGain(6), 1e-6f);
}

TEST_F(AudioEngineTest, OutputSamplesAreClippedAndNaNBecomesSilence) {
    outputAndChannel();
    runner.start();
    settle();
    runner.inLeft[0] = 1.5f;
    runner.inLeft[1] = -3.0f;
    runner.inLeft[2] = 0.999f;
    runner.inLeft[3] = std::nanf("");
    runner.block();
    EXPECT_EQ(runner.outLeft[0], 1.0f);
    EXPECT_EQ(runner.outLeft[1], -1.0f);
    EXPECT_EQ(runner.outLeft[2], 0.999f);
    EXPECT_EQ(runner.outLeft[3], 0.0f);
}

TEST_F(AudioEngineTest, PanFullyRightMovesTheLeftSignalIntoTheRight) {
    outputAndChannel();
    runner.rack.slot(channel).pan.set(12);
    runner.start();
    fill(runner.inLeft, 0.5f);
    fill(runner.inRight, 0.0f);
    settle(12);
    EXPECT_EQ(runner.outLeft[10], 0.0f);
    EXPECT_EQ(runner.outRight[10], 0.5f);
}

TEST_F(AudioEngineTest, SmoothingTakesAThousandSamplesForVolumesAndFiveHundredForOn) {
    outputAndChannel();
    runner.start();
    fill(runner.inLeft, 1.0f);
    settle();
    command(runner, SlotCommandCode::WetVol, channel, kVolumeOff);
    runner.run(4);
    // The channel fades over 1000 samples: still sounding at 990, silent from 1001 on.
    EXPECT_GT(runner.recordedLeft[8 * 256 + 990], 0.0f);
    EXPECT_EQ(runner.recordedLeft[8 * 256 + 1001], 0.0f);

    EngineRunner other{256};
    other.rack.addSlot(SlotKind::Output);
    const int ch = other.rack.addSlot(SlotKind::Channel);
    other.rack.slot(ch).InpVol.set(0);
    other.start();
    fill(other.inLeft, 1.0f);
    other.run(8);
    other.rack.enqueue(SlotCommandCode::Off, ch, 1);
    other.run(3);
    EXPECT_GT(other.recordedLeft[8 * 256 + 495], 0.0f);
    EXPECT_EQ(other.recordedLeft[8 * 256 + 501], 0.0f);
}

TEST_F(AudioEngineTest, AnOffPlugInRunsUntilFadedThenIsSuspendedOnceAndPassedBy) {
    outputAndChannel();
    const int gain = addPlugIn(runner.rack, TrelvoGain_PATH, "Gain");
    runner.rack.slot(gain).SetProgram(3); // Boost: x2
    runner.start();
    fill(runner.inLeft, 0.25f);
    settle();
    EXPECT_EQ(runner.outLeft[0], 0.5f);
    diag::plugCallLevels().setLevel(effMainsChanged, diag::kLevelAll);
    log.clear();

    command(runner, SlotCommandCode::Off, gain, 1);
    runner.run(1);
    EXPECT_EQ(runner.rack.slot(gain).runMode.text(), "bmsO");
    EXPECT_GT(runner.outLeft[100], 0.25f); // still fading toward the unprocessed signal
    EXPECT_LT(runner.outLeft[100], 0.5f);
    runner.run(4);
    EXPECT_EQ(runner.outLeft, std::vector<float>(256, 0.25f));
    EXPECT_TRUE(runner.rack.slot(gain).suspended.load());
    const auto lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("effMainsChanged") != std::string::npos; }),
              1);
}

TEST_F(AudioEngineTest, SoloingOneChannelSilencesTheOthersUntilTheLastSoloIsReleased) {
    outputAndChannel();
    const int second = runner.rack.addSlot(SlotKind::Channel);
    const int group = runner.rack.addSlot(SlotKind::Group);
    runner.start();
    command(runner, SlotCommandCode::Solo, second, 1);
    runner.block();
    EXPECT_EQ(runner.rack.slot(channel).SoloGain.load(), 0.0f);
    EXPECT_EQ(runner.rack.slot(second).SoloGain.load(), 1.0f);
    EXPECT_EQ(runner.rack.slot(group).SoloGain.load(), 1.0f);
    EXPECT_TRUE(runner.rack.host().anySolo.load());
    command(runner, SlotCommandCode::Solo, channel, kToggle);
    command(runner, SlotCommandCode::Solo, second, kToggle);
    runner.block();
    EXPECT_EQ(runner.rack.slot(second).runMode.text(), "bmso");
    EXPECT_EQ(runner.rack.slot(channel).SoloGain.load(), 1.0f); // still soloed itself
    command(runner, SlotCommandCode::Solo, channel, 0);
    runner.block();
    EXPECT_FALSE(runner.rack.host().anySolo.load());
    EXPECT_EQ(runner.rack.slot(second).SoloGain.load(), 1.0f);
}

TEST_F(AudioEngineTest, BypassUsesThePlugInsOwnBypassElseAHardOneWithPanicForChannels) {
    outputAndChannel();
    const int gain = addPlugIn(runner.rack, TrelvoGain_PATH, "Gain");
    runner.rack.slot(gain).SetProgram(3);
    const int plain = addPlugIn(runner.rack, TrelvoFaulty_Plain_PATH, "Plain");
    runner.start();
    fill(runner.inLeft, 0.25f);
    settle();
    command(runner, SlotCommandCode::Bypass, gain, 1);
    runner.block();
    EXPECT_EQ(runner.rack.slot(gain).runMode.text(), "Bmso");
    EXPECT_EQ(runner.rack.slot(gain).OnGain.load(), 1.0f); // soft: the plug-in bypasses itself
    EXPECT_EQ(runner.outLeft[0], 0.25f);

    command(runner, SlotCommandCode::Bypass, plain, 1);
    command(runner, SlotCommandCode::Bypass, channel, 1);
    runner.block();
    EXPECT_EQ(runner.rack.slot(plain).OnGain.load(), 0.0f);
    EXPECT_EQ(midi.panics, 1); // the channel, not the effect
    command(runner, SlotCommandCode::Bypass, channel, 0);
    command(runner, SlotCommandCode::Off, plain, 1);
    command(runner, SlotCommandCode::Bypass, plain, 0); // ignored while the slot is Off
    runner.block();
    EXPECT_EQ(runner.rack.slot(plain).runMode.text(), "BmsO");
}

TEST_F(AudioEngineTest, APlugInThatThrowsOrFaultsLosesItsStripForTheBlockThenIsPassedBy) {
    runner.rack.addSlot(SlotKind::Output);
    const int healthy = runner.rack.addSlot(SlotKind::Channel);
    runner.rack.slot(healthy).InpVol.set(0);
    const int throwing = runner.rack.addSlot(SlotKind::Channel);
    runner.rack.slot(throwing).InpVol.set(0);
    const int thrower = addPlugIn(runner.rack, TrelvoFaulty_ThrowInProcess_PATH, "Thrower");
    const int crashing = runner.rack.addSlot(SlotKind::Channel);
    runner.rack.slot(crashing).InpVol.set(0);
    const int crasher = addPlugIn(runner.rack, TrelvoFaulty_CrashInProcess_PATH, "Crasher");
    runner.start();
    fill(runner.inLeft, 0.125f);
    runner.run(8);
    EXPECT_THAT(log.errors(), ::testing::Contains("-proc " + std::to_string(throwing)));
    EXPECT_THAT(log.errors(), ::testing::Contains("-proc " + std::to_string(crashing)));
    EXPECT_TRUE(runner.rack.slot(crasher).isQuarantined());
    EXPECT_TRUE(runner.rack.slot(thrower).isQuarantined());
    // Each faulty strip lost one block, then was said once: the quarantined plug-ins are
    // passed by, so their channels play the input again, next to the healthy channel.
    const auto errors = log.errors();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), "-proc " + std::to_string(throwing)), 1);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), "-proc " + std::to_string(crashing)), 1);
    EXPECT_EQ(runner.outLeft[10], 3 * 0.125f);
}

TEST_F(AudioEngineTest, TheWorkThreadGivesExactlyTheSameOutput) {
    const auto render = [](bool useAllCpus, int minimumBlocks) {
        EngineRunner run{128};
        run.rack.addSlot(SlotKind::Output);
        for (int c = 0; c < 6; ++c) {
            const int ch = run.rack.addSlot(SlotKind::Channel);
            run.rack.slot(ch).InpVol.set(-c);
            run.rack.slot(ch).pan.set(2 * c - 6);
            addPlugIn(run.rack, TrelvoGain_PATH, "Gain");
            run.rack.slot(addPlugIn(run.rack, TrelvoGain_PATH, "Gain")).SetProgram(c % 4);
        }
        run.rack.addSlot(SlotKind::Group);
        run.start();
        run.engine.useAllCpus = useAllCpus;
        for (std::size_t i = 0; i < run.inLeft.size(); ++i) {
            run.inLeft[i] = std::sin(0.05f * static_cast<float>(i)) * 0.3f;
            run.inRight[i] = std::cos(0.07f * static_cast<float>(i)) * 0.3f;
        }
        // Whichever thread is free takes the next strip, so on a busy machine the worker may
        // take none in a block: run on until it has taken some.
        int onWorker = 0, blocks = 0;
        while (blocks < minimumBlocks || (useAllCpus && onWorker == 0 && blocks < 20000)) {
            run.run(1);
            ++blocks;
            for (int i = 0; i < run.rack.numSlots(); ++i) onWorker += run.rack.slot(i).workerFlag;
        }
        return std::make_tuple(run.recordedLeft, run.recordedRight, onWorker, blocks);
    };
    const auto split = render(true, 60);
    const auto single = render(false, std::get<3>(split));
    EXPECT_EQ(std::get<2>(single), 0);
    EXPECT_GT(std::get<2>(split), 0); // the worker really took strips
    EXPECT_EQ(std::get<0>(single), std::get<0>(split));
    EXPECT_EQ(std::get<1>(single), std::get<1>(split));
}

TEST_F(AudioEngineTest, TheSettledLoopsGiveTheSameSamplesAsTheRampLoops) {
    // The settled loops are vectorised, the ramp loops are not; an odd block size also runs
    // the scalar rest of each vectorised loop.
    const auto render = [](bool rampLoopsOnly, int blockSize) {
        EngineRunner run{blockSize};
        run.rack.addSlot(SlotKind::Output);
        const int ch = run.rack.addSlot(SlotKind::Channel);
        run.rack.slot(ch).InpVol.set(-3);
        run.rack.slot(ch).DryVol.set(-9);
        run.rack.slot(ch).pan.set(-5);
        const int gain = addPlugIn(run.rack, TrelvoGain_PATH, "Gain");
        run.rack.slot(gain).DryVol.set(-12);
        run.rack.slot(gain).WetVol.set(-2);
        run.rack.slot(gain).pan.set(7);
        run.start();
        run.engine.rampLoopsOnly = rampLoopsOnly;
        for (std::size_t i = 0; i < run.inLeft.size(); ++i) {
            run.inLeft[i] = std::sin(0.01f * static_cast<float>(i));
            run.inRight[i] = 0.5f - 0.003f * static_cast<float>(i);
        }
        run.run(5120 / blockSize); // ramps are over after 1024 frames; the rest runs settled
        return std::make_pair(run.recordedLeft, run.recordedRight);
    };
    for (const int blockSize : {256, 61}) {
        const auto fast = render(false, blockSize);
        const auto ramped = render(true, blockSize);
        EXPECT_EQ(fast.first, ramped.first) << blockSize;
        EXPECT_EQ(fast.second, ramped.second) << blockSize;
    }
}

// Neither the driver's thread nor the work thread allocates or frees in a block, while
// commands arrive, notes play and the strips are split between the two threads.
TEST_F(AudioEngineTest, BlocksAllocateAndFreeNothingOnTheDriverThreadOrTheWorkThread) {
    runner.rack.addSlot(SlotKind::Output);
    std::vector<int> channels;
    int synth = -1;
    for (int c = 0; c < 6; ++c) {
        channels.push_back(runner.rack.addSlot(SlotKind::Channel));
        runner.rack.slot(channels.back()).InpVol.set(0);
        addPlugIn(runner.rack, TrelvoGain_PATH, "Gain");
        if (c == 2) synth = addPlugIn(runner.rack, TrelvoSynth_PATH, "Synth");
    }
    runner.rack.addSlot(SlotKind::Group);
    addPlugIn(runner.rack, TrelvoGain_PATH, "Group gain");
    ASSERT_GE(synth, 0);
    runner.start();
    runner.engine.useAllCpus = true;
    fill(runner.inLeft, 0.25f);
    runner.run(12); // past the fade-ins

    const test::AllocationGuard guard;
    // Whichever thread is free takes the next strip, so the worker may take none in a block
    // on a busy machine: run on until it has run strips in 25 of them.
    int blocksSplit = 0;
    for (int b = 0; b < 50 || (blocksSplit < 25 && b < 20000); ++b) {
        if (b % 10 == 0)
            command(runner, SlotCommandCode::Mute, channels[static_cast<std::size_t>((b / 10) % 6)], kToggle);
        if (b % 7 == 0) {
            midi.noteOn(synth, 3, 60, 100);
            midi.noteOn(synth, 1, 64, 90);
        }
        runner.block();
        int onWorker = 0;
        for (int channel : channels) onWorker += runner.rack.slot(channel).workerFlag;
        if (onWorker > 0) ++blocksSplit;
    }
    EXPECT_GE(blocksSplit, 25); // the work thread really ran strips
    EXPECT_EQ(guard.allocations(), 0u);
    EXPECT_EQ(guard.frees(), 0u);
}

TEST_F(AudioEngineTest, BeforeTheProgramRunsOrWithoutBuffersTheDriverGetsSilence) {
    outputAndChannel();
    runner.start();
    runner.engine.applicationStage = 6;
    fill(runner.outLeft, 0.7f);
    runner.block();
    EXPECT_EQ(runner.outLeft, std::vector<float>(256, 0.0f));
    runner.engine.applicationStage = kStageRunning;
    runner.engine.releaseBuffers();
    fill(runner.outLeft, 0.7f);
    runner.block();
    EXPECT_EQ(runner.outLeft, std::vector<float>(256, 0.0f));
    EXPECT_EQ(runner.rack.host().bufferCount.load(), 2u);
}

TEST_F(AudioEngineTest, ADriverBufferLargerThanTheEnginesIsRefusedSafely) {
    outputAndChannel();
    runner.start();
    std::vector<float> big(1024, 0.3f);
    const float* inputs[2] = {big.data(), big.data()};
    float* outputs[2] = {big.data(), big.data()};
    DriverBlock block{inputs, 2, outputs, 2, 1024, true};
    runner.engine.bufferSwitch(block);
    EXPECT_EQ(runner.engine.oversizedBlocks.load(), 1u);
    EXPECT_EQ(big[1000], 0.0f);
}

TEST_F(AudioEngineTest, MetersAndTimingFollowTheBlocks) {
    outputAndChannel();
    runner.start();
    fill(runner.inLeft, -0.5f);
    settle();
    EXPECT_EQ(runner.rack.slot(channel).PeakL.load(), 0.5f);
    EXPECT_EQ(runner.rack.slot(channel).PeakR.load(), 0.0f);
    EXPECT_GT(runner.rack.slot(channel).averageTime.load(), 0);
    EXPECT_EQ(runner.rack.slot(channel).timeCount, 8);
    EXPECT_GT(runner.engine.timing.average.load(), 0);
    EXPECT_GE(runner.engine.timing.maximum.load(), runner.engine.timing.average.load());
    runner.run(5);
    EXPECT_EQ(runner.rack.slot(channel).timeCount, 10);
}

TEST_F(AudioEngineTest, EachPlugInIsTimedInItsTurnOncePerRoundOfTheSlots) {
    outputAndChannel();
    const int gain = addPlugIn(runner.rack, TrelvoGain_PATH, "Gain");
    const int synth = addPlugIn(runner.rack, TrelvoSynth_PATH, "Synth");
    runner.start();
    const int slots = runner.rack.numSlots();
    runner.run(slots * 3);
    for (const int plugIn : {gain, synth}) {
        EXPECT_EQ(runner.rack.slot(plugIn).timeCount, 3) << "one timing per round of " << slots << " blocks";
        EXPECT_GT(runner.rack.slot(plugIn).averageTime.load(), 0);
    }
}

} // namespace
} // namespace trelvo::rack
