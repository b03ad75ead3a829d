#pragma once

#include <string>
#include <vector>

namespace trelvo::test {

/// Routes the process-wide log into a fresh list for one test: "WrLog" and "ErrLog" on,
/// debugger output off, both call-level tables cleared. Restores the switches afterwards.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// The log lines since the capture began, without their time stamps.
    std::vector<std::string> lines() const;
    /// Only the error lines, without "ERR: ".
    std::vector<std::string> errors() const;
    /// True when some line contains text.
    bool contains(const std::string& text) const;
    /// Forgets the lines so far.
    void clear();
};

} // namespace trelvo::test
