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
        watchStopSignals();
        QTimer stopWatch;
        QObject::connect(&stopWatch, &QTimer::timeout, &form, [&form] {
            if (stopRequested()) form.close();
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
