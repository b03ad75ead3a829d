#include "session/HandOff.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "TestPaths.h"
#include "platform/Clock.h"
#include "platform/SingleInstance.h"
#include "session/RackController.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::app {
namespace {

/// The lines a listening copy receives while call runs on another thread.
template <class Call> std::vector<std::string> linesWhile(platform::SingleInstance& running, Call call, bool& result) {
    auto second = std::async(std::launch::async, call);
    std::vector<std::string> lines;
    while (second.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        for (std::string& line : running.take()) lines.push_back(std::move(line));
    }
    result = second.get();
    return lines;
}

TEST(HandOff, AFileGoesThroughTheSettingsToTheRunningCopyWholeAndNothingIsWrittenWithoutOne) {
    test::TempFolder folder;
    const std::string settings = folder.file("Trelvo.ini");
    const std::string socket = folder.file("t.socket");
    EXPECT_FALSE(handToRunningCopy("song.vprj", settings, socket, 300)) << "no copy runs";
    EXPECT_FALSE(std::filesystem::exists(settings)) << "and nothing was written";

    platform::SingleInstance running;
    std::string why;
    ASSERT_TRUE(running.listen(socket, why)) << why;
    const std::string project = folder.file("set list/song.vprj");
    bool handed = false;
    EXPECT_EQ(linesWhile(
                  running, [&] { return handToRunningCopy(project, settings, socket, 3000); }, handed),
              std::vector<std::string>{"open"});
    EXPECT_TRUE(handed);
    EXPECT_EQ(handedFile(settings), project);

    EXPECT_EQ(linesWhile(
                  running, [&] { return handToRunningCopy("", settings, socket, 3000); }, handed),
              std::vector<std::string>{"raise"})
        << "without a file the running copy only comes to the front";
    EXPECT_TRUE(handed);
}

class HandedFileTest : public ::testing::Test {
protected:
    HandedFileTest() { controller.newRack(); }
    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    rack::RackController controller{settings};
};

TEST_F(HandedFileTest, AProjectOpensAndALibraryOrItsProfileGoesIntoAFreeSlot) {
    const std::string project = home.file("live.vprj");
    ASSERT_TRUE(controller.saveProjectTo(project));
    controller.newProject();
    rack::RackController::Handed handed = controller.openHandedFile(project);
    EXPECT_TRUE(handed.project);
    EXPECT_TRUE(handed.opened);
    EXPECT_EQ(settings.lastProject, project);

    handed = controller.openHandedFile(TrelvoSynth_PATH);
    EXPECT_FALSE(handed.project);
    ASSERT_GE(handed.slot, 0);
    EXPECT_TRUE(handed.opened);
    EXPECT_EQ(controller.selected, handed.slot);
    EXPECT_EQ(controller.rack().slot(handed.slot).DllPath, TrelvoSynth_PATH);

    // A profile stands for the library of its name beside it.
    const std::string library = std::string(TrelvoGain_PATH);
    const std::string profile = library.substr(0, library.size() - 3) + ".vprf";
    handed = controller.openHandedFile(profile);
    ASSERT_GE(handed.slot, 0);
    EXPECT_EQ(controller.rack().slot(handed.slot).DllPath, library);

    handed = controller.openHandedFile(home.file("missing.vprj"));
    EXPECT_TRUE(handed.project);
    EXPECT_FALSE(handed.opened) << "fails as any project that does not load";
}

} // namespace
} // namespace trelvo::app
