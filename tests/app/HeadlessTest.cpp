// trelvo --headless as the program: on the Dummy driver and on a JACK server of the
// test's own, stopping on SIGTERM with its settings and log written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestPaths.h"
#include "support/JackServer.h"
#include "support/RunProgram.h"
#include "support/TempFolder.h"

namespace trelvo::test {
namespace {

using ::testing::HasSubstr;

class HeadlessTest : public ::testing::Test {
protected:
    // A log file is written only when the settings ask for it.
    HeadlessTest() { writeFile(home.file("Trelvo.ini"), "[General]\r\nWrLog=1\r\n"); }
    ProgramResult run(std::vector<std::string> arguments, int terminateAfterMs = -1) {
        arguments.insert(arguments.begin(), "--headless");
        return runProgram(TRELVO_EXECUTABLE_PATH, arguments, {"TRELVO_HOME=" + home.path()}, 60, terminateAfterMs);
    }
    TempFolder home;
};

TEST_F(HeadlessTest, RunsTheDemoOnTheDummyDriverForTheGivenTime) {
    const ProgramResult result =
        run({std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj", "--driver", "dummy", "--seconds", "3.5"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("running headless on Dummy with 4 slots"));
    EXPECT_THAT(result.err, HasSubstr("ms.... |")); // the device state line with the block times
    const std::string settings = readFile(home.file("Trelvo.ini"));
    EXPECT_THAT(settings, HasSubstr("[VST]"));
    EXPECT_THAT(settings, ::testing::Not(HasSubstr("ASIO Driver=Dummy"))); // picked for this run only
    EXPECT_THAT(readFile(home.file("Trelvo.log")), HasSubstr("ASIOinit"));
}

TEST_F(HeadlessTest, AFirstStartCreatesTheTrelvoFolderAndWritesItsFilesThere) {
    const std::string fresh = home.file("config/Trelvo");
    const ProgramResult result = runProgram(TRELVO_EXECUTABLE_PATH, {"--headless", "--seconds", "0.5"}, {"TRELVO_HOME=" + fresh}, 60);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, ::testing::Not(HasSubstr("ERR:")));
    const std::string settings = readFile(fresh + "/Trelvo.ini");
    EXPECT_THAT(settings, HasSubstr("[VST]"));
    EXPECT_THAT(settings, HasSubstr("[vMIDIports]")); // written by the MIDI layer after the settings
}

TEST_F(HeadlessTest, StopsCleanlyOnSigtermUnderJack) {
    JackServer server;
    ASSERT_TRUE(server.running());
    const ProgramResult result = run({TrelvoSynth_PATH, "--driver", "JACK"}, 2500);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("running headless on JACK"));
    EXPECT_THAT(result.err, HasSubstr("stopping"));
    EXPECT_THAT(readFile(home.file("Trelvo.ini")), HasSubstr("JACK OUT="));
    EXPECT_THAT(readFile(home.file("Trelvo.log")), HasSubstr("closing log"));
}

TEST_F(HeadlessTest, ADriverNamedButNotPresentIsAnErrorThatListsTheDriversPresent) {
    const ProgramResult result = run({"--driver", "NoSuchCard", "--seconds", "0.5"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr("the audio driver \"NoSuchCard\" is not present"));
    EXPECT_THAT(result.err, HasSubstr("the drivers present are: "));
    EXPECT_THAT(result.err, HasSubstr("Dummy"));
    EXPECT_THAT(result.err, ::testing::Not(HasSubstr("running headless")));
    EXPECT_FALSE(fileExists(home.file("Trelvo.log"))); // nothing ran
}

} // namespace
} // namespace trelvo::test
