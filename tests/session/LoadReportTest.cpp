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
        plugIn = test::addPlugIn(rack, TrelvoGain_PATH, "Gain");
        quiet = rack.addSlot(SlotKind::Channel);
        midi = rack.addSlot(SlotKind::Midi);
        reverb = rack.addSlot(SlotKind::Group);
        rack.slot(synth).SlotName = "Synth";
        rack.slot(reverb).SlotName = "Reverb";
        rack.slot(quiet).SlotName = "Quiet";
        setCost(master, 300'000);
        setCost(synth, 4'100'000); // with the Gain plug-in under it
        setCost(quiet, 0);
        setCost(reverb, 1'200'000);
        timing.average = 6'000'000;
    }
    void setCost(int slot, std::int64_t ticks) { rack.slot(slot).averageTime = ticks; }

    Rack rack;
    BlockTiming timing;
    int master = -1, synth = -1, plugIn = -1, quiet = -1, midi = -1, reverb = -1;
};

TEST_F(LoadReportTest, StripsAreListedCostliestFirstWithTheirSharesOfTheBlockAndOfTheEngine) {
    ASSERT_GE(plugIn, 0);
    const std::vector<SlotLoad> loads = slotLoads(rack, timing, kBufferSize, kSampleRate);
    // The plug-in and MIDI slots are not timed on their own: their strips' times hold them.
    ASSERT_THAT(loads, ElementsAre(Field(&SlotLoad::slotIndex, synth), Field(&SlotLoad::slotIndex, reverb),
                                   Field(&SlotLoad::slotIndex, master), Field(&SlotLoad::slotIndex, quiet)));
    EXPECT_EQ(loads[0].name, "Synth");
    EXPECT_EQ(loads[2].name, "Master");
    EXPECT_DOUBLE_EQ(loads[0].blockPercent, 41.0);
    EXPECT_DOUBLE_EQ(loads[1].blockPercent, 12.0);
    EXPECT_DOUBLE_EQ(loads[2].blockPercent, 3.0);
    EXPECT_DOUBLE_EQ(loads[3].blockPercent, 0.0);
    EXPECT_NEAR(loads[0].enginePercent, 68.333, 0.001);
    EXPECT_DOUBLE_EQ(loads[1].enginePercent, 20.0);
    EXPECT_DOUBLE_EQ(loads[2].enginePercent, 5.0);

    // At 44.1 kHz the same 480 frames last longer, so the same time is a smaller share.
    EXPECT_NEAR(slotLoads(rack, timing, kBufferSize, 44100.0)[0].blockPercent, 37.67, 0.01);
}

TEST_F(LoadReportTest, StripsSwitchedOffOrBypassedAreLeftOutAndEqualCostsKeepRackOrder) {
    rack.slot(synth).runMode.set(RunMode::Off, true);
    rack.slot(reverb).runMode.set(RunMode::Bypass, true);
    setCost(quiet, 300'000); // as much as the master, which comes first in the rack
    const std::vector<SlotLoad> loads = slotLoads(rack, timing, kBufferSize, kSampleRate);
    EXPECT_THAT(loads, ElementsAre(Field(&SlotLoad::slotIndex, master), Field(&SlotLoad::slotIndex, quiet)));
}

TEST_F(LoadReportTest, WithoutABlockDurationOrAnEngineTimeTheSharesAreZero) {
    timing.average = 0;
    for (const SlotLoad& load : slotLoads(rack, timing, 0, kSampleRate)) {
        EXPECT_EQ(load.blockPercent, 0.0) << load.name;
        EXPECT_EQ(load.enginePercent, 0.0) << load.name;
    }
    EXPECT_EQ(slotLoads(rack, timing, kBufferSize, 0.0)[0].blockPercent, 0.0);
    EXPECT_EQ(slotLoads(rack, timing, kBufferSize, kSampleRate).size(), 4u) << "the strips are still listed";
}

TEST_F(LoadReportTest, TheStatusTextNamesTheCostliestFewAndLeavesOutWhatRoundsToNothing) {
    const std::vector<SlotLoad> loads = slotLoads(rack, timing, kBufferSize, kSampleRate);
    EXPECT_EQ(topLoadsText(loads), "Synth 41%  Reverb 12%  Master 3%");
    EXPECT_EQ(topLoadsText(loads, 2), "Synth 41%  Reverb 12%");
    setCost(master, 40'000); // 0.4%
    EXPECT_EQ(topLoadsText(slotLoads(rack, timing, kBufferSize, kSampleRate), 4), "Synth 41%  Reverb 12%");
    EXPECT_EQ(topLoadsText({}), "");
}

} // namespace
} // namespace trelvo::rack
