#pragma once

#include <string>

namespace trelvo::platform {

/// The Trelvo home folder, which stands for "the program's folder" of the design:
/// $TRELVO_HOME when set, else $XDG_CONFIG_HOME/Trelvo, else ~/.config/Trelvo.
/// Returned without a trailing "/". The folder is not created here.
/// Thread: any (reads the environment).
std::string trelvoHome();

/// The running executable's full path, from /proc/self/exe; empty when unreadable.
std::string executablePath();

/// Creates the folder and its missing parents. True when it exists afterwards.
bool makeDirectories(const std::string& path);

/// Writes text to path through a temporary file in the same folder that is renamed over
/// the target only after every byte was written and flushed, so a failed write never
/// leaves a truncated file behind. False with errno-style text in error on failure.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error);

} // namespace trelvo::platform
