#pragma once

#include <memory>

#include "app/CommandLine.h"

namespace trelvo::app {

/// Runs the rack without a window until SIGINT or SIGTERM, or the given seconds; the
/// device state line goes to standard error every few seconds. A file that cannot be
/// used is reported and a new rack runs instead. Exit status 0.
int runHeadless(const CommandLine& command);

/// Opens the main window on the command line's file and runs until it closes. Exit status 0.
int runWindow(const CommandLine& command, int& argc, char** argv);

/// The scanner's worker: loads one library, opens its editor and writes its picture,
/// reporting each step on standard output. Exit status 0 when it got to a result.
int runScanWorker(const std::string& libraryPath, const std::string& pictureFile, int& argc, char** argv);

/// Renders through the rack on the Offline driver into a WAV file. Exit status 0, 1 on
/// any failure (with a message on standard error).
int runRender(const CommandLine& command);

/// The three steps of a render, for callers that time them. Each returns 0, or the exit
/// status after a message on standard error; a step runs only after the one before it
/// returned 0.
class RenderJob {
public:
    explicit RenderJob(const CommandLine& command);
    ~RenderJob();
    RenderJob(const RenderJob&) = delete;
    RenderJob& operator=(const RenderJob&) = delete;

    /// Reads the input files and builds the rack around the Offline driver.
    int prepare();
    /// Runs every block.
    int render();
    /// Writes the WAV file and the files asked to be saved.
    int finish();

private:
    struct State;
    const CommandLine& command;
    std::unique_ptr<State> state;
};

/// --paths: the Trelvo folder, the settings file, the shared files, the user guide and the
/// folders of Trelvo's own plug-ins, one per line, each with a mark when it is missing.
int printPaths();

} // namespace trelvo::app
