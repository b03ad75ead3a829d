#pragma once

#include <cstdint>
#include <string>

#include "audio/AsioTypes.h"

namespace trelvo::audio {

/// Buffer size and rate chosen for a driver (through its control panel), kept per driver
/// name for the life of the process, so that reopening a driver keeps them.
struct DriverSettings {
    std::int32_t bufferSize = 256;
    double sampleRate = 48000.0;
    /// For ALSA devices: the sample format to use; unset lets the driver pick the device's.
    bool formatForced = false;
    SampleType format = SampleType::Float32LSB;
};

/// Thread: user interface.
DriverSettings settingsFor(const std::string& driverName);
void storeSettings(const std::string& driverName, const DriverSettings& settings);

} // namespace trelvo::audio
