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
    markSaved();
}

bool RackController::openProject(const std::string& path) {
    if (!project::loadProject(*this, path)) return false;
    settings.lastProject = path;
    projectName = platform::fileNamePart(path);
    markSaved();
    return true;
}

bool RackController::saveProjectTo(const std::string& path) {
    if (!project::saveProject(*this, path)) return false;
    settings.lastProject = path;
    projectName = platform::fileNamePart(path);
    markSaved();
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

namespace {

/// FNV-1a, 64 bits: enough to tell one rack from another, cheap enough for every second.
class Digest {
public:
    void add(const std::string& text) {
        for (const char c : text) byte(static_cast<unsigned char>(c));
        byte(0);
    }
    void add(std::int64_t number) {
        for (int k = 0; k < 8; ++k) byte(static_cast<unsigned char>(static_cast<std::uint64_t>(number) >> (8 * k)));
    }
    std::uint64_t value() const noexcept { return hash; }

private:
    void byte(unsigned char c) noexcept { hash = (hash ^ c) * 0x100000001b3ULL; }
    std::uint64_t hash = 0xcbf29ce484222325ULL;
};

} // namespace

std::uint64_t RackController::stateDigest() const {
    Digest digest;
    const Rack& rack = racked;
    digest.add(rack.numSlots());
    for (int i = 0; i < rack.numSlots(); ++i) {
        const host::TVstPlugIn& slot = rack.slot(i);
        digest.add(static_cast<std::int64_t>(slot.kind()));
        digest.add(slot.SlotName);
        digest.add(slot.runMode.text());
        digest.add(slot.InpVol.getDb());
        digest.add(slot.DryVol.getDb());
        digest.add(slot.WetVol.getDb());
        digest.add(slot.pan.getStep());
        digest.add(slot.DllPath);
        digest.add(slot.PlugLoaded.load() ? slot.CurProgram : -1);
        digest.add(slot.presetMode);
    }
    return digest.value();
}

} // namespace trelvo::rack
