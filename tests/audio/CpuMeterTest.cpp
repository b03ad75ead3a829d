#include "audio/CpuMeter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::audio {
namespace {

TEST(CpuMeter, ReportsEachProcessorAndTheTotalLast) {
    test::TempFolder folder;
    const std::string stat = folder.file("stat");
    // user nice system idle iowait irq softirq
    test::writeFile(stat, "cpu  100 0 100 800 0 0 0\ncpu0 50 0 50 400 0 0 0\ncpu1 50 0 50 400 0 0 0\nintr 1\n");
    CpuMeter meter(stat);
    EXPECT_EQ(meter.processorCount(), 3);
    test::writeFile(stat, "cpu  250 0 150 900 0 0 0\ncpu0 150 0 100 400 0 0 0\ncpu1 100 0 50 500 0 0 0\n");
    ASSERT_TRUE(meter.Sample());
    EXPECT_DOUBLE_EQ(meter.Usage(0), 1.0);
    EXPECT_DOUBLE_EQ(meter.Usage(1), 50.0 / 150.0);
    EXPECT_DOUBLE_EQ(meter.Usage(2), 200.0 / 300.0);
    test::writeFile(stat, "cpu  250 0 150 1000 0 0 0\ncpu0 150 0 100 450 0 0 0\ncpu1 100 0 50 550 0 0 0\n");
    EXPECT_EQ(meter.loadText(), "0%    0%");
}

TEST(CpuMeter, FailuresAreLoggedAndTheMeterStopsAfterwards) {
    test::LogCapture log;
    test::TempFolder folder;
    CpuMeter missing(folder.file("nothing"));
    EXPECT_FALSE(missing.Sample());
    EXPECT_EQ(missing.loadText(), "");
    CpuMeter garbage(folder.file("garbage"));
    test::writeFile(folder.file("garbage"), "not a stat file\n");
    EXPECT_FALSE(garbage.Sample());
    CpuMeter real;
    EXPECT_GT(real.processorCount(), 1);
    EXPECT_EQ(real.Usage(99), 0.0);
    EXPECT_THAT(log.errors(), ::testing::ElementsAre("Unable to read performance data",
                                                     "Unable to locate the \"Processor\" performance object",
                                                     "CPU index out of bounds"));
}

} // namespace
} // namespace trelvo::audio
