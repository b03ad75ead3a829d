#include "host/TVstPlugIn.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestPaths.h"
#include "diag/DiagLog.h"
#include "diag/OpcodeLevels.h"
#include "rack/Rack.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::host {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// True while the library is mapped into the process.
bool libraryIsMapped(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

class LoaderTest : public ::testing::Test {
protected:
    LoaderTest() {
        rack.addSlot(rack::SlotKind::Output);
        rack.addSlot(rack::SlotKind::Channel);
    }

    TVstPlugIn& open(const std::string& path, const std::string& name = "Slot") {
        TVstPlugIn& plugIn = rack.slot(2);
        plugIn.DllPath = path;
        plugIn.SlotName = name;
        plugIn.Open();
        return plugIn;
    }

    test::LogCapture log;
    rack::Rack rack;
};

TEST_F(LoaderTest, OpensAPlugInStepByStepAndLogsEachStep) {
    TVstPlugIn& gain = open(TrelvoGain_PATH, "Gain");
    EXPECT_TRUE(gain.Active.load());
    EXPECT_TRUE(gain.Opened.load());
    EXPECT_TRUE(gain.PlugLoaded.load());
    EXPECT_FALSE(gain.Opening.load());
    EXPECT_EQ(gain.kind(), rack::SlotKind::Plugin);
    EXPECT_EQ(gain.UniqueIdText, "TGan");
    EXPECT_EQ(gain.VstVersion, 2400);
    EXPECT_EQ(gain.PlugCategory, kPlugCategEffect);
    EXPECT_EQ(gain.NumPrograms, 4);
    EXPECT_TRUE(gain.CanBypass);
    EXPECT_FALSE(gain.CanReceiveMidi);
    EXPECT_EQ(gain.numInputs, 2);
    EXPECT_FALSE(gain.isMidiPlugin);
    EXPECT_EQ(reinterpret_cast<TVstPlugIn*>(gain.PVstEffect.load()->resvd1), &gain);

    const std::string path = TrelvoGain_PATH;
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 8u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "Open: \"" + path + "\"");
    EXPECT_EQ(lines[1], "Load: \"" + path + "\"");
    EXPECT_THAT(lines[2], ::testing::MatchesRegex("2:Library loaded: TrelvoGain\\.so [0-9]+"));
    EXPECT_EQ(lines[3], "FMainFunction \"VSTPluginMain\" OK...");
    EXPECT_EQ(lines[4], "Load OK");
    EXPECT_EQ(lines[5], "effOpen: \"" + path + "\"");
    EXPECT_EQ(lines[6], "canRxVstMidiEvent=0");
    EXPECT_EQ(lines[7], "end of .open");
}

TEST_F(LoaderTest, CloseKeepsTheLibraryAndRefusesLaterCalls) {
    TVstPlugIn& gain = open(TrelvoGain_PATH, "Gain");
    EXPECT_EQ(gain.GetEffectName(), "TrelvoGain");
    log.clear();
    gain.Close();
    EXPECT_FALSE(gain.Active.load());
    EXPECT_FALSE(gain.hasEffect());
    EXPECT_TRUE(gain.PlugLoaded.load());
    EXPECT_TRUE(libraryIsMapped(TrelvoGain_PATH));
    EXPECT_THAT(log.lines(), ElementsAre("Closing: \"TrelvoGain\"", "effClose: \"TrelvoGain\""));

    log.clear();
    EXPECT_EQ(gain.Dispatch(effEditClose, 0, 0, nullptr, 0.0), kDispatchRefused);
    EXPECT_THAT(log.errors(), ElementsAre("0:.dispatchTo \"TrelvoGain\", 15:15:effEditClose"));
    EXPECT_EQ(gain.GetProgram(), -1); // Active-guarded wrappers answer neutral values
    EXPECT_EQ(gain.GetProgramName(), "");
    EXPECT_EQ(gain.GetParamName(0), "");

    gain.Open(); // a later open loads again
    EXPECT_TRUE(gain.Active.load());
    EXPECT_EQ(gain.GetParamName(0), "Gain");
    rack.clearSlot(2);
    EXPECT_FALSE(libraryIsMapped(TrelvoGain_PATH));
}

TEST_F(LoaderTest, ALibraryWithBothEntryPointsIsEnteredThroughMainOnly) {
    TVstPlugIn& both = open(TrelvoFaulty_BothEntries_PATH);
    ASSERT_TRUE(both.Active.load());
    EXPECT_EQ(both.GetEffectName(), "Faulty via main");
    EXPECT_THAT(log.lines(), Contains("2:Library ====== loaded..."));
    EXPECT_THAT(log.lines(), Contains("2:FMainFunction \"main\" OK..."));

    rack.clearSlot(2);
    TVstPlugIn& mainOnly = open(TrelvoFaulty_MainOnly_PATH);
    EXPECT_EQ(mainOnly.GetEffectName(), "Faulty via main");
}

struct LoadFailure {
    const char* name;
    const char* path;
    const char* reason;
};

class LoadFailureTest : public LoaderTest, public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(LoadFailureTest, LeavesTheSlotUnloadedWithOneReasonLine) {
    TVstPlugIn& plugIn = open(GetParam().path);
    EXPECT_FALSE(plugIn.Active.load());
    EXPECT_FALSE(plugIn.PlugLoaded.load());
    EXPECT_FALSE(plugIn.Opened.load());
    EXPECT_FALSE(plugIn.Opening.load());
    EXPECT_FALSE(plugIn.hasEffect());
    EXPECT_FALSE(plugIn.FDLLHandle.isOpen());
    EXPECT_EQ(plugIn.NumPrograms, -1);
    EXPECT_THAT(log.errors(), Contains(std::string("unload ") + GetParam().path + ": " + GetParam().reason));
    EXPECT_EQ(plugIn.Dispatch(effGetProgram, 0, 0, nullptr, 0.0), kDispatchRefused);
}

const LoadFailure kLoadFailures[] = {
    {"NoEntryPoint", TrelvoFaulty_NoEntry_PATH, "2:FMainFunction = nil"},
    {"NilEffect", TrelvoFaulty_NilEntry_PATH, "PVstEffect = nil"},
    {"WrongMagic", TrelvoFaulty_BadMagic_PATH, "No correct magic in DLL"},
    {"ThrowingEntry", TrelvoFaulty_ThrowInEntry_PATH, "FMainFunction \"VSTPluginMain\" failed"},
    {"MissingFile", "/no/such/plugin.so", "File does not exist"},
    {"NotALibrary", "/etc/hostname", "FDLLHandle = 0"},
    {"AFolder", "/usr/lib", "FDLLHandle = 0"},
};

INSTANTIATE_TEST_SUITE_P(Cases, LoadFailureTest, ::testing::ValuesIn(kLoadFailures),
                         [](const ::testing::TestParamInfo<LoadFailure>& test) {
                             return std::string(test.param.name);
                         });

TEST_F(LoaderTest, AWrongMagicFreesTheLibrary) {
    open(TrelvoFaulty_BadMagic_PATH);
    EXPECT_FALSE(libraryIsMapped(TrelvoFaulty_BadMagic_PATH));
}

TEST_F(LoaderTest, AnEntryPointThatFaultsQuarantinesAndKeepsTheLibraryMapped) {
    TVstPlugIn& plugIn = open(TrelvoFaulty_CrashInEntry_PATH);
    EXPECT_FALSE(plugIn.PlugLoaded.load());
    EXPECT_TRUE(plugIn.isQuarantined());
    EXPECT_TRUE(libraryIsMapped(TrelvoFaulty_CrashInEntry_PATH));
    EXPECT_THAT(log.errors(), Contains(HasSubstr("SIGSEGV")));
    EXPECT_THAT(log.errors(), Contains(std::string("unload ") + TrelvoFaulty_CrashInEntry_PATH +
                                       ": FMainFunction \"VSTPluginMain\" failed"));
    // The slot can take a healthy plug-in afterwards.
    rack.clearSlot(2);
    EXPECT_TRUE(open(TrelvoGain_PATH).Active.load());
}

TEST_F(LoaderTest, AnExceptionInsideTheDispatcherIsAbsorbed) {
    TVstPlugIn& plugIn = open(TrelvoFaulty_ThrowInOpen_PATH);
    EXPECT_THAT(log.errors(), Contains("0:>dispatchTo \"\", 00:effOpen"));
    EXPECT_TRUE(plugIn.Active.load()); // the open sequence goes on, as designed
    EXPECT_FALSE(plugIn.isQuarantined());
    EXPECT_EQ(plugIn.GetEffectName(), "Faulty via VSTPluginMain");
}

TEST_F(LoaderTest, AHardwareFaultInOpenQuarantinesTheSlot) {
    TVstPlugIn& plugIn = open(TrelvoFaulty_CrashInOpen_PATH, "Crashy");
    EXPECT_TRUE(plugIn.isQuarantined());
    EXPECT_FALSE(plugIn.Active.load());
    EXPECT_THAT(log.errors(), Contains(HasSubstr("quarantined slot 2 \"Crashy\": SIGSEGV")));
    log.clear();
    EXPECT_EQ(plugIn.Dispatch(effGetProgram, 0, 0, nullptr, 0.0), kDispatchRefused);
    EXPECT_THAT(log.errors(), ElementsAre("0:.dispatchTo \"\", 3:3:effGetProgram (quarantined)"));
    // Refusals are said once: the MIDI delivery of every block would otherwise add a line.
    EXPECT_EQ(plugIn.Dispatch(effProcessEvents, 0, 0, nullptr, 0.0), kDispatchRefused);
    EXPECT_EQ(log.errors().size(), 1u);
    EXPECT_EQ(plugIn.quarantineReason(), "SIGSEGV (invalid memory access) in Open");
    rack.clearSlot(2);
    EXPECT_TRUE(libraryIsMapped(TrelvoFaulty_CrashInOpen_PATH));
}

class ProcessFaultTest : public LoaderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ProcessFaultTest, AFaultInProcessingQuarantinesAndLaterCallsDoNothing) {
    TVstPlugIn& plugIn = open(GetParam());
    ASSERT_TRUE(plugIn.Active.load());
    std::vector<float> buffer(64, 0.5f), output(64, 7.0f);
    float* in[2] = {buffer.data(), buffer.data()};
    float* out[2] = {output.data(), output.data()};
    EXPECT_FALSE(plugIn.ProcessReplacing(in, out, 64));
    EXPECT_TRUE(plugIn.isQuarantined());
    EXPECT_FALSE(plugIn.ProcessReplacing(in, out, 64));
    EXPECT_FALSE(plugIn.Process(in, out, 64));
    EXPECT_EQ(plugIn.Dispatch(effGetProgram, 0, 0, nullptr, 0.0), kDispatchRefused);
    EXPECT_EQ(plugIn.GetParameter(0), 0.0f);
}

// A plug-in that threw out of its process call has left its state half-updated: it is
// quarantined like one that faulted, rather than silencing its strip block after block.
INSTANTIATE_TEST_SUITE_P(Faults, ProcessFaultTest,
                         ::testing::Values(TrelvoFaulty_CrashInProcess_PATH, TrelvoFaulty_DivideInProcess_PATH,
                                           TrelvoFaulty_ThrowInProcess_PATH));

TEST_F(LoaderTest, TheQuarantineReasonNamesTheFaultAndTheCall) {
    TVstPlugIn& crasher = open(TrelvoFaulty_CrashInProcess_PATH);
    EXPECT_EQ(crasher.quarantineReason(), "");
    std::vector<float> buffer(64, 0.5f), output(64, 0.0f);
    float* in[2] = {buffer.data(), buffer.data()};
    float* out[2] = {output.data(), output.data()};
    crasher.ProcessReplacing(in, out, 64);
    EXPECT_EQ(crasher.quarantineReason(), "SIGSEGV (invalid memory access) in processReplacing");
    rack.clearSlot(2);
    TVstPlugIn& thrower = open(TrelvoFaulty_ThrowInProcess_PATH);
    EXPECT_FALSE(thrower.isQuarantined()) << "a new load starts clean";
    thrower.ProcessReplacing(in, out, 64);
    EXPECT_THAT(thrower.quarantineReason(), ::testing::StartsWith("exception "));
    EXPECT_THAT(thrower.quarantineReason(), ::testing::EndsWith(" in processReplacing"));
}

TEST_F(LoaderTest, MidiAbilityAndVersionFallBackOnTheEffectRecord) {
    TVstPlugIn& legacy = open(TrelvoFaulty_LegacySynth_PATH);
    EXPECT_EQ(legacy.VstVersion, 1234); // effGetVstVersion answered 0
    EXPECT_TRUE(legacy.CanReceiveMidi); // canDo answered -1, but the synth flag is set
    rack.clearSlot(2);
    TVstPlugIn& synth = open(TrelvoSynth_PATH);
    EXPECT_TRUE(synth.CanReceiveMidi);
    EXPECT_FALSE(synth.CanBypass);
    rack.clearSlot(2);
    TVstPlugIn& midiFx = open(TrelvoMidiFx_PATH);
    EXPECT_TRUE(midiFx.isMidiPlugin); // no audio inputs or outputs
}

TEST_F(LoaderTest, ListingProgramNamesLogsTheEdgesAndOneDitto) {
    TVstPlugIn& synth = open(TrelvoSynth_PATH, "Synth");
    diag::plugCallLevels().setLevel(effGetProgramNameIndexed, diag::kLevelAll);
    log.clear();
    char name[65];
    for (int i = 0; i < synth.NumPrograms; ++i) synth.GetProgramNameIndexed(0, i, name);
    EXPECT_THAT(log.lines(), ElementsAre("0:dispatchTo \"Synth\", effGetProgramNameIndexed=1",
                                         "0:dispatchTo \"Synth\", effGetProgramNameIndexed=1", "         ditto",
                                         "0:dispatchTo \"Synth\", effGetProgramNameIndexed=1",
                                         "0:dispatchTo \"Synth\", effGetProgramNameIndexed=1"));
}

TEST_F(LoaderTest, ALevelOfThreeLogsThreeCallsForTheWholeRun) {
    TVstPlugIn& gain = open(TrelvoGain_PATH, "Gain");
    diag::plugCallLevels().setLevel(effGetParamName, 3);
    log.clear();
    for (int i = 0; i < 5; ++i) gain.GetParamName(0);
    EXPECT_THAT(log.lines(), ElementsAre("0:dispatchTo \"Gain\", effGetParamName=0(0)",
                                         "0:dispatchTo \"Gain\", effGetParamName=0(1)",
                                         "0:dispatchTo \"Gain\", effGetParamName=0(2)"));
    rack.clearSlot(2);
    log.clear();
    open(TrelvoGain_PATH, "Gain").GetParamName(0); // counts are never reset
    EXPECT_FALSE(log.contains("effGetParamName"));
}

TEST_F(LoaderTest, VerboseLinesShowTheArgumentsAndCanDoShowsItsQuestion) {
    TVstPlugIn& gain = open(TrelvoGain_PATH, "Gain");
    diag::plugCallLevels().setLevel(effGetParamName, diag::kLevelAll);
    diag::plugCallLevels().setLevel(effCanDo, diag::kLevelAll);
    diag::plugCallLevels().setLevel(effSetProgram, diag::kLevelAll);
    diag::theLog().switches.verbose = true;
    log.clear();
    gain.GetParamName(1);
    gain.CanDo("bypass");
    gain.SetProgram(2);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0:dispatchTo \"Gain\", effGetParamName(8,1,0,\"Balance\",0.00000)=0");
    EXPECT_THAT(lines[1],
                ::testing::MatchesRegex(R"(0:dispatchTo "Gain", effCanDo\(51,0,0,[0-9]+,0\.00000\)=1  "bypass=1")"));
    EXPECT_THAT(lines[2], ::testing::MatchesRegex(R"(0:dispatchTo "Gain", effSetProgram\(2,0,2,[0-9]+,0\.00000\)=0)"));
    EXPECT_EQ(gain.CurProgramText, "002");
}

TEST_F(LoaderTest, NothingIsLoggedWithoutWriteLogWhateverTheLevels) {
    TVstPlugIn& gain = open(TrelvoGain_PATH, "Gain");
    for (int opcode = 0; opcode < diag::kPlugOpcodeCount; ++opcode)
        diag::plugCallLevels().setLevel(opcode, diag::kLevelAll);
    diag::theLog().switches.writeLog = false;
    log.clear();
    gain.GetParamName(0);
    gain.SetProgram(1);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(LoaderTest, ParameterTextsOutsideTheRangeCallNothing) {
    TVstPlugIn& gain = open(TrelvoGain_PATH, "Gain");
    diag::plugCallLevels().setLevel(effGetParamName, diag::kLevelAll);
    log.clear();
    EXPECT_EQ(gain.GetParamName(2), "");
    EXPECT_EQ(gain.GetParamName(-1), "");
    EXPECT_EQ(rack.slot(3).GetParamName(0), ""); // a slot without a plug-in
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(LoaderTest, WrappersPassTheirArgumentsAndKeepTheirResults) {
    TVstPlugIn& synth = open(TrelvoSynth_PATH, "Synth");
    synth.SetProgram(42);
    EXPECT_EQ(synth.CurProgram, 42);
    EXPECT_EQ(synth.CurProgramText, "042");
    EXPECT_EQ(synth.GetProgram(), 42);
    EXPECT_EQ(synth.GetProgramName(), "A042 Sine");
    EXPECT_EQ(synth.CurProgramName, "A042 Sine");
    synth.SetProgramName("A name longer than twenty-four characters");
    EXPECT_EQ(synth.CurProgramName, "A name longer than twent");
    const ERect rect = synth.EditGetRect();
    EXPECT_EQ(rect.right, 320);
    EXPECT_EQ(rect.bottom, 200);
    void* chunk = nullptr;
    EXPECT_GT(synth.GetChunk(true, chunk), 0);
    EXPECT_NE(chunk, nullptr);
    EXPECT_FALSE(synth.SetBypass(true)); // no "bypass" capability: not even asked
    MidiProgramName program{};
    program.thisProgramIndex = 128;
    EXPECT_EQ(synth.GetMidiProgramName(0, program), 256);
    EXPECT_STREQ(program.name, "B000 Square");
    EXPECT_EQ(synth.EditOpen(nullptr), 0);
    EXPECT_TRUE(synth.EditorOpen.load());
    EXPECT_TRUE(synth.EditorShown.load());
    synth.Close(); // closes the editor first
    EXPECT_FALSE(synth.EditorOpen.load());
    EXPECT_EQ(TVstPlugIn::programText(7), "007");
    EXPECT_EQ(TVstPlugIn::programText(123), "123");
    EXPECT_EQ(TVstPlugIn::programText(-1), "00-1");
}

TEST_F(LoaderTest, TheHostSendsTheBlockSizeToEveryLoadedSlot) {
    open(TrelvoGain_PATH, "Gain");
    rack.setNumSlots(3);
    diag::plugCallLevels().setLevel(effSetBlockSize, diag::kLevelAll);
    diag::theLog().switches.verbose = true;
    log.clear();
    rack.host().SetBlockSize(512);
    EXPECT_EQ(rack.host().engineBlockSize.load(), 512);
    EXPECT_THAT(log.lines(), ElementsAre(HasSubstr("effSetBlockSize(11,0,512,")));
}

} // namespace
} // namespace trelvo::host

namespace trelvo::host {
namespace {

TEST_F(LoaderTest, ASlowOpenIsWaitedForAndSucceeds) {
    setenv("TRELVO_FAULTY_SLOW_MS", "150", 1);
    TVstPlugIn& slow = open(TrelvoFaulty_SlowOpen_PATH);
    unsetenv("TRELVO_FAULTY_SLOW_MS");
    EXPECT_TRUE(slow.Active.load());
    EXPECT_TRUE(log.errors().empty());
}

} // namespace
} // namespace trelvo::host
