#include "remote/NsmClient.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Version.h"
#include "diag/DiagLog.h"
#include "platform/Clock.h"
#include "remote/QuietMessages.h"
#include "session/RackController.h"

namespace trelvo::remote {

namespace {

enum Command { kReply = 1, kError, kOpen, kSave, kShowGui, kHideGui, kSessionLoaded };

std::vector<OscAddress> managerTable() {
    return {
        {"/reply", "ss*", kReply},
        {"/error", "sis", kError},
        {"/nsm/client/open", "sss", kOpen},
        {"/nsm/client/save", "", kSave},
        {"/nsm/client/show_optional_gui", "", kShowGui},
        {"/nsm/client/hide_optional_gui", "", kHideGui},
        {"/nsm/client/session_is_loaded", "", kSessionLoaded},
    };
}

constexpr std::uint32_t kDirtyCheckMs = 500;
constexpr int kMaxPerTick = 64;
constexpr const char* kProjectFileName = "Trelvo.vprj";

} // namespace

std::string NsmClient::managerUrl() {
    const char* url = std::getenv("NSM_URL");
    return url != nullptr ? url : "";
}

NsmClient::NsmClient(rack::RackController& controller, const std::string& managerUrl, bool hasWindow,
                     const std::string& executable)
    : controller(controller), endpoint(managerTable()), hasWindow(hasWindow),
      userLastProject(controller.appSettings().lastProject) {
    openProject = [&controller](const std::string& path) { return controller.openProject(path); };
    newProject = [&controller] { controller.newProject(); };
    saveProjectTo = [&controller](const std::string& path) { return controller.saveProjectTo(path); };
    std::string why;
    if (!OscPeer::fromUrl(managerUrl, manager, why) || !endpoint.openFor(manager, why)) {
        diag::hookedLogError("session manager: " + why);
        return;
    }
    reachable = true;
    const std::string name = executable.substr(executable.find_last_of('/') + 1);
    send(OscMessage("/nsm/server/announce")
             .add(kProductName)
             .add(hasWindow ? ":dirty:optional-gui:" : ":dirty:")
             .add(name)
             .add(1)
             .add(2)
             .add(static_cast<int>(getpid())));
    diag::hookedLog("session manager: announced to " + manager.text());
    dutyId = controller.addIdleDuty([this] { tick(); });
}

NsmClient::~NsmClient() {
    detach();
}

void NsmClient::detach() {
    if (detached) return;
    detached = true;
    if (dutyId != 0) controller.removeIdleDuty(dutyId);
    dutyId = 0;
    controller.appSettings().lastProject = userLastProject;
}

void NsmClient::windowShown(bool shown) {
    if (reachable && hasWindow) send(OscMessage(shown ? "/nsm/client/gui_is_shown" : "/nsm/client/gui_is_hidden"));
}

void NsmClient::tick() {
    OscRequest request;
    for (int handled = 0; handled < kMaxPerTick; ++handled) {
        if (hasWaiting) {
            if (rackInUse()) break;
            request = waiting;
            hasWaiting = false;
        } else if (!endpoint.take(request)) {
            break; // the endpoint takes nothing from anyone but the manager
        }
        if (request.command == kOpen && rackInUse()) {
            waiting = request;
            hasWaiting = true;
            break;
        }
        handle(request);
    }
    if (project.empty() || platform::tickCountMs() - lastDirtyCheck < kDirtyCheckMs) return;
    lastDirtyCheck = platform::tickCountMs();
    // Saved elsewhere ("Save Project As") is not saved in the session.
    const int dirty = controller.isDirty() || controller.appSettings().lastProject != project ? 1 : 0;
    if (dirty != reportedDirty) {
        reportedDirty = dirty;
        send(OscMessage(dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean"));
    }
}

void NsmClient::handle(const OscRequest& request) {
    switch (request.command) {
    case kReply:
        if (std::strcmp(request.text(0), "/nsm/server/announce") == 0) {
            diag::hookedLog(std::string("session manager: ") + request.text(1));
            if (hasWindow) windowShown(true);
        }
        break;
    case kError:
        diag::hookedLogError(std::string("session manager refused ") + request.text(0) + ": " + request.text(2));
        break;
    case kOpen: open(request.text(0)); break;
    case kSave: save(); break;
    case kShowGui:
    case kHideGui:
        if (!hasWindow || !showWindow) break;
        showWindow(request.command == kShowGui);
        windowShown(request.command == kShowGui);
        break;
    case kSessionLoaded: diag::hookedLog("session manager: the session is loaded"); break;
    default: break;
    }
}

void NsmClient::error(const std::string& address, int code, const std::string& text) {
    diag::hookedLogError("session manager: " + text);
    send(OscMessage("/error").add(address).add(code).add(text));
}

void NsmClient::open(const std::string& folder) {
    if (folder.empty() || folder.front() != '/') {
        error("/nsm/client/open", kErrBadProject, "the session path \"" + folder + "\" is not a whole path");
        return;
    }
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0) {
        if (mkdir(folder.c_str(), 0755) != 0) {
            error("/nsm/client/open", kErrCreateFailed,
                  "cannot create the folder " + folder + ": " + std::strerror(errno));
            return;
        }
    } else if (!S_ISDIR(status.st_mode)) {
        error("/nsm/client/open", kErrBadProject, folder + " is not a folder");
        return;
    }
    const std::string file = folder + "/" + kProjectFileName;
    QuietMessages quiet(controller);
    if (stat(file.c_str(), &status) == 0) {
        if (!openProject(file)) {
            error("/nsm/client/open", kErrBadProject, quiet.text().empty() ? "cannot open " + file : quiet.text());
            return;
        }
    } else {
        // A new client of the session: a new rack, saved at once so that the session has
        // its file.
        newProject();
        if (!saveProjectTo(file)) {
            error("/nsm/client/open", kErrCreateFailed, quiet.text().empty() ? "cannot write " + file : quiet.text());
            return;
        }
    }
    project = file;
    controller.markSaved();
    reportedDirty = -1;
    diag::hookedLog("session manager: opened " + file);
    send(OscMessage("/reply").add("/nsm/client/open").add("opened " + file));
}

void NsmClient::save() {
    if (project.empty()) {
        error("/nsm/client/save", kErrNoSessionOpen, "no session is open");
        return;
    }
    QuietMessages quiet(controller);
    if (!saveProjectTo(project)) {
        error("/nsm/client/save", kErrGeneral, quiet.text().empty() ? "cannot save " + project : quiet.text());
        return;
    }
    reportedDirty = -1;
    send(OscMessage("/reply").add("/nsm/client/save").add("saved " + project));
}

} // namespace trelvo::remote
