#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace trelvo::test {

/// The plug-in libraries of Debian's dpf-plugins-vst package, sorted by path.
inline std::vector<std::string> thirdPartyPlugins() {
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("/usr/lib/vst", error))
        if (entry.path().extension() == ".so") paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
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
