#include "audio/DriverList.h"

#include "audio/AlsaDriver.h"
#include "audio/DummyDriver.h"
#include "audio/JackDriver.h"
#include "audio/OfflineDriver.h"
#include "diag/DiagLog.h"

namespace trelvo::audio {

namespace {
using diag::debugLine;
} // namespace

std::vector<DriverEntry> listDrivers() {
    debugLine("  ASIOlistDrivers begin : @ JACK, ALSA, Dummy");
    std::vector<DriverEntry> candidates;
    if (JackDriver::serverRunning()) {
        // Every JACK driver of this list shares one memory of its connections.
        auto connections = std::make_shared<JackConnections>();
        candidates.push_back({"JACK", "jack", "default",
                              [connections] { return std::make_unique<JackDriver>("trelvo", 2, 2, connections); }});
    } else {
        debugLine("JACK\" has no driver");
    }
    for (const auto& [listName, device] : AlsaDriver::listDevices()) {
        const std::string name = listName, pcm = device;
        candidates.push_back({name, "alsa", pcm, [name, pcm] { return std::make_unique<AlsaDriver>(name, pcm); }});
    }
    candidates.push_back({"Dummy", "dummy", "clock", [] { return std::make_unique<DummyDriver>(); }});
    debugLine("   ASIOlistDrivers.NumSubKeys=" + std::to_string(candidates.size()));
    for (std::size_t i = 0; i < candidates.size(); ++i)
        debugLine("   " + std::to_string(i) + ": ASIOlistDrivers.RegQuery " + candidates[i].name +
                  " driverPath Found: \"" + candidates[i].backend + "\"=\"" + candidates[i].device + "\"");
    debugLine("   ASIOlistDrivers " + std::to_string(candidates.size()) + " driver(s) found");
    debugLine("  ASIOlistDrivers end");
    return candidates;
}

DriverEntry offlineDriverEntry(int bufferSize, double sampleRate) {
    return {"Offline", "offline", "",
            [bufferSize, sampleRate] { return std::make_unique<OfflineDriver>(bufferSize, sampleRate); }};
}

} // namespace trelvo::audio
