// Projects, plug-in profiles and DLL template mode through the rack controller, with real
// files in a temporary folder and the project's own plug-ins.
#include "session/ProjectFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "TestPaths.h"
#include "platform/TrelvoHome.h"
#include "project/PluginProfile.h"
#include "session/RackController.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::project {
namespace {

using rack::SlotKind;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

/// A project's text as the same project saved under another name writes it: only its
/// "State" keys name the other name's state folder.
std::string savedAs(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class ProjectFileTest : public ::testing::Test {
protected:
    ProjectFileTest() {
        // The project's plug-ins live in a VST folder of their own, so that libraries can
        // be moved and removed.
        fs::create_directories(vst.file("lib"));
        for (const char* library : {TrelvoGain_PATH, TrelvoSynth_PATH, TrelvoMidiFx_PATH})
            fs::copy_file(library, vst.file("lib/" + fs::path(library).filename().string()));
        settings.vstFolders = {{vst.path(), "Mine"}};
        fs::create_directories(settings.vstProfilesFolder);
        controller = std::make_unique<rack::RackController>(settings);
        controller->newProject();
    }

    host::TVstPlugIn& slot(int index) { return controller->rack().slot(index); }
    std::string lib(const char* name) { return vst.file(std::string("lib/") + name); }
    std::string project(const std::string& name = "p.vprj") { return home.file(name); }
    std::unique_ptr<rack::RackController> reloaded(const std::string& file) {
        auto fresh = std::make_unique<rack::RackController>(settings);
        EXPECT_TRUE(fresh->openProject(file));
        return fresh;
    }

    test::LogCapture log;
    test::TempFolder home;
    test::TempFolder vst;
    persist::AppSettings settings{home.path()};
    std::unique_ptr<rack::RackController> controller;
};

TEST_F(ProjectFileTest, TheWorkedExampleComesOutByteForByte) {
    const int synth = controller->loadPlugin(lib("TrelvoSynth.so"));
    controller->renameSlot(synth, "Synth");
    slot(synth).WetVol.set(-6);
    slot(synth).SetProgramName("Init");
    slot(synth).EditorLeft = 120;
    slot(synth).EditorTop = 80;
    ASSERT_TRUE(controller->saveProjectTo(project()));
    const std::string expected =
        "[Layout]\r\nMainWindowMaximized=0\r\nMainWindowX=10\r\nMainWindowY=10\r\nMainWindowW=800\r\nMainWindowH="
        "550\r\n"
        "LTsplit=100\r\nLBsplit=80\r\nLprmDock=d\r\ncurLV=3\r\ncurTab=1\r\n\r\n[Tabs]\r\nTab-1=Page "
        "1\r\n\r\n[Project]\r\n"
        "NrOfScenes=0\r\n01_SlotID=5001\r\n01_OUTPUT=Master\r\n01_RunMode=bms\r\n02_SlotID=5002\r\n02_CHANNEL=Channel "
        "1\r\n"
        "02_RunMode=bms\r\n03_SlotID=5003\r\n03_PLUGIN=Synth\r\n03_DLLfile=TrelvoSynth.so\r\n03_RunMode=bmso\r\n"
        "03_WetVol=-6\r\n03_FXBfolder=.\r\n03_FXBfile=.\r\n03_FXPbank=.\r\n03_FXPfolder=.\r\n03_FXPfile=.\r\n03_Preset="
        "Init\r\n"
        "03_PresetMode=s s\r\n03_MidiPgms=1,0\r\n03_Editor=0,120,80,0,0\r\n03_iMid1-Port=DEFAULT\r\n"
        "03_iMid1-Channels=100,111,122,133,144,155,166,177,188,199,1AA,1BB,1CC,1DD,1EE,1FF\r\n"
        "03_iMid1-NVsplits=007F017F,007F017F,007F017F,007F017F,007F017F,007F017F,007F017F,007F017F,007F017F,007F017F,"
        "007F017F,007F017F,007F017F,007F017F,007F017F,007F017F\r\n03_iMid1-Transposes=0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
        "0\r\n"
        "03_iMid1-Controls=1111111,11111,111111\r\n03_iMid1-CCs=11111111,11111111,11111111,11111111,11111111,11111111,"
        "11111111,11111111,11111111,11111111,11111111,11111111,11111111,11111111,11111111,11111111\r\n"
        "03_State=0,p.state/03_5003.fxb\r\n";
    EXPECT_EQ(test::readFile(project()), expected);
    EXPECT_EQ(settings.lastProject, project());
    EXPECT_EQ(controller->projectName, "p.vprj");
}

TEST_F(ProjectFileTest, AFullRackLoadsBackIdentical) {
    rack::RackController& c = *controller;
    // 2 + 30 slots of every kind, with routes, presets, volumes and run modes.
    for (int strip = 0; strip < 6; ++strip) {
        c.addSlot(strip % 3 == 0 ? SlotKind::Group : SlotKind::Channel, false);
        const int gain = c.loadPlugin(lib("TrelvoGain.so"));
        slot(gain).WetVol.set(-3 - strip);
        slot(gain).pan.set(strip - 3);
        slot(gain).runMode.assign(strip % 2 == 0 ? "BmsO" : "bMSo");
        slot(gain).midi->routes.count = 2;
        slot(gain).midi->routes.routes[1].portName = "Keys";
        slot(gain).midi->routes.routes[1].transpose[3] = -12;
        slot(gain).midi->routes.routes[1].ccPass[7] = 0;
        const int synth = c.loadPlugin(lib("TrelvoSynth.so"));
        slot(synth).presetMode = "sBm";
        slot(synth).MidiSelect.Channel = 3;
        slot(synth).SetProgram(strip);
    }
    for (SlotKind kind : {SlotKind::Midi, SlotKind::Output, SlotKind::Channel, SlotKind::Group, SlotKind::Midi})
        c.addSlot(kind, false);
    slot(c.rack().numSlots() - 1).midi->outputPortName = "Box";
    slot(3).InpVol.set(-48);
    slot(2).InpVol.set(rack::kVolumeOff); // a group whose input is off
    while (c.rack().numSlots() < 31) c.loadPlugin(lib("TrelvoMidiFx.so"));
    c.addSlot(SlotKind::Input, false); // input slots keep only their identity
    ASSERT_EQ(c.rack().numSlots(), 32);
    c.selected = 5;
    ASSERT_TRUE(c.saveProjectTo(project()));

    auto back = reloaded(project());
    ASSERT_EQ(back->rack().numSlots(), 31);
    EXPECT_EQ(back->rack().slot(2).InpVol.getDb(), rack::kVolumeOff);
    EXPECT_EQ(back->rack().slot(3).InpVol.getDb(), -48);
    EXPECT_EQ(back->rack().slot(3).runMode.text(), "BmsO");
    EXPECT_EQ(back->rack().slot(3).OnGain.load(), 0.0f);
    EXPECT_EQ(back->rack().slot(4).GetProgram(), 0);
    EXPECT_EQ(back->rack().slot(7).GetProgram(), 1); // restored by name
    EXPECT_EQ(back->rack().slot(6).midi->routes, slot(6).midi->routes);
    EXPECT_EQ(back->selected, 5);
    ASSERT_TRUE(back->saveProjectTo(project("again.vprj")));
    std::string first = test::readFile(project());
    first.erase(first.find("32_SlotID="));
    EXPECT_EQ(test::readFile(project("again.vprj")), savedAs(first, ",p.state/", ",again.state/"));
}

TEST_F(ProjectFileTest, MovedAndMissingLibrariesAreFoundOrKeptUnchanged) {
    controller->loadPlugin(lib("TrelvoGain.so"));
    const int synth = controller->loadPlugin(lib("TrelvoSynth.so"));
    slot(synth).SetProgram(5);
    ASSERT_TRUE(controller->saveProjectTo(project()));
    const std::string saved = test::readFile(project());

    fs::create_directories(vst.file("moved/deeper"));
    fs::rename(lib("TrelvoGain.so"), vst.file("moved/deeper/TrelvoGain.so"));
    fs::remove(lib("TrelvoSynth.so"));
    auto back = reloaded(project());
    ASSERT_EQ(back->rack().numSlots(), 4);
    EXPECT_EQ(back->rack().slot(2).DllPath, vst.file("moved/deeper/TrelvoGain.so"));
    EXPECT_TRUE(back->rack().slot(2).Active.load());
    EXPECT_EQ(back->rack().slot(3).SlotName, "?TrelvoSynth");
    EXPECT_THAT(log.errors(), Contains("TrelvoSynth.so does not exist!"));

    ASSERT_TRUE(back->saveProjectTo(project("again.vprj")));
    EXPECT_EQ(test::readFile(project("again.vprj")), savedAs(saved, ",p.state/", ",again.state/"));
}

TEST_F(ProjectFileTest, SavingKeepsForeignTextAndDropsKeysOfRemovedSlots) {
    controller->addSlot(SlotKind::Channel, false);
    ASSERT_TRUE(controller->saveProjectTo(project()));
    std::string text = test::readFile(project());
    text.insert(0, "; my notes\r\n");
    text += "[Mine]\r\nkeep=1\r\n";
    test::writeFile(project(), text);
    controller->deleteSlot(SlotKind::Channel, 2);
    ASSERT_TRUE(controller->saveProjectTo(project()));
    text = test::readFile(project());
    EXPECT_THAT(text, HasSubstr("; my notes\r\n"));
    EXPECT_THAT(text, HasSubstr("[Mine]\r\nkeep=1\r\n"));
    EXPECT_THAT(text, Not(HasSubstr("03_")));
}

// Guards the faults where an empty file, random bytes or a MIDI file loaded as an empty
// rack, and where a project past the line limit loaded empty and was then saved over.
TEST_F(ProjectFileTest, AFileThatIsNotAProjectIsRefusedWithWhatWasExpectedAndTheRackPlaysOn) {
    controller->addSlot(SlotKind::Channel, false);
    ASSERT_EQ(controller->rack().numSlots(), 3);
    std::string huge = "[Project]\r\n01_OUTPUT=Out\r\n";
    for (int i = 0; i < 10001; ++i) huge += "; filler " + std::to_string(i) + "\r\n";
    const struct {
        const char* name;
        std::string text;
        const char* why;
    } cases[] = {
        {"empty.vprj", "", "is empty: a Trelvo project (.vprj) is a text file with a [Project] section"},
        {"noise.vprj", std::string("\x01\x00\xff\x7f random", 11), "is not a text file"},
        {"song.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14), "is a MIDI file"},
        {"take.wav", "RIFF....WAVEfmt ", "is a sound file"},
        {"notes.txt", "[Layout]\r\nMainWindowX=1\r\n", "has no [Project] section"},
        {"huge.vprj", huge, "has 10003 lines, more than the 10000 Trelvo reads"},
    };
    std::vector<std::string> messages;
    controller->showMessage = [&messages](const std::string& text) { messages.push_back(text); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        test::writeFile(project(c.name), c.text);
        EXPECT_FALSE(controller->openProject(project(c.name)));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_THAT(messages[0], HasSubstr(project(c.name) + " "));
        EXPECT_THAT(messages[0], HasSubstr(c.why));
        EXPECT_EQ(controller->rack().numSlots(), 3) << "the rack that plays is left as it was";
        EXPECT_EQ(test::readFile(project(c.name)), c.text);
    }
    EXPECT_NE(settings.lastProject, project("huge.vprj")) << "so a save never goes over it";
}

TEST_F(ProjectFileTest, AProjectOfFortySlotsLoadsTheFirst32AndSaysTheRestWereLeftOut) {
    std::string text = "[Project]\r\n01_OUTPUT=Out\r\n";
    for (int number = 2; number <= 40; ++number) {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "%02d_", number);
        text += std::string(prefix) + "MIDI=Midi " + std::to_string(number) + "\r\n";
    }
    test::writeFile(project(), text);
    std::vector<std::string> messages;
    auto back = std::make_unique<rack::RackController>(settings);
    back->showMessage = [&messages](const std::string& message) { messages.push_back(message); };
    ASSERT_TRUE(back->openProject(project()));
    EXPECT_EQ(back->rack().numSlots(), 32);
    EXPECT_EQ(back->rack().slot(31).SlotName, "Midi 32");
    EXPECT_THAT(messages, ElementsAre(HasSubstr("holds more slots than the rack's 32: 8 slots were left out")));
}

TEST_F(ProjectFileTest, OlderAndDamagedProjectsLoadWhatCanBeLoaded) {
    std::string text = "[Layout]\r\ncurLV=9\r\ncurTab=7\r\n[Project]\r\n01_Track=Old Channel\r\n01_RunMode=bMS\r\n"
                       "01_InpVol=loud\r\n03**GROUP=Old "
                       "Group\r\n03**InpVol=~\r\n02_SlotID=abc\r\n02_PLUGIN=Gain\r\n02_DLLfile=TrelvoGain.so\r\n"
                       "02_RunMode=12345\r\n02_WetVol=99\r\n02_Pan=-40\r\n02_Editor=1,2\r\n02_PresetMode=M\r\n"
                       "02_iMid1-Port=DEFAULT\r\n02_iMid1-Channels=zz\r\n02_iMid1-NVsplits=!\r\n02_MidiPgms=x,y\r\n"
                       "04_PLUGIN=No file\r\n05_Nothing=1\r\n33_CHANNEL=Beyond\r\n";
    test::writeFile(project(), text);
    auto back = reloaded(project());
    rack::Rack& rack = back->rack();
    ASSERT_EQ(rack.numSlots(), 4);
    EXPECT_EQ(rack.slot(0).kind(), SlotKind::Output); // created and moved to the top
    EXPECT_EQ(rack.slot(3).SlotName, "Old Group");
    EXPECT_EQ(rack.slot(3).InpVol.getDb(), rack::kVolumeOff);
    EXPECT_EQ(rack.slot(1).SlotName, "Old Channel");
    EXPECT_EQ(rack.slot(1).runMode.text(), "bMSo");
    EXPECT_EQ(rack.slot(1).InpVol.getDb(), rack::kVolumeOff);
    EXPECT_EQ(rack.slot(1).SoloGain.load(), 1.0f);
    EXPECT_EQ(rack.slot(0).SoloGain.load(), 0.0f); // something was soloed
    const host::TVstPlugIn& gain = rack.slot(2);
    EXPECT_TRUE(gain.Active.load());
    EXPECT_GT(gain.SlotID, 5000);
    EXPECT_EQ(gain.runMode.text(), "bmso");
    EXPECT_EQ(gain.WetVol.getDb(), 12);
    EXPECT_EQ(gain.pan.getStep(), -12);
    EXPECT_FALSE(gain.EditorKeyRead);
    EXPECT_EQ(gain.presetMode, "spm");
    EXPECT_EQ(back->selected, 0);
    EXPECT_EQ(back->pages.current, 0);
}

// Guards the fault where a library from outside the VST folders was saved as a bare file
// name that could not be found again.
TEST_F(ProjectFileTest, ALibraryFromOutsideTheVstFoldersIsFoundAgain) {
    test::TempFolder elsewhere;
    fs::create_directories(home.file("plugins/mine"));
    const std::string near = home.file("plugins/mine/TrelvoGain.so"); // beside the project
    const std::string far = elsewhere.file("TrelvoSynth.so");         // in another tree
    fs::copy_file(TrelvoGain_PATH, near);
    fs::copy_file(TrelvoSynth_PATH, far);
    const int inside = controller->loadPlugin(lib("TrelvoMidiFx.so"));
    const int nearSlot = controller->loadPlugin(near);
    const int farSlot = controller->loadPlugin(far);
    ASSERT_TRUE(controller->saveProjectTo(project()));
    const std::string text = test::readFile(project());
    EXPECT_THAT(text, HasSubstr("_DLLfile=TrelvoMidiFx.so\r\n")) << "found by name in the VST folders: kept bare";
    EXPECT_THAT(text, HasSubstr("_DLLfile=./plugins/mine/TrelvoGain.so\r\n"));
    EXPECT_THAT(text, HasSubstr("_DLLfile=" + far + "\r\n"));

    // From another working folder, and with the project moved along with its plug-ins.
    fs::create_directories(home.file("moved"));
    fs::rename(home.file("plugins"), home.file("moved/plugins"));
    fs::rename(project(), home.file("moved/p.vprj"));
    auto back = reloaded(home.file("moved/p.vprj"));
    EXPECT_EQ(back->rack().slot(inside).DllPath, lib("TrelvoMidiFx.so"));
    EXPECT_EQ(back->rack().slot(nearSlot).DllPath, home.file("moved/plugins/mine/TrelvoGain.so"));
    EXPECT_TRUE(back->rack().slot(nearSlot).Active.load());
    EXPECT_EQ(back->rack().slot(farSlot).DllPath, far);
    EXPECT_TRUE(back->rack().slot(farSlot).Active.load());
}

// Guards the fault where a profile given on the command line from another folder brought
// only its library, not its name, levels and map.
TEST_F(ProjectFileTest, AProfileFromAnyFolderIsAppliedWhole) {
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    controller->renameSlot(gain, "Stage Gain");
    slot(gain).DryVol.set(-7);
    slot(gain).ParamMap = {{1, 0.0, 1.0, 0.001, "Width"}};
    ASSERT_TRUE(controller->savePluginProfile(gain));
    test::TempFolder downloads;
    fs::rename(profilePath(settings, lib("TrelvoGain.so")), downloads.file("TrelvoGain.vprf"));

    auto fresh = std::make_unique<rack::RackController>(settings);
    fresh->startWithLibrary(downloads.file("TrelvoGain.vprf"));
    const int index = fresh->rack().numSlots() - 1;
    host::TVstPlugIn& entry = fresh->rack().slot(index);
    ASSERT_TRUE(entry.Active.load());
    EXPECT_EQ(entry.DllPath, lib("TrelvoGain.so"));
    EXPECT_EQ(entry.SlotName, "Stage Gain");
    EXPECT_EQ(entry.DryVol.getDb(), -7);
    ASSERT_EQ(entry.ParamMap.size(), 1u);
    EXPECT_EQ(entry.ParamMap[0].name, "Width");
}

TEST_F(ProjectFileTest, AProfileBringsAPlugInBackTheWayTheUserLeftIt) {
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    controller->renameSlot(gain, "Guitar Gain");
    slot(gain).SetProgram(3);
    slot(gain).DryVol.set(-10);
    slot(gain).UseFxpFxb = 2;
    slot(gain).AltUniqueIds = {slot(gain).effectUniqueID(), 0x01020304, 0x41424344};
    slot(gain).ParamMap = {{1, 0.0, 1.0, 0.001, ""}, {0, -1.5, 2.0, 0.25, "Drive"}};
    ASSERT_TRUE(controller->savePluginProfile(gain));
    const std::string profile = test::readFile(profilePath(settings, lib("TrelvoGain.so")));
    EXPECT_THAT(profile, HasSubstr("DLLpath=lib\r\n"));
    EXPECT_THAT(profile, HasSubstr("LoadChkVstIDs=$01020304,ABCD\r\n"));
    EXPECT_THAT(profile, HasSubstr("useFXP_FXB=FXB\r\n"));
    EXPECT_THAT(profile, HasSubstr("[ParamMap]\r\np-0=1\r\np-1=0,-1.5,2,0.25,Drive\r\n"));
    EXPECT_THAT(profile, HasSubstr("[Levels]\r\nDryVol=-10\r\n"));

    // Lowercase and short words, and the plug-in's own id, as a user might edit them.
    std::string edited = profile;
    edited.replace(edited.find("useFXP_FXB=FXB"), 14, "useFXP_FXB=fxp");
    edited.replace(edited.find("LoadChkVstIDs="), 14, "LoadChkVstIDs=TGan,");
    edited.replace(edited.find("PCkeys=pre"), 10, "PCkeys=po");
    test::writeFile(profilePath(settings, lib("TrelvoGain.so")), edited);

    controller->newProject();
    const int again = controller->loadPlugin(lib("TrelvoGain.so"));
    host::TVstPlugIn& entry = slot(again);
    EXPECT_EQ(entry.SlotName, "Guitar Gain");
    EXPECT_EQ(entry.GetProgramName(), "Boost");
    EXPECT_EQ(entry.DryVol.getDb(), -10);
    EXPECT_EQ(entry.UseFxpFxb, 1);
    EXPECT_EQ(entry.PcKeys, "pre");
    EXPECT_EQ(entry.AltUniqueIds[0], 0x01020304);
    EXPECT_EQ(entry.AltUniqueIds[1], 0x41424344);
    ASSERT_EQ(entry.ParamMap.size(), 2u);
    EXPECT_EQ(entry.ParamMap[1].name, "Drive");
    EXPECT_EQ(entry.ParamMapReverse[0], 1);

    // A missing library is found again through the profile's folder.
    fs::create_directories(vst.file("other"));
    EXPECT_EQ(profileLibraryPath(settings, "/nowhere/TrelvoGain.so"), lib("TrelvoGain.so"));
    EXPECT_EQ(vstIdText(0x54476100), "$54476100");
    EXPECT_EQ(parseVstId("$zz"), 0);
}

TEST_F(ProjectFileTest, DllTemplateModeBuildsAroundTheLibraryAndRefusesToOverwriteTheTemplate) {
    fs::create_directories(settings.templatesFolder);
    const std::string templateFile = settings.templatesFolder + "/DLL-template.vprj";
    test::writeFile(templateFile,
                    "[Project]\r\n01_OUTPUT=Main\r\n02_CHANNEL=Inst\r\n03_PLUGIN=.\r\n03_DLLfile=%dll.dll\r\n"
                    "03_RunMode=bmso\r\n04_PLUGIN=Fx\r\n04_DLLfile=TrelvoGain.so\r\n");
    controller->startWithLibrary(lib("TrelvoSynth.so"));
    rack::Rack& rack = controller->rack();
    ASSERT_EQ(rack.numSlots(), 4);
    EXPECT_EQ(rack.slot(2).EffectName, "TrelvoSynth");
    EXPECT_EQ(rack.slot(2).SlotName, "TrelvoSynth");
    EXPECT_EQ(controller->templateSlot, 2);

    const std::string before = test::readFile(templateFile);
    EXPECT_FALSE(controller->saveProjectTo(templateFile));
    EXPECT_THAT(log.errors(), Contains(settings.templatesFolder + "\nCannot save template"));
    EXPECT_EQ(test::readFile(templateFile), before);
    ASSERT_TRUE(controller->saveProjectTo(project()));
    EXPECT_THAT(test::readFile(project()), HasSubstr("03_PLUGIN=.\r\n03_DLLfile=%dll.dll\r\n"));

    // Without any template: a default rack around the library.
    fs::remove(templateFile);
    rack::RackController fresh{settings};
    fresh.startWithLibrary(lib("TrelvoGain.so"));
    ASSERT_EQ(fresh.rack().numSlots(), 3);
    EXPECT_EQ(fresh.rack().slot(2).EffectName, "TrelvoGain");
}

} // namespace
} // namespace trelvo::project
