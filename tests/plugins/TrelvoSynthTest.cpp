#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "TestPaths.h"
#include "support/DirectPlugin.h"

namespace trelvo::test {
namespace {

constexpr int kFrames = 256;
constexpr double kRate = 48000.0;

// What one voice plays, written out as the plug-in documents it.
std::vector<float> expectedVoice(int wave, float volume, int velocity, int key, int startFrame, int frames) {
    std::vector<float> out(static_cast<std::size_t>(frames), 0.0f);
    const float amplitude = static_cast<float>(velocity) / 127.0f * 0.25f;
    const double increment = 440.0 * std::pow(2.0, (key - 69) / 12.0) / kRate;
    double phase = 0.0;
    for (int i = startFrame; i < frames; ++i) {
        float shape = wave == 0   ? static_cast<float>(std::sin(2.0 * M_PI * phase))
                      : wave == 1 ? static_cast<float>(2.0 * phase - 1.0)
                                  : (phase < 0.5 ? 1.0f : -1.0f);
        out[static_cast<std::size_t>(i)] = volume * amplitude * shape;
        phase += increment;
        if (phase >= 1.0) phase -= 1.0;
    }
    return out;
}

class TrelvoSynthTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin.loaded()) << plugin.error();
        plugin.open(static_cast<float>(kRate), kFrames);
    }
    void run() { plugin.process(left, right, {}, {}); }

    DirectPlugin plugin{TrelvoSynth_PATH};
    std::vector<float> left = std::vector<float>(kFrames), right = std::vector<float>(kFrames);
};

TEST_F(TrelvoSynthTest, DescribesItselfAsAnInstrumentWithChunksAndAnEditor) {
    AEffect* effect = plugin.effect();
    EXPECT_EQ(effect->numInputs, 0);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->numPrograms, 256);
    EXPECT_NE(effect->flags & effFlagsIsSynth, 0);
    EXPECT_NE(effect->flags & effFlagsProgramChunks, 0);
    EXPECT_NE(effect->flags & effFlagsHasEditor, 0);
    EXPECT_EQ(plugin.dispatch(effGetPlugCategory), kPlugCategSynth);
    EXPECT_EQ(plugin.dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")), 1);
    EXPECT_EQ(plugin.dispatch(effCanDo, 0, 0, const_cast<char*>("midiProgramNames")), 1);
    EXPECT_EQ(plugin.dispatch(effCanDo, 0, 0, const_cast<char*>("bypass")), -1);
    ERect* rect = nullptr;
    EXPECT_EQ(plugin.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 320);
    EXPECT_EQ(rect->bottom - rect->top, 200);
}

TEST_F(TrelvoSynthTest, PlaysEachNoteExactlyFromItsFrameUntilItsNoteOff) {
    plugin.sendMidi({{10, 0x90, 69, 127}, {200, 0x80, 69, 0}});
    run();
    std::vector<float> expected = expectedVoice(0, 0.5f, 127, 69, 10, kFrames);
    std::fill(expected.begin() + 200, expected.end(), 0.0f);
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_NEAR(left[static_cast<std::size_t>(i)], expected[static_cast<std::size_t>(i)], 1e-6f) << "frame " << i;
        ASSERT_EQ(left[static_cast<std::size_t>(i)], right[static_cast<std::size_t>(i)]);
    }
    run();
    EXPECT_EQ(left, std::vector<float>(kFrames, 0.0f));
}

TEST_F(TrelvoSynthTest, VoicesAddUpAndAVelocityZeroNoteOnEndsTheNote) {
    plugin.dispatch(effSetProgram, 0, 1); // saw
    plugin.sendMidi({{0, 0x90, 60, 100}, {0, 0x91, 64, 50}, {128, 0x90, 60, 0}});
    run();
    const auto first = expectedVoice(1, 0.5f, 100, 60, 0, kFrames);
    const auto second = expectedVoice(1, 0.5f, 50, 64, 0, kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const float expected =
            (i < 128 ? first[static_cast<std::size_t>(i)] : 0.0f) + second[static_cast<std::size_t>(i)];
        ASSERT_NEAR(left[static_cast<std::size_t>(i)], expected, 1e-6f) << "frame " << i;
    }
}

TEST_F(TrelvoSynthTest, BankSelectAndProgramChangeSwitchProgramsAndTellTheHost) {
    EXPECT_EQ(plugin.text(effGetProgramNameIndexed, 0), "A000 Sine");
    EXPECT_EQ(plugin.text(effGetProgramNameIndexed, 133), "B005 Saw");
    plugin.takeHostCalls();
    plugin.sendMidi({{0, 0xB0, 0, 1}, {0, 0xC0, 5, 0}});
    run();
    EXPECT_EQ(plugin.dispatch(effGetProgram), 133);
    bool updated = false;
    for (const HostCall& call : plugin.takeHostCalls()) updated |= call.opcode == audioMasterUpdateDisplay;
    EXPECT_TRUE(updated);
    plugin.sendMidi({{0, 0xB0, 0, 0}, {0, 0xC0, 7, 0}});
    run();
    EXPECT_EQ(plugin.dispatch(effGetProgram), 7);
    plugin.sendMidi({{0, 0xB0, 32, 1}, {0, 0xC0, 9, 0}}); // bank LSB selects the bank too
    run();
    EXPECT_EQ(plugin.dispatch(effGetProgram), 137);
}

TEST_F(TrelvoSynthTest, NamesItsMidiProgramsAndCategories) {
    MidiProgramName name{};
    name.thisProgramIndex = 131;
    EXPECT_EQ(plugin.dispatch(effGetMidiProgramName, 0, 0, &name), 256);
    EXPECT_STREQ(name.name, "B003 Square");
    EXPECT_EQ(name.midiProgram, 3);
    EXPECT_EQ(name.midiBankMsb, 1);
    EXPECT_EQ(name.midiBankLsb, 1);
    EXPECT_EQ(name.parentCategoryIndex, 2);

    MidiProgramCategory category{};
    category.thisCategoryIndex = 1;
    EXPECT_EQ(plugin.dispatch(effGetMidiProgramCategory, 0, 0, &category), 3);
    EXPECT_STREQ(category.name, "Saw");

    plugin.dispatch(effSetProgram, 0, 200);
    MidiProgramName current{};
    EXPECT_EQ(plugin.dispatch(effGetCurrentMidiProgram, 0, 0, &current), 200);
    EXPECT_EQ(current.thisProgramIndex, 200);
}

TEST_F(TrelvoSynthTest, ChunksCarryProgramsToAnotherInstanceAndBadChunksAreRefused) {
    plugin.dispatch(effSetProgram, 0, 42);
    plugin.effect()->setParameter(plugin.effect(), 0, 0.8f);
    plugin.dispatch(effSetProgramName, 0, 0, const_cast<char*>("Stage lead"));
    void* data = nullptr;
    const VstIntPtr size = plugin.dispatch(effGetChunk, 0, 0, &data);
    ASSERT_GT(size, 0);
    const std::vector<char> bank(static_cast<char*>(data), static_cast<char*>(data) + size);

    void* programData = nullptr;
    const VstIntPtr programSize = plugin.dispatch(effGetChunk, 1, 0, &programData);
    ASSERT_GT(programSize, 0);
    std::vector<char> program(static_cast<char*>(programData), static_cast<char*>(programData) + programSize);

    plugin.dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(plugin.dispatch(effSetChunk, 0, static_cast<VstIntPtr>(bank.size()), const_cast<char*>(bank.data())), 1);
    EXPECT_EQ(plugin.dispatch(effGetProgram), 42);
    EXPECT_EQ(plugin.text(effGetProgramName), "Stage lead");
    EXPECT_FLOAT_EQ(plugin.effect()->getParameter(plugin.effect(), 0), 0.8f);

    plugin.dispatch(effSetProgram, 0, 3);
    EXPECT_EQ(plugin.dispatch(effSetChunk, 1, static_cast<VstIntPtr>(program.size()), program.data()), 1);
    EXPECT_EQ(plugin.text(effGetProgramName), "Stage lead");

    std::vector<char> broken = bank;
    broken[0] = 'X';
    EXPECT_EQ(plugin.dispatch(effSetChunk, 0, static_cast<VstIntPtr>(broken.size()), broken.data()), 0);
    EXPECT_EQ(plugin.dispatch(effSetChunk, 0, 20, const_cast<char*>(bank.data())), 0); // truncated
    EXPECT_EQ(plugin.dispatch(effSetChunk, 1, 5, program.data()), 0);
    EXPECT_EQ(plugin.text(effGetProgramNameIndexed, 42), "Stage lead");
}

// The editor itself is tested on an X server (SynthEditorX11Test); these need none.
TEST_F(TrelvoSynthTest, AnEditorWithoutAParentWindowIsRefusedAndIdlingItDoesNothing) {
    plugin.takeHostCalls();
    EXPECT_EQ(plugin.dispatch(effEditIdle), 0);
    EXPECT_EQ(plugin.dispatch(effEditOpen, 0, 0, nullptr), 0);
    EXPECT_EQ(plugin.dispatch(effEditIdle), 0);
    EXPECT_EQ(plugin.dispatch(effEditClose), 1);
    ERect* rect = nullptr;
    ASSERT_EQ(plugin.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right, 320);
    EXPECT_EQ(rect->bottom, 200);
    EXPECT_EQ(plugin.dispatch(effEditGetRect, 0, 0, nullptr), 0);
    EXPECT_TRUE(plugin.takeHostCalls().empty());
}

} // namespace
} // namespace trelvo::test
