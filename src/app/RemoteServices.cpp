#include "app/RemoteServices.h"

#include <unistd.h>

#include <cstdio>

namespace trelvo::app {

namespace {

/// The name the program was started by, as a session manager would start it again.
std::string executableName() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string("trelvo");
}

} // namespace

RemoteServices startRemote(Session& session, const CommandLine& command, bool hasWindow,
                           const std::string& managerUrl) {
    RemoteServices services;
    rack::RackController& controller = *session.controller;
    const int port = command.oscPort >= 0 ? command.oscPort : session.settings.oscPort;
    if (port > 0) {
        services.osc = std::make_shared<remote::RemoteControl>(controller, session.settings.oscAddress, port);
        if (services.osc->failed()) {
            std::fprintf(stderr, "trelvo: no OSC remote control: %s\n", services.osc->whyNot().c_str());
            services.osc.reset();
        } else {
            std::fprintf(stderr, "trelvo: OSC remote control on %s port %d\n", session.settings.oscAddress.c_str(),
                         services.osc->port());
        }
    }
    if (!managerUrl.empty()) {
        services.nsm = std::make_shared<remote::NsmClient>(
            controller, managerUrl, hasWindow, command.programName.empty() ? executableName() : command.programName);
        if (services.nsm->failed()) {
            std::fprintf(stderr, "trelvo: no session manager at \"%s\"; running on my own\n", managerUrl.c_str());
            services.nsm.reset();
        }
    }
    // Whichever ends first, the shut-down or the services, the services let go of the rack
    // controller before it goes.
    std::weak_ptr<remote::RemoteControl> osc = services.osc;
    std::weak_ptr<remote::NsmClient> nsm = services.nsm;
    session.beforeShutDown.push_back([osc, nsm] {
        if (const auto remote = osc.lock()) remote->detach();
        if (const auto client = nsm.lock()) client->detach();
    });
    return services;
}

} // namespace trelvo::app
