#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Version.h"
#include "app/RemoteServices.h"
#include "app/RunModes.h"
#include "diag/DiagLog.h"
#include "platform/SingleInstance.h"
#include "session/HandOff.h"
#include "session/Session.h"
#include "ui/TMainForm.h"

namespace trelvo::app {

int runWindow(const CommandLine& command, int& argc, char** argv) {
    // Plug-in editors are X11 windows: under Wayland the window runs on XWayland.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((platform == nullptr || *platform == '\0') && wayland != nullptr && *wayland != '\0')
        setenv("QT_QPA_PLATFORM", "xcb", 1);

    // One copy runs: a second start hands its file to the running copy and ends.
    // A session manager's copy runs on its own, beside the user's.
    const bool managed = !remote::NsmClient::managerUrl().empty();
    const std::string socket = platform::SingleInstance::socketPath();
    if (!managed && handToRunningCopy(command.file, persist::AppSettings().fileName(), socket)) {
        std::printf("trelvo: handed %s to the running copy\n", command.file.empty() ? "nothing" : command.file.c_str());
        return 0;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(kProductName);
    QApplication::setApplicationVersion(kFileVersion);

    Session session(true);
    int status = 0;
    {
        ui::TMainForm form(session, command.file, command.driver);
        // Remote commands open and save through the window, whose editors and tabs follow.
        RemoteServices services = startRemote(session, command, true, remote::NsmClient::managerUrl());
        form.managedSession = services.nsm != nullptr;
        // A dialog of the user's (properties, a file dialog) is finished before the rack is
        // replaced under it.
        const auto rackInUse = [] { return QApplication::activeModalWidget() != nullptr; };
        if (services.osc) {
            services.osc->rackInUse = rackInUse;
            services.osc->openProject = [&form](const std::string& path) { return form.openProjectFile(path); };
            services.osc->saveProjectTo = [&form](const std::string& path) { return form.saveProjectFile(path); };
        }
        if (services.nsm) {
            services.nsm->rackInUse = rackInUse;
            services.nsm->openProject = [&form](const std::string& path) { return form.openProjectFile(path); };
            services.nsm->newProject = [&form] { form.startNewProject(); };
            services.nsm->saveProjectTo = [&form](const std::string& path) { return form.saveProjectFile(path); };
            services.nsm->showWindow = [&form](bool show) {
                if (show)
                    form.bringToFront();
                else
                    form.hide();
            };
        }
        // Ctrl+C in the terminal, or a system shutting down, closes the window as the user would.
        watchStopSignals();
        QTimer stopWatch;
        QObject::connect(&stopWatch, &QTimer::timeout, &form, [&form] {
            if (stopRequested()) form.close();
        });
        stopWatch.start(100);
        platform::SingleInstance instance;
        std::string why;
        if (!managed && !instance.listen(socket, why)) diag::hookedLog("single instance: " + why);
        QTimer handOffWatch;
        std::vector<std::string> handed;
        QObject::connect(&handOffWatch, &QTimer::timeout, &form, [&form, &instance, &session, &handed] {
            for (std::string& line : instance.take()) {
                form.bringToFront();
                if (line == "open") handed.push_back(handedFile(session.settings.fileName()));
            }
            // The window's own start, and a dialog of the user's (properties, a file dialog),
            // are finished first: the rack must not change under them. The second start has
            // its answer already.
            if (handed.empty() || QApplication::activeModalWidget() != nullptr ||
                form.stage() != ui::TMainForm::Stage::Painted)
                return;
            const std::vector<std::string> files = std::move(handed);
            handed.clear();
            for (const std::string& file : files) form.openHandedFile(file);
        });
        if (instance.listening()) handOffWatch.start(100);
        form.show();
        status = QApplication::exec();
        // A window closed by the system rather than by the user still closes in order.
        if (form.stage() != ui::TMainForm::Stage::Closed) form.close();
    }
    session.shutDown(true);
    return status;
}

} // namespace trelvo::app
