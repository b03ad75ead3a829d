#include "session/Session.h"

#include <csignal>
#include <cstdio>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "persist/IniFile.h"
#include "platform/TrelvoHome.h"

namespace trelvo::app {

namespace {

bool endsWith(const std::string& text, const char* suffix) {
    const std::string tail(suffix);
    return text.size() >= tail.size() &&
           persist::sameName(std::string_view(text).substr(text.size() - tail.size()), tail);
}

void removeClipboardFiles() {
    for (const char* name : {"$clpbrd$.tmp", "$clpbrd1$.tmp"})
        std::remove((platform::trelvoHome() + "/" + name).c_str());
}

volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void requestStop(int) {
    gStopRequested = 1;
}

} // namespace

void watchStopSignals() {
    gStopRequested = 0;
    onStopSignals(requestStop);
}

bool stopRequested() {
    return gStopRequested != 0;
}

void onStopSignals(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool isLibraryOrProfile(const std::string& file) {
    return endsWith(file, ".so") || endsWith(file, ".dll") || endsWith(file, ".vprf");
}

std::string presentDriver(const std::vector<audio::DriverEntry>& drivers, const std::string& name) {
    for (const auto& entry : drivers)
        if (persist::sameName(entry.name, name)) return entry.name;
    return {};
}

Session::Session(bool interactiveSession) : interactive(interactiveSession) {
    // On a first start the home folder does not exist yet; the settings, the MIDI sections
    // and the log are written into it at exit.
    const bool homeReady = !interactive || platform::makeDirectories(platform::trelvoHome());
    settings.readAll();
    settings.applyLogSwitches();
    if (interactive) {
        diag::theLog().start(platform::trelvoHome() + "/Trelvo.log");
        if (!homeReady) diag::hookedLogError("cannot create the Trelvo folder " + platform::trelvoHome());
        removeClipboardFiles();
    } else {
        diag::theLog().switches.debugOutput = false;
    }
    controller = std::make_unique<rack::RackController>(settings);
    // Without a window, what a message box would say goes to standard error (and the log).
    controller->showMessage = [](const std::string& text) {
        diag::hookedLogError(text);
        std::fprintf(stderr, "trelvo: %s\n", text.c_str());
    };
}

Session::~Session() {
    shutDown(interactive);
}

std::string Session::startAudio(const std::string& name, std::vector<audio::DriverEntry> drivers) {
    if (drivers.empty()) drivers = audio::listDrivers();
    std::string wanted = name.empty() ? settings.asioDriver : name;
    std::string chosen = presentDriver(drivers, wanted);
    if (chosen.empty()) {
        if (!wanted.empty()) diag::hookedLogError("driver \"" + wanted + "\" is not present; using Dummy");
        chosen = presentDriver(drivers, "Dummy");
        if (chosen.empty() && !drivers.empty()) chosen = drivers.front().name;
    }
    // A driver picked on the command line is used for this run only.
    const std::string stored = settings.asioDriver;
    settings.asioDriver = chosen;
    controller->startAudio(std::move(drivers));
    if (!name.empty()) settings.asioDriver = stored;
    return chosen;
}

bool Session::openStartFile(const std::string& file) {
    if (!file.empty()) {
        if (isLibraryOrProfile(file)) {
            if (!platform::isRegularFile(file)) return false;
            controller->startWithLibrary(file);
            return true;
        }
        if (controller->openProject(file)) return true;
    }
    if (!(settings.autoLoadProject && controller->openProject(settings.lastProject))) controller->newProject();
    return file.empty();
}

void Session::shutDown(bool writeSettings) {
    if (down) return;
    down = true;
    diag::hookedLog(" closing");
    for (const auto& duty : beforeShutDown) duty();
    // The surface says goodbye while MIDI and audio still run.
    controller->surface().shutdown();
    if (writeSettings) {
        settings.loadedDriver = [this]() -> std::optional<persist::LoadedDriver> {
            const audio::TASIOHost* host = controller->control().host();
            if (host == nullptr || !host->ready()) return std::nullopt;
            return persist::LoadedDriver{host->driverName, host->inputChannels, host->outputChannels};
        };
        if (!settings.writeAll()) diag::hookedLogError("the settings could not be written");
        persist::IniHandle handle;
        controller->midi().writeDeviceSections(handle);
        controller->midi().writeVirtualPorts(handle);
        persist::CloseIni(handle);
    }
    diag::hookedLog(" closed");
    diag::hookedLog(" destroying");
    if (interactive) removeClipboardFiles();
    // The designed order of the shut-down, each step in the log before it is taken.
    diag::hookedLog(" disable ASIO");
    controller->control().setAllowed(audio::kAllowedStop);
    diag::hookedLog(" closing all slots");
    for (int i = 0; i < controller->rack().numSlots(); ++i)
        if (controller->rack().slot(i).Active.load()) controller->rack().slot(i).SetActive(false);
    // The work thread ends with the engine, which no longer runs blocks.
    diag::hookedLog(" closing work thread");
    controller->midi().setMIDI(midi::iClose | midi::iHalt);
    diag::hookedLog(" releasing ASIO");
    controller->control().ASIOdestroy();
    diag::hookedLog(" clearing ASIO buffers");
    controller.reset();
    diag::hookedLog(" destroyed");
    if (interactive) diag::theLog().finish();
}

} // namespace trelvo::app
