#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Version.h"
#include "app/CommandLine.h"
#include "app/InfoMode.h"
#include "app/RunModes.h"
#include "audio/DriverList.h"
#include "diag/DiagLog.h"
#include "midi/MidiBackend.h"
#include "platform/FaultGuard.h"
#include "platform/TrelvoHome.h"

namespace {

void printVersion() {
    std::printf("%s %s\n", trelvo::kProductName, trelvo::kFileVersion);
}

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    using trelvo::app::CommandLine;
    CommandLine command = trelvo::app::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (argc > 0) command.programName = argv[0];
    if (command.verbose) trelvo::diag::setDebuggerToStandardError(true);

    switch (command.mode) {
    case CommandLine::Mode::Version: printVersion(); return 0;
    case CommandLine::Mode::Help:
        printVersion();
        std::fputs(trelvo::app::usageText().c_str(), stdout);
        return 0;
    case CommandLine::Mode::UsageError:
        std::fprintf(stderr, "trelvo: %s\n%s", command.error.c_str(), trelvo::app::usageText().c_str());
        return 2;
    case CommandLine::Mode::Info:
        trelvo::platform::installFaultHandlers();
        return trelvo::app::runInfoMode(command.file);
    case CommandLine::Mode::ListDrivers: {
        trelvo::diag::theLog().switches.debugOutput = false;
        const auto drivers = trelvo::audio::listDrivers();
        for (std::size_t i = 0; i < drivers.size(); ++i) std::printf("%zu\t%s\n", i, drivers[i].name.c_str());
        return 0;
    }
    case CommandLine::Mode::ListMidi: {
        trelvo::diag::theLog().switches.debugOutput = false;
        std::vector<std::string> inputs, outputs;
        trelvo::midi::listMidiDevices(inputs, outputs);
        for (std::size_t i = 0; i < inputs.size(); ++i) std::printf("in\t%zu\t%s\n", i, inputs[i].c_str());
        for (std::size_t i = 0; i < outputs.size(); ++i) std::printf("out\t%zu\t%s\n", i, outputs[i].c_str());
        return 0;
    }
    case CommandLine::Mode::Paths: return trelvo::app::printPaths();
    case CommandLine::Mode::ScanWorker:
        trelvo::platform::installFaultHandlers();
        return trelvo::app::runScanWorker(command.file, command.picture, argc, argv);
    case CommandLine::Mode::Render: trelvo::platform::installFaultHandlers(); return trelvo::app::runRender(command);
    case CommandLine::Mode::Run:
        trelvo::platform::installFaultHandlers();
        // Without a display there is no window to open: the rack runs headless.
        if (hasDisplay()) return trelvo::app::runWindow(command, argc, argv);
        return trelvo::app::runHeadless(command);
    case CommandLine::Mode::Headless:
        trelvo::platform::installFaultHandlers();
        return trelvo::app::runHeadless(command);
    }
    return 0;
}
