#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "remote/OscEndpoint.h"

namespace trelvo::rack {
class RackController;
}

namespace trelvo::remote {

/// A client of a session manager that speaks the NSM protocol over OSC: announces the
/// program, opens and saves its project in the folder the manager names
/// (<folder>/Trelvo.vprj), reports unsaved changes, and hides or shows the window when
/// the program has one. Only the manager's messages are taken. Thread: user interface.
class NsmClient {
public:
    /// "NSM_URL", when a session manager started the program; empty otherwise.
    static std::string managerUrl();

    /// Announces at once; failed() tells whether the manager could not be reached.
    NsmClient(rack::RackController& controller, const std::string& managerUrl, bool hasWindow,
              const std::string& executable);
    ~NsmClient();
    NsmClient(const NsmClient&) = delete;
    NsmClient& operator=(const NsmClient&) = delete;

    bool failed() const noexcept { return !reachable; }
    /// The session's project file, once the manager opened one.
    const std::string& projectFile() const noexcept { return project; }

    /// How projects are opened, made and saved: the controller's own unless the window
    /// puts in its own.
    std::function<bool(const std::string& path)> openProject;
    std::function<void()> newProject;
    std::function<bool(const std::string& path)> saveProjectTo;
    /// True while the rack must not be replaced (a dialog of the user's is open): the
    /// manager's open waits until it is false.
    std::function<bool()> rackInUse = [] { return false; };
    /// Shows (true) or hides the window; set by the window.
    std::function<void(bool show)> showWindow;
    /// The window was shown or hidden by other means: the manager is told.
    void windowShown(bool shown);

    /// Lets go of the controller before it goes (the program's shut-down): the user's own
    /// "Last Project" goes back into the settings before they are written (a session's
    /// project is not the one the user opens next time outside the session), and nothing
    /// is touched afterwards. The destructor does it when it was not done.
    void detach();

    /// Handles the manager's messages and reports changes of the dirty state. The
    /// controller's idle tick calls it. Thread: user interface.
    void tick();

    /// The session manager's error codes this client uses.
    static constexpr int kErrGeneral = -1;
    static constexpr int kErrNoSessionOpen = -6;
    static constexpr int kErrBadProject = -9;
    static constexpr int kErrCreateFailed = -10;

private:
    void handle(const OscRequest& request);
    void open(const std::string& folder);
    void save();
    void send(const OscMessage& message) { endpoint.send(manager, message); }
    void error(const std::string& address, int code, const std::string& text);

    rack::RackController& controller;
    OscEndpoint endpoint;
    OscPeer manager;
    bool reachable = false;
    bool hasWindow = false;
    int dutyId = 0;
    bool detached = false;
    OscRequest waiting; ///< an open that waits for rackInUse to clear
    bool hasWaiting = false;
    std::string project;
    std::string userLastProject;
    int reportedDirty = -1; ///< -1 not yet reported, else 0 clean, 1 dirty
    std::uint32_t lastDirtyCheck = 0;
};

} // namespace trelvo::remote
