// Instrument definitions: written from TrelvoSynth's MIDI program names, read back into the
// preset list's MIDI program mode.
#include "presets/InstrumentDefinition.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "TestPaths.h"
#include "midi/MidiLock.h"
#include "session/RackController.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::presets {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
    return lines;
}

TEST(InstrumentDefinition, TheSettingNamesFileInstrumentAndDrumSet) {
    InstrumentNames names;
    EXPECT_FALSE(parseMidiIns("Synth.ins,Synth,Kit", names)); // shorter than 20 characters
    EXPECT_FALSE(parseMidiIns(" , Trelvo Synth, Trelvo Drums", names));
    ASSERT_TRUE(parseMidiIns("Trelvo/Synth A.ins,,          ", names));
    EXPECT_EQ(names.file, "Trelvo/Synth A.ins");
    EXPECT_EQ(names.instrument, "Synth A");
    EXPECT_EQ(names.drumset, "Synth A Drumsets");
    ASSERT_TRUE(parseMidiIns("Synth.ins,'Lead, Bass',Kit", names));
    EXPECT_EQ(names.instrument, "Lead, Bass");
    EXPECT_EQ(names.drumset, "Kit");
}

TEST(InstrumentDefinition, BankNamesComeOnlyFromTheInstrumentsOwnSection) {
    const std::string file = "[Other]\nPatch[1]=Not this\n.INSTRUMENT DEFINITIONS\r\n[Other]\r\nPatch[2]=Nor this\r\n"
                             "[Synth]\r\nControl=x\r\nPatch[*]=Star\r\nPatch[1] = Basses \r\nPatch[128]=Too far\r\n"
                             "Patch[x]=Bad\r\n[Synth Drumsets]\r\nPatch[3]=Drums\r\n";
    BankNames names = defaultBankNames();
    takeOverBankNames(file, "Synth", names);
    EXPECT_EQ(names[0], "Bank 0");
    EXPECT_EQ(names[1], "Basses");
    EXPECT_EQ(names[2], "Bank 2");
    EXPECT_EQ(names[3], "Bank 3");
    EXPECT_EQ(names[127], "Bank 127");
}

TEST(InstrumentDefinition, ABankThatComesAgainStartsASecondSectionAndTooHighABankEndsTheList) {
    const std::vector<MidiProgramEntry> entries{
        {0, 0, "Piano"}, {1, 0, std::string(70, 'x')}, {0, 5, "Organ"}, {200, 1, "Lost"}, {0, 6, "Lost too"}};
    InstrumentNames names{"k.ins", "Keys", "Keys Drumsets"};
    BankNames banks = defaultBankNames();
    banks[1] = "Pads";
    EXPECT_THAT(linesOf(instrumentDefinitionText(entries, 3, banks, names)),
                ElementsAre("; ----------------------------------------------------------------------",
                            "; KEYS Cakewalk Instrument Definition V1.00",
                            "; ----------------------------------------------------------------------", "",
                            ".Patch Names", "; 5 MIDIprograms, 3 MIDIbanks", "", "[Bank 0]", "0=Piano", "", "[Pads]",
                            "0=" + std::string(64, 'x'), "", "[Bank 0]", "5=Organ", "", "[DrumsBank 0]",
                            "0=Standard Kit", "",
                            "; ----------------------------------------------------------------------", "",
                            ".Instrument Definitions", "", "[Keys]", "BankSelMethod=2", "Patch[0]=Bank 0",
                            "Patch[1]=Pads", "", "[Keys Drumsets]", "BankSelMethod=1", "Patch[0]=DrumsBank 0"));
}

class InstrumentFileTest : public ::testing::Test {
protected:
    InstrumentFileTest() {
        settings.instrDefFolder = home.file("Instr");
        controller.newRack();
        synth = controller.loadPlugin(TrelvoSynth_PATH);
        gain = controller.loadPlugin(TrelvoGain_PATH);
        slot(synth).MidiIns = "TrelvoSynth.ins,Trelvo Synth,";
    }
    host::TVstPlugIn& slot(int index) { return controller.rack().slot(index); }
    PresetList& list() { return controller.presets(); }
    InsOutcome generate(int index) {
        file.clear();
        error.clear();
        return generateInsFile(slot(index), settings.instrDefFolder, file, error);
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    rack::RackController controller{settings};
    int synth = -1, gain = -1;
    std::string file, error;
};

TEST_F(InstrumentFileTest, TheSynthesizersTwoBanksAreWrittenAsTheFormatWantsThem) {
    ASSERT_EQ(generate(synth), InsOutcome::Written) << error;
    EXPECT_EQ(file, home.file("Instr/TrelvoSynth.ins"));
    const std::vector<std::string> lines = linesOf(test::readFile(file));
    ASSERT_EQ(lines.size(), 6u + 2u * 2u + 256u + 16u);
    EXPECT_EQ(lines[1], "; TRELVO SYNTH Cakewalk Instrument Definition V1.00");
    EXPECT_EQ(lines[5], "; 256 MIDIprograms, 2 MIDIbanks");
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 6, lines.begin() + 8), ElementsAre("", "[Bank 0]"));
    EXPECT_EQ(lines[8], "0=" + std::string(slot(synth).GetProgramName()));
    EXPECT_THAT(lines[8 + 127], ::testing::StartsWith("127=A127 "));
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 136, lines.begin() + 138), ElementsAre("", "[Bank 1]"));
    EXPECT_THAT(lines[138], ::testing::StartsWith("0=B000 "));
    EXPECT_THAT(std::vector<std::string>(lines.end() - 8, lines.end()),
                ElementsAre("[Trelvo Synth]", "BankSelMethod=2", "Patch[0]=Bank 0", "Patch[1]=Bank 1", "",
                            "[Trelvo Synth Drumsets]", "BankSelMethod=1", "Patch[0]=DrumsBank 0"));
}

TEST_F(InstrumentFileTest, ReadingBackListsTheCurrentBanksProgramsAndTheBanks) {
    ASSERT_EQ(generate(synth), InsOutcome::Written) << error;
    // The user names bank 1 in the file; generating again keeps the name.
    std::string text = test::readFile(file);
    text.replace(text.find("Patch[1]=Bank 1"), 15, "Patch[1]=Basses");
    test::writeFile(file, text);
    ASSERT_EQ(generate(synth), InsOutcome::Written);
    EXPECT_NE(test::readFile(file).find("\r\n[Basses]\r\n0=B000 "), std::string::npos);

    host::TVstPlugIn& entry = slot(synth);
    entry.MidiSelect.BankLsb[0] = 1;
    entry.MidiSelect.Program[0] = 4;
    controller.select(synth);
    list().setProgramMode(synth, 'm');
    EXPECT_EQ(entry.MidiBankStyle(), 'l'); // from the file's BankSelMethod
    ASSERT_EQ(list().items.size(), 128u);
    entry.SetProgram(131);
    EXPECT_EQ(list().items[3].text, "  003: " + entry.GetProgramName());
    EXPECT_EQ(list().items[3].number, 3);
    EXPECT_EQ(list().selectedItem, 4);

    // Playing an item sends its bank and program; the synthesizer follows.
    list().SelectPreset(synth, 7, true);
    EXPECT_EQ(entry.MidiSelect.Program[0], 7);
    EXPECT_EQ(list().selectedItem, 7);

    // A capital style counts programs from 1, and the bank view lists the banks.
    entry.setMidiBankStyle('L');
    list().displayChanged = true;
    list().FillPresetList(synth);
    EXPECT_EQ(list().items[0].text.substr(0, 7), "  001: ");
    EXPECT_EQ(entry.MidiBankStyle(), 'L');
    list().cyclePresetView();
    ASSERT_EQ(list().items.size(), 2u);
    EXPECT_EQ(list().items[0].text, "  000: 000-Bank 0");
    EXPECT_EQ(list().items[1].text, "  001: 001-Basses");
    EXPECT_EQ(list().selectedItem, 1);
}

TEST_F(InstrumentFileTest, OnlyAPlainSlotOfAPlugInThatNamesMidiProgramsWritesAndFailuresKeepTheOldFile) {
    EXPECT_EQ(generate(gain), InsOutcome::NotOffered); // names no MIDI programs
    slot(synth).setMidiBankStyle('b');
    EXPECT_EQ(generate(synth), InsOutcome::NotOffered);
    slot(synth).setMidiBankStyle(' ');
    slot(synth).MidiIns = "TrelvoSynth.ins";
    EXPECT_EQ(generate(synth), InsOutcome::NoSetting);
    EXPECT_FALSE(test::fileExists(home.file("Instr/TrelvoSynth.ins")));

    // Without an instrument name the section is named after the file.
    slot(synth).MidiIns = "Synth-Only.ins,,,,,,,,,,,,,";
    ASSERT_EQ(generate(synth), InsOutcome::Written);
    EXPECT_NE(test::readFile(file).find("\r\n[Synth-Only]\r\nBankSelMethod=2\r\n"), std::string::npos);

    // A file that also defines another instrument is not written over.
    const std::string shared = home.file("Instr/Shared.ins");
    const std::string others = ".Instrument Definitions\r\n\r\n[Organ]\r\nPatch[0]=Drawbars\r\n";
    test::writeFile(shared, others);
    slot(synth).MidiIns = "Shared.ins,Trelvo Synth,";
    EXPECT_EQ(generate(synth), InsOutcome::Failed);
    EXPECT_THAT(error, ::testing::HasSubstr("\"Organ\""));
    EXPECT_EQ(test::readFile(shared), others);

    // A folder that cannot be made: nothing is written and the reason is given.
    test::writeFile(home.file("blocked"), "a file");
    slot(synth).MidiIns = "TrelvoSynth.ins,Trelvo Synth,";
    file.clear();
    EXPECT_EQ(generateInsFile(slot(synth), home.file("blocked/sub"), file, error), InsOutcome::Failed);
    EXPECT_THAT(error, ::testing::HasSubstr("blocked"));
    EXPECT_EQ(test::readFile(home.file("blocked")), "a file");
}

TEST_F(InstrumentFileTest, AHandWrittenDefinitionIsReadWithoutTrustingItsNumbers) {
    std::filesystem::create_directories(home.file("Instr"));
    test::writeFile(home.file("Instr/Hand.ins"), ".Patch Names\n[Leads]\n0=Saw\n2147483647=Huge\n200=Beyond\n-1=Below\n"
                                                 "x=Text\n5 = Square \n[Pads]\n0=Not this bank\n"
                                                 ".Instrument Definitions\n[Hand]\nControl=1\nBankSelMethod=9\n"
                                                 "Patch[99999]=Too high\nPatch[0]=Leads\n");
    host::TVstPlugIn& entry = slot(synth);
    entry.MidiIns = "Hand.ins,,                  ";
    entry.setMidiBankStyle('B');
    controller.select(synth);
    list().setProgramMode(synth, 'm');
    EXPECT_EQ(entry.MidiBankStyle(), 'B'); // an unknown selection method changes nothing
    ASSERT_EQ(list().items.size(), 2u);
    EXPECT_EQ(list().items[0].text, "  001: Saw");
    EXPECT_EQ(list().items[1].text, "  006: Square");
    EXPECT_EQ(list().items[1].number, 5);
    list().cyclePresetView();
    ASSERT_EQ(list().items.size(), 1u);
    EXPECT_EQ(list().items[0].text, "  000: 000-Leads");
}

} // namespace
} // namespace trelvo::presets
