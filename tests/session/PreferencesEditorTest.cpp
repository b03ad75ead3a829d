// The Preferences dialog's editor over a rack on the Dummy driver and a fake MIDI backend:
// what OK applies, what it writes, and what it leaves alone.
#include "session/PreferencesEditor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "audio/DriverSettings.h"
#include "audio/DummyDriver.h"
#include "audio/TASIOHost.h"
#include "diag/OpcodeLevels.h"
#include "platform/FileAssociations.h"
#include "platform/TrelvoHome.h"
#include "session/RackController.h"
#include "support/EnvironmentVariable.h"
#include "support/FakeMidiBackend.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::rack {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

/// Every file under a folder with its contents: what a user's folder looks like.
std::map<std::string, std::string> snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files[entry.path().string()] = entry.is_regular_file() ? test::readFile(entry.path().string()) : "/";
    return files;
}

class PreferencesEditorTest : public ::testing::Test {
protected:
    PreferencesEditorTest() {
        settings.asioDriver = "Dummy";
        const auto dummy = [](const std::string& name) {
            return audio::DriverEntry{name, "dummy", "clock",
                                      [name] { return std::make_unique<audio::DummyDriver>(name); }};
        };
        controller.startAudio({dummy("Dummy"), dummy("Dummy B")});
        controller.newRack();
        controller.startMidi([](std::vector<std::string>&) {
            std::vector<std::unique_ptr<midi::MidiBackend>> list;
            list.push_back(std::make_unique<test::FakeBackend>(2, 1));
            return list;
        });
        controller.setRunning();
        // A settings file as a program that ran before has left it.
        EXPECT_TRUE(settings.writeAll());
        EXPECT_TRUE(settings.writeAll());
    }
    ~PreferencesEditorTest() override {
        diag::hostCallLevels().resetForTests();
        diag::plugCallLevels().resetForTests();
    }
    std::string settingsText() { return test::readFile(settings.fileName()); }

    test::LogCapture log;
    test::TempFolder home, data;
    test::EnvironmentVariable dataHome{"XDG_DATA_HOME", data.path().c_str()};
    test::EnvironmentVariable trelvoHome{"TRELVO_HOME", home.path().c_str()};
    persist::AppSettings settings{home.path()};
    RackController controller{settings};
};

TEST_F(PreferencesEditorTest, OkWithoutChangesRewritesNothingAndCancelChangesNothing) {
    const std::string before = settingsText();
    const auto desktop = snapshot(data.path());
    {
        PreferencesEditor editor(controller);
        EXPECT_EQ(editor.inputs.size(), 2u);
        EXPECT_EQ(editor.inputs[0].port, "Keys 0"); // a first start opens every input under its own name
        EXPECT_EQ(editor.driver, "Dummy");
        EXPECT_THAT(editor.informationLine(), HasSubstr("BufferSize: "));
        EXPECT_TRUE(editor.apply().empty());
    }
    EXPECT_EQ(settingsText(), before);
    EXPECT_EQ(snapshot(data.path()), desktop);

    // Cancel: the editor goes without apply().
    {
        PreferencesEditor editor(controller);
        editor.useAllCpus = true;
        editor.outputVolumeDb = -12;
        ASSERT_EQ(editor.renamePort(true, 0, "Piano"), "");
        editor.vstFolders.clear();
        editor.driver = "Dummy B";
        editor.clickAssociation(PreferencesEditor::kProjects, true);
    }
    EXPECT_EQ(settingsText(), before);
    EXPECT_FALSE(controller.engine().useAllCpus.load());
    EXPECT_EQ(controller.midi().portName(0), "Keys 0");
    EXPECT_EQ(controller.control().host()->driverName, "Dummy");
    EXPECT_EQ(snapshot(data.path()), desktop);
}

TEST_F(PreferencesEditorTest, ARenamedPortReachesTheMidiLayerTheSettingsAndTheRoutesThatReadIt) {
    PreferencesEditor editor(controller);
    EXPECT_THAT(editor.renamePort(true, 0, "Pi{ano"), HasSubstr("Don't use"));
    EXPECT_THAT(editor.renamePort(true, 0, "Keys 1"), HasSubstr("already the port name of \"Keys 1\""));
    EXPECT_THAT(editor.renamePort(true, 0, "MAIN"), HasSubstr("virtual port"));
    EXPECT_THAT(editor.renamePort(true, 5, "Piano"), HasSubstr("Select"));
    EXPECT_EQ(editor.renamePort(true, 0, " Piano "), "");
    EXPECT_EQ(editor.renamePort(true, 1, ""), ""); // no name: the device is not used
    EXPECT_EQ(editor.renamePort(false, 0, "Expander"), "");
    EXPECT_TRUE(editor.apply().empty());

    midi::MidiLayer& midi = controller.midi();
    EXPECT_EQ(midi.portName(0), "Piano");
    EXPECT_EQ(midi.portName(1), "");
    EXPECT_EQ(midi.outputPort(0).alias, "Expander");
    // The default port read "Keys 0" before: it reads the renamed port now.
    const auto& main = midi.virtualPorts()[0];
    ASSERT_EQ(main.name, "MAIN");
    EXPECT_EQ(main.routes.routes[0].portName, "Piano");
    const std::string text = settingsText();
    EXPECT_THAT(text, HasSubstr("Keys 0=Piano"));
    EXPECT_THAT(text, HasSubstr("Synth box 0=Expander"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("Keys 1=")));
}

TEST_F(PreferencesEditorTest, SwappedPortNamesTakeEachRouteToItsOwnDevice) {
    const auto& main = controller.midi().virtualPorts()[0];
    ASSERT_GE(main.routes.count, 2);
    ASSERT_EQ(main.routes.routes[0].portName, "Keys 0");
    ASSERT_EQ(main.routes.routes[1].portName, "Keys 1");
    PreferencesEditor editor(controller);
    ASSERT_EQ(editor.renamePort(true, 1, "spare"), "");
    ASSERT_EQ(editor.renamePort(true, 0, "Keys 1"), "");
    ASSERT_EQ(editor.renamePort(true, 1, "Keys 0"), "");
    EXPECT_TRUE(editor.apply().empty());
    EXPECT_EQ(controller.midi().portName(0), "Keys 1");
    EXPECT_EQ(main.routes.routes[0].portName, "Keys 1"); // still the first device
    EXPECT_EQ(main.routes.routes[1].portName, "Keys 0");
}

TEST_F(PreferencesEditorTest, AChangedChannelMapTakesEffectWithAudioRunning) {
    ASSERT_EQ(controller.control().host()->activeInputs, 2);
    PreferencesEditor editor(controller);
    editor.inputMap[1] = -1; // the second input takes no part
    EXPECT_TRUE(editor.apply().empty());
    EXPECT_TRUE(controller.engine().allowed.load());
    EXPECT_EQ(controller.control().host()->activeInputs, 1);
}

TEST_F(PreferencesEditorTest, AnotherDriverAndBufferSizeReachTheEngineAndTheSettings) {
    PreferencesEditor editor(controller);
    EXPECT_THAT(editor.drivers, ::testing::ElementsAre("Dummy", "Dummy B"));
    editor.driver = "Dummy B";
    editor.bufferSize = 128;
    EXPECT_TRUE(editor.apply().empty());
    const audio::TASIOHost* host = controller.control().host();
    ASSERT_TRUE(host->ready());
    EXPECT_EQ(host->driverName, "Dummy B");
    EXPECT_EQ(host->bufferSize, 128);
    EXPECT_EQ(settings.asioDriver, "Dummy B");
    const std::string text = settingsText();
    EXPECT_THAT(text, HasSubstr("ASIO Driver=Dummy B"));
    EXPECT_THAT(text, HasSubstr("Dummy B BUFFER=128,48000"));

    // The next start opens the driver with the choice.
    audio::DriverSettings fresh = audio::settingsFor("Dummy B");
    fresh.bufferSize = 256;
    audio::storeSettings("Dummy B", fresh);
    persist::AppSettings again(home.path());
    again.readAll();
    EXPECT_EQ(again.driverBufferSize, 128);
    RackController next(again);
    next.startAudio({{"Dummy B", "dummy", "clock", [] { return std::make_unique<audio::DummyDriver>("Dummy B"); }}});
    ASSERT_TRUE(next.control().hostReady());
    EXPECT_EQ(next.control().host()->bufferSize, 128);
}

TEST_F(PreferencesEditorTest, FoldersLevelsVolumesAndSwitchesFollowTheirFields) {
    PreferencesEditor editor(controller);
    editor.vstFolders = {{"", "/opt/vst"}, {"Mine", "/home/me/vst"}, {"", "/usr/local/lib/vst"}};
    EXPECT_EQ(editor.renameFolder(2, "mine"), "\"mine\" is already the name of another folder.");
    EXPECT_THAT(editor.renameFolder(2, "(x"), HasSubstr("Don't use"));
    std::int32_t level = 0;
    ASSERT_TRUE(PreferencesEditor::parseLevelText("A", level));
    editor.hostLevels[3] = level;
    ASSERT_TRUE(PreferencesEditor::parseLevelText("17", level));
    editor.plugLevels[10] = level;
    EXPECT_FALSE(PreferencesEditor::parseLevelText("some", level));
    editor.outputVolumeDb = -80; // limited to -49 dB
    editor.useAllCpus = true;
    editor.isolateAfterFault = true;
    editor.linearKnobs = false;
    EXPECT_TRUE(editor.apply().empty());

    ASSERT_EQ(settings.vstFolders.size(), 3u);
    EXPECT_EQ(settings.vstFolders[0], (std::pair<std::string, std::string>{"/opt/vst", "VST(1)"}));
    EXPECT_EQ(settings.vstFolders[2].second, "VST(3)");
    EXPECT_EQ(settings.pluginFolder, "/opt/vst");
    EXPECT_EQ(diag::hostCallLevels().level(3), diag::kLevelAll);
    EXPECT_EQ(diag::plugCallLevels().level(10), 17);
    EXPECT_EQ(settings.outputVolumeDb, -49);
    EXPECT_NEAR(controller.engine().outputVolume.load(), 0.003548, 1e-5);
    EXPECT_TRUE(controller.engine().useAllCpus.load());
    EXPECT_TRUE(settings.isolateAfterFault);
    EXPECT_EQ(settings.knobMode, "CircularRelativ");

    // Without any folder the system's own is kept, under the name "VST".
    PreferencesEditor emptied(controller);
    emptied.vstFolders.clear();
    emptied.apply();
    ASSERT_EQ(settings.vstFolders.size(), 1u);
    const std::string system = platform::systemVstFolder();
    EXPECT_EQ(settings.vstFolders[0].first, system.empty() ? "/usr/lib/vst" : system);
    EXPECT_EQ(settings.vstFolders[0].second, "VST");
}

TEST_F(PreferencesEditorTest, AnAssociationClickedOnAndOffLeavesTheDesktopFolderAsItWas) {
    test::EnvironmentVariable noTools("PATH", ""); // whatever cache tools this machine has
    const auto desktop = snapshot(data.path());
    PreferencesEditor on(controller);
    on.clickAssociation(PreferencesEditor::kProjects, true);
    on.clickAssociation(PreferencesEditor::kPlugins2, true); // no such thing on Linux
    EXPECT_TRUE(on.apply().empty());
    platform::AssociationContext context;
    EXPECT_TRUE(platform::associationInstalled(platform::Association::Projects, context));
    EXPECT_TRUE(settings.associations[PreferencesEditor::kProjects]);
    EXPECT_FALSE(settings.associations[PreferencesEditor::kPlugins2]);
    EXPECT_THAT(settingsText(), HasSubstr("ext_VPRJ=1"));

    PreferencesEditor off(controller);
    EXPECT_TRUE(off.associations[PreferencesEditor::kProjects]);
    off.clickAssociation(PreferencesEditor::kProjects, false);
    EXPECT_TRUE(off.apply().empty());
    EXPECT_EQ(snapshot(data.path()), desktop);
    EXPECT_THAT(settingsText(), HasSubstr("ext_VPRJ=0"));

    // A data folder that cannot be written: the user is told, the box stays as it was.
    fs::remove_all(data.path());
    test::writeFile(data.path(), "not a folder");
    PreferencesEditor blocked(controller);
    blocked.clickAssociation(PreferencesEditor::kProfiles, true);
    const std::vector<std::string> problems = blocked.apply();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_FALSE(settings.associations[PreferencesEditor::kProfiles]);
    fs::remove(data.path());
    fs::create_directory(data.path());
}

} // namespace
} // namespace trelvo::rack
