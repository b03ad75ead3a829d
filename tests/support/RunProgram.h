#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace trelvo::test {

struct ProgramResult {
    int exitCode = -1; ///< the exit status, or 128 + signal when killed
    std::string out;
    std::string err;
};

/// Runs a program with arguments, waits for it, and returns what it printed.
/// extraEnvironment holds "NAME=value" entries added to this process's environment.
/// With terminateAfterMs >= 0 the program is sent terminateSignal (SIGTERM unless told)
/// once that much time has passed; with terminateNow, once another thread of the test sets it.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& extraEnvironment = {}, int timeoutSeconds = 60,
                         int terminateAfterMs = -1, const std::atomic<bool>* terminateNow = nullptr,
                         int terminateSignal = 15);

} // namespace trelvo::test
