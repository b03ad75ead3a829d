#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "remote/OscEndpoint.h"

namespace trelvo::rack {
class RackController;
}

namespace trelvo::remote {

/// The OSC remote control: tablets, foot controllers and show-control programs steer the
/// rack through the same controller paths as the menus and the surfaces. The endpoint's
/// thread only receives and checks; every command runs here, on the user-interface thread,
/// in the controller's idle tick. Commands never open a dialog: what would have been a
/// message box is sent back as "/trelvo/error". docs/osc.md lists the addresses.
class RemoteControl {
public:
    /// Listens on host:port at once; failed() tells whether it could not.
    RemoteControl(rack::RackController& controller, const std::string& host, int port);
    ~RemoteControl();
    RemoteControl(const RemoteControl&) = delete;
    /// Lets go of the controller before it goes (the program's shut-down): no more ticks,
    /// nothing is touched afterwards. The destructor does it when it was not done.
    void detach();
    RemoteControl& operator=(const RemoteControl&) = delete;

    bool failed() const noexcept { return !listening; }
    const std::string& whyNot() const noexcept { return why; }
    int port() const noexcept { return endpoint.port(); }
    const OscRefusals& refusals() const noexcept { return endpoint.refusals(); }

    /// How a project is opened and saved: the controller's own unless the window, which
    /// has its editors and tabs to follow, puts in its own.
    std::function<bool(const std::string& path)> openProject;
    std::function<bool(const std::string& path)> saveProjectTo;
    /// True while the rack must not be replaced (a dialog of the user's is open): a project
    /// load waits until it is false.
    std::function<bool()> rackInUse = [] { return false; };

    /// Handles what arrived and sends the changes to the subscribers. The controller's idle
    /// tick calls it; tests may call it directly. Thread: user interface.
    void tick();

    static constexpr int kMaxSubscribers = 16;
    /// Requests handled in one tick at most, and how long they may take.
    static constexpr int kMaxPerTick = 500;
    static constexpr std::uint32_t kBudgetMs = 5;
    /// The largest project file a remote load accepts.
    static constexpr std::uint64_t kMaxProjectBytes = 16u << 20;

private:
    struct SlotView;
    void handle(const OscRequest& request);
    void reply(const OscPeer& to, const OscMessage& message) { endpoint.send(to, message); }
    void refuse(const OscRequest& request, const std::string& text);
    bool slotArgument(const OscRequest& request, int& slot, bool needsPlugIn);
    void sendSlot(const OscPeer& to, int slot);
    void sendAll(const OscPeer& to);
    /// Sends what changed since the last call to the subscribers; without announce it only
    /// takes the state as it is.
    void notifyChanges(bool announce = true);
    SlotView viewOf(int slot) const;
    bool isNamed() const;
    /// The project's file, empty while it has none.
    std::string projectPath() const;
    void loadProject(const OscRequest& request);
    void saveProject(const OscRequest& request, bool named);
    /// Opens or saves (verb) with the dialogs kept quiet, and answers either way.
    void runProjectCommand(const OscRequest& request, const std::string& verb, const std::string& path,
                           const std::function<bool(const std::string&)>& command);

    rack::RackController& controller;
    OscEndpoint endpoint;
    bool listening = false;
    std::string why;
    int dutyId = 0;
    OscRequest waiting; ///< a project load that waits for rackInUse to clear
    bool hasWaiting = false;
    std::vector<OscPeer> subscribers;
    std::vector<SlotView> shown;
    int shownMaster = 0;
    int shownTransport = 0;
    int shownTempo = 0;
    std::string shownProject, shownProjectPath;
    std::uint64_t reportedRefusals = 0;
    std::uint32_t lastRefusalReport = 0;
};

} // namespace trelvo::remote
