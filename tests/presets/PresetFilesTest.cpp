// FXP and FXB files with the project's plug-ins (TrelvoGain: parameters; TrelvoSynth:
// chunks) and round trips with every third-party plug-in of the dpf-plugins-vst package.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "TestPaths.h"
#include "host/TVstPlugIn.h"
#include "platform/TrelvoHome.h"
#include "rack/Rack.h"
#include "support/EngineRunner.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/ThirdPartyPlugins.h"

namespace trelvo::host {
namespace {

using ::testing::Contains;

std::uint32_t bigEndianAt(const std::string& bytes, std::size_t offset) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}
void putBigEndianAt(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
}

std::vector<float> parametersOf(TVstPlugIn& plugIn) {
    std::vector<float> values;
    for (int i = 0; i < plugIn.effectNumParams(); ++i) values.push_back(plugIn.GetParameter(i));
    return values;
}

class PresetFilesTest : public ::testing::Test {
protected:
    PresetFilesTest() {
        gain = &rack.slot(test::addPlugIn(rack, TrelvoGain_PATH, "Gain"));
        synth = &rack.slot(test::addPlugIn(rack, TrelvoSynth_PATH, "Synth"));
    }
    ~PresetFilesTest() override { TVstPlugIn::DeveloperSwitch = false; }

    std::string errorLine(const std::string& prefix, const std::string& file, const std::string& text) {
        return prefix + "\"" + file + "\"" + text;
    }

    test::LogCapture log;
    test::TempFolder folder;
    rack::Rack rack;
    TVstPlugIn* gain = nullptr;
    TVstPlugIn* synth = nullptr;
};

TEST_F(PresetFilesTest, AParameterProgramIsWrittenInTheDesignedLayoutAndLoadsBack) {
    gain->SetProgram(1); // "Half"
    gain->SetParameter(0, 0.125f);
    const std::string file = folder.file("My Half.fxp");
    gain->SavePreset(file, 0);
    std::string bytes;
    ASSERT_TRUE(platform::readWholeFile(file, bytes));
    ASSERT_EQ(bytes.size(), 56u + 4 * 2);
    EXPECT_EQ(bytes.substr(0, 4), "CcnK");
    EXPECT_EQ(bigEndianAt(bytes, 4), 48u + 8);
    EXPECT_EQ(bytes.substr(8, 4), "FxCk");
    EXPECT_EQ(bytes.substr(16, 4), "TGan");
    EXPECT_EQ(bigEndianAt(bytes, 24), 2u);
    EXPECT_EQ(std::string(bytes.c_str() + 28), "Half");
    EXPECT_EQ(bigEndianAt(bytes, 56), 0x3E000000u); // 0.125

    gain->SavePreset(folder.file("Named.fxp"), 2); // the name comes from the file
    ASSERT_TRUE(platform::readWholeFile(folder.file("Named.fxp"), bytes));
    EXPECT_EQ(std::string(bytes.c_str() + 28), "Named");

    gain->SetProgram(3);
    gain->SetParameter(0, 0.9f);
    ASSERT_TRUE(gain->LoadPreset(file));
    EXPECT_EQ(gain->GetParameter(0), 0.125f);
    EXPECT_EQ(gain->GetProgramName(), "Half");
    EXPECT_EQ(gain->PresetFileName, "My Half.fxp");
    EXPECT_TRUE(log.errors().empty());
}

TEST_F(PresetFilesTest, AParameterBankHoldsEveryProgramAndEndsOnTheProgramThatWasCurrent) {
    gain->SetProgram(2);
    gain->SetProgramName("   "); // a blank name is written as "preset" + index
    gain->SetProgram(1);
    const std::string file = folder.file("bank.fxb");
    gain->SaveBank(file, false);
    EXPECT_EQ(gain->GetProgram(), 1);
    std::string bytes;
    ASSERT_TRUE(platform::readWholeFile(file, bytes));
    ASSERT_EQ(bytes.size(), 156u + 4 * (56 + 4 * 2));
    EXPECT_EQ(bytes.substr(8, 4), "FxBk");
    EXPECT_EQ(bigEndianAt(bytes, 4), 148u + 4 * (56 + 8));
    EXPECT_EQ(std::string(bytes.c_str() + 156 + 2 * 64 + 28), "preset2");

    gain->SetProgram(3);
    gain->SetParameter(0, 0.0f);
    ASSERT_TRUE(gain->LoadBank(file));
    EXPECT_EQ(gain->GetProgram(), 3); // left on the last program loaded
    EXPECT_EQ(gain->GetParameter(0), 1.0f);
    gain->SetProgram(2);
    EXPECT_EQ(gain->GetProgramName(), "preset2");
}

TEST_F(PresetFilesTest, ChunkProgramsAndBanksRoundTripAndTrailingBytesReachThePlugIn) {
    synth->SetProgram(7);
    synth->SetParameter(0, 0.3f);
    const std::string program = folder.file("seven.fxp");
    synth->SavePreset(program, 0);
    std::string bytes;
    ASSERT_TRUE(platform::readWholeFile(program, bytes));
    EXPECT_EQ(bytes.substr(8, 4), "FPCh");
    const std::uint32_t size = bigEndianAt(bytes, 56);
    EXPECT_EQ(bytes.size(), 60u + size);
    EXPECT_EQ(bigEndianAt(bytes, 4), size + 48);

    const std::string bank = folder.file("all.fxb");
    synth->SaveBank(bank, false);
    std::string bankBytes;
    ASSERT_TRUE(platform::readWholeFile(bank, bankBytes));
    EXPECT_EQ(bankBytes.substr(8, 4), "FBCh");
    EXPECT_EQ(bankBytes.size(), 160u + bigEndianAt(bankBytes, 156));

    synth->SetProgram(7);
    synth->SetParameter(0, 0.9f);
    ASSERT_TRUE(synth->LoadPreset(program));
    EXPECT_FLOAT_EQ(synth->GetParameter(0), 0.3f);

    // A size field that lies (larger than the file) and bytes after the chunk: everything
    // after the header is the chunk.
    putBigEndianAt(bytes, 56, 1u << 30);
    bytes += "trailing";
    test::writeFile(program, bytes);
    synth->SetParameter(0, 0.9f);
    ASSERT_TRUE(synth->LoadPreset(program));
    EXPECT_FLOAT_EQ(synth->GetParameter(0), 0.3f);
    EXPECT_TRUE(log.errors().empty()) << ::testing::PrintToString(log.errors());

    synth->SetParameter(0, 0.9f);
    ASSERT_TRUE(synth->LoadBank(bank));
    synth->SetProgram(7);
    EXPECT_FLOAT_EQ(synth->GetParameter(0), 0.3f);
}

TEST_F(PresetFilesTest, FilesOfTheWrongFormOrPlugInAreRefusedWithTheirLines) {
    const std::string params = folder.file("gain.fxp");
    gain->SavePreset(params, 0);
    const std::string chunk = folder.file("synth.fxp");
    synth->SavePreset(chunk, 0);

    EXPECT_FALSE(synth->LoadPreset(params));
    EXPECT_FALSE(gain->LoadPreset(chunk));
    EXPECT_THAT(log.errors(), Contains(errorLine("LoadPreset: ", params, " should be a chunk")));
    EXPECT_THAT(log.errors(), Contains(errorLine("LoadPreset: ", chunk, " should not be a chunk")));

    // With the developer switch a parameter file loads into the chunk plug-in, value by value.
    TVstPlugIn::DeveloperSwitch = true;
    EXPECT_FALSE(synth->LoadPreset(params));
    EXPECT_THAT(log.errors(), Contains(errorLine("LoadPreset: ", params, " not for this plugin")));
    synth->AltUniqueIds[3] = gain->effectUniqueID(); // the profile accepts the gain's files
    EXPECT_TRUE(synth->LoadPreset(params));
    EXPECT_FLOAT_EQ(synth->GetParameter(0), gain->GetParameter(0));
}

TEST_F(PresetFilesTest, BrokenFilesAreRefusedWithoutTouchingThePlugIn) {
    std::string good;
    gain->SavePreset(folder.file("good.fxp"), 0);
    ASSERT_TRUE(platform::readWholeFile(folder.file("good.fxp"), good));
    gain->SetParameter(0, 0.75f);

    struct Case {
        std::string name, bytes, line;
    };
    std::string huge = good;
    putBigEndianAt(huge, 24, 10001);
    std::string shortValues = good;
    putBigEndianAt(shortValues, 24, 3);
    const std::vector<Case> cases = {
        {"empty.fxp", "", " 1.BlockRead=0"},
        {"header.fxp", good.substr(0, 40), " 2.BlockRead=40"},
        {"huge.fxp", huge, " numParams=10001"},
        {"short.fxp", shortValues, " 3.BlockRead=8"},
    };
    for (const Case& broken : cases) {
        const std::string file = folder.file(broken.name);
        test::writeFile(file, broken.bytes);
        EXPECT_FALSE(gain->LoadPreset(file)) << broken.name;
        EXPECT_THAT(log.errors(), Contains(errorLine("LoadPreset: ", file, broken.line))) << broken.name;
    }
    std::filesystem::create_directory(folder.file("folder.fxb"));
    EXPECT_FALSE(gain->LoadBank(folder.file("folder.fxb")));
    EXPECT_THAT(log.errors(), Contains(errorLine("LoadBank: ", folder.file("folder.fxb"), " 1.BlockRead=0")));
    EXPECT_FALSE(gain->LoadBank(folder.file("missing.fxb")));
    EXPECT_THAT(log.errors(), Contains(errorLine("LoadBank: ", folder.file("missing.fxb"), " does not exist")));
    EXPECT_EQ(gain->GetParameter(0), 0.75f);
}

TEST_F(PresetFilesTest, AFailedSaveKeepsThePreviousFileAndReadOnlyFilesAreNotTouched) {
    const std::string file = folder.file("keep.fxb");
    gain->SaveBank(file, false);
    std::string before;
    ASSERT_TRUE(platform::readWholeFile(file, before));

    // The replacement fails at its last step: the old bank stays whole.
    platform::setBeforeReplaceHook([](const std::string& temporary) { std::filesystem::remove(temporary); });
    gain->SetParameter(0, 0.01f);
    gain->SaveBank(file, false);
    platform::setBeforeReplaceHook(nullptr);
    std::string after;
    ASSERT_TRUE(platform::readWholeFile(file, after));
    EXPECT_EQ(after, before);
    EXPECT_THAT(log.errors(), Contains(errorLine("SaveBank: ", file, " 3.BlockWrite=0")));

    ::chmod(file.c_str(), 0444);
    gain->SaveBank(file, false);
    gain->SavePreset(file, 0);
    EXPECT_THAT(log.errors(), Contains("SaveBank: Cannot save \"" + file + "\", is ReadOnly"));
    EXPECT_THAT(log.errors(), Contains("SavePreset: Cannot save \"" + file + "\", is ReadOnly"));
    ASSERT_TRUE(platform::readWholeFile(file, after));
    EXPECT_EQ(after, before);
}

// ---- Third-party plug-ins ----

class ThirdPartyPresets : public ::testing::TestWithParam<std::string> {};

TEST_P(ThirdPartyPresets, BanksAndProgramsRoundTrip) {
    test::LogCapture log;
    test::TempFolder folder;
    rack::Rack rack;
    const int index = test::addPlugIn(rack, GetParam(), "third party");
    ASSERT_GE(index, 0);
    TVstPlugIn& plugIn = rack.slot(index);
    const auto scramble = [&plugIn] {
        for (int i = 0; i < plugIn.effectNumParams(); ++i)
            plugIn.SetParameter(i, std::fmod(plugIn.GetParameter(i) + 0.37f, 1.0f));
    };
    // Some plug-ins apply a loaded state lazily, on their next idle or block, as a host
    // gives them: so does this test before it reads the state back.
    const auto settle = [&plugIn] {
        constexpr int kFrames = 64;
        const auto numIn = static_cast<std::size_t>(std::max(plugIn.effectNumInputs(), 1));
        const auto numOut = static_cast<std::size_t>(std::max(plugIn.effectNumOutputs(), 1));
        std::vector<std::vector<float>> inputs(numIn, std::vector<float>(kFrames, 0.0f));
        std::vector<std::vector<float>> outputs(numOut, std::vector<float>(kFrames, 0.0f));
        std::vector<float*> in, out;
        for (auto& channel : inputs) in.push_back(channel.data());
        for (auto& channel : outputs) out.push_back(channel.data());
        for (int block = 0; block < 4; ++block) {
            plugIn.Dispatch(effIdle, 0, 0, nullptr, 0.0);
            plugIn.ProcessReplacing(in.data(), out.data(), kFrames);
        }
    };
    scramble(); // away from the defaults, which a failed load could leave in place
    settle();
    const std::vector<float> saved = parametersOf(plugIn);
    ASSERT_TRUE(plugIn.SaveBank(folder.file("bank.fxb"), false));
    ASSERT_TRUE(plugIn.SavePreset(folder.file("program.fxp"), 0));

    for (const char* file : {"bank.fxb", "program.fxp"}) {
        scramble();
        const bool loaded =
            std::string(file) == "bank.fxb" ? plugIn.LoadBank(folder.file(file)) : plugIn.LoadPreset(folder.file(file));
        ASSERT_TRUE(loaded) << file << ::testing::PrintToString(log.errors());
        settle();
        const std::vector<float> restored = parametersOf(plugIn);
        ASSERT_EQ(restored.size(), saved.size());
        for (std::size_t i = 0; i < saved.size(); ++i)
            EXPECT_NEAR(restored[i], saved[i], 1e-5f) << file << " parameter " << i;
    }
    EXPECT_TRUE(log.errors().empty()) << ::testing::PrintToString(log.errors());
}

INSTANTIATE_TEST_SUITE_P(Dpf, ThirdPartyPresets, ::testing::ValuesIn(test::thirdPartyPlugins()), test::pluginTestName);

} // namespace
} // namespace trelvo::host
