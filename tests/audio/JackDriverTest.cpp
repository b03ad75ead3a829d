// The JACK driver against a real JACK server (jackd with its dummy backend).
#include "audio/JackDriver.h"

#include <gtest/gtest.h>
#include <jack/thread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <set>
#include <thread>

#include "TestPaths.h"
#include "midi/JackMidiBridge.h"
#include "platform/Clock.h"
#include "platform/ThreadScheduling.h"
#include "rack/AudioEngine.h"
#include "rack/EngineControl.h"
#include "rack/Rack.h"
#include "support/EngineRunner.h"
#include "support/JackServer.h"
#include "support/LogCapture.h"
#include "support/RunProgram.h"

namespace trelvo::platform {
void PrintTo(const ThreadScheduling& scheduling, std::ostream* out) {
    *out << "policy " << scheduling.policy << ", priority " << scheduling.priority;
}
} // namespace trelvo::platform

namespace trelvo::audio {
namespace {

/// Plays one note on a slot in the first block that asks.
class OneNote : public rack::EngineHooks {
public:
    explicit OneNote(int slot) : slot(slot) {}
    bool midiInputOpen() const noexcept override { return true; }
    void deliverMidi(host::TVstPlugIn& target) noexcept override {
        if (target.SlotIdx != slot || played.exchange(true)) return;
        static VstMidiEvent note{kVstMidiType, sizeof(VstMidiEvent), 0, 0, 0, 0, {char(0x90), 69, 127, 0}, 0, 0, 0, 0};
        static VstEvents events{1, 0, {reinterpret_cast<VstEvent*>(&note), nullptr}};
        target.ProcessEvents(&events);
    }
    int slot;
    std::atomic<bool> played{false};
};

/// Holds the audio thread inside a block once asked to, until released (or, should the
/// test never release it, for 20 seconds).
class Stall : public OneNote {
public:
    using OneNote::OneNote;
    void surfaceOutputStep() noexcept override {
        if (!stalling.load()) return;
        held = true;
        const std::uint32_t began = platform::tickCountMs();
        while (!released.load() && platform::tickCountMs() - began < 20000) platform::sleepMs(1);
        stalling = false;
    }
    std::atomic<bool> stalling{false};
    std::atomic<bool> held{false};
    std::atomic<bool> released{false};
};

/// A JACK client of the test's own that listens to one of Trelvo's outputs.
class Listener {
public:
    explicit Listener(const std::string& source) {
        client = jack_client_open("listener", JackNoStartServer, nullptr);
        port = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client, &process, this);
        jack_activate(client);
        connected = jack_connect(client, source.c_str(), jack_port_name(port)) == 0;
    }
    ~Listener() {
        jack_deactivate(client);
        jack_client_close(client);
    }
    static int process(jack_nframes_t frames, void* self) {
        auto* listener = static_cast<Listener*>(self);
        const auto* samples = static_cast<const float*>(jack_port_get_buffer(listener->port, frames));
        float peak = listener->peak.load();
        for (jack_nframes_t i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(samples[i]));
        listener->peak = peak;
        listener->blocks.fetch_add(1);
        return 0;
    }
    jack_client_t* client;
    jack_port_t* port;
    bool connected = false;
    std::atomic<float> peak{0.0f};
    std::atomic<int> blocks{0};
};

/// A JACK client of the test's own that plays a constant into one of Trelvo's inputs.
class Source {
public:
    Source(const std::string& target, float level) : value(level) {
        client = jack_client_open("source", JackNoStartServer, nullptr);
        if (client == nullptr) return;
        port = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client, &process, this);
        jack_activate(client);
        connected = jack_connect(client, jack_port_name(port), target.c_str()) == 0;
    }
    ~Source() {
        if (client == nullptr) return;
        jack_deactivate(client);
        jack_client_close(client);
    }
    static int process(jack_nframes_t frames, void* self) {
        auto* source = static_cast<Source*>(self);
        auto* samples = static_cast<float*>(jack_port_get_buffer(source->port, frames));
        std::fill_n(samples, frames, source->value);
        return 0;
    }
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    float value;
    bool connected = false;
};

class JackDriverTest : public ::testing::Test {
protected:
    /// realtimePriority > 0: the server runs real-time at that priority.
    explicit JackDriverTest(int realtimePriority = 0) : server(256, 48000, realtimePriority) {
        rack.addSlot(rack::SlotKind::Output);
        rack.addSlot(rack::SlotKind::Channel);
        control.sleep = [](int ms) { platform::sleepMs(static_cast<unsigned>(ms)); };
    }
    ~JackDriverTest() override { control.setAllowed(kAllowedStop); }

    void SetUp() override { ASSERT_TRUE(server.running()) << "jackd did not start (is jackd2 installed?)"; }

    // Starts the engine on the JACK driver with a synth that plays one note.
    template <class Hooks = OneNote> void startWithSynth() {
        hooks = std::make_unique<Hooks>(test::addPlugIn(rack, TrelvoSynth_PATH, "Synth"));
        engine.setHooks(hooks.get());
        engine.applicationStage = 6;
        control.selectedDriverName = "JACK";
        control.ASIOinit();
        engine.applicationStage = rack::kStageRunning;
    }

    // Hands the driver's notices to the engine control, as the interface thread does.
    void pumpNotices() {
        rack::UiMessage message;
        while (messages.take(message))
            if (message.code == rack::kMsgAsioNotice) control.handleNotice(static_cast<int>(message.wParam));
    }

    JackDriver* jackDriver() { return dynamic_cast<JackDriver*>(control.host()->openDriver()); }

    // Does the interface thread's duties (notices, driver polling) until done() holds or
    // the time is up; generous, for a loaded machine.
    template <class Done> bool pumpUntil(Done done, std::uint32_t limitMs = 20000) {
        const std::uint32_t began = platform::tickCountMs();
        while (!done()) {
            if (platform::tickCountMs() - began > limitMs) return false;
            platform::sleepMs(20);
            pumpNotices();
            control.pollDriver();
        }
        return true;
    }

    // What one of Trelvo's ports is connected to, as JACK tells Trelvo's client.
    std::set<std::string> peersOf(const std::string& port) {
        jack_client_t* client = jackDriver()->client();
        std::set<std::string> peers;
        const char** names = jack_port_get_all_connections(client, jack_port_by_name(client, port.c_str()));
        for (std::size_t i = 0; names != nullptr && names[i] != nullptr; ++i) peers.insert(names[i]);
        if (names != nullptr) jack_free(names);
        return peers;
    }

    bool remembers(const JackConnections::Connection& connection) {
        const auto& remembered = jackDriver()->connections().connections();
        return std::find(remembered.begin(), remembered.end(), connection) != remembered.end();
    }

    // JACK's process thread (Trelvo's audio thread) after it ran Trelvo's blocks.
    platform::ThreadScheduling processThreadScheduling() {
        int policy = -1;
        sched_param parameters{};
        EXPECT_EQ(pthread_getschedparam(jack_client_thread_id(jackDriver()->client()), &policy, &parameters), 0);
        return {policy, parameters.sched_priority};
    }

    test::JackServer server;
    test::LogCapture log;
    rack::Rack rack;
    std::unique_ptr<OneNote> hooks;
    rack::AudioEngine engine{rack};
    rack::UiMessageQueue messages;
    EngineControl control{rack, engine, messages};
};

TEST_F(JackDriverTest, ASynthStripIsHeardAtTrelvosJackOutput) {
    startWithSynth();
    ASSERT_TRUE(control.hostReady());
    EXPECT_EQ(control.host()->driverName, "JACK");
    EXPECT_EQ(control.host()->bufferSize, 256);
    EXPECT_EQ(control.host()->sampleRate, 48000.0);
    ASSERT_TRUE(engine.allowed.load());
    Listener listener("trelvo:out_1");
    ASSERT_TRUE(listener.connected);
    for (int wait = 0; wait < 100 && listener.peak.load() < 0.1f; ++wait) platform::sleepMs(20);
    EXPECT_TRUE(hooks->played.load());
    // One note at full velocity: Volume 0.5 x 0.25, a sine.
    EXPECT_NEAR(listener.peak.load(), 0.125f, 0.005f);
}

TEST_F(JackDriverTest, TrelvosJackInputsReachItsOutputsThroughAChannelAtUnity) {
    // The engine works in JACK's port buffers themselves: what arrives at in_1 and in_2
    // leaves at out_1 and out_2 sample for sample.
    rack.slot(1).InpVol.set(0);
    engine.applicationStage = 6;
    control.selectedDriverName = "JACK";
    control.ASIOinit();
    engine.applicationStage = rack::kStageRunning;
    ASSERT_TRUE(control.hostReady());
    Source left("trelvo:in_1", 0.25f), right("trelvo:in_2", -0.5f);
    ASSERT_TRUE(left.connected && right.connected);
    Listener outLeft("trelvo:out_1"), outRight("trelvo:out_2");
    ASSERT_TRUE(outLeft.connected && outRight.connected);
    for (int wait = 0; wait < 200 && (outLeft.peak.load() < 0.25f || outRight.peak.load() < 0.5f); ++wait)
        platform::sleepMs(20);
    EXPECT_EQ(outLeft.peak.load(), 0.25f);
    EXPECT_EQ(outRight.peak.load(), 0.5f);
}

TEST_F(JackDriverTest, ABufferSizeChangeResetsTheDriverAndAudioComesBack) {
    startWithSynth();
    ASSERT_TRUE(engine.allowed.load());
    const test::ProgramResult result = test::runProgram("/usr/bin/jack_bufsize", {"512"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // The notice arrives from JACK's thread; the interface thread handles it.
    for (int wait = 0; wait < 100 && control.host()->bufferSize != 512; ++wait) {
        platform::sleepMs(20);
        pumpNotices();
    }
    EXPECT_EQ(control.host()->bufferSize, 512);
    EXPECT_EQ(engine.bufferCapacity(), 512);
    EXPECT_TRUE(engine.allowed.load());
    const std::uint32_t before = rack.host().bufferCount.load();
    platform::sleepMs(200);
    EXPECT_GT(rack.host().bufferCount.load(), before + 5); // blocks flow again
    EXPECT_EQ(engine.oversizedBlocks.load(), 0u);
}

// Guards against stopping the driver (every structural change does) wiring the ports
// back to the default ports.
TEST_F(JackDriverTest, TheUsersConnectionsOutlastAStructuralChange) {
    startWithSynth();
    jack_client_t* client = jackDriver()->client();
    ASSERT_EQ(jack_disconnect(client, "trelvo:out_1", "system:playback_1"), 0);
    ASSERT_EQ(jack_connect(client, "trelvo:out_1", "system:playback_2"), 0);
    std::uint32_t blocks = rack.host().bufferCount.load();
    ASSERT_TRUE(pumpUntil([&] { return rack.host().bufferCount.load() > blocks + 3; })); // the graph has it
    control.setAllowed(kAllowedStop);
    control.setAllowed(kAllowedStart);
    ASSERT_TRUE(engine.allowed.load());
    blocks = rack.host().bufferCount.load();
    ASSERT_TRUE(pumpUntil([&] { return rack.host().bufferCount.load() > blocks + 3; }));
    EXPECT_EQ(peersOf("trelvo:out_1"), std::set<std::string>{"system:playback_2"});
    EXPECT_EQ(peersOf("trelvo:out_2"), std::set<std::string>{"system:playback_2"});
}

TEST_F(JackDriverTest, AfterTheJackServerRestartsAudioAndTheConnectionsComeBack) {
    startWithSynth();
    ASSERT_TRUE(engine.allowed.load());
    jack_client_t* client = jackDriver()->client();
    // The user's own wiring: the first output moved to the second playback port, the MIDI
    // output looped into the MIDI input.
    ASSERT_EQ(jack_disconnect(client, "trelvo:out_1", "system:playback_1"), 0);
    ASSERT_EQ(jack_connect(client, "trelvo:out_1", "system:playback_2"), 0);
    ASSERT_EQ(jack_connect(client, "trelvo:midi_out", "trelvo:midi_in"), 0);
    ASSERT_TRUE(pumpUntil([&] {
        return remembers({"out_1", "system:playback_2"}) && remembers({"midi_out", "trelvo:midi_in"}) &&
               !remembers({"out_1", "system:playback_1"});
    }));

    // An orderly shut-down first takes the connections away, then tells the clients.
    server.stop(SIGTERM);
    ASSERT_TRUE(pumpUntil([&] { return control.waitingForDriver(); }));
    EXPECT_TRUE(log.contains("JACK server gone: waiting for it to come back"));
    EXPECT_FALSE(engine.allowed.load());
    // Several retries later there is still no server: polling never starts one.
    pumpUntil([] { return false; }, 4 * EngineControl::kDriverRetryMs);
    EXPECT_FALSE(JackDriver::serverRunning());
    EXPECT_TRUE(control.waitingForDriver());

    ASSERT_TRUE(server.start());
    ASSERT_TRUE(pumpUntil([&] { return !control.waitingForDriver() && engine.allowed.load(); }));
    EXPECT_TRUE(log.contains("JACK server back: audio restarted"));
    const std::uint32_t blocks = rack.host().bufferCount.load();
    ASSERT_TRUE(pumpUntil([&] { return rack.host().bufferCount.load() > blocks + 10; }));
    EXPECT_EQ(peersOf("trelvo:out_1"), std::set<std::string>{"system:playback_2"}); // as it was, not the default
    EXPECT_EQ(peersOf("trelvo:out_2"), std::set<std::string>{"system:playback_2"});
    EXPECT_EQ(peersOf("trelvo:midi_out"), std::set<std::string>{"trelvo:midi_in"});

    // The JACK MIDI ports are back too: a note goes round the restored loop.
    midi::JackMidiBridge& bridge = midi::JackMidiBridge::instance();
    ASSERT_TRUE(bridge.present());
    std::atomic<int> notes{0};
    bridge.setInputSink(
        midi::JackMidiBridge::kInstruments,
        [](void* context, const std::uint8_t* bytes, std::size_t length, int) {
            if (length == 3 && (bytes[0] & 0xF0) == 0x90) static_cast<std::atomic<int>*>(context)->fetch_add(1);
        },
        &notes);
    const std::uint8_t note[3] = {0x90, 60, 100};
    EXPECT_TRUE(bridge.queueOutput(midi::JackMidiBridge::kInstruments, note, sizeof note, 0));
    EXPECT_TRUE(pumpUntil([&] { return notes.load() > 0; }));
    bridge.setInputSink(midi::JackMidiBridge::kInstruments, nullptr, nullptr);

    hooks->played = false; // a new note, heard at the output
    Listener listener("trelvo:out_1");
    ASSERT_TRUE(listener.connected);
    EXPECT_TRUE(pumpUntil([&] { return listener.peak.load() > 0.1f; }));
}

// Guards against remembering what a dying server left: it may take the connections away
// before its clients learn that it is gone.
TEST_F(JackDriverTest, ConnectionsTakenAwayJustBeforeTheServerDiedComeBack) {
    startWithSynth();
    jack_client_t* client = jackDriver()->client();
    ASSERT_EQ(jack_disconnect(client, "trelvo:out_1", "system:playback_1"), 0);
    ASSERT_EQ(jack_connect(client, "trelvo:out_1", "system:playback_2"), 0);
    ASSERT_TRUE(pumpUntil([&] {
        return remembers({"out_1", "system:playback_2"}) && !remembers({"out_1", "system:playback_1"});
    }));

    ASSERT_EQ(jack_disconnect(client, "trelvo:out_1", "system:playback_2"), 0);
    // The interface thread sees the change a few times, well within a second, then the server dies.
    for (int tick = 0; tick < 5; ++tick) {
        platform::sleepMs(40);
        pumpNotices();
        control.pollDriver();
    }
    server.stop(SIGKILL);
    ASSERT_TRUE(pumpUntil([&] { return control.waitingForDriver(); }));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(pumpUntil([&] { return !control.waitingForDriver() && engine.allowed.load(); }));
    const std::uint32_t blocks = rack.host().bufferCount.load();
    ASSERT_TRUE(pumpUntil([&] { return rack.host().bufferCount.load() > blocks + 10; }));
    EXPECT_EQ(peersOf("trelvo:out_1"), std::set<std::string>{"system:playback_2"});
}

TEST_F(JackDriverTest, JacksProcessThreadKeepsTheSchedulingJackGaveIt) {
    startWithSynth();
    const std::uint32_t blocks = rack.host().bufferCount.load();
    ASSERT_TRUE(pumpUntil([&] { return rack.host().bufferCount.load() > blocks + 5; }));
    // This server runs without real-time scheduling, and so must its process thread.
    EXPECT_EQ(processThreadScheduling(), (platform::ThreadScheduling{SCHED_OTHER, 0}));
}

/// True when this process may use real-time scheduling at all.
bool mayUseRealtime() {
    bool allowed = false;
    std::thread probe([&allowed] {
        sched_param parameters{};
        parameters.sched_priority = 1;
        allowed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0;
    });
    probe.join();
    return allowed;
}

class JackRealtimeDriverTest : public JackDriverTest {
protected:
    JackRealtimeDriverTest() : JackDriverTest(70) {}
};

TEST_F(JackRealtimeDriverTest, JacksRealtimeProcessThreadKeepsItsPriorityAndTheWorkThreadIsToldIt) {
    if (!mayUseRealtime()) GTEST_SKIP() << "real-time scheduling is not allowed here";
    startWithSynth();
    const std::uint32_t blocks = rack.host().bufferCount.load();
    ASSERT_TRUE(pumpUntil([&] { return rack.host().bufferCount.load() > blocks + 5; }));
    const int jackPriority = jack_client_real_time_priority(jackDriver()->client());
    ASSERT_GT(jackPriority, 0);
    const platform::ThreadScheduling jacks{SCHED_FIFO, jackPriority};
    EXPECT_EQ(processThreadScheduling(), jacks);
    platform::ThreadScheduling published;
    EXPECT_NE(platform::publishedAudioThreadScheduling(published), 0u);
    EXPECT_EQ(published, jacks); // what the work thread takes over
}

TEST(JackDriverXruns, EachXrunIsCountedWithItsTimeAndLoggedOnceOnTheInterfaceThread) {
    test::LogCapture log;
    JackDriver driver("unopened"); // the counting needs no server
    EXPECT_EQ(driver.xruns().count, 0u);
    EXPECT_EQ(driver.xruns().lastUnixMs, 0);
    const auto unixMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const std::int64_t before = unixMs();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(JackDriver::onXrun(&driver), 0);
    const std::int64_t after = unixMs();
    EXPECT_EQ(driver.xruns().count, 3u);
    EXPECT_GE(driver.xruns().lastUnixMs, before);
    EXPECT_LE(driver.xruns().lastUnixMs, after);
    EXPECT_TRUE(log.lines().empty()) << "nothing is logged from JACK's thread";

    driver.idle();
    EXPECT_EQ(log.errors(), std::vector<std::string>{"JACK: 3 xrun(s), 3 since the driver opened"});
    driver.idle();
    JackDriver::onXrun(&driver);
    driver.idle();
    EXPECT_EQ(log.errors(), (std::vector<std::string>{"JACK: 3 xrun(s), 3 since the driver opened",
                                                      "JACK: 1 xrun(s), 4 since the driver opened"}));
}

TEST_F(JackDriverTest, ACycleTheClientMissesIsCountedAndAudioGoesOn) {
    startWithSynth<Stall>();
    auto& stall = static_cast<Stall&>(*hooks);
    ASSERT_TRUE(engine.allowed.load());
    std::uint32_t blocks = rack.host().bufferCount.load();
    ASSERT_TRUE(pumpUntil([&] { return rack.host().bufferCount.load() > blocks + 5; }));
    const std::uint64_t before = jackDriver()->xruns().count;

    // The audio thread is held until the server has reported the cycle it missed: however
    // slow the machine, the server's next cycle finds the client unfinished.
    stall.stalling = true;
    const bool counted = pumpUntil([&] { return stall.held.load() && jackDriver()->xruns().count > before; });
    stall.released = true;
    ASSERT_TRUE(counted);
    EXPECT_GT(control.host()->xruns().count, before);
    EXPECT_TRUE(pumpUntil([&] { return log.contains("since the driver opened"); }));
    blocks = rack.host().bufferCount.load();
    EXPECT_TRUE(pumpUntil([&] { return rack.host().bufferCount.load() > blocks + 10; }));
}

TEST_F(JackDriverTest, TheHostKeepsCountingXrunsWhenTheDriverIsOpenedAgain) {
    startWithSynth();
    ASSERT_TRUE(control.hostReady());
    JackDriver* first = jackDriver();
    JackDriver::onXrun(first);
    JackDriver::onXrun(first);
    const XrunCount sofar = control.host()->xruns();
    EXPECT_GE(sofar.count, 2u);

    control.handleNotice(kNoticeReset); // a new driver object, as after a buffer-size change
    ASSERT_TRUE(control.hostReady());
    ASSERT_TRUE(engine.allowed.load());
    const std::uint64_t ownCount = jackDriver()->xruns().count;
    const XrunCount total = control.host()->xruns();
    EXPECT_GE(total.count, sofar.count);
    EXPECT_GE(total.lastUnixMs, sofar.lastUnixMs);
    EXPECT_GE(total.count, ownCount + 2) << "the closed driver's xruns are still counted";
}

TEST_F(JackDriverTest, TheDriverListShowsJackWhileAServerRuns) {
    const test::ProgramResult listed = test::runProgram(TRELVO_EXECUTABLE_PATH, {"--list-drivers"});
    ASSERT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.out.rfind("0\tJACK\n", 0), 0u) << listed.out;
    EXPECT_NE(listed.out.find("\tDummy\n"), std::string::npos);
}

} // namespace
} // namespace trelvo::audio
