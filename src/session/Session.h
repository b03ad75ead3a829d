#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/DriverList.h"
#include "persist/AppSettings.h"
#include "session/RackController.h"

namespace trelvo::app {

/// The program's start-up and shut-down sequences without a window: the settings, the log,
/// the rack controller, the driver, MIDI and the command-line file. Thread: main.
class Session {
public:
    /// Reads the settings (groups 0 and 1). An interactive session also starts the log file
    /// and clears the preset clipboard files; a render keeps quiet and leaves them alone.
    explicit Session(bool interactive);
    /// The shut-down sequence (see shutDown).
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Opens an audio driver: the one named, else the settings' one, else "Dummy". The
    /// name actually used is returned. drivers replaces the drivers present (render mode).
    std::string startAudio(const std::string& name, std::vector<audio::DriverEntry> drivers = {});
    /// Handles the command-line file as the start mode says: a plug-in library or profile
    /// starts DLL template mode, anything else loads as a project. Without a file, or when
    /// the project fails to load, "Last Project" when "AutoLoadProject" is set, else a new
    /// rack. False when an explicitly given file could not be used.
    bool openStartFile(const std::string& file);
    /// Holds processing, closes every slot, MIDI and the driver, then writes the settings
    /// and the log when asked to. Runs once.
    void shutDown(bool writeSettings);

    persist::AppSettings settings;
    std::unique_ptr<rack::RackController> controller;
    /// Run first in the shut-down, before anything closes or the settings are written.
    std::vector<std::function<void()>> beforeShutDown;

private:
    bool interactive;
    bool down = false;
};

/// Sends SIGINT and SIGTERM to handler (which must only set a flag), so that the program
/// stops at a point of its own choosing.
void onStopSignals(void (*handler)(int));

/// Watches SIGINT and SIGTERM from now on; stopRequested() tells whether one came since.
void watchStopSignals();
bool stopRequested();

/// True for a file name that names a plug-in library or a plug-in profile.
bool isLibraryOrProfile(const std::string& file);

/// The list name of the driver called name (any case) among drivers; empty when absent.
std::string presentDriver(const std::vector<audio::DriverEntry>& drivers, const std::string& name);

} // namespace trelvo::app
