#include "app/CommandLine.h"

namespace trelvo::app {

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    for (const std::string& argument : arguments) {
        if (argument == "--version" || argument == "-V") {
            result.mode = CommandLine::Mode::Version;
        } else if (argument == "--help" || argument == "-h") {
            result.mode = CommandLine::Mode::Help;
        } else if (argument.starts_with("-")) {
            result.mode = CommandLine::Mode::UsageError;
            result.error = "unknown option " + argument;
            return result;
        } else if (!result.file.empty()) {
            result.mode = CommandLine::Mode::UsageError;
            result.error = "at most one file may be given";
            return result;
        } else {
            result.file = argument;
        }
    }
    return result;
}

std::string usageText() {
    return "usage: trelvo [FILE]\n"
           "       trelvo --version | --help\n"
           "\n"
           "FILE is a project (.vprj), a plug-in library (.so) or a plug-in profile (.vprf).\n";
}

} // namespace trelvo::app
