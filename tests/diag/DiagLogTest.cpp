#include "diag/DiagLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>
#include <thread>

#include "platform/RealtimeThread.h"
#include "support/TempFolder.h"

namespace trelvo::diag {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> gDebuggerLines;
void captureDebugger(std::string_view line) {
    gDebuggerLines.emplace_back(line);
}

// Strips the "hh:mm:ss: " time stamp of a log-list line.
std::string withoutTime(const std::string& line) {
    return line.size() > 10 ? line.substr(10) : line;
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = test::readFile(path);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

class DiagLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        gDebuggerLines.clear();
        log = std::make_unique<DiagLog>();
        log->setDebuggerSink(&captureDebugger);
        log->start(folder.file("Trelvo.log"));
    }

    test::TempFolder folder;
    std::unique_ptr<DiagLog> log;
};

TEST_F(DiagLogTest, StartClearsTheViewerAndOpensTheListWithATimeStampedFirstLine) {
    EXPECT_THAT(gDebuggerLines, ElementsAre("DBGVIEWCLEAR"));
    const auto lines = log->logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(-- \d\d:\d\d:\d\d --)"))) << lines[0];
}

TEST_F(DiagLogTest, EachOperationReachesExactlyItsOutputs) {
    log->switches.writeLog = true;
    log->switches.errorLog = true;
    log->switches.statusOpen = true;
    gDebuggerLines.clear();

    log->Log("log");
    log->LogError("logError");
    log->Status("status");
    log->StatusError("statusError");
    log->Trace("trace");
    log->TraceError("traceError");
    log->LogOnly("logOnly");
    log->LogOnlyError("logOnlyError");

    EXPECT_THAT(gDebuggerLines, ElementsAre("log", "ERR: logError"));
    std::vector<std::string> listed;
    for (const std::string& line : log->logLines()) listed.push_back(withoutTime(line));
    EXPECT_THAT(listed, ElementsAre(::testing::_, "log", "ERR: logError", "trace", "ERR: traceError", "logOnly",
                                    "ERR: logOnlyError"));
    EXPECT_THAT(log->statusLines(), ElementsAre("status", "ERR: statusError", "trace", "ERR: traceError"));
}

TEST_F(DiagLogTest, LogListLinesCarryTheTimeStampAndStatusLinesDoNot) {
    log->switches.writeLog = true;
    log->switches.statusOpen = true;
    log->Trace("both");
    EXPECT_TRUE(std::regex_match(log->logLines().back(), std::regex(R"(\d\d:\d\d:\d\d: both)")));
    EXPECT_EQ(log->statusLines().back(), "both");
}

TEST_F(DiagLogTest, SwitchesOffSendNothingAnywhere) {
    log->switches.debugOutput = false;
    gDebuggerLines.clear();
    log->Log("a");
    log->LogError("b");
    log->Status("c");
    log->Trace("d");
    EXPECT_TRUE(gDebuggerLines.empty());
    EXPECT_EQ(log->logLines().size(), 1u);
    EXPECT_TRUE(log->statusLines().empty());
}

TEST_F(DiagLogTest, NoLogFileIsWrittenWhenBothWriteSwitchesAreOff) {
    log->Log("line");
    log->LogError("error");
    EXPECT_FALSE(log->finish());
    EXPECT_FALSE(test::fileExists(folder.file("Trelvo.log")));
}

TEST_F(DiagLogTest, WithOnlyTheErrorLogTheFileHoldsTheFirstLineAndTheErrors) {
    log->switches.errorLog = true;
    log->Log("ordinary");
    log->LogError("first error");
    log->Trace("trace");
    log->TraceError("second error");
    ASSERT_TRUE(log->finish());
    const auto lines = fileLines(folder.file("Trelvo.log"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_THAT(lines[0], ::testing::StartsWith("-- "));
    EXPECT_EQ(withoutTime(lines[1]), "ERR: first error");
    EXPECT_EQ(withoutTime(lines[2]), "ERR: second error");
}

TEST_F(DiagLogTest, WithTheWriteLogTheFileEndsWithTheClosingLineAndReplacesAnOldFile) {
    test::writeFile(folder.file("Trelvo.log"), "an old run\n");
    log->switches.writeLog = true;
    log->Log("working");
    ASSERT_TRUE(log->finish());
    const auto lines = fileLines(folder.file("Trelvo.log"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(withoutTime(lines[1]), "working");
    EXPECT_TRUE(std::regex_match(withoutTime(lines[2]), std::regex(R"(closing log @ \d\d:\d\d:\d\d)"))) << lines[2];
}

TEST_F(DiagLogTest, TheHomeFolderIsCreatedWhenTheLogIsWritten) {
    log->start(folder.file("new/home/Trelvo.log"));
    log->switches.writeLog = true;
    EXPECT_TRUE(log->finish());
    EXPECT_TRUE(test::fileExists(folder.file("new/home/Trelvo.log")));
}

TEST_F(DiagLogTest, TheTenThousandAndFirstLineIsNotInTheFile) {
    log->switches.writeLog = true;
    for (int i = 2; i <= 10001; ++i) log->LogOnly("line " + std::to_string(i));
    ASSERT_TRUE(log->finish());
    const auto lines = fileLines(folder.file("Trelvo.log"));
    ASSERT_EQ(lines.size(), kLogListCapacity);
    EXPECT_EQ(withoutTime(lines.back()), "line 10000");
}

TEST_F(DiagLogTest, TheStatusListStopsAtAThousandLines) {
    log->switches.statusOpen = true;
    for (int i = 1; i <= 1005; ++i) log->Status("s" + std::to_string(i));
    const auto lines = log->statusLines();
    ASSERT_EQ(lines.size(), kStatusListCapacity);
    EXPECT_EQ(lines.back(), "s1000");
    log->clearStatusList();
    log->Status("again");
    EXPECT_THAT(log->statusLines(), ElementsAre("again"));
}

TEST_F(DiagLogTest, AppendToLastLineExtendsTheLastLogLineOnlyWhileWriteLogIsOn) {
    log->Log("effOpen");
    log->appendToLastLine(", host can: sizeWindow=1");
    EXPECT_EQ(log->logLines().size(), 1u);

    log->switches.writeLog = true;
    log->Log("effOpen");
    log->appendToLastLine(", host can: sizeWindow=1");
    log->appendToLastLine(", host can: offline=0");
    EXPECT_EQ(withoutTime(log->logLines().back()), "effOpen, host can: sizeWindow=1, host can: offline=0");
}

TEST_F(DiagLogTest, RealTimeLinesWaitInTheQueueUntilDrainedAndKeepTheirOrder) {
    log->switches.writeLog = true;
    std::thread audio([&] {
        platform::RealtimeScope realtime;
        log->Log("from audio 1");
        log->appendToLastLine(" +note");
        log->LogError("from audio 2");
    });
    audio.join();
    log->drain();
    const auto lines = log->logLines();
    ASSERT_EQ(lines.size(), 2u); // the error went to the debugger only: "ErrLog" is off
    EXPECT_EQ(withoutTime(lines[1]), "from audio 1 +note");
    EXPECT_THAT(gDebuggerLines, ElementsAre("DBGVIEWCLEAR", "from audio 1", "ERR: from audio 2"));
}

TEST_F(DiagLogTest, AFullRealTimeQueueDropsLinesAndSaysSoOnce) {
    log->switches.writeLog = true;
    std::thread audio([&] {
        platform::RealtimeScope realtime;
        for (int i = 0; i < 3000; ++i) log->LogOnly("burst");
    });
    audio.join();
    const auto lines = log->logLines();
    EXPECT_EQ(lines.size(), 1u + 2048u);
    EXPECT_EQ(log->queueDrops(), 3000u - 2048u);
    EXPECT_THAT(gDebuggerLines.back(), HasSubstr("952 lines from real-time threads dropped"));
}

TEST_F(DiagLogTest, ManyThreadsAppendingAtOnceLoseAndTearNothing) {
    log->switches.writeLog = true;
    log->switches.debugOutput = false;
    constexpr int kThreads = 6;
    constexpr int kLinesEach = 1000;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Half the threads play audio and MIDI threads, half plug-in and interface threads.
            platform::markRealtimeThread(t % 2 == 0);
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kLinesEach; ++i) {
                const std::string line = "thread " + std::to_string(t) + " line " + std::to_string(i);
                log->LogOnly(line);
                if (t % 2 == 0 && i % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    std::atomic<bool> done{false};
    std::thread drainer([&] {
        while (!done.load()) {
            log->drain();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    go = true;
    for (auto& thread : threads) thread.join();
    done = true;
    drainer.join();

    std::set<std::string> seen;
    for (const std::string& line : log->logLines()) seen.insert(withoutTime(line));
    EXPECT_EQ(log->queueDrops(), 0u);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kLinesEach; ++i)
            ASSERT_TRUE(seen.count("thread " + std::to_string(t) + " line " + std::to_string(i)))
                << "thread " << t << " line " << i;
}

TEST(LogHooks, OtherUnitsLogThroughReplaceableHooks) {
    static std::vector<std::string> captured;
    captured.clear();
    setLogHooks([](std::string_view line) { return captured.emplace_back(line), true; },
                [](std::string_view line) { return captured.emplace_back("E " + std::string(line)), true; });
    EXPECT_TRUE(hookedLog("one"));
    EXPECT_TRUE(hookedLogError("two"));
    setLogHooks(nullptr, nullptr); // back to Log and LogError
    hookedLog("three");
    EXPECT_THAT(captured, ElementsAre("one", "E two"));
}

TEST(TimeStamp, IsHoursMinutesSecondsWithTwoDigitsEach) {
    EXPECT_TRUE(std::regex_match(timeStampNow(), std::regex(R"(\d\d:\d\d:\d\d)")));
}

} // namespace
} // namespace trelvo::diag
