// trelvo --paths: where the program keeps and finds its files.

#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/RunModes.h"
#include "persist/AppSettings.h"
#include "platform/TrelvoHome.h"
#include "ui/SharedFiles.h"

namespace trelvo::app {

int printPaths() {
    // The shared folder is found beside the program, which Qt tells once it runs.
    int argc = 1;
    char name[] = "trelvo";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);
    const auto line = [](const char* what, const std::string& path) {
        std::error_code error;
        const bool there = !path.empty() && std::filesystem::exists(path, error);
        std::printf("%s\t%s%s\n", what, path.c_str(), there ? "" : " (missing)");
    };
    line("home", platform::trelvoHome());
    line("settings", persist::AppSettings().fileName());
    line("shared", ui::sharedFolder().toStdString());
    line("guide", ui::sharedFile(QStringLiteral("help/Trelvo.html")).toStdString());
    const auto plugins = platform::ownPluginFolders();
    if (plugins.empty()) line("plug-ins", "");
    for (const std::string& folder : plugins) line("plug-ins", std::filesystem::weakly_canonical(folder).string());
    return 0;
}

} // namespace trelvo::app
