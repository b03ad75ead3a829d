// The control surface end to end under a JACK server of the test's own. One suite runs
// against two surfaces that share the device's side of the protocol: a JACK MIDI client of
// the test, connected to Trelvo's surface ports, and the MCUsim plug-in in a slot of the
// rack, which hears the surface's port and sends into it through its slot port.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "McuSimControl.h"
#include "SurfaceModel.h"
#include "TestPaths.h"
#include "persist/AppSettings.h"
#include "platform/Clock.h"
#include "session/RackController.h"
#include "support/JackServer.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::rack {
namespace {

using Bytes = std::vector<std::uint8_t>;

/// What the suite reads of a surface, whichever it is.
struct View {
    std::array<int, 128> leds{};
    std::array<int, 9> faders{};
    std::string line1, line2, assignment;
    bool online = false;
    std::uint32_t displayMessages = 0, displayBytes = 0, fadersWhileTouched = 0, versionRequests = 0,
                  offlineMessages = 0;
};

/// A surface as the suite drives it.
class TestSurface {
public:
    virtual ~TestSurface() = default;
    virtual void press(int key) = 0;
    virtual void release(int key) = 0;
    virtual void touch(int fader, bool held) = 0;
    virtual void moveFader(int fader, int position) = 0;
    virtual void turnVPot(int strip, int steps) = 0;
    virtual View view() = 0;
    void click(int key) {
        press(key);
        release(key);
    }
};

/// A JACK MIDI client of the test's own with the device's side of the protocol: its "in"
/// hears Trelvo's "surface_out", its "out" plays into "surface_in". It keeps every message
/// it received, and can send raw bytes past the model.
class JackSurface final : public TestSurface {
public:
    JackSurface() {
        client = jack_client_open("surface", JackNoStartServer, nullptr);
        if (client == nullptr) return;
        input = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        output = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        model.setSink(
            [this](const std::uint8_t* bytes, std::size_t length) { outgoing.emplace_back(bytes, bytes + length); });
        jack_set_process_callback(client, &process, this);
        jack_activate(client);
    }
    ~JackSurface() override {
        if (client == nullptr) return;
        jack_deactivate(client);
        jack_client_close(client);
    }
    bool plugIn() {
        return jack_connect(client, "trelvo:surface_out", "surface:in") == 0 &&
               jack_connect(client, "surface:out", "trelvo:surface_in") == 0;
    }
    void unplug() {
        jack_disconnect(client, "trelvo:surface_out", "surface:in");
        jack_disconnect(client, "surface:out", "trelvo:surface_in");
    }
    /// While mute, the surface hears but never answers.
    void setMute(bool on) {
        std::lock_guard lock(mutex);
        mute = on;
    }
    void sendRaw(const Bytes& bytes) {
        std::lock_guard lock(mutex);
        outgoing.push_back(bytes);
    }
    /// Everything sent so far has gone into JACK.
    bool drained() {
        std::lock_guard lock(mutex);
        return outgoing.empty();
    }
    void connect() {
        act([&] { model.connect(); });
    }
    void reset() {
        act([&] { model.reset(); });
    }
    std::vector<Bytes> received() {
        std::lock_guard lock(mutex);
        return log;
    }
    int countSysex(std::uint8_t command) {
        int count = 0;
        for (const Bytes& message : received())
            if (message.size() > 5 && message[0] == 0xF0 && message[5] == command) ++count;
        return count;
    }

    void press(int key) override {
        act([&] { model.press(key); });
    }
    void release(int key) override {
        act([&] { model.release(key); });
    }
    void touch(int fader, bool held) override {
        act([&] { model.touch(fader, held); });
    }
    void moveFader(int fader, int position) override {
        act([&] { model.moveFader(fader, position); });
    }
    void turnVPot(int strip, int steps) override {
        act([&] { model.turnVPot(strip, steps); });
    }
    View view() override {
        std::lock_guard lock(mutex);
        View seen;
        for (int key = 0; key < 128; ++key) seen.leds[static_cast<std::size_t>(key)] = model.led(key);
        for (int fader = 0; fader < 9; ++fader) seen.faders[static_cast<std::size_t>(fader)] = model.fader(fader);
        seen.line1 = model.line(1);
        seen.line2 = model.line(2);
        seen.assignment = model.assignment();
        seen.online = model.online();
        seen.displayMessages = model.displayMessages();
        seen.displayBytes = model.displayBytes();
        seen.fadersWhileTouched = model.fadersReceivedWhileTouched();
        seen.versionRequests = model.versionRequests();
        seen.offlineMessages = model.offlineMessages();
        return seen;
    }

    jack_client_t* client = nullptr;

private:
    template <class Action> void act(Action action) {
        std::lock_guard lock(mutex);
        action();
    }
    static int process(jack_nframes_t frames, void* context) {
        auto* self = static_cast<JackSurface*>(context);
        std::lock_guard lock(self->mutex);
        void* in = jack_port_get_buffer(self->input, frames);
        for (jack_nframes_t i = 0; i < jack_midi_get_event_count(in); ++i) {
            jack_midi_event_t event{};
            if (jack_midi_event_get(&event, in, i) != 0) continue;
            self->log.emplace_back(event.buffer, event.buffer + event.size);
            if (!self->mute) self->model.receive(event.buffer, event.size);
        }
        void* out = jack_port_get_buffer(self->output, frames);
        jack_midi_clear_buffer(out);
        std::size_t sent = 0;
        for (; sent < self->outgoing.size(); ++sent) {
            const Bytes& message = self->outgoing[sent];
            if (jack_midi_event_write(out, 0, message.data(), message.size()) != 0) break;
        }
        self->outgoing.erase(self->outgoing.begin(), self->outgoing.begin() + static_cast<std::ptrdiff_t>(sent));
        return 0;
    }

    jack_port_t* input = nullptr;
    jack_port_t* output = nullptr;
    std::mutex mutex;
    mcusim::SurfaceModel model;
    std::vector<Bytes> outgoing;
    std::vector<Bytes> log;
    bool mute = false;
};

/// The MCUsim plug-in in a slot, driven through its control calls.
class SimulatedSurface final : public TestSurface {
public:
    SimulatedSurface(RackController& rack, int slot) : rack(rack), slot(slot) {}
    void press(int key) override { command(mcusim::kMcuSimPress, key, 0); }
    void release(int key) override { command(mcusim::kMcuSimRelease, key, 0); }
    void touch(int fader, bool held) override { command(mcusim::kMcuSimTouch, fader, held ? 1 : 0); }
    void moveFader(int fader, int position) override { command(mcusim::kMcuSimMoveFader, fader, position); }
    void turnVPot(int strip, int steps) override { command(mcusim::kMcuSimTurnVPot, strip, steps); }
    View view() override {
        mcusim::McuSimSnapshot snapshot{};
        rack.rack().slot(slot).VendorSpecific(mcusim::kMcuSimIndex, mcusim::kMcuSimSnapshot, &snapshot, 0.0f);
        View seen;
        for (int key = 0; key < 128; ++key) seen.leds[static_cast<std::size_t>(key)] = snapshot.leds[key];
        for (int fader = 0; fader < 9; ++fader) seen.faders[static_cast<std::size_t>(fader)] = snapshot.faders[fader];
        const std::string lcd(snapshot.lcd, 112);
        seen.line1 = lcd.substr(0, 56);
        seen.line2 = lcd.substr(56, 56);
        seen.assignment = snapshot.assignment;
        seen.online = snapshot.online != 0;
        seen.displayMessages = snapshot.displayMessages;
        seen.displayBytes = snapshot.displayBytes;
        seen.fadersWhileTouched = snapshot.fadersReceivedWhileTouched;
        seen.versionRequests = snapshot.versionRequests;
        seen.offlineMessages = snapshot.offlineMessages;
        return seen;
    }

private:
    void command(std::int32_t code, std::int32_t a, std::int32_t b) {
        mcusim::McuSimCommand message{code, a, b};
        ASSERT_EQ(rack.rack().slot(slot).VendorSpecific(mcusim::kMcuSimIndex, code, &message, 0.0f), 1);
    }
    RackController& rack;
    int slot;
};

enum class Kind { Jack, Simulated };

/// A rack on the JACK driver with a surface port "MCU": output, channel 1 "Piano" (with
/// MCUsim in its strip for the simulated surface), channel 2 "Strings" and group 1 "Bus".
class JackSurfaceFixture : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.running());
        const bool jack = GetParam() == Kind::Jack;
        test::writeFile(home.file("Trelvo.ini"),
                        jack ? "[MIDIinputs]\r\nJACK: trelvo:surface_in=Surface\r\n"
                               "[MIDIoutputs]\r\nJACK: trelvo:surface_out=SurfaceOut\r\n"
                               "[vMIDIports]\r\n01_Name=MAIN\r\n02_Name=MCU\r\n02_iMid1-Port=Surface\r\n"
                               "02_oMid1-Port=SurfaceOut\r\n"
                             : "[MIDIinputs]\r\n[MIDIoutputs]\r\n[vMIDIports]\r\n01_Name=MAIN\r\n02_Name=MCU\r\n");
        settings = std::make_unique<persist::AppSettings>(home.path());
        settings->readAll();
        settings->asioDriver = "JACK";
        controller = std::make_unique<RackController>(*settings);
        controller->startAudio();
        ASSERT_TRUE(controller->control().hostReady());
        controller->startMidi();
        controller->newRack();
        piano = controller->rack().kindLookup(SlotKind::Channel, 0);
        controller->renameSlot(piano, "Piano");
        if (!jack) {
            const int sim = controller->loadPlugin(MCUsim_PATH);
            ASSERT_GE(sim, 0);
            // Loading it wired it to the surface's port.
            EXPECT_TRUE(controller->rack().slot(sim).isMidiVport);
            const midi::MidiLayer::VirtualPort& port = controller->midi().virtualPorts()[1];
            ASSERT_EQ(port.routes.count, 1);
            EXPECT_GE(port.routes.routes[0].portIndex, 0);
            EXPECT_EQ(port.routes.routes[0].portName, "SlotID-" + std::to_string(controller->rack().slot(sim).SlotID));
            EXPECT_GE(controller->rack().slot(sim).midi->routes.routes[0].portIndex, 0);
            surface = std::make_unique<SimulatedSurface>(*controller, sim);
        } else {
            auto client = std::make_unique<JackSurface>();
            ASSERT_NE(client->client, nullptr);
            jackSurface = client.get();
            surface = std::move(client);
        }
        strings = controller->addSlot(SlotKind::Channel, false);
        controller->renameSlot(strings, "Strings");
        bus = controller->addSlot(SlotKind::Group, false);
        controller->renameSlot(bus, "Bus");
        piano = controller->rack().kindLookup(SlotKind::Channel, 0);
        controller->select(piano);
        controller->setRunning();
        if (jackSurface != nullptr) {
            ASSERT_TRUE(jackSurface->plugIn());
        }
    }

    void TearDown() override {
        if (controller) controller->control().setAllowed(audio::kAllowedStop);
        surface.reset();
        controller.reset();
    }

    /// Runs the idle timer until the condition holds (ten seconds at most).
    template <class Condition> bool pump(Condition condition) {
        for (int wait = 0; wait < 1000; ++wait) {
            controller->idleTick();
            if (condition()) return true;
            platform::sleepMs(10);
        }
        return false;
    }
    void pumpFor(int milliseconds) {
        pump([&, until = platform::tickCountMs() + static_cast<std::uint32_t>(milliseconds)] {
            return static_cast<std::int32_t>(platform::tickCountMs() - until) >= 0;
        });
    }
    /// The surface has started and its greeting gave way to the strips' labels.
    bool started() {
        return pump([&] {
            const View seen = surface->view();
            return controller->surface().state().isActive() && seen.online && seen.line2.rfind("vol ", 0) == 0;
        });
    }
    host::TVstPlugIn& slot(int index) { return controller->rack().slot(index); }

    test::JackServer server;
    test::LogCapture log;
    test::TempFolder home;
    std::unique_ptr<persist::AppSettings> settings;
    std::unique_ptr<RackController> controller;
    std::unique_ptr<TestSurface> surface;
    JackSurface* jackSurface = nullptr;
    int piano = -1, strings = -1, bus = -1;
};

class JackSurfaceTest : public JackSurfaceFixture {};

TEST_P(JackSurfaceTest, TheHandshakeStartsTheSurfaceWithTheRackOnItsDisplay) {
    ASSERT_TRUE(started());
    // The lamps follow the display's lines, possibly a cycle later.
    ASSERT_TRUE(pump([&] { return surface->view().leds[93] == 127; })) << "stopped";
    const View seen = surface->view();
    EXPECT_GE(seen.versionRequests, 1u);
    EXPECT_EQ(seen.assignment, "-.-");
    EXPECT_EQ(seen.line1.substr(0, 9), "c1_Piano ");
    EXPECT_EQ(seen.line2.substr(0, 28), "vol    pan    dry    inp    ");
    EXPECT_EQ(seen.leds[94], 0);
    EXPECT_EQ(seen.leds[114], 127);
    for (int key = 0; key < 32; ++key) EXPECT_EQ(seen.leds[static_cast<std::size_t>(key)], key == 24 ? 127 : 0) << key;
    EXPECT_EQ(seen.leds[40], 127) << "the channel page";
    EXPECT_EQ(seen.faders[0], SurfaceControl::faderPosition(slot(piano).WetVol.getDb()) / 8 * 8);
    if (jackSurface != nullptr) {
        EXPECT_GE(jackSurface->countSysex(0x61), 1) << "faders to minimum";
        EXPECT_GE(jackSurface->countSysex(0x62), 1) << "all LEDs off";
        EXPECT_GE(jackSurface->countSysex(0x00), 1) << "the device query";
    }
    EXPECT_TRUE(log.contains("surface \"MCU\" started"));
}

TEST_P(JackSurfaceTest, AFaderSetsTheChannelVolumeAndIsNotEchoedWhileTouched) {
    ASSERT_TRUE(started());
    surface->touch(0, true);
    surface->moveFader(0, SurfaceControl::faderPosition(-10));
    ASSERT_TRUE(pump([&] { return slot(piano).WetVol.getDb() == -10; }));
    // The rack changes the volume while the hand holds the fader: nothing is sent.
    controller->setVolume(SlotCommandCode::WetVol, piano, -20);
    ASSERT_TRUE(pump([&] { return slot(piano).WetVol.getDb() == -20; }));
    pumpFor(200);
    EXPECT_EQ(surface->view().fadersWhileTouched, 0u);
    surface->touch(0, false);
    EXPECT_TRUE(pump([&] { return surface->view().faders[0] == SurfaceControl::faderPosition(-20) / 8 * 8; }));

    surface->moveFader(8, 0);
    EXPECT_TRUE(pump([&] { return controller->engine().outputVolume.load() == 0.0f; })) << "the master fader";
}

TEST_P(JackSurfaceTest, VPotsChangeValuesAndPagesSwitchWithMinimalDisplayUpdates) {
    ASSERT_TRUE(started());
    // Page C shows the selected channel's values: the second V-Pot is its pan.
    surface->turnVPot(1, 3);
    ASSERT_TRUE(pump([&] { return slot(piano).pan.getStep() == 3; }));
    surface->turnVPot(1, -1);
    ASSERT_TRUE(pump([&] { return slot(piano).pan.getStep() == 2; }));

    // The page's own button shows eight channels in one mode; the next mode is pan.
    surface->click(40);
    surface->click(99);
    ASSERT_TRUE(pump([&] { return surface->view().line2.rfind("pan[1]", 0) == 0; }));
    surface->turnVPot(1, -2);
    ASSERT_TRUE(pump([&] { return slot(strings).pan.getStep() == -2; })) << "strip 2 is channel 2";
    surface->click(98);
    surface->click(40);
    ASSERT_TRUE(pump([&] { return surface->view().line2.rfind("vol    pan", 0) == 0; }));

    // Another page rewrites only the characters that differ.
    const View before = surface->view();
    surface->click(41);
    ASSERT_TRUE(pump([&] { return surface->view().line1.rfind("g1_Bus ", 0) == 0; }));
    pumpFor(100);
    const View after = surface->view();
    EXPECT_EQ(controller->selected, bus);
    EXPECT_EQ(after.assignment, "G1");
    EXPECT_EQ(after.line2, before.line2);
    EXPECT_EQ(after.displayMessages - before.displayMessages, 1u);
    EXPECT_LE(after.displayBytes - before.displayBytes, 8u) << "\"c1_Piano\" becomes \"g1_Bus\"";
}

TEST_P(JackSurfaceTest, SelectMuteAndPlayButtonsActOnTheRackAndLightTheirLeds) {
    ASSERT_TRUE(started());
    surface->click(25);
    ASSERT_TRUE(pump([&] { return controller->selected == strings && surface->view().leds[25] == 127; }));
    EXPECT_EQ(surface->view().leds[24], 0);
    EXPECT_TRUE(pump([&] { return surface->view().line1.rfind("c2_Strings", 0) == 0; }));
    surface->click(24);
    ASSERT_TRUE(pump([&] { return controller->selected == piano; }));

    surface->click(17);
    EXPECT_TRUE(pump([&] {
        return controller->rack().slot(strings).runMode.isSet(RunMode::Mute) && surface->view().leds[17] == 127;
    })) << "mute 2, and its LED";
    Transport& transport = controller->rack().transport();
    surface->click(94);
    ASSERT_TRUE(pump([&] {
        const View seen = surface->view();
        return transport.state() == TransportState::Playing && seen.leds[94] == 127 && seen.leds[93] == 0;
    }));
    surface->click(93);
    EXPECT_TRUE(pump([&] {
        const View seen = surface->view();
        return transport.state() == TransportState::Stopped && seen.leds[93] == 127 && seen.leds[94] == 0;
    }));
}

TEST_P(JackSurfaceTest, ShutdownSaysGoodbyeGoesOfflineAndKeepsThePages) {
    ASSERT_TRUE(started());
    surface->click(40); // multi on the channel page, kept for the next start
    ASSERT_TRUE(pump([&] { return surface->view().line2.rfind("vol[1]", 0) == 0; }));
    controller->surface().shutdown();
    EXPECT_FALSE(controller->surface().state().isActive());
    ASSERT_TRUE(pump([&] { return surface->view().offlineMessages >= 1; }));
    EXPECT_TRUE(pump([&] { return surface->view().line2.rfind("Trelvo session terminated...", 0) == 0; }));
    EXPECT_FALSE(surface->view().online);
    const std::string written = test::readFile(home.file("Trelvo.ini"));
    EXPECT_NE(written.find("[mcu]\r\nMulti-chn=1\r\n"), std::string::npos) << written;
}

INSTANTIATE_TEST_SUITE_P(BothSurfaces, JackSurfaceTest, ::testing::Values(Kind::Jack, Kind::Simulated),
                         [](const auto& suite) { return suite.param == Kind::Jack ? "JackClient" : "MCUsim"; });

// Every test starts its own JACK server, so every suite's name says "Jack". None runs under
// the thread sanitizer: the JACK server's hand-over between the clients' process threads
// is invisible to it.

// ---- What only a surface on a cable can do: misbehave, vanish and come back ----

class JackCableSurfaceTest : public JackSurfaceFixture {};

TEST_P(JackCableSurfaceTest, BadSysexAndAFloodOfFaderMovesLeaveTheHostResponsive) {
    ASSERT_TRUE(started());
    jackSurface->sendRaw({0xF0, 0x00, 0x00, 0x66, 0x14, 0x01, 0x10}); // cut short
    jackSurface->sendRaw({0xF0, 0x00, 0x20, 0x32, 0x14, 0x01, 0xF7}); // someone else's
    jackSurface->sendRaw({0xF0, 0x00, 0x00, 0x66, 0x10, 0x01, 0x01, 0x02, 0x03, 0xF7});
    // Several thousand fader messages within half a second, ending on -6 dB.
    for (int i = 0; i < 4000; ++i) {
        jackSurface->moveFader(0, i % 1024);
        if (i % 200 == 0) platform::sleepMs(25);
    }
    // The last move follows once the flood has gone out: what a block's MIDI buffer cannot
    // hold of a flood is dropped by design, and that must not be the move that matters.
    const std::uint32_t ticks = controller->ticks();
    ASSERT_TRUE(pump([&] { return jackSurface->drained(); }));
    jackSurface->moveFader(0, SurfaceControl::faderPosition(-6));
    ASSERT_TRUE(pump([&] { return slot(piano).WetVol.getDb() == -6; }));
    EXPECT_GT(controller->ticks(), ticks);
    EXPECT_TRUE(pump([&] { return controller->surface().state().ignoredMessages() >= 3; }));
    EXPECT_TRUE(controller->surface().state().isActive());
    EXPECT_EQ(controller->messages().dropCount(), 0u) << "a flood costs one message per fader";
}

TEST_P(JackCableSurfaceTest, ASurfaceThatComesBackIsResynchronised) {
    ASSERT_TRUE(started());
    jackSurface->unplug();
    controller->setVolume(SlotCommandCode::WetVol, piano, -12);
    controller->select(strings);
    pumpFor(300);
    jackSurface->reset();
    EXPECT_EQ(surface->view().line1, std::string(56, ' '));
    ASSERT_TRUE(jackSurface->plugIn());
    jackSurface->connect();
    ASSERT_TRUE(pump([&] {
        const View seen = surface->view();
        return seen.online && seen.line1.rfind("c2_Strings", 0) == 0 &&
               seen.faders[0] == SurfaceControl::faderPosition(-12) / 8 * 8 && seen.leds[25] == 127;
    }));
}

TEST_P(JackCableSurfaceTest, ASurfaceThatNeverAnswersStartsAnywayAndIsAskedAgain) {
    jackSurface->setMute(true);
    ASSERT_TRUE(pump([&] { return controller->surface().state().isActive(); }));
    EXPECT_TRUE(log.contains("surface \"MCU\" started (no reply)"));
    EXPECT_TRUE(pump([&] { return jackSurface->countSysex(0x00) >= 2; })) << "asked again";
    EXPECT_FALSE(controller->surface().state().answered());
}

INSTANTIATE_TEST_SUITE_P(Cable, JackCableSurfaceTest, ::testing::Values(Kind::Jack),
                         [](const auto&) { return "JackClient"; });

} // namespace
} // namespace trelvo::rack
