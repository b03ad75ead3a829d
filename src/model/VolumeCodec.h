#pragma once

#include <string>

namespace trelvo::rack {

/// Volumes are whole decibels from -48 to +12; anything below -48 is "off", stored as -49.
inline constexpr int kVolumeOff = -49;
inline constexpr int kVolumeMin = -48;
inline constexpr int kVolumeMax = 12;
/// Pan is a step from -12 (left) to +12 (right).
inline constexpr int kPanMin = -12;
inline constexpr int kPanMax = 12;
/// The value that asks a switch command to toggle.
inline constexpr int kToggle = -99999;

/// Below -48 gives -49 (off); above +12 gives +12.
constexpr int clampVolumeDb(int dB) {
    return dB < kVolumeMin ? kVolumeOff : (dB > kVolumeMax ? kVolumeMax : dB);
}

/// 0.0 for off, else 10^(dB/20) of the clamped value.
float volumeGain(int dB);

constexpr int clampPanStep(int step) {
    return step < kPanMin ? kPanMin : (step > kPanMax ? kPanMax : step);
}

/// 0 for step 0, else sign(p) x 10^((|p| - 12)/20) of the clamped step.
float panValue(int step);

/// "~" for off, else the number of decibels.
std::string volumeText(int dB);

} // namespace trelvo::rack
