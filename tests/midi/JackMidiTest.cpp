// MIDI end to end through a real JACK server: Debian's jack_midiseq plays into Trelvo's
// JACK MIDI input; TrelvoMidiFx transposes and sends to Trelvo's MIDI output, which a JACK
// client of the test's own receives; a TrelvoSynth on the same input is heard.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <mutex>
#include <set>

#include "TestPaths.h"
#include "platform/Clock.h"
#include "rack/AudioEngine.h"
#include "rack/EngineControl.h"
#include "rack/MidiLayer.h"
#include "rack/Rack.h"
#include "rack/SlotEvents.h"
#include "session/RackController.h"
#include "support/EngineRunner.h"
#include "support/JackServer.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::midi {
namespace {

/// A JACK client of the test: a MIDI input that collects note-on keys, an audio input that
/// keeps its peak.
class Receiver {
public:
    Receiver() {
        client = jack_client_open("receiver", JackNoStartServer, nullptr);
        midiIn = jack_port_register(client, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        audioIn = jack_port_register(client, "audio", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client, &process, this);
        jack_activate(client);
    }
    ~Receiver() {
        jack_deactivate(client);
        jack_client_close(client);
    }
    bool connect(const char* from, const char* to) { return jack_connect(client, from, to) == 0; }
    std::set<int> keys() {
        std::lock_guard lock(mutex);
        return received;
    }
    static int process(jack_nframes_t frames, void* self) {
        auto* receiver = static_cast<Receiver*>(self);
        void* midi = jack_port_get_buffer(receiver->midiIn, frames);
        for (jack_nframes_t i = 0; i < jack_midi_get_event_count(midi); ++i) {
            jack_midi_event_t event{};
            if (jack_midi_event_get(&event, midi, i) == 0 && event.size == 3 && (event.buffer[0] & 0xF0) == 0x90 &&
                event.buffer[2] > 0) {
                std::lock_guard lock(receiver->mutex);
                receiver->received.insert(event.buffer[1]);
            }
        }
        const auto* audio = static_cast<const float*>(jack_port_get_buffer(receiver->audioIn, frames));
        float peak = receiver->peak.load();
        for (jack_nframes_t i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(audio[i]));
        receiver->peak = peak;
        return 0;
    }
    jack_client_t* client;
    jack_port_t* midiIn;
    jack_port_t* audioIn;
    std::mutex mutex;
    std::set<int> received;
    std::atomic<float> peak{0.0f};
};

/// Debian's jack_midiseq playing middle C every quarter of a second into Trelvo's JACK MIDI
/// input until the player goes out of scope. A loaded machine may take a while to start it.
class MiddleC {
public:
    explicit MiddleC(Receiver& receiver) {
        pid = fork();
        if (pid == 0) {
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            execl("/usr/bin/jack_midiseq", "jack_midiseq", "seq", "12000", "0", "60", "6000",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int wait = 0; wait < 500 && !connected; ++wait) {
            connected = jack_connect(receiver.client, "seq:out", "trelvo:midi_in") == 0;
            if (!connected) platform::sleepMs(20);
        }
    }
    ~MiddleC() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    bool connected = false;

private:
    pid_t pid;
};

/// Waits up to ten seconds for the condition.
template <class Condition> void waitFor(Condition condition) {
    for (int wait = 0; wait < 500 && !condition(); ++wait) platform::sleepMs(20);
}

TEST(JackMidi, NotesFromJackMidiseqAreTransposedToTheOutputAndPlayTheSynth) {
    test::JackServer server;
    ASSERT_TRUE(server.running());
    test::LogCapture log;
    test::TempFolder home;
    test::writeFile(home.file("Trelvo.ini"), "[MIDIinputs]\r\nJACK: trelvo:midi_in=Keys\r\n"
                                             "[MIDIoutputs]\r\nJACK: trelvo:midi_out=Out\r\n");
    rack::Rack rack;
    rack::AudioEngine engine(rack);
    rack::UiMessageQueue messages;
    audio::EngineControl control(rack, engine, messages);
    rack.addSlot(rack::SlotKind::Output);
    rack.addSlot(rack::SlotKind::Channel);
    const int fx = test::addPlugIn(rack, TrelvoMidiFx_PATH, "MidiFx");
    const int synth = test::addPlugIn(rack, TrelvoSynth_PATH, "Synth");
    rack.slot(fx).SetParameter(0, 0.75f); // +12 semitones

    engine.applicationStage = 6;
    control.selectedDriverName = "JACK";
    control.ASIOinit();
    ASSERT_TRUE(control.hostReady());

    MidiLayer::Environment env;
    env.settingsFile = home.file("Trelvo.ini");
    env.haltAudio = [&] { control.setAllowed(audio::kAllowedPause); };
    env.resumeAudio = [&] { control.setAllowed(audio::kAllowedResume); };
    env.samplesPerMs = [&] { return control.samplesPerMs; };
    env.audioActive = [&] { return control.host()->isActive(); };
    MidiLayer layer(rack, engine, env);
    engine.setHooks(&layer);
    rack::SlotEventHandlers events(rack, messages);
    events.plugInMidiOut = [&](int slot, VstEvents* list) { layer.plugInOutput(slot, list); };
    events.assignToAll();
    engine.applicationStage = rack::kStageRunning;
    layer.setMIDI(iOpen);
    // The instruments' pair and the control surface's pair.
    ASSERT_EQ(layer.inputDeviceNames(), (std::vector<std::string>{"JACK: trelvo:midi_in", "JACK: trelvo:surface_in"}));
    for (int slot : {fx, synth}) {
        MidiRoute& route = rack.slot(slot).midi->routes.routes[0];
        route.portName = "Keys";
        route.portIndex = layer.resolvePort("Keys");
        ASSERT_EQ(route.portIndex, 0);
    }
    rack.slot(fx).midi->outputPortName = "Out";
    layer.resolveSlotOutputs();

    Receiver receiver;
    ASSERT_TRUE(receiver.connect("trelvo:midi_out", "receiver:midi"));
    ASSERT_TRUE(receiver.connect("trelvo:out_1", "receiver:audio"));
    {
        MiddleC player(receiver);
        ASSERT_TRUE(player.connected);
        waitFor([&] { return !receiver.keys().empty() && receiver.peak.load() >= 0.05f; });
    }

    EXPECT_EQ(receiver.keys(), std::set<int>{72}); // 60, transposed by TrelvoMidiFx
    EXPECT_GT(receiver.peak.load(), 0.05f);        // the synth on the same input plays
    layer.setMIDI(iClose);
    control.setAllowed(audio::kAllowedStop);
}

TEST(JackMidi, OnAFirstStartAKeyboardPlaysThroughMainAndASlotPortPlaysASecondSynth) {
    test::JackServer server;
    ASSERT_TRUE(server.running());
    test::LogCapture log;
    test::TempFolder home; // no settings file at all
    persist::AppSettings settings{home.path()};
    settings.readAll();
    settings.asioDriver = "JACK";
    rack::RackController controller{settings};
    controller.startAudio();
    ASSERT_TRUE(controller.control().hostReady());
    controller.startMidi();
    controller.newRack();
    controller.loadPlugin(TrelvoSynth_PATH); // on "DEFAULT", that is "MAIN"
    const int second = controller.addSlot(rack::SlotKind::Channel);
    const int fx = controller.loadPlugin(TrelvoMidiFx_PATH);
    controller.rack().slot(fx).isMidiVport = true;
    const int synth = controller.loadPlugin(TrelvoSynth_PATH);
    MidiRoute& route = controller.rack().slot(synth).midi->routes.routes[0];
    route.portName = "SlotID-" + std::to_string(controller.rack().slot(fx).SlotID);
    controller.midi().resolveSlotRoutes();
    ASSERT_GE(route.portIndex, 0);
    controller.setRunning();
    EXPECT_TRUE(log.contains("MIDI: first start: \"MAIN\" takes input \"JACK: trelvo:midi_in\""));

    Receiver receiver;
    const auto heard = [&](int slot) { return controller.rack().slot(slot).PeakL.load() > 0.05f; };
    {
        MiddleC player(receiver);
        ASSERT_TRUE(player.connected);
        waitFor([&] { return heard(1) && heard(second); });
    }
    EXPECT_TRUE(heard(1)) << "the synth on DEFAULT";
    EXPECT_TRUE(heard(second)) << "the synth on the effect's slot port";
    controller.control().setAllowed(audio::kAllowedStop);
}

} // namespace
} // namespace trelvo::midi
