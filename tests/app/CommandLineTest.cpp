#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace trelvo::app {
namespace {

TEST(CommandLine, TakesAtMostOneFileAndKnowsItsOptions) {
    EXPECT_EQ(parseCommandLine({}).mode, CommandLine::Mode::Run);
    const CommandLine withFile = parseCommandLine({"/home/me/Projects/live.vprj"});
    EXPECT_EQ(withFile.mode, CommandLine::Mode::Run);
    EXPECT_EQ(withFile.file, "/home/me/Projects/live.vprj");
    EXPECT_EQ(parseCommandLine({"--version"}).mode, CommandLine::Mode::Version);
    EXPECT_EQ(parseCommandLine({"-h"}).mode, CommandLine::Mode::Help);

    const CommandLine twoFiles = parseCommandLine({"a.vprj", "b.vprj"});
    EXPECT_EQ(twoFiles.mode, CommandLine::Mode::UsageError);
    EXPECT_NE(twoFiles.error.find("one file"), std::string::npos);
    const CommandLine unknown = parseCommandLine({"--frobnicate"});
    EXPECT_EQ(unknown.mode, CommandLine::Mode::UsageError);
    EXPECT_NE(unknown.error.find("--frobnicate"), std::string::npos);
}

} // namespace
} // namespace trelvo::app
