#include "session/LoadReport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include "TestPaths.h"
#include "rack/AudioEngine.h"
#include "rack/Rack.h"
#include "support/EngineRunner.h"

namespace trelvo::rack {
namespace {

using ::testing::ElementsAre;
using ::testing::Field;

/// Runs the test in one time zone and puts the process's own back afterwards.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* current = std::getenv("TZ")) saved = current;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (saved)
            setenv("TZ", saved->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved;
};

TEST(LoadReport, TheXrunTextGivesTheCountAndTheLocalTimeOfTheLastOne) {
    EXPECT_EQ(xrunText({}), "xruns: 0");

    const TimeZone berlin("CET-1"); // UTC+1, no summer time
    // 2023-11-14 22:13:20.999 UTC: the milliseconds are cut, not rounded up.
    EXPECT_EQ(xrunText({3, 1'700'000'000'999}), "xruns: 3, last 23:13:20");
    EXPECT_EQ(xrunText({1, 1'700'000'059'000}), "xruns: 1, last 23:14:19");
}

class LoadReportTest : public ::testing::Test {
protected:
    // 480 frames at 48 kHz: a block lasts 10 ms, 10,000,000 ticks.
    static constexpr int kBufferSize = 480;
    static constexpr double kSampleRate = 48000.0;

    LoadReportTest() {
        master = rack.addSlot(SlotKind::Output);
        synth = rack.addSlot(SlotKind::Channel);
        lead = test::addPlugIn(rack, TrelvoSynth_PATH, "Lead");
        quiet = rack.addSlot(SlotKind::Channel);
        level = test::addPlugIn(rack, TrelvoGain_PATH, "Level");
        midi = rack.addSlot(SlotKind::Midi);
        reverb = rack.addSlot(SlotKind::Group);
        echo = test::addPlugIn(rack, TrelvoGain_PATH, "Echo");
        setCost(master, 300'000); // strips are not listed: their plug-ins are
        setCost(synth, 4'500'000);
        setCost(lead, 4'100'000);
        setCost(level, 300'000);
        setCost(echo, 1'200'000);
        timing.average = 6'000'000;
    }
    void setCost(int slot, std::int64_t ticks) { rack.slot(slot).averageTime = ticks; }

    Rack rack;
    BlockTiming timing;
    int master = -1, synth = -1, lead = -1, quiet = -1, level = -1, midi = -1, reverb = -1, echo = -1;
};

TEST_F(LoadReportTest, PlugInsAreListedCostliestFirstWithTheirSharesOfTheBlockAndOfTheEngine) {
    ASSERT_GE(lead, 0);
    ASSERT_GE(echo, 0);
    const std::vector<SlotLoad> loads = slotLoads(rack, timing, kBufferSize, kSampleRate);
    ASSERT_THAT(loads, ElementsAre(Field(&SlotLoad::slotIndex, lead), Field(&SlotLoad::slotIndex, echo),
                                   Field(&SlotLoad::slotIndex, level)));
    EXPECT_EQ(loads[0].name, "Lead");
    EXPECT_DOUBLE_EQ(loads[0].blockPercent, 41.0);
    EXPECT_DOUBLE_EQ(loads[1].blockPercent, 12.0);
    EXPECT_DOUBLE_EQ(loads[2].blockPercent, 3.0);
    EXPECT_NEAR(loads[0].enginePercent, 68.333, 0.001);
    EXPECT_DOUBLE_EQ(loads[1].enginePercent, 20.0);

    // At 44.1 kHz the same 480 frames last longer, so the same time is a smaller share.
    EXPECT_NEAR(slotLoads(rack, timing, kBufferSize, 44100.0)[0].blockPercent, 37.67, 0.01);
}

TEST_F(LoadReportTest, PlugInsSwitchedOffOrBypassedOrInSuchAStripAreLeftOutAndEqualCostsKeepRackOrder) {
    rack.slot(reverb).runMode.set(RunMode::Bypass, true); // the echo's strip
    setCost(lead, 300'000);                               // as much as the level, which comes later
    std::vector<SlotLoad> loads = slotLoads(rack, timing, kBufferSize, kSampleRate);
    EXPECT_THAT(loads, ElementsAre(Field(&SlotLoad::slotIndex, lead), Field(&SlotLoad::slotIndex, level)));
    rack.slot(lead).runMode.set(RunMode::Off, true);
    loads = slotLoads(rack, timing, kBufferSize, kSampleRate);
    EXPECT_THAT(loads, ElementsAre(Field(&SlotLoad::slotIndex, level)));
}

TEST_F(LoadReportTest, WithoutABlockDurationOrAnEngineTimeTheSharesAreZero) {
    timing.average = 0;
    for (const SlotLoad& load : slotLoads(rack, timing, 0, kSampleRate)) {
        EXPECT_EQ(load.blockPercent, 0.0) << load.name;
        EXPECT_EQ(load.enginePercent, 0.0) << load.name;
    }
    EXPECT_EQ(slotLoads(rack, timing, kBufferSize, 0.0)[0].blockPercent, 0.0);
    EXPECT_EQ(slotLoads(rack, timing, kBufferSize, kSampleRate).size(), 3u) << "the plug-ins are still listed";
}

TEST_F(LoadReportTest, TheStatusTextNamesTheCostliestFewAndLeavesOutWhatRoundsToNothing) {
    const std::vector<SlotLoad> loads = slotLoads(rack, timing, kBufferSize, kSampleRate);
    EXPECT_EQ(topLoadsText(loads), "Lead 41%  Echo 12%  Level 3%");
    EXPECT_EQ(topLoadsText(loads, 2), "Lead 41%  Echo 12%");
    setCost(level, 40'000); // 0.4%
    EXPECT_EQ(topLoadsText(slotLoads(rack, timing, kBufferSize, kSampleRate), 4), "Lead 41%  Echo 12%");
    EXPECT_EQ(topLoadsText({}), "");
}

} // namespace
} // namespace trelvo::rack
