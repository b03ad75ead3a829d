#pragma once

// The sample arithmetic the engine's files share: smoothing, pan, clipping, silence.

#include <cstring>

#include "host/TVstPlugIn.h"

namespace trelvo::rack::detail {

/// One smoothing step toward the target, never past it.
inline float moveToward(float value, float target, float step) noexcept {
    if (value < target) {
        value += step;
        return value > target ? target : value;
    }
    if (value > target) {
        value -= step;
        return value < target ? target : value;
    }
    return value;
}

/// Positive p moves the left signal into the right channel, negative p the right into the left.
inline void applyPan(float& left, float& right, float p) noexcept {
    if (p > 0.0f) {
        right = right + left * p;
        left = left * (1.0f - p);
    } else if (p < 0.0f) {
        left = left + right * (-p);
        right = right * (1.0f + p);
    }
}

/// Hard limit at full scale. A NaN from a plug-in becomes silence rather than reaching the
/// converter.
inline float clipSample(float sample) noexcept {
    if (sample > 1.0f) return 1.0f;
    if (sample < -1.0f) return -1.0f;
    if (sample != sample) return 0.0f;
    return sample;
}

inline bool offOrBypassed(const host::TVstPlugIn& slot) noexcept {
    return slot.runMode.isSet(RunMode::Bypass) || slot.runMode.isSet(RunMode::Off);
}

inline void zeroChannels(float* const* channels, int count, int frames) noexcept {
    for (int c = 0; c < count; ++c)
        if (channels[c] != nullptr) std::memset(channels[c], 0, sizeof(float) * static_cast<std::size_t>(frames));
}

/// target = 0 + source: what clearing target and adding source gives (-0 becomes +0).
inline void startSum(float* target, const float* source, int frames) noexcept {
    for (int i = 0; i < frames; ++i) target[i] = 0.0f + source[i];
}

inline void addInto(float* target, const float* source, int frames) noexcept {
    for (int i = 0; i < frames; ++i) target[i] += source[i];
}

} // namespace trelvo::rack::detail
