#include "diag/OpcodeLevels.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace trelvo::diag {
namespace {

std::vector<std::string> passes(LogSwitches& switches, OpcodeLevelTable& table, int opcode, int highest, int calls) {
    std::vector<std::string> texts;
    for (int i = 0; i < calls; ++i) {
        CountText countText;
        if (passLogGate(switches, opcode, table, highest, countText)) texts.emplace_back(countText.view());
    }
    return texts;
}

TEST(OpcodeLevels, ALevelOfThreeLogsTheFirstThreeCallsWithTheirCounts) {
    LogSwitches switches;
    switches.writeLog = true;
    OpcodeLevelTable table(kPlugOpcodeCount);
    table.setLevel(23, 3);
    EXPECT_EQ(passes(switches, table, 23, 79, 10), (std::vector<std::string>{"(0)", "(1)", "(2)"}));
    EXPECT_EQ(table.count(23), 3);
    // Never again while the program runs.
    EXPECT_TRUE(passes(switches, table, 23, 79, 5).empty());
}

TEST(OpcodeLevels, AllLogsEveryCallWithoutACountText) {
    LogSwitches switches;
    switches.writeLog = true;
    OpcodeLevelTable table(kHostOpcodeCount);
    table.setLevel(7, kLevelAll);
    EXPECT_EQ(passes(switches, table, 7, 49, 500), std::vector<std::string>(500, ""));
}

TEST(OpcodeLevels, NothingIsLoggedWhileWriteLogIsOffWhateverTheLevels) {
    LogSwitches switches;
    OpcodeLevelTable table(kPlugOpcodeCount);
    for (int opcode = 0; opcode < kPlugOpcodeCount; ++opcode) table.setLevel(opcode, kLevelAll);
    for (int opcode = 0; opcode < kPlugOpcodeCount; ++opcode)
        EXPECT_TRUE(passes(switches, table, opcode, 79, 3).empty());
    EXPECT_EQ(table.count(12), 0); // refused calls are not counted
}

TEST(OpcodeLevels, OpcodesOutsideTheTableAreNeverLogged) {
    LogSwitches switches;
    switches.writeLog = true;
    OpcodeLevelTable table(kHostOpcodeCount);
    for (int opcode = 0; opcode < kHostOpcodeCount; ++opcode) table.setLevel(opcode, kLevelAll);
    EXPECT_TRUE(passes(switches, table, -1, 49, 1).empty());
    EXPECT_TRUE(passes(switches, table, 50, 49, 1).empty());
    EXPECT_TRUE(passes(switches, table, 49, 48, 1).empty()); // the caller's highest index rules
    EXPECT_EQ(passes(switches, table, 49, 49, 1).size(), 1u);
}

TEST(OpcodeLevels, ConcurrentCallersNeverLogMoreThanTheLevel) {
    LogSwitches switches;
    switches.writeLog = true;
    OpcodeLevelTable table(kHostOpcodeCount);
    table.setLevel(16, 1000);
    std::atomic<int> logged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] { logged += static_cast<int>(passes(switches, table, 16, 49, 700).size()); });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(logged.load(), 1000);
    EXPECT_EQ(table.count(16), 1000);
}

TEST(OpcodeLevels, LevelTextsReadAndWriteOffAllAndNumbers) {
    EXPECT_EQ(levelText(0), "off");
    EXPECT_EQ(levelText(kLevelAll), "ALL");
    EXPECT_EQ(levelText(25), "25");
    EXPECT_EQ(parseLevel("off", 7), 0);
    EXPECT_EQ(parseLevel("ALL", 7), kLevelAll);
    EXPECT_EQ(parseLevel("all", 7), kLevelAll);
    EXPECT_EQ(parseLevel(" 12 ", 7), 12);
    EXPECT_EQ(parseLevel("twelve", 7), 7);
    EXPECT_EQ(parseLevel("", 7), 7);
    EXPECT_EQ(parseLevel("99999999999", 7), 7);
}

} // namespace
} // namespace trelvo::diag
