// The main window on a real X server: a musician's first minute with the demo project, and
// the program itself started with a display.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <future>

#include "TestPaths.h"
#include "session/RackController.h"
#include "session/Session.h"
#include "support/RunProgram.h"
#include "support/TempFolder.h"
#include "ui/SlotListView.h"
#include "ui/TMainForm.h"

namespace trelvo::test {
namespace {

using ::testing::HasSubstr;

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

/// The project's own plug-ins, where a project names them by their file names.
std::string ownPluginPath() {
    return folderOf(TrelvoSynth_PATH) + ":" + folderOf(TrelvoGain_PATH);
}

/// True when the image holds more than a handful of different colours.
bool looksDrawn(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7) colours.insert(image.pixel(x, y));
    return colours.size() > 8;
}

/// Runs the event loop until ready() or the time is up.
template <typename Ready> bool waitFor(Ready ready, int milliseconds = 15000) {
    return QTest::qWaitFor(ready, milliseconds);
}

class MainWindowX11 : public ::testing::Test {
protected:
    MainWindowX11() {
        setenv("TRELVO_HOME", home.path().c_str(), 1);
        setenv("VST_PATH", ownPluginPath().c_str(), 1);
        writeFile(home.file("Trelvo.ini"), "[General]\r\nWrLog=1\r\n[ASIO]\r\nDriver=Dummy\r\n");
    }
    ~MainWindowX11() override {
        unsetenv("TRELVO_HOME");
        unsetenv("VST_PATH");
    }
    TempFolder home;
};

TEST_F(MainWindowX11, AddsAChannelSavesAndExitsFromTheKeyboard) {
    ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
    const std::string project = home.file("demo.vprj");
    writeFile(project, readFile(std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj"));
    {
        app::Session session(true);
        ui::TMainForm form(session, project);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        ASSERT_TRUE(waitFor([&] { return form.stage() == ui::TMainForm::Stage::Painted; }));
        ASSERT_EQ(session.controller->rack().numSlots(), 4);
        form.activateWindow();
        form.slotList()->setFocus();
        ASSERT_TRUE(waitFor([&] { return form.slotList()->hasFocus(); }));

        QTest::keyClick(form.slotList(), Qt::Key_Insert, Qt::ControlModifier);
        EXPECT_EQ(session.controller->rack().numSlots(), 5);
        QTest::qWait(200); // a few idle ticks: meters, captions

        // What the musician sees is a drawn window, not a blank one.
        const QImage screen = form.screen()->grabWindow(0).toImage();
        ASSERT_FALSE(screen.isNull());
        EXPECT_TRUE(screen.save(QString::fromStdString(home.file("main-window.png"))));
        EXPECT_TRUE(looksDrawn(screen.copy(form.frameGeometry())));

        QTest::keyClick(form.slotList(), Qt::Key_S, Qt::ControlModifier);
        QTest::keyClick(form.slotList(), Qt::Key_X, Qt::AltModifier);
        EXPECT_TRUE(waitFor([&] { return form.stage() == ui::TMainForm::Stage::Closed; }, 5000));
        EXPECT_FALSE(form.isVisible());
    }
    const std::string saved = readFile(project);
    EXPECT_THAT(saved, HasSubstr("05_CHANNEL=Channel 2"));
    const std::string settings = readFile(home.file("Trelvo.ini"));
    EXPECT_THAT(settings, HasSubstr("MainWindowX="));
    EXPECT_THAT(settings, HasSubstr("MainWindowW="));
    EXPECT_TRUE(fileExists(home.file("main-window.png")));
}

TEST_F(MainWindowX11, AProjectThatDoesNotExistOpensOnANewRackAndTheLogSaysWhy) {
    const std::string missing = home.file("no such project.vprj");
    app::Session session(true);
    {
        ui::TMainForm form(session, missing);
        form.show();
        ASSERT_TRUE(waitFor([&] { return form.stage() == ui::TMainForm::Stage::Painted; }));
        rack::RackController& controller = *session.controller;
        ASSERT_EQ(controller.rack().numSlots(), 2);
        EXPECT_EQ(controller.rack().slot(0).kind(), rack::SlotKind::Output);
        EXPECT_EQ(controller.rack().slot(1).kind(), rack::SlotKind::Channel);
        form.close();
    }
    session.shutDown(true);
    const std::string log = readFile(home.file("Trelvo.log"));
    EXPECT_THAT(log, HasSubstr("cannot open " + missing));
}

TEST_F(MainWindowX11, TheProgramOpensItsWindowWhenADisplayExistsAndClosesInOrderOnSigterm) {
    const char* display = std::getenv("DISPLAY");
    ASSERT_NE(display, nullptr);
    const ProgramResult result = runProgram(
        TRELVO_EXECUTABLE_PATH, {std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj"},
        {"TRELVO_HOME=" + home.path(), std::string("DISPLAY=") + display, "VST_PATH=" + ownPluginPath()}, 60, 4000);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string log = readFile(home.file("Trelvo.log"));
    // Start-up and shut-down in their designed order.
    std::vector<std::string> order = {" created",
                                      " shown",
                                      " painted",
                                      "closeQuery-0",
                                      "closeQuery-4",
                                      " closing",
                                      " closed",
                                      " destroying",
                                      " disable ASIO",
                                      " closing all slots",
                                      " closing work thread",
                                      " releasing ASIO",
                                      " clearing ASIO buffers",
                                      " destroyed"};
    std::size_t at = 0;
    for (const std::string& line : order) {
        const std::size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: \"" << line << "\"\n" << log;
        at = found + line.size();
    }
    EXPECT_THAT(readFile(home.file("Trelvo.ini")), HasSubstr("MainWindowX="));
}

/// Polls until the text holds what, at most milliseconds.
template <typename Text> bool eventually(Text text, const std::string& what, int milliseconds = 20000) {
    for (int waited = 0; waited < milliseconds; waited += 100) {
        if (text().find(what) != std::string::npos) return true;
        QTest::qWait(100);
    }
    return false;
}

TEST_F(MainWindowX11, ASecondStartHandsItsProjectToTheRunningWindowAndEnds) {
    const char* display = std::getenv("DISPLAY");
    ASSERT_NE(display, nullptr);
    const std::string demo = readFile(std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj");
    const std::string first = home.file("first.vprj"), second = home.file("second.vprj");
    writeFile(first, demo); // the synthesizer selected
    std::string other = demo;
    other.replace(other.find("curLV=3"), 7, "curLV=4"); // the gain selected
    writeFile(second, other);
    const std::vector<std::string> environment = {"TRELVO_HOME=" + home.path(), std::string("DISPLAY=") + display,
                                                  "VST_PATH=" + ownPluginPath()};
    std::atomic<bool> stop{false};
    auto running = std::async(std::launch::async,
                              [&] { return runProgram(TRELVO_EXECUTABLE_PATH, {first}, environment, 120, -1, &stop); });
    const auto log = [this] { return readFile(home.file("Trelvo.log")); };
    const auto windows = [display] {
        return runProgram("/usr/bin/xwininfo", {"-root", "-tree"}, {std::string("DISPLAY=") + display}, 10).out;
    };
    const bool shown = eventually(windows, "Saw - Trelvo");
    if (!shown) {
        stop = true;
        const ProgramResult ended = running.get();
        FAIL() << "the first copy shows no window (exit " << ended.exitCode << ")\n" << ended.out << ended.err;
    }

    const ProgramResult handing = runProgram(TRELVO_EXECUTABLE_PATH, {second}, environment, 30);
    EXPECT_EQ(handing.exitCode, 0) << handing.err;
    EXPECT_THAT(handing.out, HasSubstr("handed " + second + " to the running copy"));
    EXPECT_TRUE(eventually(windows, "Boost - Trelvo")) << "the running window shows the second project\n" << windows();

    stop = true;
    EXPECT_EQ(running.get().exitCode, 0);
    const std::string written = log();
    EXPECT_THAT(written, HasSubstr("handed over: " + second));
    EXPECT_EQ(written.find(" created", written.find(" created") + 1), std::string::npos) << "one window only";
    // Both kept in the settings relative to the Trelvo folder.
    const std::string settings = readFile(home.file("Trelvo.ini"));
    EXPECT_THAT(settings, HasSubstr("fName=second.vprj\r\n"));
    EXPECT_THAT(settings, HasSubstr("Last Project=second.vprj\r\n"));
}

} // namespace
} // namespace trelvo::test
