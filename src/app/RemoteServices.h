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
/// Both let go of the rack controller first in the session's shut-down, whoever ends first.
struct RemoteServices {
    std::shared_ptr<remote::RemoteControl> osc;
    std::shared_ptr<remote::NsmClient> nsm;
};

/// Starts the OSC remote control when a port is set, and the session manager's client when
/// managerUrl is not empty. Failures are logged; the program runs on.
RemoteServices startRemote(Session& session, const CommandLine& command, bool hasWindow, const std::string& managerUrl);

} // namespace trelvo::app
