#pragma once

#include <string>
#include <vector>

namespace trelvo::app {

/// What the command line asks for.
struct CommandLine {
    enum class Mode {
        Run,
        Version,
        Help,
        Info,
        ListDrivers,
        ListMidi,
        Paths,
        Headless,
        Render,
        ScanWorker,
        UsageError
    };
    Mode mode = Mode::Run;
    std::string file;    ///< the one file of the command line (project, plug-in or profile)
    std::string picture; ///< --scan-worker: where the editor's picture goes
    std::string error;
    std::string programName; ///< what the program was started as (argv[0])

    // ---- Running without a window ----
    std::string driver;   ///< --driver: a driver by name instead of the settings' one
    double seconds = -1;  ///< --seconds: how long to run or render; negative: the default
    bool play = false;    ///< --play: the transport plays from the start
    bool verbose = false; ///< --verbose: the debugger output goes to standard error
    int oscPort = -1;     ///< --osc-port: the OSC remote control's port; -1: the settings' one

    // ---- Rendering ----
    std::string out, midi, in;
    std::string fxp, fxb, saveFxp, saveFxb, saveProject;
    int rate = 48000;
    int block = 256;
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

/// The usage text printed by --help and after a usage error.
std::string usageText();

} // namespace trelvo::app
