#include "diag/DiagLog.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "diag/LineText.h"
#include "platform/Clock.h"
#include "platform/RealtimeThread.h"
#include "platform/TrelvoHome.h"

namespace trelvo::diag {

namespace {

/// The debugger output reaches the terminal only when asked for (TRELVO_DEBUG=1 or
/// --verbose): on a terminal it is chatter; the log file keeps its lines either way.
bool debugRequestedByEnvironment() {
    const char* value = std::getenv("TRELVO_DEBUG");
    return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

std::atomic<bool> gDebuggerToStandardError{debugRequestedByEnvironment()};

void writeToStandardError(std::string_view line) {
    if (!gDebuggerToStandardError.load(std::memory_order_relaxed)) return;
    // One system call per line, so that lines from several processes never interleave.
    char newline = '\n';
    iovec parts[2] = {{const_cast<char*>(line.data()), line.size()}, {&newline, 1}};
    while (::writev(STDERR_FILENO, parts, 2) < 0 && errno == EINTR) {
    }
}

std::atomic<LineHook> gLogHook{&Log};
std::atomic<LineHook> gLogErrorHook{&LogError};

} // namespace

void setDebuggerToStandardError(bool on) noexcept {
    gDebuggerToStandardError.store(on);
}

bool debuggerToStandardError() noexcept {
    return gDebuggerToStandardError.load();
}

std::string timeStamp(std::int64_t wallSeconds) {
    const std::time_t seconds = static_cast<std::time_t>(wallSeconds);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::string timeStampNow() {
    return timeStamp(platform::wallClockSeconds());
}

DiagLog::DiagLog() : debuggerSink(&writeToStandardError) {
    logList.reserve(kLogListCapacity);
    statusList.reserve(kStatusListCapacity);
}

void DiagLog::start(std::string logFilePath) {
    {
        std::lock_guard lock(mutex);
        drainLocked();
        filePath = std::move(logFilePath);
        logList.clear();
        statusList.clear();
        logList.push_back("-- " + timeStampNow() + " --");
    }
    // The debug viewer clears its display on this text; "Debug" is on at this moment.
    debuggerSink.load()("DBGVIEWCLEAR");
}

bool DiagLog::finish() {
    LogOnly("closing log @ " + timeStampNow());
    std::string text;
    std::string path;
    {
        std::lock_guard lock(mutex);
        drainLocked();
        const bool wanted = switches.writeLog.load() || switches.errorLog.load();
        path = filePath;
        if (wanted && !path.empty()) {
            for (const std::string& line : logList) {
                text += line;
                text += '\n';
            }
        }
        logList.clear();
        statusList.clear();
        if (!wanted || path.empty()) return false;
    }
    // A log file that cannot be written is lost without a message.
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) platform::makeDirectories(path.substr(0, slash));
    std::string error;
    return platform::writeFileAtomically(path, text, error);
}

std::uint8_t DiagLog::ordinaryTargets(bool debugger, bool logList, bool status) const noexcept {
    std::uint8_t targets = 0;
    if (debugger && switches.debugOutput.load(std::memory_order_relaxed)) targets |= kToDebugger;
    if (logList && switches.writeLog.load(std::memory_order_relaxed)) targets |= kToLogList;
    if (status && switches.statusOpen.load(std::memory_order_relaxed)) targets |= kToStatus;
    return targets;
}

std::uint8_t DiagLog::errorTargets(bool debugger, bool logList, bool status) const noexcept {
    std::uint8_t targets = 0;
    if (debugger && switches.debugOutput.load(std::memory_order_relaxed)) targets |= kToDebugger;
    if (logList && switches.errorLog.load(std::memory_order_relaxed)) targets |= kToLogList;
    if (status && switches.statusOpen.load(std::memory_order_relaxed)) targets |= kToStatus;
    return targets != 0 ? static_cast<std::uint8_t>(targets | kIsError) : 0;
}

bool DiagLog::Log(std::string_view line) {
    submit(ordinaryTargets(true, true, false), line);
    return true;
}
bool DiagLog::LogError(std::string_view line) {
    submit(errorTargets(true, true, false), line);
    return true;
}
bool DiagLog::Status(std::string_view line) {
    submit(ordinaryTargets(false, false, true), line);
    return true;
}
bool DiagLog::StatusError(std::string_view line) {
    submit(errorTargets(false, false, true), line);
    return true;
}
bool DiagLog::Trace(std::string_view line) {
    submit(ordinaryTargets(false, true, true), line);
    return true;
}
bool DiagLog::TraceError(std::string_view line) {
    submit(errorTargets(false, true, true), line);
    return true;
}
bool DiagLog::LogOnly(std::string_view line) {
    submit(ordinaryTargets(false, true, false), line);
    return true;
}
bool DiagLog::LogOnlyError(std::string_view line) {
    submit(errorTargets(false, true, false), line);
    return true;
}

void DiagLog::appendToLastLine(std::string_view text) {
    if (!switches.writeLog.load(std::memory_order_relaxed)) return;
    submit(kAppendToLast, text);
}

void DiagLog::submit(std::uint8_t targets, std::string_view line) {
    if (targets == 0) return;
    const std::int64_t now = platform::wallClockSeconds();
    if (platform::isRealtimeThread()) {
        queue.tryEmplace([&](QueuedLine& record) {
            const std::size_t length = line.size() < kQueuedTextCapacity ? line.size() : kQueuedTextCapacity;
            for (std::size_t i = 0; i < length; ++i) record.text[i] = line[i];
            record.length = static_cast<std::uint16_t>(length);
            record.targets = targets;
            record.wallSeconds = now;
        });
        return;
    }
    std::lock_guard lock(mutex);
    drainLocked();
    applyLocked(targets, now, line);
}

void DiagLog::drain() {
    std::lock_guard lock(mutex);
    drainLocked();
}

void DiagLog::drainLocked() {
    QueuedLine record;
    while (queue.tryPop(record))
        applyLocked(record.targets, record.wallSeconds, std::string_view(record.text, record.length));
    const std::uint64_t drops = queue.dropCount();
    if (drops != reportedDrops) {
        LineText note;
        note << "log queue full: " << (drops - reportedDrops) << " lines from real-time threads dropped";
        reportedDrops = drops;
        applyLocked(errorTargets(true, true, false), platform::wallClockSeconds(), note.view());
    }
}

void DiagLog::applyLocked(std::uint8_t targets, std::int64_t wallSeconds, std::string_view line) {
    if ((targets & kAppendToLast) != 0) {
        if (!logList.empty()) logList.back().append(line);
        return;
    }
    const std::string_view prefix = (targets & kIsError) != 0 ? kErrorPrefix : std::string_view();
    if ((targets & kToDebugger) != 0) {
        LineText text;
        text << prefix << line;
        debuggerSink.load()(text.view());
    }
    if ((targets & kToLogList) != 0 && logList.size() < kLogListCapacity) {
        std::string entry = timeStamp(wallSeconds);
        entry.append(": ").append(prefix).append(line);
        logList.push_back(std::move(entry));
    }
    if ((targets & kToStatus) != 0 && statusList.size() < kStatusListCapacity) {
        std::string entry(prefix);
        entry.append(line);
        statusList.push_back(std::move(entry));
    }
}

std::vector<std::string> DiagLog::logLines() {
    std::lock_guard lock(mutex);
    drainLocked();
    return logList;
}

std::vector<std::string> DiagLog::statusLines() {
    std::lock_guard lock(mutex);
    drainLocked();
    return statusList;
}

std::vector<std::string> DiagLog::takeStatusLines() {
    std::lock_guard lock(mutex);
    drainLocked();
    std::vector<std::string> taken;
    taken.swap(statusList);
    statusList.reserve(kStatusListCapacity);
    return taken;
}

void DiagLog::clearStatusList() {
    std::lock_guard lock(mutex);
    drainLocked();
    statusList.clear();
}

std::string DiagLog::logFilePath() const {
    std::lock_guard lock(mutex);
    return filePath;
}

DiagLog& theLog() {
    // Never destroyed: threads that outlive main() may still log during shut-down.
    static DiagLog* const instance = new DiagLog();
    return *instance;
}

bool Log(std::string_view line) {
    return theLog().Log(line);
}
bool LogError(std::string_view line) {
    return theLog().LogError(line);
}
bool Status(std::string_view line) {
    return theLog().Status(line);
}
bool StatusError(std::string_view line) {
    return theLog().StatusError(line);
}
bool Trace(std::string_view line) {
    return theLog().Trace(line);
}
bool TraceError(std::string_view line) {
    return theLog().TraceError(line);
}
bool LogOnly(std::string_view line) {
    return theLog().LogOnly(line);
}
bool LogOnlyError(std::string_view line) {
    return theLog().LogOnlyError(line);
}

void setLogHooks(LineHook log, LineHook logError) noexcept {
    gLogHook.store(log != nullptr ? log : &Log);
    gLogErrorHook.store(logError != nullptr ? logError : &LogError);
}

bool hookedLog(std::string_view line) {
    return gLogHook.load()(line);
}
bool hookedLogError(std::string_view line) {
    return gLogErrorHook.load()(line);
}

void debugLine(std::string_view line) {
    if (theLog().switches.writeLog.load(std::memory_order_relaxed)) hookedLog(line);
}

} // namespace trelvo::diag
