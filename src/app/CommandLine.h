#pragma once

#include <string>
#include <vector>

namespace trelvo::app {

/// What the command line asks for.
struct CommandLine {
    enum class Mode { Run, Version, Help, Info, ListDrivers, ListMidi, UsageError };
    Mode mode = Mode::Run;
    std::string file; ///< the one file of the command line (project, plug-in or profile)
    std::string error;
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

/// The usage text printed by --help and after a usage error.
std::string usageText();

} // namespace trelvo::app
