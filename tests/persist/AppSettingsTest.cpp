#include "persist/AppSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/TASIOHost.h"
#include "diag/OpcodeLevels.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::persist {
namespace {

using ::testing::HasSubstr;

class AppSettingsTest : public ::testing::Test {
protected:
    AppSettingsTest() { setenv("VST_PATH", vst.path().c_str(), 1); }
    ~AppSettingsTest() override {
        unsetenv("VST_PATH");
        audio::channelSelection() = audio::ChannelSelection{};
    }
    std::string file() const { return test::readFile(home.file("Trelvo.ini")); }

    test::LogCapture log; // also clears the level tables before and after
    test::TempFolder home;
    test::TempFolder vst;
};

TEST_F(AppSettingsTest, AFirstStartUsesDefaultsAndExitWritesACompleteFile) {
    AppSettings settings(home.path());
    settings.readAll();
    EXPECT_EQ(settings.windowX, 10);
    EXPECT_EQ(settings.windowY, 10);
    EXPECT_EQ(settings.windowW, 800);
    EXPECT_EQ(settings.windowH, 550);
    EXPECT_EQ(settings.tempo, 120);
    EXPECT_EQ(settings.defaultPort, "MAIN");
    EXPECT_TRUE(settings.debug);
    EXPECT_EQ(settings.templatesFolder, home.path() + "/Templates");
    EXPECT_EQ(settings.pluginFolder, vst.path()); // "_": the first VST folder
    ASSERT_EQ(settings.vstFolders.size(), 1u);
    EXPECT_EQ(settings.vstFolders[0], std::make_pair(vst.path(), std::string("VST")));

    ASSERT_TRUE(settings.writeAll());
    const std::string text = file();
    for (const char* line : {"[Layout]\r\nDebugVerbose=0\r\nMainWindowMaximized=0\r\nMainWindowX=10\r\n", "[ASIO]\r\n",
                             "[vMIDIports]\r\nDefaultPort=MAIN\r\n", "[DebugHST]\r\namAutomate=off\r\n",
                             "effGetNumMidiOutputChannels=off\r\n", "Templates Folder=Templates\r\n",
                             "Last Project=*.vprj\r\n", "Debug=1\r\nWrLog=0\r\nErrLog=0\r\n",
                             "IdleTime=30\r\nTempo=120\r\nTimeSigNumerator=4\r\nTimeSigDenominator=4\r\n",
                             "NoiseFloor=100000\r\nKnobMode=Linear\r\nAddShowEditor=1\r\n"})
        EXPECT_THAT(text, HasSubstr(line));
    EXPECT_THAT(text, HasSubstr("[VSTfolders]\r\n" + vst.path() + "=VST\r\n"));
    // A folder is stored without its trailing separator, so the program's folder itself
    // reads as a sibling of its own contents.
    const std::string homeName = home.path().substr(home.path().rfind('/') + 1);
    EXPECT_THAT(text, HasSubstr("Preset Folder=../" + homeName + "\r\n"));

    AppSettings again(home.path());
    again.readAll();
    EXPECT_EQ(again.templatesFolder, settings.templatesFolder);
    EXPECT_EQ(again.lastProject, home.path() + "/*.vprj");
    EXPECT_EQ(again.presetFolder, home.path());
}

TEST_F(AppSettingsTest, TheOlderSplitKeyIsReadAndDroppedAtTheNextExit) {
    test::writeFile(home.file("Trelvo.ini"), "[Layout]\r\nLVsplit=321\r\nLBsplit=77\r\n");
    AppSettings settings(home.path());
    settings.readAll();
    EXPECT_EQ(settings.listSplit, 321);
    EXPECT_EQ(settings.lowerSplit, 77);
    settings.writeAll();
    EXPECT_THAT(file(), HasSubstr("LTsplit=321"));
    EXPECT_THAT(file(), ::testing::Not(HasSubstr("LVsplit")));
}

TEST_F(AppSettingsTest, AMaximizedWindowKeepsItsEarlierPositionAndSize) {
    test::writeFile(home.file("Trelvo.ini"),
                    "[Layout]\r\nMainWindowX=5\r\nMainWindowY=6\r\nMainWindowW=700\r\nMainWindowH=500\r\n");
    AppSettings settings(home.path());
    settings.readAll();
    settings.maximized = true;
    settings.windowX = settings.windowY = 0;
    settings.windowW = 1920;
    settings.windowH = 1080;
    settings.writeAll();
    EXPECT_THAT(file(), HasSubstr("MainWindowX=5\r\nMainWindowY=6\r\nMainWindowW=700\r\nMainWindowH=500\r\n"));
    EXPECT_THAT(file(), HasSubstr("MainWindowMaximized=1"));
}

TEST_F(AppSettingsTest, TemplateModeWritesItsOwnWindowKeys) {
    AppSettings settings(home.path());
    settings.dllTemplateMode = true;
    settings.dllWindowX = 33;
    settings.writeAll();
    EXPECT_THAT(file(), HasSubstr("[Layout]\r\nDebugVerbose=0\r\nDllWindowX=33\r\nDllWindowY=10\r\nDllLprmDock=d\r\n"
                                  "DllLBsplit=180\r\nPropertiesPageIndex=0\r\n"));
}

TEST_F(AppSettingsTest, DebugLevelsReadOffAllAndNumbersAndKeepCurrentLevelsWhenMissing) {
    test::writeFile(home.file("Trelvo.ini"),
                    "[DebugPLG]\r\neffGetChunk=ALL\r\neffCanDo=7\r\n[DebugHST]\r\namGetTime=off\r\n");
    diag::plugCallLevels().setLevel(0, 3); // effOpen
    AppSettings settings(home.path());
    settings.readAll();
    EXPECT_EQ(diag::plugCallLevels().level(23), diag::kLevelAll);
    EXPECT_EQ(diag::plugCallLevels().level(51), 7);
    EXPECT_EQ(diag::plugCallLevels().level(0), 3); // missing key: the current level
    settings.writeAll();
    EXPECT_THAT(file(), HasSubstr("effOpen=3\r\n"));
    EXPECT_THAT(file(), HasSubstr("effGetChunk=ALL\r\n"));
}

TEST_F(AppSettingsTest, WithEveryPlugInLevelOffTheSectionIsRebuiltAtTheEnd) {
    test::writeFile(home.file("Trelvo.ini"), "[DebugPLG]\r\n; mine\r\neffOpen=off\r\n\r\n[Zzz]\r\nz=1\r\n");
    AppSettings settings(home.path());
    settings.readAll();
    settings.writeAll();
    const std::string text = file();
    EXPECT_LT(text.find("[Zzz]"), text.find("[DebugPLG]"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("; mine")));
}

TEST_F(AppSettingsTest, VolumesNoiseFloorAndKnobMode) {
    test::writeFile(
        home.file("Trelvo.ini"),
        "[Audio]\r\nOutput Volume=-6\r\nInput Volume=9\r\n[VST]\r\nNoiseFloor=1000\r\nKnobMode=Circular\r\n");
    AppSettings settings(home.path());
    settings.readAll();
    EXPECT_EQ(settings.outputVolumeDb, -6);
    EXPECT_NEAR(settings.outputVolumeGain, 0.501f, 0.001f);
    EXPECT_EQ(settings.inputVolumeDb, 0); // limited to -49..0
    EXPECT_DOUBLE_EQ(settings.noiseFloor(), 0.001);
    EXPECT_EQ(knobModeNumber(settings.knobMode), 0);
    EXPECT_EQ(knobModeNumber("nonsense"), 2);
}

TEST_F(AppSettingsTest, ChannelMapsReadDashesAndAreWrittenForTheDriverInUse) {
    test::writeFile(home.file("Trelvo.ini"), "[ASIO]\r\nASIO Driver=JACK\r\nJACK IN=0,-,1\r\nJACK OUT=-,0\r\n");
    AppSettings settings(home.path());
    settings.readAll();
    EXPECT_EQ(settings.asioDriver, "JACK");
    EXPECT_EQ(audio::channelSelection().inputs[1], -1);
    EXPECT_EQ(audio::channelSelection().inputs[2], 1);
    EXPECT_EQ(audio::channelSelection().outputs[0], -1);
    settings.loadedDriver = [] { return LoadedDriver{"JACK", 2, 4}; };
    settings.writeAll();
    EXPECT_THAT(file(), HasSubstr("JACK IN=0,-\r\nJACK OUT=-,0,0,0\r\n"));
}

TEST_F(AppSettingsTest, TheDeveloperSwitchComesFromTheEnvironment) {
    setenv("TRELVO_ISDEV", "yEs", 1);
    EXPECT_TRUE(AppSettings(home.path()).isDev);
    setenv("TRELVO_ISDEV", "no", 1);
    EXPECT_FALSE(AppSettings(home.path()).isDev);
    unsetenv("TRELVO_ISDEV");
}

TEST_F(AppSettingsTest, OtherGroupsAreExchangedByTheirOwners) {
    AppSettings settings(home.path());
    int calls = 0;
    settings.setGroupHandler(8, [&](IniHandle& handle, int direction) {
        ++calls;
        OpenIni(handle, settings.fileName(), "vMIDIports", direction == kExchangeRead ? kIniRead : kIniWrite);
        IniStr(handle, "01_Name", "Keys");
    });
    IniHandle handle;
    settings.exchange(handle, 8, kExchangeWrite);
    CloseIni(handle);
    settings.exchange(handle, 5, kExchangeWrite); // nobody registered: nothing happens
    EXPECT_EQ(calls, 1);
    EXPECT_THAT(file(), HasSubstr("[vMIDIports]\r\n01_Name=Keys\r\n"));
}

} // namespace
} // namespace trelvo::persist
