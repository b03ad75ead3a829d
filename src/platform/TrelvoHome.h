#pragma once

#include <string>
#include <vector>

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

/// Writes text to path as every save does (FileReplacer): through a temporary file renamed
/// over the target only after every byte was written and flushed, so a failed write never
/// leaves a truncated file behind; links followed, devices and FIFOs written into, mode and
/// owner kept, read-only targets refused. False with the reason in error on failure.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error);

/// Called by writeFileAtomically after the temporary file is complete and before it is
/// renamed over the target. Only tests set it (to stop a write at its most delicate moment).
using BeforeReplaceHook = void (*)(const std::string& temporaryPath);
void setBeforeReplaceHook(BeforeReplaceHook hook) noexcept;
BeforeReplaceHook beforeReplaceHook() noexcept;

/// A folder name with one trailing "/" (an empty name stays empty), and without it.
std::string withTrailingSlash(const std::string& folder);
std::string withoutTrailingSlash(std::string path);

/// Reads a whole regular file; false when it does not exist or cannot be read.
bool readWholeFile(const std::string& path, std::string& text);

} // namespace trelvo::platform

namespace trelvo::platform {

/// The system's VST folder: the first entry of $VST_PATH when set, else the first existing
/// of ~/.vst, ~/.lxvst, /usr/local/lib/vst, /usr/lib/vst, /usr/local/lib/lxvst,
/// /usr/lib/lxvst; empty when none exists.
std::string systemVstFolder();

/// The folders of Trelvo's own plug-ins, beside the program: "plugins" of the build tree
/// (the program in <build>/src/app) and "lib/trelvo/plugins" of an installation; only the
/// ones that exist.
std::vector<std::string> ownPluginFolders();

/// True when path names an existing regular file (or a link to one).
bool isRegularFile(const std::string& path);

/// The part of a path after its last "/" (or "\", so Windows paths read too).
std::string fileNamePart(const std::string& path);

} // namespace trelvo::platform

namespace trelvo::platform {
/// True when something exists at path (a file, a folder, ...).
bool fileExists(const std::string& path);

/// Renames from to to, refusing to replace anything that exists under the new name. False,
/// with the reason in error, when nothing was renamed.
bool renameWithoutReplacing(const std::string& from, const std::string& to, std::string& error);
} // namespace trelvo::platform
