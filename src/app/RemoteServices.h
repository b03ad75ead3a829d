#pragma once

#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "remote/NsmClient.h"
#include "remote/RemoteControl.h"
#include "session/Session.h"

namespace trelvo::app {

/// What steers the rack from outside its window: the OSC remote control when a port is set
/// (the command line's, else the settings' "OscPort"), and the session manager's client
/// when a manager started the program. Failures are logged; the program runs on.
struct RemoteServices {
    std::unique_ptr<remote::RemoteControl> osc;
    std::shared_ptr<remote::NsmClient> nsm;

    /// True when a session manager started the program: the manager, not the command line
    /// or "Last Project", says which project opens.
    static bool managed() { return !remote::NsmClient::managerUrl().empty(); }
};

RemoteServices startRemote(Session& session, const CommandLine& command, bool hasWindow);

} // namespace trelvo::app
