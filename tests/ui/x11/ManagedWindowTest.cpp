// The program with its window under a session manager of the test's own, with the OSC remote
// control on: the manager opens the session, hides and shows the window, and ends the
// program, which must close in order (the remote services let go of the rack first).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <string>

#include "TestPaths.h"
#include "remote/OscTestClient.h"
#include "support/RunProgram.h"
#include "support/TempFolder.h"

namespace trelvo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(ManagedWindowX11, ASessionManagerOpensHidesAndEndsTheWindowedProgram) {
    const char* display = std::getenv("DISPLAY");
    ASSERT_NE(display, nullptr);
    TempFolder home, sessions;
    OscTestClient manager, remote;
    const int oscPort = freeUdpPort();
    const std::string folder = sessions.file("Trelvo.nWIN");
    std::atomic<bool> stop{false};
    auto running = std::async(std::launch::async, [&] {
        return runProgram(TRELVO_EXECUTABLE_PATH, {"--osc-port", std::to_string(oscPort)},
                          {"TRELVO_HOME=" + home.path(), std::string("DISPLAY=") + display,
                           "NSM_URL=osc.udp://127.0.0.1:" + std::to_string(manager.port()) + "/"},
                          120, -1, &stop);
    });

    OscReceived announce;
    const bool announced = manager.waitFor("/nsm/server/announce", nullptr, 30000, &announce);
    if (!announced) {
        stop = true;
        const ProgramResult ended = running.get();
        FAIL() << "no announce (exit " << ended.exitCode << ")\n" << ended.err;
    }
    EXPECT_EQ(announce.texts[1], ":dirty:optional-gui:");
    manager.aim(std::stoi(announce.source));
    manager.send("/reply", "ssss", "/nsm/server/announce", "welcome", "test manager", ":server-control:");
    EXPECT_TRUE(manager.waitFor("/nsm/client/gui_is_shown", nullptr, 10000));
    manager.send("/nsm/client/open", "sss", folder.c_str(), "Trelvo", "nWIN");
    EXPECT_TRUE(manager.waitFor(
        "/reply", [](const OscReceived& m) { return m.texts[0] == "/nsm/client/open"; }, nullptr, 20000));
    EXPECT_TRUE(fileExists(folder + "/Trelvo.vprj"));

    manager.send("/nsm/client/hide_optional_gui", "");
    EXPECT_TRUE(manager.waitFor("/nsm/client/gui_is_hidden", nullptr, 10000));
    manager.send("/nsm/client/show_optional_gui", "");
    EXPECT_TRUE(manager.waitFor("/nsm/client/gui_is_shown", nullptr, 10000));

    // The remote control answers through the window's rack.
    remote.aim(oscPort);
    remote.send("/trelvo/slots", "");
    OscReceived count;
    EXPECT_TRUE(remote.waitFor("/trelvo/slots", nullptr, 10000, &count));

    stop = true; // as a session manager ends its clients: SIGTERM
    const ProgramResult ended = running.get();
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    EXPECT_THAT(readFile(home.file("Trelvo.ini")), Not(HasSubstr(folder)));
}

} // namespace
} // namespace trelvo::test
