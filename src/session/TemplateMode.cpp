// The rack controller: DLL template mode, a rack built around one library or profile.

#include "persist/IniFile.h"
#include "persist/PathForms.h"
#include "platform/TrelvoHome.h"
#include "project/PluginProfile.h"
#include "session/ControllerText.h"
#include "session/ProjectFile.h"
#include "session/RackController.h"

namespace trelvo::rack {

using detail::withoutExtension;

void RackController::startWithLibrary(const std::string& path) {
    std::string library = path;
    std::string profile = project::profilePath(settings, path);
    if (path.size() > 5 && persist::sameName(path.substr(path.size() - 5), ".vprf")) {
        // A profile stands for the library it describes.
        profile = path;
        pendingProfile = path;
        persist::IniHandle handle;
        persist::OpenIni(handle, profile, "VST", persist::kIniRead);
        const std::string folder(persist::trimmed(persist::IniStr(handle, "DLLpath", "")));
        persist::CloseIni(handle);
        library = (folder.empty() ? std::string() : persist::ExpandPath({}, folder) + "/") +
                  withoutExtension(platform::fileNamePart(path)) + ".so";
    }
    settings.dllTemplateMode = true;
    pendingLibrary = library;
    std::string name;
    if (platform::isRegularFile(profile)) {
        persist::IniHandle handle;
        persist::OpenIni(handle, profile, "VST", persist::kIniRead);
        name = std::string(persist::trimmed(persist::IniStr(handle, "DLLtemplate", "")));
        persist::CloseIni(handle);
    }
    const std::string templates = settings.templatesFolder.empty() || settings.templatesFolder.back() == '/'
                                      ? settings.templatesFolder
                                      : settings.templatesFolder + "/";
    if (!name.empty() && platform::fileNamePart(name).find('.') == std::string::npos) name += ".vprj";
    std::string chosen = name.empty() ? std::string() : templates + name;
    if (chosen.empty() || !platform::isRegularFile(chosen)) chosen = templates + "DLL-template.vprj";
    bool built = platform::isRegularFile(chosen) && project::loadProject(*this, chosen);
    if (built && !libraryReplacedTemplate) {
        // A template without the placeholder still gets the library, at the end.
        loadPlugin(library);
        libraryReplacedTemplate = true;
    }
    if (!built) {
        newRack();
        const int index = loadPlugin(library);
        // An effect hears the driver's inputs through the channel; an instrument needs none.
        if (index >= 0 && racked.slot(index).PlugLoaded.load() && racked.slot(index).effectNumInputs() > 0)
            racked.slot(1).InpVol.set(0);
    }
    pendingLibrary.clear();
    pendingProfile.clear();
    projectName = "untitled";
}

RackController::Handed RackController::openHandedFile(const std::string& file) {
    Handed handed;
    if (file.empty()) return handed;
    const std::string name = platform::fileNamePart(file);
    const std::size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    const bool profile = persist::sameName(extension, ".vprf");
    if (!profile && !persist::sameName(extension, ".so") && !persist::sameName(extension, ".dll")) {
        handed.project = true;
        handed.opened = openProject(file);
        return handed;
    }
    if (settings.dllTemplateMode) {
        clearRack();
        projectName = "untitled";
        libraryReplacedTemplate = false;
        startWithLibrary(file);
        handed.slot = templateSlot;
        handed.opened = templateSlot >= 0 && racked.slot(templateSlot).PlugLoaded.load();
        return handed;
    }
    std::string library = file;
    if (profile) library = file.substr(0, file.size() - name.size()) + withoutExtension(name) + ".so";
    int slot = -1;
    if (templateSlot >= 0 && templateSlot < racked.numSlots() && racked.slot(templateSlot).kind() == SlotKind::Plugin) {
        diag::hookedLog(library + ": " + std::to_string(templateSlot));
        slot = loadPlugin(library, templateSlot);
    } else {
        slot = loadPlugin(library);
    }
    if (slot >= 0) select(slot);
    handed.slot = slot;
    handed.opened = slot >= 0 && racked.slot(slot).PlugLoaded.load();
    return handed;
}

} // namespace trelvo::rack
