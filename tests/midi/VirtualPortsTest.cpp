// Virtual ports, slot ports and MIDI on a first start, through the rack controller with the
// Offline driver (blocks run on the test's thread) and devices of the test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestPaths.h"
#include "audio/DriverList.h"
#include "audio/OfflineDriver.h"
#include "midi/MidiLock.h"
#include "session/RackController.h"
#include "support/FakeMidiBackend.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::midi {
namespace {

using ::testing::HasSubstr;

class VirtualPortsTest : public ::testing::Test {
protected:
    void start(const std::string& settingsText, int inputs = 1) {
        if (!settingsText.empty()) test::writeFile(home.file("Trelvo.ini"), settingsText);
        settings.readAll();
        settings.asioDriver = "Offline";
        controller = std::make_unique<rack::RackController>(settings);
        controller->startAudio({audio::offlineDriverEntry(128, 48000.0)});
        controller->newRack();
        controller->startMidi([this, inputs](std::vector<std::string>&) {
            std::vector<std::unique_ptr<MidiBackend>> list;
            list.push_back(std::make_unique<test::FakeBackend>(inputs, 0));
            backend = static_cast<test::FakeBackend*>(list.back().get());
            return list;
        });
    }
    MidiLayer& layer() { return controller->midi(); }
    std::string written() {
        persist::IniHandle handle;
        layer().writeDeviceSections(handle);
        layer().writeVirtualPorts(handle);
        persist::CloseIni(handle);
        return test::readFile(home.file("Trelvo.ini"));
    }
    std::vector<std::vector<float>> block() {
        auto* offline = dynamic_cast<audio::OfflineDriver*>(controller->control().host()->openDriver());
        std::vector<std::vector<float>> out;
        EXPECT_TRUE(offline != nullptr && offline->runBlock({}, out));
        return out;
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    std::unique_ptr<rack::RackController> controller;
    test::FakeBackend* backend = nullptr;
};

TEST_F(VirtualPortsTest, NamesArePackedAndWrittenBackFromOne) {
    start("[MIDIinputs]\r\nKeys 0=Upper\r\n[vMIDIports]\r\nDefaultPort=Pads\r\n01_Name=\r\n03_Name=Pads\r\n"
          "03_iMid1-Port=Upper\r\n03_iMid1-Transposes=12,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\r\n05_Name=Other\r\n");
    const int inputs = layer().ports().numInputs;
    EXPECT_EQ(layer().virtualPorts()[0].name, "Pads");
    EXPECT_EQ(layer().virtualPorts()[0].routes.routes[0].portIndex, 0);
    EXPECT_EQ(layer().virtualPorts()[1].name, "Other");
    EXPECT_EQ(layer().resolvePort("DEFAULT"), inputs);
    EXPECT_TRUE(log.contains("curMIDIvPortIdx=" + std::to_string(inputs)));
    EXPECT_THAT(written(), HasSubstr("[vMIDIports]\r\nDefaultPort=Pads\r\n01_Name=Pads\r\n01_iMid1-Port=Upper\r\n"
                                     "01_iMid1-Transposes=12,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\r\n02_Name=Other\r\n"));
}

TEST_F(VirtualPortsTest, AFirstStartOpensEveryInputAndMainHearsTheFirstFour) {
    start("", 5);
    const MidiLayer::VirtualPort& main = layer().virtualPorts()[0];
    EXPECT_EQ(main.name, "MAIN");
    ASSERT_EQ(main.routes.count, 4);
    EXPECT_EQ(main.routes.routes[3].portName, "Keys 3");
    EXPECT_EQ(layer().ports().ports[4].name, "Keys 4");
    EXPECT_EQ(layer().resolvePort("DEFAULT"), layer().ports().numInputs);
    EXPECT_TRUE(log.contains("MIDI: first start: input \"Keys 0\" opened"));
    EXPECT_TRUE(log.contains("MIDI: first start: \"MAIN\" takes input \"Keys 3\""));
    const std::string text = written();
    EXPECT_THAT(text, HasSubstr("[MIDIinputs]\r\nKeys 0=Keys 0\r\n"));
    EXPECT_THAT(text, HasSubstr("01_Name=MAIN\r\n01_iMid1-Port=Keys 0\r\n01_iMid2-Port=Keys 1\r\n"));

    // A note on the fifth input does not reach "DEFAULT"; one on the second does.
    controller->loadPlugin(TrelvoSynth_PATH);
    controller->setRunning();
    backend->sink->shortMessage(4, 0x90, 40, 100, {true, 0});
    block();
    EXPECT_EQ(controller->rack().slot(1).PeakL.load(), 0.0f);
    backend->sink->shortMessage(1, 0x90, 62, 100, {true, 0});
    block();
    EXPECT_GT(controller->rack().slot(1).PeakL.load(), 0.0f);

    // Events of several inputs merge in time order, equal times in arrival order.
    backend->sink->shortMessage(1, 0x90, 62, 100, {true, 90});
    backend->sink->shortMessage(0, 0x90, 60, 100, {true, 20});
    backend->sink->shortMessage(2, 0x90, 61, 100, {true, 20});
    {
        MidiLockGuard lock;
        layer().switchMidiHalves();
    }
    layer().virtualPortStep();
    MidiLockGuard lock;
    const MidiHalf& merged =
        layer().ports().ports[static_cast<std::size_t>(layer().ports().numInputs)].buffer->halves[layer().readHalf()];
    ASSERT_EQ(merged.count(), 3);
    EXPECT_EQ(merged.event(0).data1, 60);
    EXPECT_EQ(merged.event(1).data1, 61);
    EXPECT_EQ(merged.event(2).time, 90);
}

TEST_F(VirtualPortsTest, SlotPortsCarryAPlugInsOutputToLaterSlotsInTheSameBlock) {
    start("[MIDIinputs]\r\nKeys 0=Keys\r\n[vMIDIports]\r\n01_Name=MAIN\r\n01_iMid1-Port=Keys\r\n");
    rack::RackController& c = *controller;
    const int fx = c.loadPlugin(TrelvoMidiFx_PATH);
    const int other = c.loadPlugin(TrelvoMidiFx_PATH);
    c.rack().slot(fx).isMidiVport = true;
    c.rack().slot(other).isMidiVport = true;
    c.addSlot(rack::SlotKind::Channel);
    const int synth = c.loadPlugin(TrelvoSynth_PATH); // routed from the first one's port, below
    const int first = layer().ports().numInputs + kVirtualPorts;
    EXPECT_EQ(layer().ports().ports[static_cast<std::size_t>(first)].name,
              "SlotID-" + std::to_string(c.rack().slot(fx).SlotID));
    EXPECT_EQ(layer().ports().ports[static_cast<std::size_t>(first + 1)].name,
              "SlotID-" + std::to_string(c.rack().slot(other).SlotID));
    MidiRoute& route = c.rack().slot(synth).midi->routes.routes[0];
    route.portName = "SlotID-" + std::to_string(c.rack().slot(fx).SlotID);
    layer().resolveSlotRoutes();
    ASSERT_EQ(route.portIndex, first);
    c.setRunning();

    // The effect sends what it receives while it processes; the synth, processed after it,
    // hears it in that same block.
    block();
    EXPECT_EQ(c.rack().slot(4).PeakL.load(), 0.0f);
    backend->sink->shortMessage(0, 0x90, 64, 100, {true, 0});
    block();
    EXPECT_GT(c.rack().slot(4).PeakL.load(), 0.0f);

    // More than a half holds: "overload", and the rest of the call is dropped.
    static VstMidiEvent note{kVstMidiType, sizeof(VstMidiEvent), 0, 0, 0, 0, {char(0x90), 60, 1, 0}, 0, 0, 0, 0};
    std::vector<VstEvent*> pointers(600, reinterpret_cast<VstEvent*>(&note));
    std::vector<char> storage(sizeof(VstEvents) + 600 * sizeof(VstEvent*));
    auto* events = reinterpret_cast<VstEvents*>(storage.data());
    events->numEvents = 600;
    std::memcpy(reinterpret_cast<char*>(events) + offsetof(VstEvents, events), pointers.data(),
                600 * sizeof(VstEvent*));
    layer().plugInOutput(fx, events);
    EXPECT_TRUE(log.contains("overload"));
    MidiLockGuard lock;
    EXPECT_EQ(layer().ports().ports[static_cast<std::size_t>(first)].buffer->halves[layer().readHalf()].count(),
              kMaxReceived);
}

} // namespace
} // namespace trelvo::midi
