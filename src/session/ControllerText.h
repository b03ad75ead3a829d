#pragma once

// Small text helpers shared by the rack controller's files.

#include <cstdio>
#include <string>

#include "model/VolumeCodec.h"

namespace trelvo::rack::detail {

inline std::string withoutExtension(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

/// The folder part of a path with its trailing "/", or empty.
inline std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

/// A volume column of the slot list: whole decibels, "~" for off.
inline std::string volumeColumn(int dB) {
    return dB < kVolumeMin ? "~" : std::to_string(dB);
}
/// A pan column: the step, "[C]" for the centre.
inline std::string panColumn(int step) {
    return step == 0 ? "[C]" : std::to_string(step);
}

inline std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace trelvo::rack::detail
