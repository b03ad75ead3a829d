#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/BoundedQueue.h"

namespace trelvo::diag {

/// The switches that decide where lines go. Settings "Debug", "WrLog", "ErrLog" and
/// "DebugVerbose"; statusOpen is set while a status window shows the status list.
struct LogSwitches {
    std::atomic<bool> debugOutput{true};
    std::atomic<bool> writeLog{false};
    std::atomic<bool> errorLog{false};
    std::atomic<bool> statusOpen{false};
    std::atomic<bool> verbose{false};
};

inline constexpr std::size_t kLogListCapacity = 10000;
inline constexpr std::size_t kStatusListCapacity = 1000;
inline constexpr std::string_view kErrorPrefix = "ERR: ";

/// The three diagnostic outputs: the debugger output (standard error), the log list that
/// is written to the log file at exit, and the status list a status window shows.
///
/// Lines may come from any thread. On a thread marked real-time (platform/RealtimeThread.h)
/// a line is copied into a lock-free bounded queue and nothing else happens; other threads
/// move queued lines into the lists first and then add their own, under a short mutex.
/// The user-interface thread calls drain() from its timer so that real-time lines appear.
class DiagLog {
public:
    /// Where debugger lines go; the default writes one line per call to standard error.
    using DebuggerSink = void (*)(std::string_view line);

    DiagLog();
    DiagLog(const DiagLog&) = delete;
    DiagLog& operator=(const DiagLog&) = delete;

    LogSwitches switches;

    /// Program start: clears the debug viewer ("DBGVIEWCLEAR"), empties both lists and puts
    /// "-- hh:mm:ss --" first in the log list. logFilePath is where finish() writes.
    /// Thread: user interface.
    void start(std::string logFilePath);

    /// Program exit: logs "closing log @ hh:mm:ss" (LogOnly) and, when "WrLog" or "ErrLog"
    /// is on, writes the log list to the log file, replacing an earlier one. Returns whether
    /// a file was written. Thread: user interface.
    bool finish();

    // The eight operations. Each returns true: logging never fails its caller.
    // Thread: any; wait-free on a real-time thread.
    bool Log(std::string_view line);
    bool LogError(std::string_view line);
    bool Status(std::string_view line);
    bool StatusError(std::string_view line);
    bool Trace(std::string_view line);
    bool TraceError(std::string_view line);
    bool LogOnly(std::string_view line);
    bool LogOnlyError(std::string_view line);

    /// Appends text to the last line of the log list (the host's canDo note). Does nothing
    /// while "WrLog" is off. Thread: any; wait-free on a real-time thread.
    void appendToLastLine(std::string_view text);

    /// Moves lines queued by real-time threads into the lists. Thread: any but real-time.
    void drain();

    /// Copies of the lists, after a drain. Thread: any but real-time.
    std::vector<std::string> logLines();
    std::vector<std::string> statusLines();
    void clearStatusList();
    /// The status lines not taken yet, and the list emptied, at once.
    std::vector<std::string> takeStatusLines();

    void setDebuggerSink(DebuggerSink sink) noexcept { debuggerSink.store(sink); }
    std::string logFilePath() const;

    /// Lines lost because the real-time queue was full.
    std::uint64_t queueDrops() const noexcept { return queue.dropCount(); }

private:
    enum Target : std::uint8_t {
        kToDebugger = 1,
        kToLogList = 2,
        kToStatus = 4,
        kIsError = 8,
        kAppendToLast = 16,
    };

    static constexpr std::size_t kQueuedTextCapacity = 496;
    struct QueuedLine {
        std::int64_t wallSeconds;
        std::uint16_t length;
        std::uint8_t targets;
        char text[kQueuedTextCapacity];
    };

    std::uint8_t ordinaryTargets(bool debugger, bool logList, bool status) const noexcept;
    std::uint8_t errorTargets(bool debugger, bool logList, bool status) const noexcept;
    void submit(std::uint8_t targets, std::string_view line);
    void drainLocked();
    void applyLocked(std::uint8_t targets, std::int64_t wallSeconds, std::string_view line);

    platform::BoundedQueue<QueuedLine, 2048> queue;
    std::uint64_t reportedDrops = 0;
    mutable std::mutex mutex;
    std::vector<std::string> logList;
    std::vector<std::string> statusList;
    std::string filePath;
    std::atomic<DebuggerSink> debuggerSink;
};

/// Wall-clock time of day as hh:mm:ss (local time). Thread: any but real-time.
/// Whether the default debugger output (standard error) is written: off unless the
/// environment has TRELVO_DEBUG=1 or the command line asks with --verbose. The log file
/// and any other debugger sink are not affected. Thread: any.
void setDebuggerToStandardError(bool on) noexcept;
bool debuggerToStandardError() noexcept;

std::string timeStamp(std::int64_t wallSeconds);
std::string timeStampNow();

/// The process-wide log used by the free functions below.
DiagLog& theLog();

bool Log(std::string_view line);
bool LogError(std::string_view line);
bool Status(std::string_view line);
bool StatusError(std::string_view line);
bool Trace(std::string_view line);
bool TraceError(std::string_view line);
bool LogOnly(std::string_view line);
bool LogOnlyError(std::string_view line);

/// Other units log through these two replaceable hooks; at start they are Log and LogError.
using LineHook = bool (*)(std::string_view line);
void setLogHooks(LineHook log, LineHook logError) noexcept;
bool hookedLog(std::string_view line);
bool hookedLogError(std::string_view line);

/// A debug line: through the log hook, only while the log file is switched on ("WrLog"),
/// so that the design's begin/end lines cost nothing otherwise. Thread: any.
void debugLine(std::string_view line);

} // namespace trelvo::diag
