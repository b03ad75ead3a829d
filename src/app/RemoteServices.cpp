#include "app/RemoteServices.h"

#include <unistd.h>

#include <cstdio>

namespace trelvo::app {

namespace {

std::string executablePath() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string("trelvo");
}

} // namespace

RemoteServices startRemote(Session& session, const CommandLine& command, bool hasWindow) {
    RemoteServices services;
    rack::RackController& controller = *session.controller;
    const int port = command.oscPort >= 0 ? command.oscPort : session.settings.oscPort;
    if (port > 0) {
        services.osc = std::make_unique<remote::RemoteControl>(controller, session.settings.oscAddress, port);
        if (services.osc->failed()) {
            std::fprintf(stderr, "trelvo: no OSC remote control: %s\n", services.osc->whyNot().c_str());
            services.osc.reset();
        } else {
            std::fprintf(stderr, "trelvo: OSC remote control on %s port %d\n", session.settings.oscAddress.c_str(),
                         services.osc->port());
        }
    }
    const std::string url = remote::NsmClient::managerUrl();
    if (!url.empty()) {
        services.nsm = std::make_shared<remote::NsmClient>(controller, url, hasWindow, executablePath());
        if (services.nsm->failed()) {
            std::fprintf(stderr, "trelvo: the session manager at %s cannot be reached\n", url.c_str());
            services.nsm.reset();
        } else {
            // The user's own last project goes back into the settings before they are written.
            std::weak_ptr<remote::NsmClient> client = services.nsm;
            session.beforeShutDown.push_back([client] {
                if (const auto nsm = client.lock()) nsm->restoreUserSettings();
            });
        }
    }
    return services;
}

} // namespace trelvo::app
