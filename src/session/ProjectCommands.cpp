// The rack controller: new, open and save of projects.

#include "platform/TrelvoHome.h"
#include "session/ControllerText.h"
#include "session/ProjectFile.h"
#include "session/RackController.h"

namespace trelvo::rack {

using detail::folderOf;

// ---- Projects ----

void RackController::newProject() {
    newRack();
    pages = PageTabs{};
    templateSlot = -1;
    libraryReplacedTemplate = false;
    projectName = "untitled";
    caption = projectName;
}

bool RackController::openProject(const std::string& path) {
    if (!project::loadProject(*this, path)) return false;
    settings.lastProject = path;
    projectName = platform::fileNamePart(path);
    return true;
}

bool RackController::saveProjectTo(const std::string& path) {
    if (!project::saveProject(*this, path)) return false;
    settings.lastProject = path;
    projectName = platform::fileNamePart(path);
    return true;
}

bool RackController::saveProject() {
    const bool named =
        !settings.dllTemplateMode && templateSlot < 0 && !projectName.empty() && projectName != "untitled";
    if (!named) return saveProjectAs();
    // A project whose file has gone is not saved under its old name unasked.
    if (!platform::isRegularFile(settings.lastProject)) return false;
    return saveProjectTo(settings.lastProject);
}

bool RackController::saveProjectAs() {
    if (!askSavePath) return false;
    const bool named =
        !settings.dllTemplateMode && templateSlot < 0 && !projectName.empty() && projectName != "untitled";
    const std::string proposed = named ? settings.lastProject : folderOf(settings.lastProject) + "new project";
    const std::string path = askSavePath("Save project as", proposed);
    return !path.empty() && saveProjectTo(path);
}

} // namespace trelvo::rack
