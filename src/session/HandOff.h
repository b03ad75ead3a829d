#pragma once

#include <string>

namespace trelvo::app {

// One copy of the program runs. A second start hands its file to the running copy and ends:
// the path goes through the settings ("General", "fName", relative to the program's folder),
// and one line on the per-user socket tells the running copy to take it ("open"), or only to
// come to the front ("raise").

/// How long a second start waits for the running copy's answer before it starts normally.
inline constexpr int kHandOffTimeoutMs = 3000;

/// A second start: true when a running copy listening at socketPath took file (or, without a
/// file, came to the front), so this process ends. False, with nothing written, when no copy
/// of this user runs or none answers: this process starts normally.
bool handToRunningCopy(const std::string& file, const std::string& settingsFile, const std::string& socketPath,
                       int timeoutMs = kHandOffTimeoutMs);

/// The running copy: the file a second start handed over, expanded; empty when none.
std::string handedFile(const std::string& settingsFile);

} // namespace trelvo::app
