#pragma once

#include <functional>
#include <string>

namespace trelvo::persist {

/// The base folder of the program's own relative paths: the Trelvo home folder, with a
/// trailing "/".
std::string programFolder();

/// Expands a stored path against base (a folder; empty means the program's folder):
/// "." is base, "./x" and "x" are base + x, "../x", ".../x" and "..../x" go one, two or
/// three levels up first, and an absolute path ("/x", or a Windows drive or share) stays
/// as it is. "\\" separators read as "/", so files written on Windows load.
std::string ExpandPath(const std::string& base, const std::string& path);

/// The stored form of a path relative to base (the inverse of ExpandPath): a path inside
/// base loses the base part, one to three levels above it get "..", "..." or "...."; any
/// other path is kept whole. "." for base itself.
std::string RelativePath(const std::string& base, const std::string& path);

/// Asks before creating a missing folder. The question, the caption; true means yes.
using FolderPrompt = std::function<bool(const std::string& question, const std::string& caption)>;
/// The user interface puts its dialog here; headless callers answer by option. Unset,
/// missing folders are created without asking.
void setFolderPrompt(FolderPrompt prompt);

/// True when the folder exists, or was missing and the prompt agreed to create it (every
/// missing level is created). Thread: user interface.
bool EnsureFolder(const std::string& folder);

} // namespace trelvo::persist
