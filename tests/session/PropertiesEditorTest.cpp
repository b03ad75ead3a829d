#include "session/PropertiesEditor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestPaths.h"
#include "audio/DummyDriver.h"
#include "platform/Clock.h"
#include "project/PluginProfile.h"
#include "session/RackController.h"
#include "support/DummyDrivers.h"
#include "support/FakeMidiBackend.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::rack {
namespace {

class PropertiesEditorTest : public ::testing::Test {
protected:
    PropertiesEditorTest() {
        settings.asioDriver = "Dummy";
        controller.startAudio(test::dummyDriverOnly());
        controller.newRack();
        controller.startMidi([this](std::vector<std::string>&) {
            std::vector<std::unique_ptr<midi::MidiBackend>> list;
            auto fake = std::make_unique<test::FakeBackend>(2, 1);
            backend = fake.get();
            list.push_back(std::move(fake));
            return list;
        });
    }

    /// A synthesizer in a channel strip of its own; returns the synthesizer's slot.
    int addSynthStrip() {
        const int channel = controller.addSlot(SlotKind::Channel, false);
        const int synth = controller.loadPlugin(TrelvoSynth_PATH, channel + 1);
        controller.holdAudio();
        controller.releaseAudio();
        return synth;
    }

    midi::MidiRoute& liveRoute(int slot, int route = 0) {
        return controller.rack().slot(slot).midi->routes.routes[static_cast<std::size_t>(route)];
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    RackController controller{settings};
    test::FakeBackend* backend = nullptr;
};

TEST_F(PropertiesEditorTest, ASplitAtKey60SendsTheLowNotesToOneSynthesizerAndTheHighOnesToTheOther) {
    const int low = controller.loadPlugin(TrelvoSynth_PATH, 2);
    const int high = addSynthStrip();
    ASSERT_GE(low, 0);
    ASSERT_GE(high, 0);
    for (const auto& [slot, column, value] :
         {std::tuple{low, PropertiesEditor::kNoteHi, 59}, std::tuple{high, PropertiesEditor::kNoteLo, 60}}) {
        PropertiesEditor editor(controller, slot, PropertiesEditor::kSlotMode);
        EXPECT_EQ(editor.inPortText(), "DEFAULT");
        ASSERT_TRUE(editor.setValue(0, column, value));
        ASSERT_TRUE(editor.apply()) << editor.problem();
    }
    EXPECT_EQ(liveRoute(low).split[0].noteHi, 59);
    EXPECT_EQ(liveRoute(high).split[0].noteLo, 60);
    controller.setRunning();

    const SlotRecord& lowChannel = controller.rack().slot(controller.rack().slot(low).OwnerIndex);
    const SlotRecord& highChannel = controller.rack().slot(controller.rack().slot(high).OwnerIndex);
    // Peaks of the strips, from a clean start, after a note has had time to sound.
    const auto peaksAfter = [&](std::uint8_t key) {
        controller.rack().slot(lowChannel.SlotIdx).PeakL.store(0.0f);
        controller.rack().slot(highChannel.SlotIdx).PeakL.store(0.0f);
        backend->sink->shortMessage(0, 0x90, key, 100, {true, 0});
        platform::sleepMs(300);
        const std::pair peaks{lowChannel.PeakL.load(), highChannel.PeakL.load()};
        backend->sink->shortMessage(0, 0x80, key, 0, {true, 0});
        // The note's release dies away before the next note.
        for (int wait = 0; wait < 60; ++wait) {
            controller.rack().slot(lowChannel.SlotIdx).PeakL.store(0.0f);
            controller.rack().slot(highChannel.SlotIdx).PeakL.store(0.0f);
            platform::sleepMs(50);
            if (lowChannel.PeakL.load() == 0.0f && highChannel.PeakL.load() == 0.0f) break;
        }
        return peaks;
    };
    const auto [lowOf59, highOf59] = peaksAfter(59);
    EXPECT_GT(lowOf59, 0.0f);
    EXPECT_EQ(highOf59, 0.0f);
    const auto [lowOf60, highOf60] = peaksAfter(60);
    EXPECT_EQ(lowOf60, 0.0f);
    EXPECT_GT(highOf60, 0.0f);
}

TEST_F(PropertiesEditorTest, DroppingTheEditorAfterEditsChangesNothing) {
    const int synth = controller.loadPlugin(TrelvoSynth_PATH, 2);
    const midi::RouteBlock before = controller.rack().slot(synth).midi->routes;
    const std::string mode = controller.rack().slot(synth).presetMode;
    {
        PropertiesEditor editor(controller, synth, PropertiesEditor::kSlotMode);
        editor.setValue(3, PropertiesEditor::kTranspose, 12);
        editor.setType(midi::kNoteOn, false);
        editor.addRoute("MAIN");
        editor.details.midiMode = 4;
        editor.details.isMidiVport = true;
    }
    {
        PropertiesEditor editor(controller, 0, PropertiesEditor::kVirtualPortMode);
        EXPECT_EQ(editor.renameVirtualPort("Keys"), "");
        EXPECT_EQ(editor.addVirtualPort("MCU"), "");
    }
    EXPECT_EQ(controller.rack().slot(synth).midi->routes, before);
    EXPECT_EQ(controller.rack().slot(synth).presetMode, mode);
    EXPECT_FALSE(controller.rack().slot(synth).isMidiVport);
    EXPECT_EQ(controller.midi().virtualPorts()[0].name, "MAIN");
    EXPECT_TRUE(controller.midi().virtualPorts()[1].name.empty());
    EXPECT_FALSE(std::filesystem::exists(settings.fileName()) &&
                 test::readFile(settings.fileName()).find("Keys") != std::string::npos);
}

TEST_F(PropertiesEditorTest, RoutesAreAddedUpToFourDeletedDownToOneAndAnUnsetRouteGoesAtOk) {
    const int synth = controller.loadPlugin(TrelvoSynth_PATH, 2);
    PropertiesEditor editor(controller, synth, PropertiesEditor::kSlotMode);
    const std::vector<std::string> entries = editor.inPortEntries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0], "DEFAULT");
    EXPECT_EQ(entries[1], "MAIN");
    EXPECT_FALSE(editor.deleteRoute()) << "the only route stays";
    EXPECT_TRUE(editor.addRoute("MAIN"));
    EXPECT_TRUE(editor.addRoute(""));
    EXPECT_TRUE(editor.addRoute("MAIN"));
    EXPECT_FALSE(editor.addRoute("MAIN")) << "a fifth route";
    EXPECT_EQ(editor.routeTabs(), (std::vector<std::string>{"MIDI 1", "MIDI 2", "MIDI 3", "MIDI 4"}));
    editor.selectRoute(2);
    EXPECT_EQ(editor.inPortText(), PropertiesEditor::kNoPortsSelected);
    editor.selectRoute(3);
    EXPECT_TRUE(editor.deleteRoute());
    EXPECT_EQ(editor.currentRoute(), 2);
    editor.nextRoute();
    EXPECT_EQ(editor.currentRoute(), 0) << "wraps around";
    editor.previousRoute();
    EXPECT_EQ(editor.currentRoute(), 2);
    ASSERT_TRUE(editor.apply());
    const midi::RouteBlock& routes = controller.rack().slot(synth).midi->routes;
    ASSERT_EQ(routes.count, 2) << "the route without a port went";
    EXPECT_EQ(routes.routes[0].portName, "DEFAULT");
    EXPECT_EQ(routes.routes[1].portName, "MAIN");
    EXPECT_GE(routes.routes[1].portIndex, 0) << "resolved against the open ports";
}

TEST_F(PropertiesEditorTest, ValuesOutsideTheirRangeAndEmptyWindowsAreRefused) {
    const int synth = controller.loadPlugin(TrelvoSynth_PATH, 2);
    PropertiesEditor editor(controller, synth, PropertiesEditor::kSlotMode);
    EXPECT_FALSE(editor.setValue(0, PropertiesEditor::kInChannel, 0));
    EXPECT_FALSE(editor.setValue(0, PropertiesEditor::kOutChannel, 17));
    EXPECT_FALSE(editor.setValue(0, PropertiesEditor::kTranspose, 61));
    EXPECT_FALSE(editor.setValue(0, PropertiesEditor::kNoteHi, 128));
    EXPECT_FALSE(editor.setValue(16, PropertiesEditor::kNoteHi, 1));
    EXPECT_TRUE(editor.setValue(0, PropertiesEditor::kTranspose, -60));
    EXPECT_TRUE(editor.setValue(4, PropertiesEditor::kOutChannel, 16));
    EXPECT_EQ(editor.value(4, PropertiesEditor::kOutChannel), 16);
    EXPECT_EQ(editor.route().channelMap[4].outChannel, 15);

    ASSERT_TRUE(editor.setValue(2, PropertiesEditor::kNoteLo, 72));
    ASSERT_TRUE(editor.setValue(2, PropertiesEditor::kNoteHi, 60));
    EXPECT_EQ(editor.problem(),
              "MIDI 1, row 3: the lowest note (72) is above the highest (60), so no note would pass.");
    EXPECT_FALSE(editor.apply());
    EXPECT_EQ(liveRoute(synth).split[2].noteLo, 0) << "a refused OK changes nothing";
    EXPECT_EQ(liveRoute(synth).transpose[0], 0);
    editor.setRowEnabled(2, false);
    EXPECT_EQ(editor.problem(), "") << "a switched-off row passes nothing anyway";

    editor.details.checkVstIds = true;
    editor.details.vstIds = "abcd, $0000ABCD";
    EXPECT_EQ(editor.problem(), "");
    editor.details.vstIds = "abcd,toolong";
    EXPECT_EQ(editor.problem(),
              "check VstID: \"toolong\" is not a plug-in id (four characters, or $ and eight hexadecimal digits).");
    editor.details.vstIds = "abcd";
    editor.details.fxbFolder = home.path() + "/no such folder";
    EXPECT_EQ(editor.problem(), "FXBfolder: the folder \"" + home.path() + "/no such folder\" does not exist.");
    editor.details.fxbFolder = home.path();
    editor.details.fxbFile = "bank\nname";
    EXPECT_EQ(editor.problem(), "FXBfile: the text cannot hold line breaks.");
    editor.details.fxbFile = "bank.fxb";
    ASSERT_TRUE(editor.apply());
    EXPECT_EQ(liveRoute(synth).transpose[0], -60);
    EXPECT_EQ(controller.rack().slot(synth).AltUniqueIds[0], project::parseVstId("abcd"));
    EXPECT_EQ(controller.rack().slot(synth).FXBfolder, home.path());
}

TEST_F(PropertiesEditorTest, DetailsBecomeThePresetModeLettersAndTheChannelSet) {
    const int synth = controller.loadPlugin(TrelvoSynth_PATH, 2);
    host::TVstPlugIn& slot = controller.rack().slot(synth);
    {
        PropertiesEditor editor(controller, synth, PropertiesEditor::kSlotMode);
        EXPECT_EQ(editor.pages(), (std::vector<std::string>{"MIDI", "Details", "Info"}));
        editor.details.midiMode = 4; // "B. BnkMSB + BnkLSB + PgmCh"
        editor.details.programsFromOne = true;
        editor.details.presetDisplay = 3;
        editor.details.fileMode = 1;
        editor.details.midiChannels = 3;
        editor.details.chgPresetOnMidiPc = true;
        editor.details.pcKeys = 2;
        ASSERT_TRUE(editor.apply());
    }
    EXPECT_EQ(slot.presetMode, "pBm");
    EXPECT_EQ(slot.MidiChannelCount, 3);
    EXPECT_TRUE(slot.MidiChannelUsed[2]);
    EXPECT_FALSE(slot.MidiChannelUsed[3]);
    EXPECT_TRUE(slot.midi->chgFxpOnMidiPc);
    EXPECT_EQ(slot.PcKeys, "post");
    {
        PropertiesEditor editor(controller, synth, PropertiesEditor::kSlotMode);
        EXPECT_EQ(editor.details.midiMode, 4);
        EXPECT_TRUE(editor.details.programsFromOne);
        editor.details.programsFromOne = false;
        ASSERT_TRUE(editor.apply());
    }
    EXPECT_EQ(slot.presetMode, "pbm");

    // Letters the dialog has no choice for are kept by an OK that did not touch them.
    slot.presetMode = "z?q";
    ASSERT_TRUE(PropertiesEditor(controller, synth, PropertiesEditor::kSlotMode).apply());
    EXPECT_EQ(slot.presetMode, "z?q");
}

TEST_F(PropertiesEditorTest, TheInfoPageTellsWhatThePlugInSaysAboutItself) {
    const int synth = controller.loadPlugin(TrelvoSynth_PATH, 2);
    const PropertiesEditor editor(controller, synth, PropertiesEditor::kSlotMode);
    const std::vector<std::string>& lines = editor.infoLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "VSTi (=synth) info");
    const auto has = [&lines](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("  hasEditor=Y"));
    EXPECT_TRUE(has("  ProgramChunks=Y"));
    EXPECT_TRUE(has("candos:"));
    EXPECT_TRUE(has("*=Deprecated in VST2.4"));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("unique ID: ", 0) == 0 && line.find(" == $") != std::string::npos;
    }));
    const PropertiesEditor channel(controller, 1, PropertiesEditor::kSlotMode);
    EXPECT_EQ(channel.pages(), std::vector<std::string>{"MIDI"});
}

TEST_F(PropertiesEditorTest, VirtualPortsAreAddedRenamedAndDeletedAsTheRulesSay) {
    PropertiesEditor editor(controller, 0, PropertiesEditor::kVirtualPortMode);
    EXPECT_EQ(editor.pagesHeading(), " Select Virtual Port:");
    EXPECT_EQ(editor.pages(), std::vector<std::string>{"MAIN"});
    EXPECT_FALSE(editor.deleteVirtualPort()) << "the only port stays";
    EXPECT_EQ(editor.addVirtualPort("new"), "");
    EXPECT_EQ(editor.addVirtualPort("new"), "") << "a second one gets a name of its own";
    EXPECT_EQ(editor.pages(), (std::vector<std::string>{"MAIN", "new", "new2"}));
    EXPECT_EQ(editor.addVirtualPort("MCU"), "");
    EXPECT_EQ(editor.addVirtualPort("LCU"), "MCU already exists ...");
    editor.makeDefaultPort();
    EXPECT_FALSE(editor.isDefaultPort()) << "a surface's port is no default port";
    EXPECT_EQ(editor.renameVirtualPort("LCU"), "") << "the surface itself may change its kind";
    EXPECT_EQ(editor.renameVirtualPort("MCU"), "");
    editor.selectPort(1);
    EXPECT_EQ(editor.renameVirtualPort("BCRU"), "MCU already exists ...");
    EXPECT_EQ(editor.renameVirtualPort("main"), "A virtual port \"main\" already exists.");
    EXPECT_EQ(editor.renameVirtualPort("  "), "A virtual port needs a name.");
    EXPECT_EQ(editor.renameVirtualPort("DEFAULT"), "\"DEFAULT\" is a name Trelvo keeps for itself.");
    EXPECT_EQ(editor.renameVirtualPort("SlotID-5001"), "\"SlotID-5001\" is a name Trelvo keeps for itself.");
    EXPECT_EQ(editor.renameVirtualPort("{x}"), "\"{x}\": a port name cannot hold braces or control characters.");
    EXPECT_EQ(editor.renameVirtualPort("Keys 0"), "\"Keys 0\" is the name of a MIDI input.");
    EXPECT_EQ(editor.pages().back(), "MCU") << "refused names change nothing";
    for (int more = 4; more < midi::kVirtualPorts; ++more) ASSERT_EQ(editor.addVirtualPort("new"), "");
    EXPECT_EQ(editor.addVirtualPort("new"), "too many Virtual Ports");
    editor.selectPort(1);
    EXPECT_EQ(editor.deleteQuestion(), "Delete Virtual port: \"new\"");
    EXPECT_TRUE(editor.deleteVirtualPort());
    EXPECT_EQ(editor.pages()[1], "new2") << "later ports move down";
    EXPECT_EQ(editor.pages().size(), 15u);
}

TEST_F(PropertiesEditorTest, TheDefaultPortAlwaysLeavesAPortForDefaultRoutes) {
    const int synth = controller.loadPlugin(TrelvoSynth_PATH, 2);
    ASSERT_EQ(liveRoute(synth).portName, "DEFAULT");
    {
        PropertiesEditor editor(controller, 0, PropertiesEditor::kVirtualPortMode);
        EXPECT_EQ(editor.renameVirtualPort("MCU"),
                  "\"MAIN\" is the default port: a control surface cannot take its place.");
        ASSERT_EQ(editor.addVirtualPort("MCU"), "");
        ASSERT_EQ(editor.addVirtualPort("new"), "");
        editor.selectPort(0);
        ASSERT_TRUE(editor.isDefaultPort());
        ASSERT_TRUE(editor.deleteVirtualPort());
        editor.selectPort(1);
        EXPECT_TRUE(editor.isDefaultPort()) << "the first port left that is no surface";
        ASSERT_TRUE(editor.apply());
    }
    EXPECT_EQ(controller.midi().defaultPortName, "new");
    EXPECT_GE(controller.midi().resolvePort("DEFAULT"), 0);
    EXPECT_GE(liveRoute(synth).portIndex, 0) << "the synthesizer still hears the default port";
}

TEST_F(PropertiesEditorTest, RenamingAPortRenamesItInEveryRouteThatNamesItAndInTheSettings) {
    const int synth = controller.loadPlugin(TrelvoSynth_PATH, 2);
    liveRoute(synth).portName = "MAIN";
    controller.rack().slot(synth).midi->outputPortName = "main";
    controller.resolveSlotRoutes();
    {
        PropertiesEditor editor(controller, 0, PropertiesEditor::kVirtualPortMode);
        ASSERT_EQ(editor.addVirtualPort("new"), "");
        // The new port reads the first one.
        ASSERT_EQ(editor.inPortEntries().size(), 2u);
        editor.route().portName = "MAIN";
        editor.selectPort(0);
        editor.setInPort(0);
        ASSERT_EQ(editor.renameVirtualPort("Stage"), "");
        ASSERT_TRUE(editor.apply());
    }
    const auto& ports = controller.midi().virtualPorts();
    EXPECT_EQ(ports[0].name, "Stage");
    EXPECT_EQ(ports[0].routes.routes[0].portName, "Keys 0");
    EXPECT_EQ(ports[1].routes.routes[0].portName, "Stage") << "the other port's route follows";
    EXPECT_EQ(liveRoute(synth).portName, "Stage") << "the slot's route follows";
    EXPECT_EQ(controller.rack().slot(synth).midi->outputPortName, "Stage");
    EXPECT_GE(liveRoute(synth).portIndex, 0) << "and still finds its port";
    EXPECT_EQ(controller.midi().defaultPortName, "Stage") << "the default port was the renamed one";
    EXPECT_EQ(liveRoute(synth, 0).portIndex, controller.midi().resolvePort("Stage"));
    EXPECT_EQ(controller.midi().resolvePort("DEFAULT"), controller.midi().resolvePort("Stage"));
    const std::string written = test::readFile(settings.fileName());
    EXPECT_NE(written.find("01_Name=Stage"), std::string::npos);
    EXPECT_NE(written.find("02_Name=new"), std::string::npos);
    EXPECT_NE(written.find("02_iMid1-Port=Stage"), std::string::npos);
    EXPECT_NE(written.find("DefaultPort=Stage"), std::string::npos);
}

} // namespace
} // namespace trelvo::rack
