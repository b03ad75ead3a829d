// The hand-off of a file from a second start to the running copy.

#include "session/HandOff.h"

#include <filesystem>

#include "diag/DiagLog.h"
#include "persist/IniFile.h"
#include "persist/PathForms.h"
#include "platform/SingleInstance.h"

namespace trelvo::app {

using platform::SingleInstance;

bool handToRunningCopy(const std::string& file, const std::string& settingsFile, const std::string& socketPath,
                       int timeoutMs) {
    if (SingleInstance::send(socketPath, "ping", timeoutMs) != SingleInstance::Reach::Delivered) return false;
    if (file.empty()) return SingleInstance::send(socketPath, "raise", timeoutMs) == SingleInstance::Reach::Delivered;
    // The running copy has a working folder of its own: the path goes whole.
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    persist::IniHandle handle;
    persist::OpenIni(handle, settingsFile, "General", persist::kIniWrite);
    persist::IniStr(
        handle, "fName",
        persist::RelativePath(persist::programFolder(), error ? file : absolute.lexically_normal().string()));
    if (!persist::CloseIni(handle)) return false;
    return SingleInstance::send(socketPath, "open", timeoutMs) == SingleInstance::Reach::Delivered;
}

std::string handedFile(const std::string& settingsFile) {
    persist::IniHandle handle;
    persist::OpenIni(handle, settingsFile, "General", persist::kIniRead);
    const std::string stored(persist::trimmed(persist::IniStr(handle, "fName", "")));
    persist::CloseIni(handle);
    return stored.empty() ? std::string() : persist::ExpandPath({}, stored);
}

} // namespace trelvo::app
