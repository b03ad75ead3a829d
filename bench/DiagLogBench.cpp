// The cost of a log line on a real-time thread (queued) and on an ordinary thread.
#include <benchmark/benchmark.h>

#include <memory>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "platform/RealtimeThread.h"

namespace {

void discard(std::string_view) {}

void RealtimeLogLine(benchmark::State& state) {
    auto log = std::make_unique<trelvo::diag::DiagLog>();
    log->setDebuggerSink(&discard);
    log->switches.writeLog = true;
    trelvo::platform::RealtimeScope realtime;
    std::int64_t lines = 0;
    for (auto _ : state) {
        trelvo::diag::LineText line;
        line << lines << ":AMcallbackFrom \"Synth 1\", amGetTime=140737488355328";
        log->LogOnly(line.view());
        if (++lines % 1024 == 0) {
            state.PauseTiming();
            trelvo::platform::markRealtimeThread(false);
            log->drain();
            trelvo::platform::markRealtimeThread(true);
            state.ResumeTiming();
        }
    }
}
BENCHMARK(RealtimeLogLine);

void LogLineWithEveryOutputOff(benchmark::State& state) {
    auto log = std::make_unique<trelvo::diag::DiagLog>();
    log->switches.debugOutput = false;
    for (auto _ : state) log->Log("effProcessEvents");
}
BENCHMARK(LogLineWithEveryOutputOff);

} // namespace
