#include "midi/MidiRoute.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/TempFolder.h"

namespace trelvo::midi {
namespace {

using Copies = std::vector<std::array<int, 3>>;

Copies route(const MidiRoute& r, int status, int data1, int data2) {
    MidiEvent event;
    event.status = static_cast<std::uint8_t>(status);
    event.data1 = static_cast<std::uint8_t>(data1);
    event.data2 = static_cast<std::uint8_t>(data2);
    Copies copies;
    filterEvent(r, event, [&](const RoutedMessage& m) { copies.push_back({m.status, m.data1, m.data2}); });
    return copies;
}

TEST(MidiRoute, AKeyboardSplitAtSixtySendsEachHalfToItsOwnChannel) {
    MidiRoute split;
    split.channelMap[1] = {1, 0, 1}; // a second entry also takes channel 1, playing on channel 2
    split.split[0].noteHi = 59;
    split.split[1].noteLo = 60;
    EXPECT_EQ(route(split, 0x90, 59, 100), (Copies{{0x90, 59, 100}}));
    EXPECT_EQ(route(split, 0x90, 60, 100), (Copies{{0x91, 60, 100}}));
    EXPECT_EQ(route(split, 0x80, 60, 0), (Copies{{0x81, 60, 0}}));
    EXPECT_EQ(route(split, 0xB0, 7, 90), (Copies{{0xB0, 7, 90}, {0xB1, 7, 90}})); // not a note: both layers
}

TEST(MidiRoute, VelocityWindowsApplyToNoteOnsButNotToVelocityZero) {
    MidiRoute r;
    r.split[0].velLo = 2;
    EXPECT_TRUE(route(r, 0x90, 60, 1).empty());
    EXPECT_EQ(route(r, 0x90, 60, 0).size(), 1u);
    EXPECT_EQ(route(r, 0x90, 60, 2).size(), 1u);
    r.split[0].velHi = 100;
    EXPECT_TRUE(route(r, 0x90, 60, 101).empty());
}

TEST(MidiRoute, TranspositionsThatLeaveTheKeyRangeDropTheNote) {
    MidiRoute r;
    r.transpose[0] = 12;
    EXPECT_TRUE(route(r, 0x90, 120, 64).empty());
    EXPECT_EQ(route(r, 0x90, 115, 64), (Copies{{0x90, 127, 64}}));
    r.transpose[0] = -60;
    EXPECT_TRUE(route(r, 0x80, 59, 0).empty());
    EXPECT_EQ(route(r, 0x80, 60, 0), (Copies{{0x80, 0, 0}}));
    EXPECT_EQ(route(r, 0xA0, 60, 5), (Copies{{0xA0, 60, 5}})); // only note on and off move
}

TEST(MidiRoute, TypeAndControllerGates) {
    MidiRoute r;
    r.typePass[kControlChange] = 0;
    r.ccPass.fill(0);
    r.ccPass[7] = 1;
    EXPECT_EQ(route(r, 0xB0, 7, 100).size(), 1u);
    EXPECT_TRUE(route(r, 0xB0, 10, 100).empty());
    r.typePass[kPitchBend] = 0;
    EXPECT_TRUE(route(r, 0xE0, 0, 64).empty());
    r.typePass[kClock] = 0;
    EXPECT_TRUE(route(r, 0xF8, 0, 0).empty());
    // System messages match an entry only through their low nibble; 0xF9 has no flag.
    EXPECT_EQ(route(r, 0xF9, 0, 0), (Copies{{0xF9, 0, 0}}));
}

TEST(MidiRoute, TheTextFormReadsWritesAndPacksRoutes) {
    test::TempFolder folder;
    const std::string file = folder.file("p.vprf");
    test::writeFile(file, "[MIDI]\r\niMid2-Port=Keys\r\niMid2-Channels=100,1FE,x\r\niMid2-NVsplits=3C7F027F,short\r\n"
                          "iMid2-Transposes=,70,-3\r\niMid2-Controls=1111011,11111,111111\r\niMid3-Port=DEFAULT\r\n"
                          "iMid3-CCs=11111111,0000\r\n");
    persist::IniHandle ini;
    persist::OpenIni(ini, file, "MIDI", persist::kIniRead);
    RouteBlock block;
    readRoutes(ini, "", block, [](const std::string& name) { return name == "Keys" ? 3 : 7; });
    persist::CloseIni(ini);
    ASSERT_EQ(block.count, 2); // routes 2 and 3 packed as the first two
    const MidiRoute& keys = block.routes[0];
    EXPECT_EQ(keys.portName, "Keys");
    EXPECT_EQ(keys.portIndex, 3);
    EXPECT_EQ(keys.channelMap[1].outChannel, 14);
    EXPECT_EQ(keys.channelMap[2].inChannel, 2); // an item shorter than 3 keeps its entry
    EXPECT_EQ(keys.split[0].noteLo, 60);
    EXPECT_EQ(keys.split[0].velLo, 2);
    EXPECT_EQ(keys.transpose[1], 60); // clamped
    EXPECT_EQ(keys.transpose[2], -3);
    EXPECT_EQ(keys.typePass[kProgramChange], 0);
    EXPECT_EQ(keys.ccPass[5], 1); // no "-CCs": every controller follows the Control Change flag
    EXPECT_EQ(block.routes[1].portIndex, 7);
    EXPECT_EQ(block.routes[1].ccPass[8], 1); // a short group keeps its flags

    persist::OpenIni(ini, file, "Out", persist::kIniWrite);
    writeRoutes(ini, "01_", block, true);
    persist::CloseIni(ini);
    const std::string text = test::readFile(file);
    EXPECT_THAT(text, ::testing::HasSubstr("01_iMid1-Port=Keys\r\n01_iMid1-Channels=100,1FE,122,133,"));
    EXPECT_THAT(text, ::testing::HasSubstr("01_iMid1-Controls=1111011,11111,111111\r\n"));
    EXPECT_THAT(text, ::testing::EndsWith("01_iMid2-Port=DEFAULT\r\n")); // compact: defaults need no keys
}

} // namespace
} // namespace trelvo::midi
