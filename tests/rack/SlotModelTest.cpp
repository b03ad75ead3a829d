#include <gtest/gtest.h>

#include <cmath>

#include "model/SlotRecord.h"
#include "model/VolumeCodec.h"
#include "rack/Rack.h"

namespace trelvo::rack {
namespace {

TEST(VolumeEncoding, DecibelsClampAndOffIsMinus49) {
    EXPECT_EQ(clampVolumeDb(-60), kVolumeOff);
    EXPECT_EQ(clampVolumeDb(-49), kVolumeOff);
    EXPECT_EQ(clampVolumeDb(-48), -48);
    EXPECT_EQ(clampVolumeDb(20), 12);
    EXPECT_EQ(volumeGain(-60), 0.0f);
    EXPECT_FLOAT_EQ(volumeGain(0), 1.0f);
    EXPECT_NEAR(volumeGain(-48), 0.00398f, 1e-5f);
    EXPECT_NEAR(volumeGain(12), 3.981f, 1e-3f);
    EXPECT_FLOAT_EQ(volumeGain(20), volumeGain(12));
    EXPECT_EQ(volumeText(-49), "~");
    EXPECT_EQ(volumeText(-6), "-6");
}

TEST(VolumeEncoding, PanStepsFollowTheDecibelCurveWithTheirSign) {
    EXPECT_EQ(panValue(0), 0.0f);
    EXPECT_FLOAT_EQ(panValue(12), 1.0f);
    EXPECT_NEAR(panValue(6), 0.501f, 1e-3f);
    EXPECT_NEAR(panValue(1), 0.282f, 1e-3f);
    EXPECT_NEAR(panValue(-6), -0.501f, 1e-3f);
    EXPECT_FLOAT_EQ(panValue(40), 1.0f);
    EXPECT_FLOAT_EQ(panValue(-40), -1.0f);
}

TEST(RunMode, LettersShowTheSwitchesAndFilesMayGiveOnlyThree) {
    RunMode mode;
    EXPECT_EQ(mode.text(), "bmso");
    mode.set(RunMode::Mute, true);
    mode.set(RunMode::Off, true);
    EXPECT_EQ(mode.text(), "bMsO");
    EXPECT_TRUE(mode.isSet(RunMode::Mute));
    mode.assign("BmS"); // a mixer slot's three letters leave the fourth alone
    EXPECT_EQ(mode.text(), "BmSO");
    mode.assign("x?zq"); // nonsense letters change nothing
    EXPECT_EQ(mode.text(), "BmSO");
}

class RackTest : public ::testing::Test {
protected:
    Rack rack;
};

TEST_F(RackTest, ANewRackHas32FreeSlotsWithTheirOwnIndexes) {
    EXPECT_EQ(rack.numSlots(), 0);
    for (int i = 0; i < kMaxSlots; ++i) {
        EXPECT_TRUE(rack.slot(i).isFree());
        EXPECT_EQ(rack.slot(i).SlotIdx, i);
        EXPECT_EQ(rack.slot(i).OwnerIndex, -1);
        EXPECT_EQ(rack.slot(i).presetMode, "s s");
        EXPECT_EQ(rack.slot(i).runMode.text(), "bmso");
    }
    EXPECT_EQ(rack.findFreeSlot(), 0);
}

TEST_F(RackTest, AddingGivesDefaultNamesVolumesAndIdentities) {
    EXPECT_EQ(rack.addSlot(SlotKind::Output), 0);
    EXPECT_EQ(rack.addSlot(SlotKind::Channel), 1);
    EXPECT_EQ(rack.addSlot(SlotKind::Channel), 2);
    EXPECT_EQ(rack.addSlot(SlotKind::Output), 3);
    EXPECT_EQ(rack.addSlot(SlotKind::Group), 4);
    EXPECT_EQ(rack.addSlot(SlotKind::Input), 5);
    EXPECT_EQ(rack.addSlot(SlotKind::Midi), 6);
    EXPECT_EQ(rack.addSlot(SlotKind::Plugin), -1); // plug-in slots come from loading

    EXPECT_EQ(rack.slot(0).SlotName, "Master");
    EXPECT_EQ(rack.slot(1).SlotName, "Channel 1");
    EXPECT_EQ(rack.slot(2).SlotName, "Channel 2");
    EXPECT_EQ(rack.slot(3).SlotName, "Output 2");
    EXPECT_EQ(rack.slot(4).SlotName, "Group 1");
    EXPECT_EQ(rack.slot(5).SlotName, "Input 1");
    EXPECT_EQ(rack.slot(6).SlotName, "MIDI 1");
    EXPECT_EQ(rack.numSlots(), 7);

    EXPECT_TRUE(rack.slot(0).IsMixer);
    EXPECT_FALSE(rack.slot(5).IsMixer);
    EXPECT_EQ(rack.slot(0).OwnerIndex, -1);
    EXPECT_EQ(rack.slot(1).OwnerIndex, 0);
    EXPECT_EQ(rack.slot(0).InpVol.getDb(), 0); // outputs and groups hear their input
    EXPECT_EQ(rack.slot(4).InpVol.getGain(), 1.0f);
    EXPECT_EQ(rack.slot(1).InpVol.getDb(), kVolumeOff); // channels do not
    EXPECT_EQ(rack.slot(1).DryVol.getDb(), kVolumeOff);
    EXPECT_EQ(rack.slot(1).WetVol.getGain(), 1.0f);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(rack.slot(i).SlotID, 5001 + i);

    rack.recountKinds();
    EXPECT_EQ(rack.slot(2).KindNo, 1);
    EXPECT_EQ(rack.kindLookup(SlotKind::Channel, 1), 2);
    EXPECT_EQ(rack.kindLookup(SlotKind::Output, 1), 3);
    EXPECT_EQ(rack.kindLookup(SlotKind::Group, 1), -1);
}

TEST_F(RackTest, AFullTableRefusesEveryKindAndChangesNothing) {
    for (int i = 0; i < kMaxSlots; ++i) ASSERT_GE(rack.addSlot(i < 16 ? SlotKind::Channel : SlotKind::Midi), 0);
    for (SlotKind kind : {SlotKind::Output, SlotKind::Group, SlotKind::Channel, SlotKind::Input, SlotKind::Midi})
        EXPECT_EQ(rack.addSlot(kind), -1);
    EXPECT_EQ(rack.numSlots(), 32);
    EXPECT_EQ(rack.lastSlotId(), 5032);
}

TEST_F(RackTest, TheSeventeenthGroupOutputOrInputIsRefusedEvenWithRoom) {
    for (SlotKind kind : {SlotKind::Group, SlotKind::Output}) {
        Rack fresh;
        for (int i = 0; i < 16; ++i) ASSERT_GE(fresh.addSlot(kind), 0);
        EXPECT_EQ(fresh.addSlot(kind), -1);
        EXPECT_EQ(fresh.numSlots(), 16);
        EXPECT_GE(fresh.addSlot(SlotKind::Channel), 0);
    }
    for (int i = 0; i < 16; ++i) ASSERT_GE(rack.addSlot(SlotKind::Input), 0);
    EXPECT_EQ(rack.addSlot(SlotKind::Input), -1);
}

TEST_F(RackTest, IdentitiesFromAProjectSurviveAndNewSlotsCountOnFromThem) {
    rack.addSlot(SlotKind::Output);
    rack.assignIdentity(0, 5012);
    EXPECT_EQ(rack.slot(0).SlotID, 5012);
    EXPECT_EQ(rack.slot(rack.addSlot(SlotKind::Channel)).SlotID, 5013);
    rack.assignIdentity(1, 5005); // lower than the counter: kept, counter unchanged
    EXPECT_EQ(rack.slot(1).SlotID, 5005);
    EXPECT_EQ(rack.slot(rack.addSlot(SlotKind::Channel)).SlotID, 5014);
    rack.assignIdentity(2, -1);
    EXPECT_EQ(rack.slot(2).SlotID, 0);
}

TEST_F(RackTest, ExchangingKeepsEachObjectsIndexCurrent) {
    rack.addSlot(SlotKind::Output);
    rack.addSlot(SlotKind::Channel);
    rack.addSlot(SlotKind::Group);
    host::TVstPlugIn* channel = &rack.slot(1);
    EXPECT_TRUE(rack.exchangeSlots(1, 2));
    EXPECT_EQ(&rack.slot(2), channel);
    EXPECT_EQ(channel->SlotIdx, 2);
    EXPECT_EQ(rack.slot(1).SlotIdx, 1);
    EXPECT_EQ(rack.slot(1).SlotName, "Group 1");
    EXPECT_FALSE(rack.exchangeSlots(2, 3)); // beyond N-1
    EXPECT_FALSE(rack.exchangeSlots(-1, 0));
}

TEST_F(RackTest, ClearingEmptiesTheSlot) {
    rack.addSlot(SlotKind::Output);
    rack.addSlot(SlotKind::Channel);
    rack.slot(1).runMode.set(RunMode::Mute, true);
    rack.slot(1).presetMode = "x y";
    rack.clearSlot(1);
    EXPECT_TRUE(rack.slot(1).isFree());
    EXPECT_EQ(rack.slot(1).SlotID, 0);
    EXPECT_TRUE(rack.slot(1).SlotName.empty());
    EXPECT_FALSE(rack.slot(1).IsMixer);
    EXPECT_EQ(rack.slot(1).presetMode, "s s");
}

} // namespace
} // namespace trelvo::rack
