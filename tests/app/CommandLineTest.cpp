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

TEST(CommandLine, HeadlessAndRenderTakeTheirOwnOptions) {
    const CommandLine headless = parseCommandLine({"--headless", "live.vprj", "--driver", "JACK", "--seconds", "2.5"});
    EXPECT_EQ(headless.mode, CommandLine::Mode::Headless);
    EXPECT_EQ(headless.file, "live.vprj");
    EXPECT_EQ(headless.driver, "JACK");
    EXPECT_EQ(headless.seconds, 2.5);
    EXPECT_EQ(headless.oscPort, -1); // the settings decide
    EXPECT_EQ(parseCommandLine({"--headless", "--osc-port", "9000"}).oscPort, 9000);
    EXPECT_EQ(parseCommandLine({"live.vprj", "--osc-port", "0"}).oscPort, 0);

    const CommandLine render = parseCommandLine({"--render", "synth.so", "--out", "o.wav", "--midi", "m.mid", "--rate",
                                                 "44100", "--block", "64", "--save-fxb", "b.fxb"});
    EXPECT_EQ(render.mode, CommandLine::Mode::Render);
    EXPECT_EQ(render.file, "synth.so");
    EXPECT_EQ(render.out, "o.wav");
    EXPECT_EQ(render.rate, 44100);
    EXPECT_EQ(render.block, 64);
    EXPECT_EQ(render.saveFxb, "b.fxb");
    EXPECT_EQ(parseCommandLine({"--render", "x.vprj", "--out", "o.wav"}).rate, 48000);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--render", "x.vprj"},                              // no --out
             {"--render", "x.vprj", "--out", "o", "--rate", "7"}, // rate out of range
             {"--render", "x.vprj", "--out", "o", "--block", "64k"},
             {"--headless", "--seconds", "-1"},
             {"--headless", "--out", "o.wav"}, // a render option
             {"--headless", "--render", "x.vprj", "--out", "o"},
             {"--version", "--driver", "JACK"},
             {"--headless", "--osc-port", "65536"},
             {"--osc-port", "nine"},
             {"--render", "x.vprj", "--out", "o.wav", "--osc-port", "9000"},
             {"--render", "x.vprj", "--out", "o.wav", "--driver", "JACK"}}) { // a render runs on the Offline driver
        const CommandLine result = parseCommandLine(bad);
        EXPECT_EQ(result.mode, CommandLine::Mode::UsageError) << ::testing::PrintToString(bad);
        EXPECT_FALSE(result.error.empty());
    }
}

} // namespace
} // namespace trelvo::app
