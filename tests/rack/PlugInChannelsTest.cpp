// How the engine lends channels to plug-ins: as many valid pointers as a plug-in declares,
// silence on the inputs a strip does not fill, scratch for the outputs it does not mix, and
// mono plug-ins heard on both sides.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestPaths.h"
#include "rack/AudioEngine.h"
#include "support/EngineRunner.h"
#include "support/LogCapture.h"

namespace trelvo::rack {
namespace {

using test::addPlugIn;
using test::EngineRunner;

// Parameters of the TrelvoChannels plug-ins.
constexpr int kPointerFaults = 0, kNoisyInputs = 1, kBlocks = 2;

void fill(std::vector<float>& buffer, float value) {
    std::fill(buffer.begin(), buffer.end(), value);
}

/// A channel strip at unity gain, under an output.
int addChannel(EngineRunner& runner) {
    const int channel = runner.rack.addSlot(SlotKind::Channel);
    runner.rack.slot(channel).InpVol.set(0);
    return channel;
}

void expectCleanBlocks(host::TVstPlugIn& plugIn) {
    SCOPED_TRACE(plugIn.SlotName);
    EXPECT_FALSE(plugIn.isQuarantined());
    EXPECT_EQ(plugIn.GetParameter(kPointerFaults), 0.0f) << "a pointer was null or shared";
    EXPECT_EQ(plugIn.GetParameter(kNoisyInputs), 0.0f) << "an input past the second was not silent";
    EXPECT_EQ(plugIn.GetParameter(kBlocks), 1.0f) << "the plug-in never ran";
}

class WidePlugInTest : public ::testing::TestWithParam<bool> {};

// Guards the fault where every plug-in got 32 channel pointers whatever it declared: a
// plug-in with more read past the array, faulted and was quarantined.
TEST_P(WidePlugInTest, AWidePlugInGetsEveryPointerAndOnlyItsFirstTwoChannelsAreMixed) {
    test::LogCapture log;
    EngineRunner runner{128};
    runner.rack.addSlot(SlotKind::Output);
    // Several strips, so that the work thread takes some of them when it is used.
    std::vector<int> wide;
    for (int strip = 0; strip < 4; ++strip) {
        addChannel(runner);
        // Outputs past the second carry a marker that must reach neither the mix nor the
        // next plug-in's inputs.
        addPlugIn(runner.rack, TrelvoSpread_PATH, "Spread");
        wide.push_back(addPlugIn(runner.rack, TrelvoWide_PATH, "Wide"));
    }
    runner.start();
    runner.engine.useAllCpus = GetParam();
    fill(runner.inLeft, 0.125f);
    fill(runner.inRight, -0.0625f);
    runner.run(40);

    for (const int slot : wide) expectCleanBlocks(runner.rack.slot(slot));
    EXPECT_EQ(runner.outLeft[5], 4 * 0.125f);
    EXPECT_EQ(runner.outRight[5], 4 * -0.0625f);
    EXPECT_TRUE(log.errors().empty()) << ::testing::PrintToString(log.errors());
}

INSTANTIATE_TEST_SUITE_P(Threads, WidePlugInTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& test) {
                             return test.param ? "WithWorkThread" : "OnOneThread";
                         });

TEST(PlugInChannels, APlugInWiderThanTheBuffersWereMadeForIsPassedByAndSaidOnce) {
    test::LogCapture log;
    EngineRunner runner{64};
    runner.rack.addSlot(SlotKind::Output);
    addChannel(runner);
    runner.start(); // buffers for stereo plug-ins only
    const int wide = addPlugIn(runner.rack, TrelvoWide_PATH, "Wide");
    fill(runner.inLeft, 0.25f);
    runner.run(40); // past the volume ramps of a fresh strip
    EXPECT_EQ(runner.rack.slot(wide).GetParameter(kBlocks), 0.0f);
    EXPECT_EQ(runner.outLeft[0], 0.25f) << "the strip plays on without the plug-in";
    EXPECT_THAT(log.errors(),
                ::testing::ElementsAre(::testing::HasSubstr("declares 128 inputs and 128 outputs, more than 2")));

    // Buffers made again (as every structural change does) take the wide plug-in in.
    runner.engine.allocateBuffers(64);
    runner.run(2);
    expectCleanBlocks(runner.rack.slot(wide));
}

struct MonoCase {
    const char* name;
    std::vector<const char*> chain; ///< plug-ins of the strip, in order
    float inLeft, inRight;
    float outLeft, outRight;
};

class MonoPlugInTest : public ::testing::TestWithParam<MonoCase> {};

// Guards the fault where a plug-in with one output left the strip's right side as it was:
// silent when alone, dry after another effect.
TEST_P(MonoPlugInTest, IsHeardOnBothSides) {
    const MonoCase& c = GetParam();
    EngineRunner runner{64};
    runner.rack.addSlot(SlotKind::Output);
    addChannel(runner);
    for (const char* path : c.chain) {
        const int slot = addPlugIn(runner.rack, path);
        // TrelvoGain's third program keeps the left side only.
        if (std::string(path) == TrelvoGain_PATH) runner.rack.slot(slot).SetProgram(2);
    }
    runner.start();
    fill(runner.inLeft, c.inLeft);
    fill(runner.inRight, c.inRight);
    runner.run(40); // past the volume ramps of a fresh strip
    EXPECT_EQ(runner.outLeft[3], c.outLeft);
    EXPECT_EQ(runner.outRight[3], c.outRight);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, MonoPlugInTest,
    ::testing::Values(
        // One input hears the sum of both sides at half level; one output feeds both.
        MonoCase{"OneInOneOutAlone", {TrelvoMono_PATH}, 0.5f, 0.25f, 0.375f, 0.375f},
        MonoCase{"OneInOneOutAfterALeftOnlyEffect", {TrelvoGain_PATH, TrelvoMono_PATH}, 0.25f, 0.25f, 0.125f, 0.125f},
        MonoCase{"TwoInOneOut", {TrelvoMonoOut_PATH}, 0.5f, 0.25f, 0.5f, 0.5f},
        MonoCase{"TwoInOneOutAfterALeftOnlyEffect", {TrelvoGain_PATH, TrelvoMonoOut_PATH}, 0.25f, 0.25f, 0.25f, 0.25f}),
    [](const ::testing::TestParamInfo<MonoCase>& test) { return std::string(test.param.name); });

} // namespace
} // namespace trelvo::rack
