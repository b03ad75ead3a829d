// The preset file commands on real plug-ins: TrelvoSynth keeps its programs as chunks,
// TrelvoGain as parameter values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "TestPaths.h"
#include "presets/PresetList.h"
#include "session/RackController.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::presets {
namespace {

namespace fs = std::filesystem;

/// A program as a listener hears it: its name and every parameter value.
struct Program {
    std::string name;
    float gain = 0, balance = 0;
    bool operator==(const Program&) const = default;
};

class PresetCommandsTest : public ::testing::Test {
protected:
    PresetCommandsTest() {
        controller.newRack();
        gain = controller.loadPlugin(TrelvoGain_PATH);
        synth = controller.loadPlugin(TrelvoSynth_PATH);
    }
    host::TVstPlugIn& slot(int index) { return controller.rack().slot(index); }
    PresetList& list() { return controller.presets(); }
    std::vector<Program> gainPrograms() {
        host::TVstPlugIn& entry = slot(gain);
        const int current = entry.GetProgram();
        std::vector<Program> programs;
        for (int p = 0; p < 4; ++p) {
            entry.SetProgram(p);
            programs.push_back({entry.GetProgramName(), entry.GetParameter(0), entry.GetParameter(1)});
        }
        entry.SetProgram(current);
        return programs;
    }
    /// The synthesizer's whole bank as its FXB file holds it, saved with program 0 current.
    std::string synthBank(const std::string& name) {
        host::TVstPlugIn& entry = slot(synth);
        const int current = entry.GetProgram();
        entry.SetProgram(0);
        EXPECT_TRUE(entry.SaveBank(home.file(name), false));
        entry.SetProgram(current);
        return test::readFile(home.file(name));
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    rack::RackController controller{settings};
    int gain = -1, synth = -1;
};

TEST_F(PresetCommandsTest, AnExportedBankLoadsBackIntoConsecutiveProgramsByteForByte) {
    const std::string before = synthBank("before.fxb");
    slot(synth).SetProgram(17);
    const std::string folder = home.file("export");
    fs::create_directory(folder);

    const PresetList::ExportResult result = list().exportPresets(synth, folder, true);
    EXPECT_EQ(result.count, 256);
    EXPECT_EQ(result.message, "Exported: 256 presets in folder:\n" + folder + "/");
    EXPECT_EQ(slot(synth).GetProgram(), 17); // the program played before is current again
    std::vector<std::string> files;
    for (const auto& file : fs::directory_iterator(folder)) files.push_back(file.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 256u);
    EXPECT_THAT(fs::path(files[5]).filename().string(), ::testing::StartsWith("005-A005 "));

    // Spoil the bank, then load the files back from program 0 on.
    list().renameProgram(synth, "spoilt");
    slot(synth).SetProgram(3);
    ASSERT_TRUE(list().copyPreset(synth));
    slot(synth).SetProgram(200);
    ASSERT_TRUE(list().pastePreset(synth));
    ASSERT_NE(synthBank("spoilt.fxb"), before);

    slot(synth).SetProgram(0);
    EXPECT_EQ(list().loadPresetFiles(synth, files, false), 256);
    EXPECT_EQ(slot(synth).GetProgram(), 255);
    EXPECT_EQ(synthBank("after.fxb"), before);
}

TEST_F(PresetCommandsTest, ExportSkipsUnnamedProgramsAndStopsAtItsTimeLimit) {
    const std::string folder = home.file("gain");
    fs::create_directory(folder);
    slot(gain).SetProgram(2);
    list().renameProgram(gain, "");
    slot(gain).SetProgram(1);

    PresetList::ExportResult result = list().exportPresets(gain, folder, false);
    EXPECT_EQ(result.count, 3);
    EXPECT_TRUE(test::fileExists(folder + "/Boost.fxp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);

    // The time is up after the first program: that one is written, and no other.
    fs::remove_all(folder);
    fs::create_directory(folder);
    result = list().exportPresets(gain, folder, true, 0);
    EXPECT_EQ(result.count, 1);
    EXPECT_TRUE(test::fileExists(folder + "/000-Unity.fxp"));
    EXPECT_EQ(slot(gain).GetProgram(), 1);

    // A slot in an FXP-folder mode has no bank to export.
    slot(gain).setProgramMode('p');
    EXPECT_FALSE(list().exportAllowed(gain));
    EXPECT_EQ(list().exportPresets(gain, folder, true).count, 0);
}

TEST_F(PresetCommandsTest, CopyPasteAndMoveTouchOnlyTheProgramsTheyName) {
    const std::vector<Program> original = gainPrograms();
    EXPECT_FALSE(list().pastePreset(gain)); // nothing copied yet

    slot(gain).SetProgram(3);
    ASSERT_TRUE(list().copyPreset(gain));
    slot(gain).SetProgram(0);
    ASSERT_TRUE(list().pastePreset(gain));
    std::vector<Program> expected = original;
    expected[0] = original[3];
    EXPECT_EQ(gainPrograms(), expected);

    slot(gain).SetProgram(1);
    ASSERT_TRUE(list().movePreset(gain, false));
    EXPECT_EQ(slot(gain).GetProgram(), 2); // the moved program stays current
    std::swap(expected[1], expected[2]);
    EXPECT_EQ(gainPrograms(), expected);
    EXPECT_FALSE(test::fileExists(home.file("$clpbrd1$.tmp")));

    ASSERT_TRUE(list().movePreset(gain, true));
    std::swap(expected[1], expected[2]);
    EXPECT_EQ(gainPrograms(), expected);

    // Nothing moves past either end.
    slot(gain).SetProgram(0);
    EXPECT_FALSE(list().movePreset(gain, true));
    slot(gain).SetProgram(3);
    EXPECT_FALSE(list().movePreset(gain, false));
    EXPECT_EQ(gainPrograms(), expected);

    // Chunks move the same way.
    const std::string a = slot(synth).GetProgramName();
    slot(synth).SetProgram(6);
    const std::string g = slot(synth).GetProgramName();
    ASSERT_TRUE(list().movePreset(synth, true));
    EXPECT_EQ(slot(synth).GetProgram(), 5);
    EXPECT_EQ(slot(synth).GetProgramName(), g);
    slot(synth).SetProgram(0);
    EXPECT_EQ(slot(synth).GetProgramName(), a);
}

TEST_F(PresetCommandsTest, SeveralFilesFillConsecutiveProgramsAndCanNameThem) {
    const std::string folder = home.file("fxp");
    fs::create_directory(folder);
    std::vector<std::string> files;
    for (int p : {3, 2, 1}) {
        slot(gain).SetProgram(p);
        files.push_back(folder + "/" + std::to_string(p) + " loud.fxp");
        ASSERT_TRUE(slot(gain).SavePreset(files.back(), 1));
    }
    const std::vector<Program> original = gainPrograms();

    slot(gain).SetProgram(1);
    EXPECT_EQ(list().loadPresetFiles(gain, {files[0], home.file("missing.fxp"), files[2]}, true), 2);
    EXPECT_EQ(slot(gain).GetProgram(), 3);
    const std::vector<Program> programs = gainPrograms();
    EXPECT_EQ(programs[0], original[0]);
    EXPECT_EQ(programs[1], (Program{"3 loud", original[3].gain, original[3].balance}));
    EXPECT_EQ(programs[2], original[2]); // the missing file changed nothing
    EXPECT_EQ(programs[3], (Program{"1 loud", original[1].gain, original[1].balance}));
    EXPECT_EQ(slot(gain).FXPfolder, folder);

    // The end of the bank ends the loading: the last program is not written over again.
    EXPECT_EQ(list().loadPresetFiles(gain, {files[1], files[0]}, false), 1);
    EXPECT_EQ(slot(gain).GetProgram(), 3);
    EXPECT_EQ(gainPrograms()[3].name, original[2].name);
}

TEST_F(PresetCommandsTest, BanksAndProgramsSaveAndOpenThroughTheirFields) {
    host::TVstPlugIn& entry = slot(gain);
    controller.select(gain);
    entry.SetProgram(2);
    list().RefreshPresetDisplay(gain);
    EXPECT_EQ(list().proposedPresetFile(gain, false), currentFxpFolder(entry) + "Left only.fxp");
    list().renameProgram(gain, "a/b: c?");
    EXPECT_EQ(fs::path(list().proposedPresetFile(gain, true)).filename(), "a_b_ c_.fxp");

    fs::create_directory(home.file("banks"));
    fs::create_directory(home.file("single"));
    ASSERT_TRUE(list().saveBank(gain, home.file("banks/all.fxb"), true));
    EXPECT_EQ(entry.FXBfolder, home.file("banks"));
    EXPECT_EQ(entry.FXBfile, "all.fxb");
    list().renameProgram(gain, "changed");
    entry.FXBfile.clear();
    ASSERT_TRUE(list().openBank(gain, home.file("banks/all.fxb")));
    EXPECT_EQ(entry.FXBfile, "all.fxb");
    EXPECT_EQ(entry.GetProgram(), 0);
    entry.SetProgram(2);
    EXPECT_EQ(entry.GetProgramName(), "a/b: c?");
    EXPECT_FALSE(list().openBank(gain, home.file("banks/none.fxb")));

    ASSERT_TRUE(list().savePresetAs(gain, home.file("single/Mine.fxp"), false));
    EXPECT_EQ(entry.FXPfolder, home.file("single"));
    entry.FXPbank = "keep";
    ASSERT_TRUE(list().savePresetAs(gain, home.file("other.fxp"), true));
    EXPECT_EQ(entry.FXPfolder, home.file("single")); // a folder of banks keeps its root

    // A save that cannot be made leaves the file it would replace as it was.
    const std::string kept = test::readFile(home.file("single/Mine.fxp"));
    ::chmod(home.file("single/Mine.fxp").c_str(), 0444);
    list().renameProgram(gain, "other sound");
    EXPECT_FALSE(list().savePresetAs(gain, home.file("single/Mine.fxp"), false));
    EXPECT_FALSE(list().saveBank(gain, home.file("single/Mine.fxp"), false));
    EXPECT_EQ(test::readFile(home.file("single/Mine.fxp")), kept);
}

TEST_F(PresetCommandsTest, RenamingAFileNeverReplacesAnotherAndFailsCleanlyOnAReadOnlyFolder) {
    host::TVstPlugIn& entry = slot(gain);
    const std::string folder = home.file("fxp");
    fs::create_directory(folder);
    entry.FXPfolder = folder;
    entry.SetProgram(0);
    ASSERT_TRUE(entry.SavePreset(folder + "/Lead.fxp", 0));
    entry.SetProgram(3);
    ASSERT_TRUE(entry.SavePreset(folder + "/Pad.fxp", 0));
    const std::string pad = test::readFile(folder + "/Pad.fxp");
    list().setProgramMode(gain, 'p');
    controller.select(gain);
    list().SelectPreset(gain, 0, true);
    EXPECT_EQ(list().renameFileProposal(gain), "Lead.fxp");
    EXPECT_EQ(PresetList::renamedFileName(" Solo: loud "), "Solo_ loud.fxp");
    EXPECT_EQ(PresetList::renamedFileName("Solo.FXP"), "Solo.FXP");

    EXPECT_FALSE(list().renamePresetFile(gain, "Lead.fxp", "Pad.fxp"));
    EXPECT_EQ(test::readFile(folder + "/Pad.fxp"), pad);
    EXPECT_THAT(list().failure, ::testing::HasSubstr("a file of that name exists"));

    ASSERT_TRUE(list().renamePresetFile(gain, "Lead.fxp", "Solo.fxp"));
    EXPECT_EQ(entry.PresetFileName, "Solo.fxp");
    ASSERT_EQ(list().items.size(), 2u);
    EXPECT_EQ(list().items[static_cast<std::size_t>(list().selectedItem)].name(), "Solo.fxp");

    // A folder the user may not write to: even root's rename is run as another user here.
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                fs::perms::others_exec | fs::perms::group_read | fs::perms::group_exec);
    ::chmod(home.path().c_str(), 0755);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(list().renamePresetFile(gain, "Solo.fxp", "Gone.fxp") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(test::fileExists(folder + "/Solo.fxp"));
    EXPECT_FALSE(test::fileExists(folder + "/Gone.fxp"));
}

} // namespace
} // namespace trelvo::presets
