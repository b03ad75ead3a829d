#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdlib>

#include "Version.h"
#include "app/RunModes.h"
#include "diag/DiagLog.h"
#include "session/Session.h"
#include "ui/TMainForm.h"

namespace trelvo::app {

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void requestWindowClose(int) {
    gStopRequested = 1;
}

} // namespace

int runWindow(const CommandLine& command, int& argc, char** argv) {
    // Plug-in editors are X11 windows: under Wayland the window runs on XWayland.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((platform == nullptr || *platform == '\0') && wayland != nullptr && *wayland != '\0')
        setenv("QT_QPA_PLATFORM", "xcb", 1);

    QApplication application(argc, argv);
    QApplication::setApplicationName(kProductName);
    QApplication::setApplicationVersion(kFileVersion);

    Session session(true);
    int status = 0;
    {
        ui::TMainForm form(session, command.file, command.driver);
        // Ctrl+C in the terminal, or a system shutting down, closes the window as the user would.
        gStopRequested = 0;
        onStopSignals(requestWindowClose);
        QTimer stopWatch;
        QObject::connect(&stopWatch, &QTimer::timeout, &form, [&form] {
            if (gStopRequested != 0) form.close();
        });
        stopWatch.start(100);
        form.show();
        status = QApplication::exec();
        // A window closed by the system rather than by the user still closes in order.
        if (form.stage() != ui::TMainForm::Stage::Closed) form.close();
    }
    session.shutDown(true);
    return status;
}

} // namespace trelvo::app
