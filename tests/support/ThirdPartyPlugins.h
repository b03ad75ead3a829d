#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

namespace trelvo::test {

/// The plug-in libraries of Debian's dpf-plugins-vst package (1.6), sorted by path. A fixed
/// list, not a walk of the VST folder: a machine with other VST packages installed must run
/// the same tests. Files that are missing are left out, so ThePackageIsInstalled is the one
/// test that says the package is absent.
inline std::vector<std::string> thirdPartyPlugins() {
    static const char* const kDpfFiles[] = {
        "3BandEQ-vst.so",    "3BandSplitter-vst.so", "AmplitudeImposer-vst.so", "CycleShifter-vst.so",
        "Kars-vst.so",       "MVerb-vst.so",         "MaBitcrush-vst.so",       "MaFreeverb-vst.so",
        "MaGigaverb-vst.so", "MaPitchshift-vst.so",  "Nekobi-vst.so",           "PingPongPan-vst.so",
        "ProM.vst/ProM.so",  "SoulForce-vst.so",     "glBars-vst.so",
    };
    std::vector<std::string> paths;
    for (const char* file : kDpfFiles) {
        const std::string path = std::string("/usr/lib/vst/") + file;
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) paths.push_back(path);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

/// Wide plug-ins from Debian's iem-plugin-suite-vst package (ambisonics, 64 channels in and
/// out) that pass a stereo signal through at their defaults, for the tests of plug-ins with
/// more channels than a strip uses. Missing files are left out.
inline std::vector<std::string> widePlugins() {
    static const char* const kIemFiles[] = {"libMultiEQ.so", "libSceneRotator.so"};
    std::vector<std::string> paths;
    for (const char* file : kIemFiles) {
        const std::string path = std::string("/usr/lib/x86_64-linux-gnu/iem-plugin-suite/vst/") + file;
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) paths.push_back(path);
    }
    return paths;
}

/// A test name for a parameterised test over plug-in libraries: the file name's stem.
inline std::string pluginTestName(const ::testing::TestParamInfo<std::string>& test) {
    std::string name = std::filesystem::path(test.param).stem().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

} // namespace trelvo::test
