#pragma once

// The log lines of the plug-in loader and dispatcher, shared by TVstPlugIn's files.

#include <string>
#include <string_view>

#include "diag/DiagLog.h"

namespace trelvo::host::detail {

inline bool writeLogOn() noexcept {
    return diag::theLog().switches.writeLog.load(std::memory_order_relaxed);
}

/// A debug line for the log file only.
inline void fileOnlyLine(std::string_view line) {
    if (writeLogOn()) diag::LogOnly(line);
}

inline void errorLine(std::string_view line) {
    diag::hookedLogError(line);
}

inline std::string quoted(std::string_view text) {
    std::string result = "\"";
    result.append(text).append("\"");
    return result;
}

} // namespace trelvo::host::detail
