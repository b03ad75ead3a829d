#pragma once

#include <cctype>
#include <cstdio>
#include <string>

#include "platform/TrelvoHome.h"

namespace trelvo::presets {

// Small text helpers shared by the preset list, its file commands and the instrument
// definitions.

inline std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

/// ".fxp" of "/a/Piano.FXP" (lower case); empty without an extension.
inline std::string extensionOf(const std::string& name) {
    const std::string file = platform::fileNamePart(name);
    const std::size_t dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : lowered(file.substr(dot));
}

/// The folder part of a path with its trailing "/"; empty for a bare name.
inline std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

inline std::string threeDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", value);
    return text;
}

inline bool isCapital(char c) {
    return c >= 'A' && c <= 'Z';
}

inline char capitalOf(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

} // namespace trelvo::presets
