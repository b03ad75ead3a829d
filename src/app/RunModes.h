#pragma once

#include "app/CommandLine.h"

namespace trelvo::app {

/// Runs the rack without a window until SIGINT or SIGTERM, or the given seconds; the
/// device state line goes to standard error every few seconds. A file that cannot be
/// used is reported and a new rack runs instead. Exit status 0.
int runHeadless(const CommandLine& command);

/// Renders through the rack on the Offline driver into a WAV file. Exit status 0, 1 on
/// any failure (with a message on standard error).
int runRender(const CommandLine& command);

} // namespace trelvo::app
