#include "model/VolumeCodec.h"

#include <cmath>

namespace trelvo::rack {

float volumeGain(int dB) {
    const int clamped = clampVolumeDb(dB);
    if (clamped == kVolumeOff) return 0.0f;
    return static_cast<float>(std::pow(10.0, clamped / 20.0));
}

float panValue(int step) {
    const int clamped = clampPanStep(step);
    if (clamped == 0) return 0.0f;
    const float magnitude = static_cast<float>(std::pow(10.0, (std::abs(clamped) - 12) / 20.0));
    return clamped > 0 ? magnitude : -magnitude;
}

std::string volumeText(int dB) {
    return dB < kVolumeMin ? "~" : std::to_string(dB);
}

} // namespace trelvo::rack
