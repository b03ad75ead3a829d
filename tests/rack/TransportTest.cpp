#include "rack/Transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/LogCapture.h"

namespace trelvo::rack {
namespace {

class TransportTest : public ::testing::Test {
protected:
    // One block of the engine at driver position pos: the transport step, ppq, and the tail.
    void block(std::int64_t pos) {
        transport.updateSamplePos(pos);
        info.updatePpq();
        changedDuringBlock = info.hasFlags(kVstTransportChanged);
        transport.endOfBlock();
    }
    double samplePos() const { return info.get(TimeField::SamplePos); }

    TVTI info;
    Transport transport{info};
    bool changedDuringBlock = false;
};

TEST_F(TransportTest, StartsStoppedAtZeroWithEveryValidFlag) {
    EXPECT_EQ(info.flags(), 0xFF00);
    EXPECT_EQ(transport.state(), TransportState::Stopped);
    EXPECT_EQ(info.get(TimeField::Tempo), 120.0);
    EXPECT_EQ(info.get(TimeIntField::TimeSigNumerator), 4);
    EXPECT_EQ(info.get(TimeIntField::SmpteFrameRate), 1);
    EXPECT_EQ(info.get(TimeField::SampleRate), 44100.0);
}

TEST_F(TransportTest, PlayPauseAndPlayAgainContinuesFromThePause) {
    block(1000);
    transport.pressStartPause(); // play
    block(2000);
    EXPECT_EQ(transport.state(), TransportState::Playing);
    EXPECT_EQ(samplePos(), 0.0);
    block(50000);
    transport.pressStartPause(); // pause after 48000 samples
    block(50000);
    EXPECT_EQ(transport.state(), TransportState::Paused);
    EXPECT_EQ(transport.pauseOffset(), 48000);
    block(90000);
    EXPECT_EQ(samplePos(), 48000.0); // frozen while paused
    transport.pressStartPause();     // play again
    block(100000);
    EXPECT_EQ(samplePos(), 48000.0);
    block(100512);
    EXPECT_EQ(samplePos(), 48512.0);
}

TEST_F(TransportTest, StopWhilePausedReturnsToZeroAndTheNextPlayStartsThere) {
    transport.pressStartPause();
    block(0);
    block(10000);
    transport.pressStartPause();
    block(10000);
    transport.pressStop();
    block(12000);
    EXPECT_EQ(transport.state(), TransportState::Stopped);
    EXPECT_EQ(samplePos(), 0.0);
    EXPECT_EQ(info.get(TimeField::PpqPos), 0.0);
    transport.pressStartPause();
    block(20000);
    block(20256);
    EXPECT_EQ(samplePos(), 256.0);
}

TEST_F(TransportTest, RewindRestartsThePositionAndKeepsPlaying) {
    transport.pressStartPause();
    block(0);
    block(5000);
    transport.pressRewind();
    block(6000);
    EXPECT_EQ(samplePos(), 0.0);
    EXPECT_EQ(transport.state(), TransportState::Playing);
    block(7000);
    EXPECT_EQ(samplePos(), 1000.0);
}

TEST_F(TransportTest, RewindWhilePausedClearsThePausedPosition) {
    transport.pressStartPause();
    block(0);
    block(3000);
    transport.pressStartPause();
    block(3000);
    transport.request(TransportRequest::RewindWhilePaused);
    block(4000);
    EXPECT_EQ(samplePos(), 0.0);
    EXPECT_EQ(transport.pauseOffset(), 0);
    transport.pressStartPause();
    block(8000);
    block(8100);
    EXPECT_EQ(samplePos(), 100.0);
}

TEST_F(TransportTest, TheChangedFlagLastsExactlyOneBlock) {
    transport.pressStartPause();
    block(0);
    EXPECT_TRUE(changedDuringBlock);
    EXPECT_FALSE(info.hasFlags(kVstTransportChanged));
    block(512);
    EXPECT_FALSE(changedDuringBlock);
    transport.pressStop();
    block(1024);
    EXPECT_TRUE(changedDuringBlock);
    block(1536);
    EXPECT_FALSE(changedDuringBlock);
}

TEST_F(TransportTest, PpqFollowsTempoAndPosition) {
    transport.setTempo(140);
    transport.pressStartPause();
    block(0);
    block(44100);
    EXPECT_NEAR(info.get(TimeField::PpqPos), 140.0 / 60.0, 1e-12);
}

TEST_F(TransportTest, ButtonsTellTheSurfacesAndFieldsStayInRange) {
    std::vector<std::pair<int, int>> notices;
    transport.onSurfaceNotice = [&](int code, int value) { notices.emplace_back(code, value); };
    transport.pressStartPause();
    block(0);
    transport.pressStartPause();
    transport.pressStop();
    EXPECT_THAT(notices, ::testing::ElementsAre(std::pair{91, 2}, std::pair{91, 3}, std::pair{91, 1}));
    transport.setTempo(5);
    EXPECT_EQ(transport.tempo(), 16.0f);
    transport.setTempo(1000);
    EXPECT_EQ(transport.tempo(), 360.0f);
    transport.setTimeSignature(0, 64);
    EXPECT_EQ(info.get(TimeIntField::TimeSigNumerator), 1);
    EXPECT_EQ(info.get(TimeIntField::TimeSigDenominator), 32);
}

TEST_F(TransportTest, SettersNotifyOnlyRealChangesAndIgnoreUnknownIndexes) {
    int changes = 0;
    info.onChange = [&] { ++changes; };
    info.setDouble(4, 120.0);
    info.setDouble(4, 121.0);
    info.setInt(1, 4);
    info.setInt(1, 8);
    info.setDouble(8, 1.0);
    info.setInt(5, 1);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(info.getDouble(8), 0.0);
    EXPECT_EQ(info.getInt(-1), 0);
}

TEST_F(TransportTest, TheFirstFiveBlocksAreTraced) {
    test::LogCapture log;
    for (int i = 0; i < 8; ++i) block(i * 64);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "  ASIOupdateSamplePos begin:");
    EXPECT_EQ(lines[1], "  ASIOupdateSamplePos end.");
}

} // namespace
} // namespace trelvo::rack
