#include "app/CommandLine.h"

namespace trelvo::app {

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--info") {
            if (i + 1 >= arguments.size()) {
                result.mode = CommandLine::Mode::UsageError;
                result.error = "--info needs a plug-in library";
                return result;
            }
            result.mode = CommandLine::Mode::Info;
            result.file = arguments[++i];
            if (i + 1 < arguments.size()) {
                result.mode = CommandLine::Mode::UsageError;
                result.error = "--info takes exactly one plug-in library";
                return result;
            }
            return result;
        }
        if (argument == "--list-drivers") {
            result.mode = CommandLine::Mode::ListDrivers;
        } else if (argument == "--list-midi") {
            result.mode = CommandLine::Mode::ListMidi;
        } else if (argument == "--version" || argument == "-V") {
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
           "       trelvo --info LIBRARY     print a plug-in's facts\n"
           "       trelvo --list-drivers     list the audio drivers present\n"
           "       trelvo --list-midi        list the MIDI devices present\n"
           "       trelvo --version | --help\n"
           "\n"
           "FILE is a project (.vprj), a plug-in library (.so) or a plug-in profile (.vprf).\n";
}

} // namespace trelvo::app
