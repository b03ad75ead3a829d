// The session manager's client in the real program: a manager of the test's own (liblo)
// starts Trelvo with NSM_URL, opens, dirties, saves and reopens its project.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "TestPaths.h"
#include "remote/OscTestClient.h"
#include "support/RunProgram.h"
#include "support/TempFolder.h"

namespace trelvo::remote {
namespace {

using test::OscReceived;
using ::testing::HasSubstr;
using ::testing::Not;

/// Trelvo running headless under the test's manager, with an OSC port to look inside.
class ManagedProgram {
public:
    /// host names the manager in NSM_URL.
    ManagedProgram(test::OscTestClient& manager, const std::string& home, int oscPort,
                   const std::string& host = "127.0.0.1") {
        program = std::thread([&, home, oscPort, host] {
            result = test::runProgram(
                TRELVO_EXECUTABLE_PATH, {"--headless", "--driver", "Dummy", "--osc-port", std::to_string(oscPort)},
                {"TRELVO_HOME=" + home, "NSM_URL=osc.udp://127.0.0.1:" + std::to_string(manager.port()) + "/"}, 60, -1,
                &stop);
        });
    }
    ~ManagedProgram() { finish(); }
    test::ProgramResult& finish() {
        stop = true;
        if (program.joinable()) program.join();
        return result;
    }

private:
    std::atomic<bool> stop{false};
    std::thread program;
    test::ProgramResult result;
};

class NsmTest : public ::testing::Test {
protected:
    /// Waits for the announce and answers it; the manager talks to the client from then on.
    void acceptAnnounce() {
        OscReceived announce;
        ASSERT_TRUE(manager.waitFor("/nsm/server/announce", nullptr, 10000, &announce));
        ASSERT_EQ(announce.types, "sssiii");
        EXPECT_EQ(announce.texts[0], "Trelvo");
        EXPECT_EQ(announce.texts[1], ":dirty:");
        EXPECT_EQ(announce.texts[2], "trelvo");
        EXPECT_EQ(announce.numbers[3], 1);
        clientPort = std::stoi(announce.source);
        manager.aim(clientPort);
        manager.send("/reply", "ssss", "/nsm/server/announce", "welcome", "test manager", ":server-control:");
    }
    bool replied(const std::string& to, int timeoutMs = 10000) {
        return manager.waitFor(
            "/reply", [&](const OscReceived& m) { return m.texts[0] == to; }, nullptr, timeoutMs);
    }

    test::TempFolder home;
    test::TempFolder sessions;
    test::OscTestClient manager;
    test::OscTestClient remote;
    const int oscPort = test::freeUdpPort();
    int clientPort = 0; ///< where Trelvo hears its manager
};

TEST_F(NsmTest, ASessionOpensSavesReportsChangesAndReopensItsProject) {
    const std::string folder = sessions.file("Trelvo.nABCD");
    const std::string project = folder + "/Trelvo.vprj";
    {
        ManagedProgram program(manager, home.path(), oscPort);
        acceptAnnounce();
        manager.send("/nsm/client/open", "sss", folder.c_str(), "Trelvo", "nABCD");
        ASSERT_TRUE(replied("/nsm/client/open"));
        EXPECT_TRUE(test::fileExists(project)); // a new client's project exists at once
        EXPECT_TRUE(manager.waitFor("/nsm/client/is_clean", nullptr, 3000));

        // A change through the remote control makes the session dirty.
        remote.aim(oscPort);
        remote.send("/trelvo/slot/mute", "ii", 1, 1);
        EXPECT_TRUE(manager.waitFor("/nsm/client/is_dirty", nullptr, 5000));

        manager.send("/nsm/client/save", "");
        ASSERT_TRUE(replied("/nsm/client/save"));
        EXPECT_TRUE(manager.waitFor("/nsm/client/is_clean", nullptr, 3000));
        const test::ProgramResult& result = program.finish();
        EXPECT_EQ(result.exitCode, 0) << result.err;
    }
    EXPECT_THAT(test::readFile(project), HasSubstr("02_RunMode=bMs")); // the channel muted
    // The user's own "Last Project" is not the session's.
    EXPECT_THAT(test::readFile(home.file("Trelvo.ini")), Not(HasSubstr(folder)));

    ManagedProgram again(manager, home.path(), oscPort);
    acceptAnnounce();
    manager.send("/nsm/client/open", "sss", folder.c_str(), "Trelvo", "nABCD");
    ASSERT_TRUE(replied("/nsm/client/open"));
    remote.aim(oscPort);
    remote.send("/trelvo/slots", "");
    EXPECT_TRUE(remote.waitFor(
        "/trelvo/slot", [](const OscReceived& m) { return m.numbers[0] == 1 && m.numbers[6] == 1; }, nullptr, 3000));
}

TEST_F(NsmTest, OnlyTheManagerIsHeardAndABadSessionPathIsAnError) {
    // The URL names this computer by another loopback address than the one the manager's
    // messages come from, as a host name often does (127.0.1.1 in /etc/hosts).
    ManagedProgram program(manager, home.path(), oscPort, "127.0.1.1");
    acceptAnnounce();
    // Another program on this computer sends the manager's commands to Trelvo's port: not
    // heard, so that no session is open afterwards.
    const std::string folder = sessions.file("Trelvo.nSTRANGER");
    test::OscTestClient stranger;
    stranger.aim(clientPort);
    stranger.send("/nsm/client/open", "sss", folder.c_str(), "Trelvo", "nSTRANGER");
    EXPECT_FALSE(manager.waitFor("/reply", nullptr, 1000));
    EXPECT_FALSE(test::fileExists(folder));
    manager.send("/nsm/client/open", "sss", "relative/path", "Trelvo", "nXYZ");
    OscReceived error;
    ASSERT_TRUE(manager.waitFor("/error", nullptr, 10000, &error));
    EXPECT_EQ(error.texts[0], "/nsm/client/open");
    manager.send("/nsm/client/save", "");
    ASSERT_TRUE(manager.waitFor("/error", nullptr, 10000, &error));
    EXPECT_EQ(error.numbers[1], -6); // no session open
}

} // namespace
} // namespace trelvo::remote
