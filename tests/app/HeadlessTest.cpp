// trelvo --headless as the program: on the Dummy driver and on a JACK server of the
// test's own, stopping on SIGTERM with its settings and log written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <set>
#include <thread>

#include "TestPaths.h"
#include "platform/Clock.h"
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
    ProgramResult run(std::vector<std::string> arguments, int terminateAfterMs = -1,
                      const std::atomic<bool>* terminateNow = nullptr) {
        arguments.insert(arguments.begin(), "--headless");
        return runProgram(TRELVO_EXECUTABLE_PATH, arguments, {"TRELVO_HOME=" + home.path()}, 90, terminateAfterMs,
                          terminateNow);
    }
    TempFolder home;
};

TEST_F(HeadlessTest, RunsTheDemoOnTheDummyDriverForTheGivenTime) {
    const ProgramResult result =
        run({std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj", "--driver", "dummy", "--seconds", "3.5"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("running headless on Dummy with 4 slots"));
    EXPECT_THAT(result.err, HasSubstr("trelvo: audio: a block takes ")); // the device state in words
    EXPECT_THAT(result.err, HasSubstr(" ms on average ("));
    const std::string settings = readFile(home.file("Trelvo.ini"));
    EXPECT_THAT(settings, HasSubstr("[VST]"));
    EXPECT_THAT(settings, ::testing::Not(HasSubstr("ASIO Driver=Dummy"))); // picked for this run only
    EXPECT_THAT(readFile(home.file("Trelvo.log")), HasSubstr("ASIOinit"));
}

TEST_F(HeadlessTest, AFirstStartCreatesTheTrelvoFolderAndWritesItsFilesThere) {
    const std::string fresh = home.file("config/Trelvo");
    const ProgramResult result =
        runProgram(TRELVO_EXECUTABLE_PATH, {"--headless", "--seconds", "0.5"}, {"TRELVO_HOME=" + fresh}, 60);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, ::testing::Not(HasSubstr("ERR:")));
    const std::string settings = readFile(fresh + "/Trelvo.ini");
    EXPECT_THAT(settings, HasSubstr("[VST]"));
    EXPECT_THAT(settings, HasSubstr("[vMIDIports]")); // written by the MIDI layer after the settings
}

// Guards the fault where the terminal was buried in debugger output nobody asked for.
TEST_F(HeadlessTest, TheDebuggerOutputReachesTheTerminalOnlyWhenAskedFor) {
    const std::string demo = std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj";
    const ProgramResult quiet = run({demo, "--driver", "Dummy", "--seconds", "0.5"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    for (const char* chatter : {"DBGVIEWCLEAR", ".setPluginPRF", " closing", " destroyed"})
        EXPECT_THAT(quiet.err, ::testing::Not(HasSubstr(chatter)));
    EXPECT_THAT(readFile(home.file("Trelvo.log")), HasSubstr(" closing")) << "the log file keeps its lines";

    const ProgramResult verbose = run({demo, "--driver", "Dummy", "--seconds", "0.5", "--verbose"});
    EXPECT_THAT(verbose.err, HasSubstr("DBGVIEWCLEAR"));
    EXPECT_THAT(verbose.err, HasSubstr(" destroyed"));
    const ProgramResult environment = runProgram(TRELVO_EXECUTABLE_PATH, {"--headless", demo, "--seconds", "0.5"},
                                                 {"TRELVO_HOME=" + home.path(), "TRELVO_DEBUG=1"}, 60);
    EXPECT_THAT(environment.err, HasSubstr(".setPluginPRF"));
}

// Guards the fault where a plug-in's fault went unsaid until the log was read at exit.
TEST_F(HeadlessTest, APlugInFaultIsSaidWhenItHappensAndOnce) {
    const ProgramResult result = run({TrelvoFaulty_CrashInProcess_PATH, "--driver", "Dummy", "--seconds", "2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string fault = "(" + std::string(TrelvoFaulty_CrashInProcess_PATH) + ") faulted: SIGSEGV";
    const std::size_t said = result.err.find(fault);
    ASSERT_NE(said, std::string::npos) << result.err;
    EXPECT_LT(said, result.err.find("trelvo: stopping")) << "said while running, not at shut-down";
    EXPECT_EQ(result.err.find(fault, said + 1), std::string::npos) << "said once";
}

/// A plug-in its profile isolates, which crashes in every block: its worker is restarted
/// once, then it stays off, and the program plays on until it is stopped.
void expectIsolatedCrashesEndOff(const ProgramResult& result) {
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("its worker process ended (SIGSEGV); its input passes unchanged while it is "
                                      "restarted"));
    EXPECT_THAT(result.err, HasSubstr("its worker process ended (SIGSEGV) again soon after a restart"));
    EXPECT_THAT(result.err, HasSubstr("trelvo: stopping"));
}

class IsolatedHeadlessTest : public HeadlessTest {
protected:
    IsolatedHeadlessTest() {
        std::filesystem::create_directories(home.file("VSTprofiles"));
        writeFile(home.file("VSTprofiles/TrelvoFaulty-CrashInProcess.vprf"), "[VST]\r\nisolated=1\r\n");
    }
};

TEST_F(IsolatedHeadlessTest, AnIsolatedPlugInThatCrashesLeavesTheDummyDriverPlaying) {
    expectIsolatedCrashesEndOff(run({TrelvoFaulty_CrashInProcess_PATH, "--driver", "Dummy", "--seconds", "2"}));
}

TEST_F(IsolatedHeadlessTest, AnIsolatedPlugInThatCrashesLeavesJackPlaying) {
    JackServer server;
    ASSERT_TRUE(server.running());
    const ProgramResult result = run({TrelvoFaulty_CrashInProcess_PATH, "--driver", "JACK"}, 2500);
    EXPECT_THAT(result.err, HasSubstr("running headless on JACK"));
    expectIsolatedCrashesEndOff(result);
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

/// A JACK client of the test's own that looks at and changes the graph.
class GraphClient {
public:
    GraphClient() { client = jack_client_open("graph", JackNoStartServer, nullptr); }
    ~GraphClient() {
        if (client != nullptr) jack_client_close(client);
    }
    std::set<std::string> peersOf(const char* name) {
        std::set<std::string> peers;
        if (client == nullptr || jack_port_by_name(client, name) == nullptr) return peers;
        const char** names = jack_port_get_all_connections(client, jack_port_by_name(client, name));
        for (std::size_t i = 0; names != nullptr && names[i] != nullptr; ++i) peers.insert(names[i]);
        if (names != nullptr) jack_free(names);
        return peers;
    }
    jack_client_t* client;
};

template <class Done> bool waitFor(Done done, std::uint32_t limitMs = 20000) {
    const std::uint32_t began = platform::tickCountMs();
    while (!done()) {
        if (platform::tickCountMs() - began > limitMs) return false;
        platform::sleepMs(50);
    }
    return true;
}

TEST_F(HeadlessTest, ComesBackOnItsOwnWhenTheJackServerRestarts) {
    JackServer server;
    ASSERT_TRUE(server.running());
    std::atomic<bool> done{false};
    bool portsCameUp = false, rewired = false, serverCameBack = false, reconnected = false;
    std::thread operatorAtTheDesk([&] {
        {
            GraphClient graph;
            // Running: connected to the default ports.
            portsCameUp = waitFor([&] { return graph.peersOf("trelvo:out_1").count("system:playback_1") == 1; });
            rewired = portsCameUp && jack_disconnect(graph.client, "trelvo:out_1", "system:playback_1") == 0 &&
                      jack_connect(graph.client, "trelvo:out_1", "system:playback_2") == 0;
        }
        platform::sleepMs(3000); // Trelvo notes the new wiring once it has held for a second
        server.stop(SIGTERM);
        platform::sleepMs(4000); // longer than the 3 s between two device state lines
        serverCameBack = server.start();
        GraphClient graph;
        reconnected =
            waitFor([&] { return graph.peersOf("trelvo:out_1") == std::set<std::string>{"system:playback_2"}; });
        done = true;
    });
    const ProgramResult result = run({"--driver", "JACK"}, -1, &done);
    operatorAtTheDesk.join();
    ASSERT_TRUE(portsCameUp) << result.err;
    ASSERT_TRUE(rewired);
    ASSERT_TRUE(serverCameBack);
    EXPECT_TRUE(reconnected) << "trelvo:out_1 is not connected as it was";
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("trelvo: the JACK driver went away; waiting for it to come back"));
    EXPECT_THAT(result.err, HasSubstr("trelvo: audio: JACK: waiting for server")); // the device state line
    EXPECT_THAT(result.err, HasSubstr("trelvo: the JACK driver is back; audio plays again"));
    // The log file keeps the engine's own line.
    EXPECT_THAT(readFile(home.file("Trelvo.log")), HasSubstr("JACK server back: audio restarted"));
}

} // namespace
} // namespace trelvo::test
