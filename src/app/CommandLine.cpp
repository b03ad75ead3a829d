#include "app/CommandLine.h"

#include <cstdlib>

namespace trelvo::app {

namespace {

bool wholeNumber(const std::string& text, int low, int high, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < low || parsed > high) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool positiveNumber(const std::string& text, double& value) {
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(parsed > 0.0) || parsed > 86400.0) return false;
    value = parsed;
    return true;
}

CommandLine usageError(std::string error) {
    CommandLine result;
    result.mode = CommandLine::Mode::UsageError;
    result.error = std::move(error);
    return result;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    bool headless = false, render = false;
    // Options that take a value, and where that value goes.
    const auto valueOf = [&](std::size_t& i, std::string& target) {
        if (i + 1 >= arguments.size()) return false;
        target = arguments[++i];
        return true;
    };
    std::vector<std::string> renderOnly;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string value;
        if (argument == "--info") {
            if (i + 1 >= arguments.size()) return usageError("--info needs a plug-in library");
            result.mode = CommandLine::Mode::Info;
            result.file = arguments[++i];
            if (i + 1 < arguments.size()) return usageError("--info takes exactly one plug-in library");
            return result;
        }
        if (argument == "--scan-worker") {
            // The scanner's own: one library and the picture file, nothing else.
            if (i + 2 >= arguments.size())
                return usageError("--scan-worker needs a plug-in library and a picture file");
            result.mode = CommandLine::Mode::ScanWorker;
            result.file = arguments[++i];
            result.picture = arguments[++i];
            return result;
        }
        if (argument == "--list-drivers") {
            result.mode = CommandLine::Mode::ListDrivers;
        } else if (argument == "--list-midi") {
            result.mode = CommandLine::Mode::ListMidi;
        } else if (argument == "--paths") {
            result.mode = CommandLine::Mode::Paths;
        } else if (argument == "--version" || argument == "-V") {
            result.mode = CommandLine::Mode::Version;
        } else if (argument == "--help" || argument == "-h") {
            result.mode = CommandLine::Mode::Help;
        } else if (argument == "--headless") {
            headless = true;
        } else if (argument == "--render") {
            render = true;
            if (!valueOf(i, result.file)) return usageError("--render needs a project or plug-in library");
        } else if (argument == "--driver") {
            if (!valueOf(i, result.driver)) return usageError("--driver needs a driver name");
        } else if (argument == "--verbose" || argument == "-v") {
            result.verbose = true;
        } else if (argument == "--play") {
            result.play = true;
        } else if (argument == "--osc-port") {
            if (!valueOf(i, value) || !wholeNumber(value, 0, 65535, result.oscPort))
                return usageError("--osc-port needs a UDP port from 1 to 65535 (0: off)");
        } else if (argument == "--seconds") {
            if (!valueOf(i, value) || !positiveNumber(value, result.seconds))
                return usageError("--seconds needs a positive number");
        } else if (argument == "--rate" || argument == "--block") {
            renderOnly.push_back(argument);
            const bool rate = argument == "--rate";
            if (!valueOf(i, value) ||
                !wholeNumber(value, rate ? 8000 : 16, rate ? 384000 : 8192, rate ? result.rate : result.block))
                return usageError(rate ? "--rate needs a sample rate from 8000 to 384000"
                                       : "--block needs a block size from 16 to 8192");
        } else if (argument == "--out" || argument == "--midi" || argument == "--in" || argument == "--fxp" ||
                   argument == "--fxb" || argument == "--save-fxp" || argument == "--save-fxb" ||
                   argument == "--save-project") {
            renderOnly.push_back(argument);
            std::string& target = argument == "--out"        ? result.out
                                  : argument == "--midi"     ? result.midi
                                  : argument == "--in"       ? result.in
                                  : argument == "--fxp"      ? result.fxp
                                  : argument == "--fxb"      ? result.fxb
                                  : argument == "--save-fxp" ? result.saveFxp
                                  : argument == "--save-fxb" ? result.saveFxb
                                                             : result.saveProject;
            if (!valueOf(i, target)) return usageError(argument + " needs a file");
        } else if (argument.starts_with("-")) {
            return usageError("unknown option " + argument);
        } else if (!result.file.empty()) {
            return usageError("at most one file may be given");
        } else {
            result.file = argument;
        }
    }
    if (headless && render) return usageError("--headless and --render exclude each other");
    if (render) {
        if (result.oscPort >= 0) return usageError("--osc-port belongs to running the rack, not to --render");
        if (!result.driver.empty())
            return usageError("--driver belongs to running the rack; --render runs on the Offline driver");
        if (result.out.empty()) return usageError("--render needs --out");
        result.mode = CommandLine::Mode::Render;
        return result;
    }
    if (!renderOnly.empty()) return usageError(renderOnly.front() + " belongs to --render");
    if (headless && result.mode == CommandLine::Mode::Run) result.mode = CommandLine::Mode::Headless;
    if (result.mode != CommandLine::Mode::Run && result.mode != CommandLine::Mode::Headless &&
        (!result.driver.empty() || result.seconds > 0 || result.play || result.oscPort >= 0))
        return usageError("--driver, --seconds, --play and --osc-port belong to running the rack");
    return result;
}

std::string usageText() {
    return "usage: trelvo [FILE] [--osc-port PORT]\n"
           "       trelvo --headless [FILE] [--driver NAME] [--seconds N] [--play] [--osc-port PORT]\n"
           "       trelvo --render FILE --out OUT.wav [--midi IN.mid] [--in IN.wav] [--seconds N]\n"
           "              [--rate R] [--block B] [--fxp P] [--fxb B] [--play]\n"
           "              [--save-fxp P] [--save-fxb B] [--save-project P]\n"
           "       trelvo --info LIBRARY     print a plug-in's facts\n"
           "       trelvo --list-drivers     list the audio drivers present\n"
           "       trelvo --list-midi        list the MIDI devices present\n"
           "       trelvo --paths            print where Trelvo keeps and finds its files\n"
           "       trelvo --version | --help\n"
           "\n"
           "FILE is a project (.vprj), a plug-in library (.so) or a plug-in profile (.vprf).\n"
           "Without a window the rack runs headless until SIGINT or SIGTERM (or N seconds).\n"
           "--render runs the rack offline at rate R (48000) and block size B (256) and writes\n"
           "a 32-bit float stereo WAV file. It exits with 1 when a plug-in faulted while\n"
           "processing (the file is still written, with that plug-in passed by from the fault on).\n"
           "--play starts the transport at the beginning, so that tempo-synced plug-ins see a\n"
           "running song position.\n"
           "--osc-port listens for OSC remote control on that UDP port of 127.0.0.1 (the\n"
           "address and a lasting port are settings: [Remote] OscAddress, OscPort).\n"
           "Started by a session manager (NSM_URL), Trelvo keeps its project in the session.\n"
           "--verbose (or TRELVO_DEBUG=1) also prints the debugger output, the lines the log\n"
           "file keeps, on standard error.\n";
}

} // namespace trelvo::app
