#include <gtest/gtest.h>

#include "TestPaths.h"
#include "support/RunProgram.h"

namespace trelvo::test {
namespace {

TEST(InfoMode, PrintsEveryFactOfAPlugInInOrder) {
    const ProgramResult result = runProgram(TRELVO_EXECUTABLE_PATH, {"--info", TrelvoGain_PATH});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string expected = std::string("file: ") + TrelvoGain_PATH + "\n" +
                                 "name: TrelvoGain\n"
                                 "vendor: Trelvo\n"
                                 "product: TrelvoGain\n"
                                 "vendor-version: 1000\n"
                                 "unique-id: TGan\n"
                                 "unique-id-hex: 5447616E\n"
                                 "vst-version: 2400\n"
                                 "version: 1000\n"
                                 "category: Effect\n"
                                 "kind: effect\n"
                                 "inputs: 2\n"
                                 "outputs: 2\n"
                                 "parameters: 2\n"
                                 "programs: 4\n"
                                 "initial-delay: 0\n"
                                 "tail-size: 0\n"
                                 "has-editor: no\n"
                                 "can-replacing: yes\n"
                                 "program-chunks: no\n"
                                 "can-do receiveVstMidiEvent: -1\n"
                                 "can-do sendVstMidiEvent: -1\n"
                                 "can-do receiveVstEvents: -1\n"
                                 "can-do sendVstEvents: -1\n"
                                 "can-do receiveVstTimeInfo: -1\n"
                                 "can-do sendVstTimeInfo: -1\n"
                                 "can-do bypass: 1\n"
                                 "can-do offline: -1\n"
                                 "can-do midiProgramNames: -1\n"
                                 "parameter 0: Gain = 0.00 dB\n"
                                 "parameter 1: Balance = 0 %\n";
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
}

TEST(InfoMode, AnInstrumentWithChunksAndAnEditorSaysSo) {
    const ProgramResult result = runProgram(TRELVO_EXECUTABLE_PATH, {"--info", TrelvoSynth_PATH});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const char* line :
         {"kind: instrument\n", "inputs: 0\n", "programs: 256\n", "has-editor: yes\n", "program-chunks: yes\n",
          "category: Synth\n", "can-do midiProgramNames: 1\n", "parameter 1: Wave = Sine\n"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line;
}

TEST(InfoMode, ALibraryThatFailsPrintsTheReasonAndExitsWithOne) {
    ProgramResult missing = runProgram(TRELVO_EXECUTABLE_PATH, {"--info", "/no/such/plugin.so"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "unload /no/such/plugin.so: File does not exist\n");

    ProgramResult noEntry = runProgram(TRELVO_EXECUTABLE_PATH, {"--info", TrelvoFaulty_NoEntry_PATH});
    EXPECT_EQ(noEntry.exitCode, 1);
    EXPECT_NE(noEntry.err.find(std::string("unload ") + TrelvoFaulty_NoEntry_PATH + ": 2:FMainFunction = nil\n"),
              std::string::npos);
}

TEST(InfoMode, APlugInThatCrashesNeverTakesTheProgramDown) {
    for (const char* path : {TrelvoFaulty_CrashInEntry_PATH, TrelvoFaulty_CrashInOpen_PATH}) {
        ProgramResult result = runProgram(TRELVO_EXECUTABLE_PATH, {"--info", path});
        EXPECT_EQ(result.exitCode, 1) << path;
        EXPECT_NE(result.err.find("SIGSEGV"), std::string::npos) << result.err;
    }
}

TEST(InfoMode, UsageErrorsExitWithTwo) {
    EXPECT_EQ(runProgram(TRELVO_EXECUTABLE_PATH, {"--info"}).exitCode, 2);
    EXPECT_EQ(runProgram(TRELVO_EXECUTABLE_PATH, {"--info", "a.so", "b.so"}).exitCode, 2);
}

} // namespace
} // namespace trelvo::test
