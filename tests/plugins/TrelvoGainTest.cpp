#include <gtest/gtest.h>

#include "TestPaths.h"
#include "support/DirectPlugin.h"

namespace trelvo::test {
namespace {

class TrelvoGainTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin.loaded()) << plugin.error();
        plugin.open();
        for (std::size_t i = 0; i < inLeft.size(); ++i) {
            inLeft[i] = 0.001f * static_cast<float>(i) - 0.1f;
            inRight[i] = 0.25f - 0.002f * static_cast<float>(i);
        }
    }

    void run() { plugin.process(left, right, inLeft, inRight); }

    DirectPlugin plugin{TrelvoGain_PATH};
    std::vector<float> inLeft = std::vector<float>(128), inRight = std::vector<float>(128);
    std::vector<float> left = std::vector<float>(128), right = std::vector<float>(128);
};

TEST_F(TrelvoGainTest, DescribesItselfAsAStereoEffectWithParameterPresets) {
    AEffect* effect = plugin.effect();
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->numParams, 2);
    EXPECT_EQ(effect->numPrograms, 4);
    EXPECT_EQ(effect->flags & (effFlagsIsSynth | effFlagsProgramChunks), 0);
    EXPECT_EQ(effect->uniqueID, fourCharCode("TGan"));
    EXPECT_EQ(plugin.text(effGetEffectName), "TrelvoGain");
    EXPECT_EQ(plugin.text(effGetParamName, 0), "Gain");
    EXPECT_EQ(plugin.text(effGetParamName, 1), "Balance");
    EXPECT_EQ(plugin.dispatch(effCanDo, 0, 0, const_cast<char*>("bypass")), 1);
    EXPECT_EQ(plugin.dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")), -1);
}

TEST_F(TrelvoGainTest, ProgramsHaveNamesAndTheirOwnValues) {
    const char* names[] = {"Unity", "Half", "Left only", "Boost"};
    for (int p = 0; p < 4; ++p) EXPECT_EQ(plugin.text(effGetProgramNameIndexed, p), names[p]);
    plugin.dispatch(effSetProgram, 0, 1);
    EXPECT_EQ(plugin.dispatch(effGetProgram), 1);
    EXPECT_EQ(plugin.text(effGetProgramName), "Half");
    EXPECT_FLOAT_EQ(plugin.effect()->getParameter(plugin.effect(), 0), 0.25f);
    plugin.effect()->setParameter(plugin.effect(), 0, 0.75f);
    plugin.dispatch(effSetProgram, 0, 0);
    EXPECT_FLOAT_EQ(plugin.effect()->getParameter(plugin.effect(), 0), 0.5f);
    plugin.dispatch(effSetProgram, 0, 1);
    EXPECT_FLOAT_EQ(plugin.effect()->getParameter(plugin.effect(), 0), 0.75f);
    plugin.dispatch(effSetProgramName, 0, 0, const_cast<char*>("Mine"));
    EXPECT_EQ(plugin.text(effGetProgramNameIndexed, 1), "Mine");
}

TEST_F(TrelvoGainTest, GainAndBalanceFollowTheirFormulasExactly) {
    run(); // Unity
    EXPECT_EQ(left, inLeft);
    EXPECT_EQ(right, inRight);

    plugin.dispatch(effSetProgram, 0, 1); // Half: gain 0.25 -> x0.5
    run();
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(left[i], inLeft[i] * 0.5f);
        ASSERT_EQ(right[i], inRight[i] * 0.5f);
    }

    plugin.dispatch(effSetProgram, 0, 2); // Left only
    run();
    EXPECT_EQ(left, inLeft);
    EXPECT_EQ(right, std::vector<float>(right.size(), 0.0f));

    plugin.effect()->setParameter(plugin.effect(), 1, 0.75f); // right x1, left x min(1, 0.5)
    run();
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(left[i], inLeft[i] * 0.5f);
        ASSERT_EQ(right[i], inRight[i]);
    }
}

TEST_F(TrelvoGainTest, BypassPassesTheInputUntouched) {
    plugin.dispatch(effSetProgram, 0, 3); // Boost
    EXPECT_EQ(plugin.dispatch(effSetBypass, 0, 1), 1);
    run();
    EXPECT_EQ(left, inLeft);
    EXPECT_EQ(right, inRight);
    plugin.dispatch(effSetBypass, 0, 0);
    run();
    EXPECT_EQ(left[5], inLeft[5] * 2.0f);
}

TEST_F(TrelvoGainTest, TheAccumulatingFormAddsToTheOutputs) {
    std::vector<float> outLeft(300, 1.0f), outRight(300, -1.0f);
    std::vector<float> in(300, 0.5f);
    float* inputs[2] = {in.data(), in.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    plugin.effect()->process(plugin.effect(), inputs, outputs, 300);
    EXPECT_EQ(outLeft, std::vector<float>(300, 1.5f));
    EXPECT_EQ(outRight, std::vector<float>(300, -0.5f));
}

} // namespace
} // namespace trelvo::test
