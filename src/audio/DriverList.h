#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioDriver.h"

namespace trelvo::audio {

/// One entry of the driver list: its list name (what the settings key "ASIO Driver"
/// stores), the backend and device behind it, and how to create it.
struct DriverEntry {
    std::string name;
    std::string backend;
    std::string device;
    std::function<std::unique_ptr<AudioDriver>()> create;
};

/// The drivers present, in list order: "JACK" while a server runs, one "ALSA: ..." entry
/// per playback device, then "Dummy" (always). Logs the enumeration. Thread: user interface.
std::vector<DriverEntry> listDrivers();

/// The entry of the "Offline" driver, which is never listed.
DriverEntry offlineDriverEntry(int bufferSize, double sampleRate);

} // namespace trelvo::audio
