// The preset list, the program modes and MIDI program change, driven through the rack
// controller as the window and the MIDI layer drive them.
#include "presets/PresetList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "TestPaths.h"
#include "audio/DriverList.h"
#include "audio/OfflineDriver.h"
#include "midi/MidiLock.h"
#include "session/RackController.h"
#include "support/FakeMidiBackend.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::presets {
namespace {

using ::testing::ElementsAre;

class PresetListTest : public ::testing::Test {
protected:
    PresetListTest() {
        controller.newRack();
        gain = controller.loadPlugin(TrelvoGain_PATH);
        synth = controller.loadPlugin(TrelvoSynth_PATH);
    }
    host::TVstPlugIn& slot(int index) { return controller.rack().slot(index); }
    PresetList& list() { return controller.presets(); }
    /// The short messages waiting in a slot's own MIDI input.
    std::vector<std::array<int, 3>> slotMessages(int index) {
        midi::MidiLockGuard lock;
        const midi::MidiHalf& half = slot(index).midi->slotBuffer->halves[1 - controller.midi().readHalf()];
        std::vector<std::array<int, 3>> messages;
        for (int e = 0; e < half.count(); ++e)
            messages.push_back({half.event(e).status, half.event(e).data1, half.event(e).data2});
        return messages;
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    rack::RackController controller{settings};
    int gain = -1, synth = -1;
};

TEST(ResolveCode, StepsStopAtTheEndsAndUnknownCodesFail) {
    int target = -1;
    EXPECT_TRUE(ResolveCode(kNextPreset, 3, 0, 0, 3, target));
    EXPECT_EQ(target, 3);
    EXPECT_TRUE(ResolveCode(kPreviousPreset, 0, 0, 0, 3, target));
    EXPECT_EQ(target, 0);
    EXPECT_TRUE(ResolveCode(kLastPreset, 0, 0, 0, 3, target));
    EXPECT_EQ(target, 3);
    EXPECT_TRUE(ResolveCode(99, 0, 0, 0, 3, target));
    EXPECT_EQ(target, 3);
    EXPECT_TRUE(ResolveCode(kNextPreset, 0, 0, 0, 0, target)); // one program: always 0
    EXPECT_EQ(target, 0);
    EXPECT_FALSE(ResolveCode(-5, 0, 0, 0, 3, target));
}

TEST_F(PresetListTest, ProgramsAreListedNamedAndSteppedWithoutWrapping) {
    controller.select(gain);
    EXPECT_EQ(list().caption, "Presets");
    ASSERT_EQ(list().items.size(), 4u);
    EXPECT_EQ(list().items[1].text, "  001: Half");
    EXPECT_EQ(list().items[1].name(), "Half");
    EXPECT_EQ(list().selectedItem, 0);
    EXPECT_TRUE(list().menu.openBank);
    EXPECT_TRUE(list().menu.listMoveAndExport);

    list().SelectPreset(gain, kLastPreset, true);
    list().SelectPreset(gain, kNextPreset, true);
    EXPECT_EQ(slot(gain).GetProgram(), 3);
    list().SelectPreset(gain, kFirstPreset, true);
    list().SelectPreset(gain, kPreviousPreset, true);
    EXPECT_EQ(slot(gain).GetProgram(), 0);

    // Without FXP use the list carries numbers only; menus follow the profile value.
    slot(gain).UseFxpFxb = 2;
    list().displayChanged = true;
    controller.select(gain);
    EXPECT_EQ(list().items[1].text, "  001: ");
    EXPECT_FALSE(list().menu.loadPreset);
    EXPECT_TRUE(list().menu.saveBank);
}

TEST_F(PresetListTest, NamesPickFilesByExtensionAndProgramsByName) {
    slot(gain).SetProgram(2);
    slot(gain).SavePreset(home.file("Piano.FXP"), 0);
    slot(gain).FXPfolder = home.path();
    slot(gain).SetProgram(0);
    slot(gain).SetParameter(1, 0.9f);

    list().LoadPresetByName(gain, "Piano.FXP", true); // an FXP file, whatever the case of its extension
    EXPECT_EQ(slot(gain).PresetFileName, "Piano.FXP");
    EXPECT_EQ(slot(gain).GetParameter(1), 0.0f);     // "Left only"
    list().LoadPresetByName(gain, "Gone.fxp", true); // a file found nowhere: program 0
    EXPECT_EQ(slot(gain).GetProgram(), 0);

    list().LoadPresetByName(gain, "boost", true);
    EXPECT_EQ(slot(gain).GetProgram(), 3);
    list().LoadPresetByName(gain, "No Such Program", true);
    EXPECT_EQ(slot(gain).GetProgram(), 0);
}

TEST_F(PresetListTest, FolderModesListFilesAndBanksSortedWithoutDuplicates) {
    std::filesystem::create_directories(home.file("fxp/Strings"));
    std::filesystem::create_directories(home.file("fxp/brass"));
    for (const char* name : {"b.fxp", "A.fxp", "a.FXP", "notes.txt"})
        test::writeFile(home.file(std::string("fxp/brass/") + name), "");
    EXPECT_THAT(listPresetFolder(home.file("fxp/brass"), ".fxp"), ElementsAre("A.fxp", "b.fxp"));

    host::TVstPlugIn& entry = slot(gain);
    entry.FXPfolder = home.file("fxp");
    controller.presets().setProgramMode(gain, 'p');
    controller.select(gain);
    list().cyclePresetView(); // view 1: the banks
    EXPECT_EQ(list().caption, "no banks (fxp)");
    ASSERT_EQ(list().items.size(), 2u);
    EXPECT_EQ(list().items[0].name(), "brass");
    list().SelectPreset(gain, 0, true);
    EXPECT_EQ(entry.FXPbank, "brass");
    list().cyclePresetView(); // back to view 0: the bank's files
    EXPECT_EQ(list().caption, "Presets (fxp) \\brass");
    EXPECT_EQ(list().items.size(), 2u);
    EXPECT_FALSE(list().menu.listMoveAndExport);
}

TEST_F(PresetListTest, MidiModeSendsBankSelectsInTheOrderOfTheStyle) {
    host::TVstPlugIn& entry = slot(synth);
    entry.presetMode = "sRm";
    entry.MidiSelect.BankMsb[0] = 1;
    entry.MidiSelect.BankLsb[0] = 2;
    controller.select(synth);
    list().SelectPreset(synth, 5, true);
    EXPECT_THAT(slotMessages(synth), ElementsAre(std::array<int, 3>{0xB0, 32, 2}, std::array<int, 3>{0xB0, 0, 1},
                                                 std::array<int, 3>{0xC0, 5, 0}));
    EXPECT_EQ(list().caption, "MIDIchn:1 Program: 001.002.006"); // capital: programs from 1

    entry.presetMode = "sPm";
    entry.MidiSelect.Channel = 4;
    list().typedNumberEntered(synth, false, 10); // shown from 1: program 9
    EXPECT_EQ(slotMessages(synth).back(), (std::array<int, 3>{0xC4, 9, 0}));
    entry.presetMode = "smm";
    list().ShowPresetCaption(synth);
    EXPECT_EQ(list().caption, "MIDIchn:5 Program: 000.000.009");

    PresetList::setMidiChannelCount(entry, 4);
    list().typedNumberEntered(synth, true, 3); // a channel entry
    EXPECT_EQ(entry.MidiSelect.Channel, 2);
    EXPECT_EQ(list().typedNumberPrefix(synth, true), "chn:");
    list().cyclePresetView();
    EXPECT_EQ(list().typedNumberPrefix(synth, false), "msb:");
    list().SelectPreset(synth, 7, true); // a bank view only stores
    EXPECT_EQ(entry.MidiSelect.BankMsb[2], 7);
    EXPECT_EQ(slotMessages(synth).size(), 6u); // the channel entry sent its selection
}

TEST_F(PresetListTest, AChannelEntryMakesAnExistingEntryCurrentAndSendsIt) {
    host::TVstPlugIn& entry = slot(synth);
    entry.presetMode = "sBm";
    PresetList::setMidiChannelCount(entry, 3);
    entry.MidiSelect.BankMsb[2] = 4;
    entry.MidiSelect.BankLsb[2] = 5;
    entry.MidiSelect.Program[2] = 6;
    controller.select(synth);

    list().typedNumberEntered(synth, true, 4); // beyond the three entries
    list().typedNumberEntered(synth, true, 0);
    EXPECT_EQ(entry.MidiSelect.Channel, 0);
    EXPECT_TRUE(slotMessages(synth).empty());

    controller.applyTypedProgram(synth, 3, true); // Ctrl, 0, 3 on the keypad
    EXPECT_EQ(entry.MidiSelect.Channel, 2);
    EXPECT_THAT(slotMessages(synth), ElementsAre(std::array<int, 3>{0xB2, 0, 4}, std::array<int, 3>{0xB2, 32, 5},
                                                 std::array<int, 3>{0xC2, 6, 0}));
    EXPECT_EQ(list().caption, "MIDIchn:3 Program: 004.005.007");

    // A slot that plays no MIDI programs only remembers the channel.
    host::TVstPlugIn& gainSlot = slot(gain);
    PresetList::setMidiChannelCount(gainSlot, 2);
    list().typedNumberEntered(gain, true, 2);
    EXPECT_EQ(gainSlot.MidiSelect.Channel, 1);
    EXPECT_TRUE(slotMessages(gain).empty());
}

// Guards the fault where a typed 0, lowered for a display counted from 1, reached the MIDI
// selection as code -1 and sent channel 1's selection again.
TEST_F(PresetListTest, ATypedZeroCountedFromOneSelectsNothing) {
    host::TVstPlugIn& entry = slot(synth);
    entry.presetMode = "sPm";
    PresetList::setMidiChannelCount(entry, 2);
    entry.MidiSelect.Channel = 1;
    controller.select(synth);
    list().typedNumberEntered(synth, false, 0);
    EXPECT_TRUE(slotMessages(synth).empty());
    EXPECT_EQ(entry.MidiSelect.Channel, 1);
}

TEST_F(PresetListTest, ProgramKeysKeepTheChannelCountOnlyFromProfiles) {
    host::TVstPlugIn& entry = slot(synth);
    const std::string file = home.file("keys.ini");
    test::writeFile(file, "[S]\r\nMidiPgms=4,2\r\nMidiPgm=1,300,x\r\nMidiPgm-03=5,6,7\r\n");
    persist::IniHandle ini;
    persist::OpenIni(ini, file, "S", persist::kIniRead);
    readMidiProgramKeys(ini, "", entry, false);
    EXPECT_EQ(entry.MidiChannelCount, 1);
    EXPECT_EQ(entry.MidiSelect.Channel, 2);
    EXPECT_EQ(entry.MidiSelect.BankLsb[0], 127);
    EXPECT_EQ(entry.MidiSelect.Program[3], 7);
    readMidiProgramKeys(ini, "", entry, true);
    EXPECT_EQ(entry.MidiChannelCount, 4);
    persist::CloseIni(ini);

    PresetList::setMidiChannelCount(entry, 2);
    persist::OpenIni(ini, file, "W", persist::kIniWrite);
    writeMidiProgramKeys(ini, "03_", entry);
    persist::CloseIni(ini);
    EXPECT_THAT(test::readFile(file),
                ::testing::HasSubstr("[W]\r\n03_MidiPgms=2,2\r\n03_MidiPgm-00=1,127,0\r\n03_MidiPgm-01=0,0,0\r\n"));
}

TEST(ProgramChange, AReceivedProgramChangeDrivesAMidiModeSlotOnItsOwnChannel) {
    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    settings.asioDriver = "Offline";
    rack::RackController controller{settings};
    controller.startAudio({audio::offlineDriverEntry(128, 48000.0)});
    controller.newRack();
    test::FakeBackend* backend = nullptr;
    controller.startMidi([&backend](std::vector<std::string>&) {
        std::vector<std::unique_ptr<midi::MidiBackend>> list;
        list.push_back(std::make_unique<test::FakeBackend>(1, 0));
        backend = static_cast<test::FakeBackend*>(list.back().get());
        return list;
    });
    controller.midi().openPort(0, "MAIN");
    const int synth = controller.loadPlugin(TrelvoSynth_PATH);
    host::TVstPlugIn& entry = controller.rack().slot(synth);
    entry.presetMode = "sBm";
    entry.MidiSelect.BankMsb[0] = 1;
    entry.midi->chgFxpOnMidiPc = true;
    controller.setRunning();
    auto* offline = dynamic_cast<audio::OfflineDriver*>(controller.control().host()->openDriver());
    ASSERT_NE(offline, nullptr);
    std::vector<std::vector<float>> out;

    backend->sink->shortMessage(0, 0xC9, 5, 0, {true, 0}); // on channel 10
    ASSERT_TRUE(offline->runBlock({}, out));
    EXPECT_EQ(entry.GetProgram(), 0) << "the program change must not reach the plug-in itself";
    controller.idleTick(); // serves the request: bank select and program change into the slot
    ASSERT_TRUE(offline->runBlock({}, out));
    EXPECT_EQ(entry.GetProgram(), 128 + 5);
    EXPECT_EQ(controller.rack().commands().count(), 0);
}

} // namespace
} // namespace trelvo::presets
