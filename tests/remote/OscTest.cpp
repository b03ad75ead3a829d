// The OSC remote control, driven by a liblo client of the test's own against a rack on the
// Dummy driver, and against the real program running headless.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>

#include "TestPaths.h"
#include "audio/DummyDriver.h"
#include "platform/Clock.h"
#include "remote/OscTestClient.h"
#include "remote/RemoteControl.h"
#include "session/RackController.h"
#include "support/DummyDrivers.h"
#include "support/LogCapture.h"
#include "support/RunProgram.h"
#include "support/TempFolder.h"

namespace trelvo::remote {
namespace {

using rack::SlotCommandCode;
using test::OscReceived;
using ::testing::HasSubstr;

class OscTest : public ::testing::Test {
protected:
    OscTest() {
        settings.asioDriver = "Dummy";
        controller.startAudio(test::dummyDriverOnly());
        controller.newRack();
        synth = controller.loadPlugin(TrelvoSynth_PATH);
        controller.setRunning();
        client.aim(remote.port());
    }

    void tick() {
        platform::sleepMs(2);
        controller.idleTick();
    }
    /// Ticks until the audio thread has applied every queued command.
    void settle() {
        for (int k = 0; k < 20; ++k) tick();
        const std::uint32_t began = platform::tickCountMs();
        while (controller.rack().commands().count() > 0 && platform::tickCountMs() - began < 5000) tick();
    }
    bool answered(const std::string& path, OscReceived* found = nullptr, int timeoutMs = 3000) {
        return client.waitFor(
            path, [this] { tick(); }, timeoutMs, found);
    }
    bool heardSlot(int slot, const std::function<bool(const OscReceived&)>& matches) {
        return client.waitFor(
            "/trelvo/slot", [&](const OscReceived& m) { return m.numbers[0] == slot && matches(m); },
            [this] { tick(); }, 3000);
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    rack::RackController controller{settings};
    RemoteControl remote{controller, "127.0.0.1", 0};
    test::OscTestClient client;
    int synth = -1;
};

TEST_F(OscTest, VolumesSwitchesPresetsAndParametersChangeTheEngine) {
    ASSERT_FALSE(remote.failed()) << remote.whyNot();
    ASSERT_GE(synth, 0);
    host::TVstPlugIn& channel = controller.rack().slot(1);

    client.send("/trelvo/slot/wet", "if", 1, -6.0f);
    client.send("/trelvo/slot/pan", "ii", 1, -4);
    client.send("/trelvo/slot/input", "if", 1, -100.0f); // below -48: off
    // A switch says what it wants: the same command twice leaves it on.
    client.send("/trelvo/slot/mute", "ii", 1, 1);
    client.send("/trelvo/slot/mute", "ii", 1, 1);
    client.send("/trelvo/slot/solo", "iT", 1);
    settle();
    EXPECT_EQ(channel.WetVol.getDb(), -6);
    EXPECT_EQ(channel.pan.getStep(), -4);
    EXPECT_EQ(channel.InpVol.getDb(), rack::kVolumeOff);
    EXPECT_TRUE(channel.runMode.isSet(rack::RunMode::Mute));
    EXPECT_TRUE(channel.runMode.isSet(rack::RunMode::Solo));
    client.send("/trelvo/slot/mute", "ii", 1, 0);
    client.send("/trelvo/slot/on", "ii", 1, 0);
    settle();
    EXPECT_FALSE(channel.runMode.isSet(rack::RunMode::Mute));
    EXPECT_TRUE(channel.runMode.isSet(rack::RunMode::Off));

    host::TVstPlugIn& plugIn = controller.rack().slot(synth);
    client.send("/trelvo/slot/preset", "ii", synth, 5);
    settle();
    EXPECT_EQ(plugIn.CurProgram, 5);
    const std::string fifth = plugIn.GetProgramName();
    client.send("/trelvo/slot/preset/next", "i", synth);
    settle();
    EXPECT_EQ(plugIn.CurProgram, 6);
    client.send("/trelvo/slot/preset/previous", "i", synth);
    client.send("/trelvo/slot/preset/previous", "i", synth);
    settle();
    EXPECT_EQ(plugIn.CurProgram, 4);
    client.send("/trelvo/slot/preset/name", "is", synth, fifth.c_str());
    settle();
    EXPECT_EQ(plugIn.CurProgram, 5);

    client.send("/trelvo/slot/parameter", "iif", synth, 0, 0.25f);
    OscReceived parameter;
    ASSERT_TRUE(answered("/trelvo/parameter", &parameter));
    EXPECT_EQ(parameter.numbers[1], 0);
    EXPECT_FLOAT_EQ(static_cast<float>(parameter.numbers[2]), 0.25f);
    EXPECT_FLOAT_EQ(plugIn.GetParameter(0), 0.25f);

    client.send("/trelvo/master/volume", "f", -20.0f);
    client.send("/trelvo/transport/tempo", "f", 140.0f);
    client.send("/trelvo/transport/start", "");
    settle();
    EXPECT_EQ(settings.outputVolumeDb, -20);
    EXPECT_NEAR(controller.engine().outputVolume.load(), 0.1f, 1e-4);
    EXPECT_EQ(std::lround(controller.rack().transport().tempo()), 140);
    EXPECT_EQ(controller.rack().transport().state(), rack::TransportState::Playing);
}

TEST_F(OscTest, ValuesOutOfRangeAreAnsweredWithAnErrorAndChangeNothing) {
    host::TVstPlugIn& channel = controller.rack().slot(1);
    const int wet = channel.WetVol.getDb();
    const auto refused = [&](const char* what) {
        OscReceived error;
        const bool heard = answered("/trelvo/error", &error);
        EXPECT_TRUE(heard) << what;
        return heard ? error.texts[0] : std::string();
    };
    client.send("/trelvo/slot/wet", "if", 40, -6.0f);
    EXPECT_EQ(refused("no slot 40"), "/trelvo/slot/wet");
    client.send("/trelvo/slot/wet", "if", 1, 30.0f);
    refused("+30 dB");
    client.send("/trelvo/slot/pan", "if", 1, 13.0f);
    refused("pan 13");
    client.send("/trelvo/slot/preset", "ii", synth, 256);
    refused("preset 256 of 256");
    client.send("/trelvo/slot/preset", "ii", 1, 0);
    refused("a channel has no presets");
    client.send("/trelvo/slot/parameter", "iif", synth, 0, 1.5f);
    refused("parameter above 1");
    client.send("/trelvo/transport/tempo", "f", 1000.0f);
    refused("tempo 1000");
    client.send("/trelvo/slot/preset/name", "is", synth, "../../etc/passwd");
    refused("a path for a preset name");
    // A name nothing has leaves the sound alone (the menus' path would select the first).
    host::TVstPlugIn& plugIn = controller.rack().slot(synth);
    plugIn.SetProgram(7);
    client.send("/trelvo/slot/preset/name", "is", synth, "No Such Preset");
    EXPECT_EQ(refused("an unknown preset name"), "/trelvo/slot/preset/name");
    EXPECT_EQ(plugIn.CurProgram, 7);
    settle();
    EXPECT_EQ(channel.WetVol.getDb(), wet);
    EXPECT_EQ(channel.pan.getStep(), 0);
}

TEST_F(OscTest, ASubscribedClientHearsChangesMadeThroughTheController) {
    client.send("/trelvo/subscribe", "");
    OscReceived count;
    ASSERT_TRUE(answered("/trelvo/slots", &count));
    EXPECT_EQ(count.numbers[0], controller.rack().numSlots());
    ASSERT_TRUE(heardSlot(1, [](const OscReceived& m) { return m.texts[1] == "channel" && m.numbers[6] == 0; }));
    client.received.clear();

    // As the window or a surface would: through the controller, not the network.
    controller.toggleMute(1);
    EXPECT_TRUE(heardSlot(1, [](const OscReceived& m) { return m.numbers[6] == 1; }));
    controller.setVolume(SlotCommandCode::WetVol, 1, -12);
    EXPECT_TRUE(heardSlot(1, [](const OscReceived& m) { return m.numbers[8] == -12; }));
    controller.setMasterVolume(-7);
    OscReceived master;
    ASSERT_TRUE(answered("/trelvo/master/volume", &master));
    EXPECT_EQ(master.numbers[0], -7);
    controller.rack().transport().setTempo(99);
    OscReceived transport;
    ASSERT_TRUE(answered("/trelvo/transport", &transport));
    EXPECT_EQ(transport.numbers[1], 99);

    client.send("/trelvo/unsubscribe", "");
    settle();
    client.received.clear();
    controller.toggleMute(1);
    settle();
    client.pump(50);
    EXPECT_TRUE(client.received.empty()) << client.received.front().path;
}

TEST_F(OscTest, MalformedHostileAndFloodingMessagesAreRefusedAndTheServerStillAnswers) {
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sender, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(remote.port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto raw = [&](const std::string& bytes) {
        sendto(sender, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    raw("not osc at all");
    raw(std::string("/trelvo/ping\0\0\0\0,ii\0\0\0\0", 20));     // two integers promised, none sent
    raw(std::string("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x40", 21)); // an element longer than the bundle
    client.send("/trelvo/slot/mute", "ss", "one", "yes");
    client.send("/trelvo/slot/mute", "if", 1, 0.5f); // a switch takes a whole number
    client.send("/trelvo/nothing/here", "i", 1);
    client.send("/trelvo/slot/wet", "if", 1, std::nanf(""));
    client.send("/trelvo/slot/wet", "hf", static_cast<std::int64_t>(1) << 40, 0.0f);
    std::vector<char> huge(60000, 'x');
    lo_blob blob = lo_blob_new(static_cast<std::int32_t>(huge.size()), huge.data());
    lo_message withBlob = lo_message_new();
    lo_message_add_int32(withBlob, 1);
    lo_message_add_blob(withBlob, blob);
    client.send("/trelvo/slot/mute", withBlob);
    lo_blob_free(blob);
    std::string longName(2000, 'a');
    client.send("/trelvo/slot/preset/name", "is", synth, longName.c_str());

    // 10,000 messages within about a second, with the interface ticking as it does.
    for (int k = 0; k < 10000; ++k) {
        client.send("/trelvo/slot/wet", "if", 1, static_cast<float>(-(k % 40)));
        if (k % 100 == 99) tick();
    }
    close(sender);

    client.received.clear();
    client.send("/trelvo/ping", "");
    EXPECT_TRUE(answered("/trelvo/pong", nullptr, 5000));
    const OscRefusals& counts = remote.refusals();
    EXPECT_GE(counts.malformed.load(), 3u);
    EXPECT_GE(counts.wrongArguments.load(), 3u);
    EXPECT_GE(counts.unknownAddress.load(), 1u);
    EXPECT_GE(counts.outOfRange.load(), 3u);
    EXPECT_GT(counts.accepted.load(), 1000u);
    EXPECT_FALSE(controller.rack().slot(1).runMode.isSet(rack::RunMode::Mute));
}

TEST_F(OscTest, ProjectsAreSavedAndLoadedByWholePathsOnly) {
    const std::string file = home.file("remote.vprj");
    client.send("/trelvo/project/save", "");
    OscReceived error;
    ASSERT_TRUE(answered("/trelvo/error", &error)); // untitled: nowhere to save yet
    client.send("/trelvo/project/save", "s", file.c_str());
    OscReceived project;
    ASSERT_TRUE(answered("/trelvo/project", &project));
    EXPECT_EQ(project.texts[1], file);
    EXPECT_TRUE(test::fileExists(file));

    controller.renameSlot(1, "Remote");
    client.send("/trelvo/project/save", "");
    ASSERT_TRUE(answered("/trelvo/project"));
    // Another project's file is never written over from the network.
    const std::string other = home.file("other.vprj");
    test::writeFile(other, "[Project]\n");
    client.send("/trelvo/project/save", "s", other.c_str());
    ASSERT_TRUE(answered("/trelvo/error"));
    EXPECT_EQ(test::readFile(other), "[Project]\n");
    controller.newProject();
    EXPECT_NE(controller.rack().slot(1).SlotName, "Remote");

    for (const std::string& bad :
         {std::string("remote.vprj"), home.file("missing.vprj"), home.path() + "/", home.file("remote.txt")}) {
        client.send("/trelvo/project/load", "s", bad.c_str());
        EXPECT_TRUE(answered("/trelvo/error")) << bad;
    }
    // While a dialog of the user's is open the load waits, and what came after it too.
    bool dialogOpen = true;
    remote.rackInUse = [&dialogOpen] { return dialogOpen; };
    client.send("/trelvo/project/load", "s", file.c_str());
    client.send("/trelvo/slot/mute", "ii", 1, 1);
    EXPECT_FALSE(answered("/trelvo/project", nullptr, 300));
    EXPECT_NE(controller.rack().slot(1).SlotName, "Remote");
    dialogOpen = false;
    ASSERT_TRUE(answered("/trelvo/project"));
    settle();
    EXPECT_EQ(controller.rack().slot(1).SlotName, "Remote");
    EXPECT_TRUE(controller.rack().slot(1).runMode.isSet(rack::RunMode::Mute));
}

TEST(OscProgramTest, TheHeadlessProgramAnswersOnTheGivenPort) {
    test::TempFolder home;
    const int port = test::freeUdpPort();
    ASSERT_GT(port, 0);
    std::atomic<bool> stop{false};
    test::ProgramResult result;
    std::thread program([&] {
        result = test::runProgram(TRELVO_EXECUTABLE_PATH,
                                  {"--headless", "--driver", "Dummy", "--osc-port", std::to_string(port)},
                                  {"TRELVO_HOME=" + home.path()}, 60, -1, &stop);
    });
    test::OscTestClient client;
    client.aim(port);
    bool pong = false;
    for (int k = 0; k < 100 && !pong; ++k) {
        client.send("/trelvo/ping", "");
        pong = client.waitFor("/trelvo/pong", nullptr, 100);
    }
    EXPECT_TRUE(pong);
    client.send("/trelvo/slots", "");
    OscReceived count;
    EXPECT_TRUE(client.waitFor("/trelvo/slots", nullptr, 2000, &count));
    EXPECT_EQ(count.numbers.size() == 1 ? count.numbers[0] : -1, 2); // a first start: an output and a channel
    stop = true;
    program.join();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("OSC remote control on 127.0.0.1 port " + std::to_string(port)));
}

} // namespace
} // namespace trelvo::remote
