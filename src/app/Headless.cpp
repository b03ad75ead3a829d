#include <csignal>
#include <cstdio>

#include "app/RemoteServices.h"
#include "app/RunModes.h"
#include "audio/DriverList.h"
#include "diag/DiagLog.h"
#include "platform/Clock.h"
#include "rack/PlugInFaults.h"
#include "session/Session.h"

namespace trelvo::app {

int runHeadless(const CommandLine& command) {
    watchStopSignals();

    // A driver asked for by name must be there: playing on another one would surprise. This
    // is checked before the session starts, so that nothing is written when it is not.
    if (!command.driver.empty()) {
        const std::vector<audio::DriverEntry> drivers = audio::listDrivers();
        if (presentDriver(drivers, command.driver).empty()) {
            std::string names;
            for (const audio::DriverEntry& entry : drivers) names += (names.empty() ? "" : ", ") + entry.name;
            std::fprintf(stderr, "trelvo: the audio driver \"%s\" is not present; the drivers present are: %s\n",
                         command.driver.c_str(), names.c_str());
            return 1;
        }
    }

    Session session(true);
    rack::RackController& controller = *session.controller;
    const std::string driver = session.startAudio(command.driver);
    controller.startMidi();
    // Under a session manager the manager names the project; until it does, a new rack.
    RemoteServices services = startRemote(session, command, false, remote::NsmClient::managerUrl());
    if (services.nsm) {
        if (!command.file.empty())
            std::fprintf(stderr, "trelvo: started by a session manager; %s is not opened\n", command.file.c_str());
        controller.newProject();
    } else if (!session.openStartFile(command.file)) {
        std::fprintf(stderr, "trelvo: cannot open %s; running a new rack\n", command.file.c_str());
    }
    controller.setRunning();
    if (command.play) controller.rack().transport().request(rack::TransportRequest::Play);
    std::fprintf(stderr, "trelvo: running headless on %s with %d slots (%s); stop with Ctrl+C\n", driver.c_str(),
                 controller.rack().numSlots(), controller.projectName.c_str());

    const std::uint32_t started = platform::tickCountMs();
    std::uint32_t lastReport = started;
    const auto limitMs = static_cast<std::uint32_t>(command.seconds > 0 ? command.seconds * 1000.0 : 0.0);
    bool waitingForDriver = false;
    while (!stopRequested() && (limitMs == 0 || platform::tickCountMs() - started < limitMs)) {
        platform::sleepMs(static_cast<unsigned>(controller.idlePeriodMs()));
        controller.idleTick();
        diag::theLog().drain(); // lines of the audio threads (a refused priority, an xrun) show now
        for (const std::string& fault : rack::takePlugInFaults(controller.rack()))
            std::fprintf(stderr, "trelvo: %s\n", fault.c_str());
        // A driver that went away (a JACK server stopped) and came back is news, said once.
        if (controller.control().waitingForDriver() != waitingForDriver) {
            waitingForDriver = !waitingForDriver;
            if (waitingForDriver)
                std::fprintf(stderr, "trelvo: the %s driver went away; waiting for it to come back\n", driver.c_str());
            else
                std::fprintf(stderr, "trelvo: the %s driver is back; audio plays again\n", driver.c_str());
        }
        if (platform::tickCountMs() - lastReport >= 3000) {
            lastReport = platform::tickCountMs();
            std::fprintf(stderr, "trelvo: %s\n", controller.stateText.c_str());
        }
    }
    std::fprintf(stderr, "trelvo: stopping\n");
    services = RemoteServices{};
    session.shutDown(true);
    return 0;
}

} // namespace trelvo::app
