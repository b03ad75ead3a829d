// Takes a picture of the main window with the demo rack on the X server of DISPLAY, for the
// README: trelvo_screenshot OUTPUT.png [dark] [midi|details|info|ports|params|docked] (the
// last: the properties dialog on that page instead of the main window, or the window with
// the parameter list in the mixer panel or docked). tools/take-screenshot.sh runs it on Xvfb.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QScreen>
#include <QStyleFactory>
#include <QTest>
#include <cstdio>
#include <string>

#include "TestPaths.h"
#include "diag/DiagLog.h"
#include "session/RackController.h"
#include "session/Session.h"
#include "support/TempFolder.h"
#include "ui/StatusWindows.h"
#include "ui/TMainForm.h"
#include "ui/TVstEdt.h"
#include "ui/TdlgPrefs.h"
#include "ui/TfrmProperties.h"
#include "ui/TfrmScanList.h"

namespace {

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2B, 0x2B, 0x2B));
    dark.setColor(QPalette::WindowText, QColor(0xE8, 0xE8, 0xE8));
    dark.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    dark.setColor(QPalette::AlternateBase, QColor(0x2B, 0x2B, 0x2B));
    dark.setColor(QPalette::Text, QColor(0xE8, 0xE8, 0xE8));
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ButtonText, QColor(0xE8, 0xE8, 0xE8));
    dark.setColor(QPalette::Highlight, QColor(0x3D, 0x6F, 0xB8));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::ToolTipBase, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ToolTipText, QColor(0xE8, 0xE8, 0xE8));
    return dark;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: trelvo_screenshot OUTPUT.png [dark] [midi|details|info|ports|params|docked]\n");
        return 2;
    }
    const std::string output = argv[1];
    const bool dark = argc > 2 && std::string(argv[2]) == "dark";
    const std::string page = argc > 3 ? argv[3] : "";
    trelvo::test::TempFolder home;
    setenv("TRELVO_HOME", home.path().c_str(), 1);
    setenv("VST_PATH", (folderOf(TrelvoSynth_PATH) + ":" + folderOf(TrelvoGain_PATH)).c_str(), 1);
    trelvo::test::writeFile(home.file("Trelvo.ini"),
                            page == "surface"
                                ? "[ASIO]\r\nDriver=Dummy\r\n[vMIDIports]\r\n01_Name=MAIN\r\n02_Name=MCU\r\n"
                                : "[ASIO]\r\nDriver=Dummy\r\n");

    QApplication application(argc, argv);
    QApplication::setApplicationName("Trelvo");
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    if (dark) QApplication::setPalette(darkPalette());

    trelvo::app::Session session(true);
    int status = 0;
    {
        trelvo::ui::TMainForm form(session, std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj");
        form.move(10, 10);
        form.show();
        if (!QTest::qWaitFor([&] { return form.stage() == trelvo::ui::TMainForm::Stage::Painted; }, 15000)) {
            std::fprintf(stderr, "trelvo_screenshot: the window did not start\n");
            return 1;
        }
        const auto grab = [&](QWidget& window) {
            const QRect frame = window.frameGeometry();
            const QPixmap picture = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
            return picture.save(QString::fromStdString(output)) ? 0 : 1;
        };
        if (page.rfind("prefs", 0) == 0) {
            trelvo::ui::TdlgPrefs dialog(*session.controller, &form);
            dialog.showPage(QString::fromStdString(page.size() > 6 ? page.substr(6) : "General"));
            dialog.move(20, 20);
            dialog.show();
            QTest::qWait(500);
            status = grab(dialog);
            dialog.reject();
            form.close();
            return status;
        }
        if (page == "scan") {
            trelvo::ui::TfrmScanList::workerProgram = TRELVO_EXECUTABLE_PATH;
            trelvo::ui::TfrmScanList window(*session.controller, &form);
            window.findChild<QLineEdit*>("edPluginsFolder")
                ->setText(QString::fromStdString(
                    std::string(TrelvoSynth_PATH).substr(0, std::string(TrelvoSynth_PATH).rfind('/'))));
            window.move(20, 20);
            window.show();
            window.scanFolder();
            QTest::qWait(500);
            status = grab(window);
            window.close();
            form.close();
            return status;
        }
        if (page == "surface") {
            // The simulated surface in the rack, its editor open, and the surface window.
            form.resize(1080, 560);
            const int sim = session.controller->loadPlugin(MCUsim_PATH);
            form.ShowEditor(sim);
            if (trelvo::ui::TVstEdt* editor = form.editorOf(sim)) editor->move(4, 4);
            form.command("mnMcu")->trigger();
            if (auto* surface = form.findChild<trelvo::ui::TFrmMcuSts*>())
                surface->move(form.x() + 260, form.y() + form.frameGeometry().height() + 4);
            if (!QTest::qWaitFor([&] { return session.controller->surface().state().isActive(); }, 5000))
                std::fprintf(stderr, "trelvo_screenshot: the surface did not start\n");
            session.controller->rack().transport().pressStartPause();
            QTest::qWait(2500);
            form.idleTick();
            QTest::qWait(300);
            const QRect frame = form.frameGeometry().adjusted(0, 0, 0, 110);
            const QPixmap picture = form.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
            status = picture.save(QString::fromStdString(output)) ? 0 : 1;
            form.command("mnMcu")->trigger();
            form.close();
            return status;
        }
        if (page == "status") {
            form.resize(900, 520);
            form.command("mnStatus2")->trigger();
            form.command("mnMcu")->trigger();
            // Both default to the top of the window: the picture shows them one above the other.
            if (auto* surface = form.findChild<trelvo::ui::TFrmMcuSts*>())
                surface->move(surface->x(), surface->y() + 100);
            trelvo::diag::theLog().Status("Preset 7 loaded");
            QTest::qWait(800);
            form.idleTick();
            QTest::qWait(300);
            const QRect frame = form.frameGeometry().adjusted(0, 0, 0, 120);
            const QPixmap picture = form.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
            status = picture.save(QString::fromStdString(output)) ? 0 : 1;
            form.command("mnStatusHide")->trigger();
            form.command("mnMcu")->trigger();
            form.close();
            return status;
        }
        const bool withParameters = page == "params" || page == "docked";
        if (withParameters) form.setParameterPlace(page == "params" ? 'M' : 'D');
        if (!page.empty() && !withParameters) {
            const bool ports = page == "ports";
            trelvo::ui::TfrmProperties dialog(*session.controller, 2,
                                              ports ? trelvo::rack::PropertiesEditor::kVirtualPortMode
                                                    : trelvo::rack::PropertiesEditor::kSlotMode,
                                              &form);
            if (ports) dialog.editor().addVirtualPort("MCU");
            dialog.refresh();
            if (auto* pages = dialog.findChild<QListWidget*>("lvPages"); pages != nullptr && !ports)
                pages->setCurrentRow(page == "details" ? 1 : page == "info" ? 2 : 0);
            dialog.move(20, 20);
            dialog.show();
            QTest::qWait(500);
            const QRect frame = dialog.frameGeometry();
            const QPixmap picture = dialog.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
            status = picture.save(QString::fromStdString(output)) ? 0 : 1;
            dialog.close();
            form.close();
            return status;
        }
        // The synthesizer's editor open, and a moment of play, so that the transport shows
        // something.
        form.resize(900, 520);
        session.controller->select(2);
        form.ShowHideEditor(1);
        if (trelvo::ui::TVstEdt* editor = form.editorOf(2)) editor->move(12, 12);
        session.controller->rack().transport().pressStartPause();
        QTest::qWait(1500);
        // From the X server, so that the plug-in's own window (not a Qt widget) is in it.
        const QRect frame = form.frameGeometry();
        const QPixmap picture = form.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        if (!picture.save(QString::fromStdString(output))) {
            std::fprintf(stderr, "trelvo_screenshot: cannot write %s\n", output.c_str());
            status = 1;
        }
        form.close();
    }
    return status;
}
