#include "rack/MidiLayer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "TestPaths.h"
#include "midi/MidiLock.h"
#include "platform/Clock.h"
#include "platform/RealtimeThread.h"
#include "rack/AudioEngine.h"
#include "rack/Rack.h"
#include "support/EngineRunner.h"
#include "support/FakeMidiBackend.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::midi {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

using test::FakeBackend;

class MidiLayerTest : public ::testing::Test {
protected:
    MidiLayerTest() {
        engine.applicationStage = rack::kStageRunning;
        rack.host().engineBlockSize = 256;
    }

    MidiLayer& open(int numInputs, int numOutputs, const std::string& settings = "",
                    const std::function<void(MidiLayer::Environment&)>& adjust = {}) {
        if (!settings.empty()) test::writeFile(home.file("Trelvo.ini"), settings);
        MidiLayer::Environment env;
        env.settingsFile = home.file("Trelvo.ini");
        env.audioActive = [] { return true; };
        env.backends = [=, this](std::vector<std::string>& whyNot) {
            std::vector<std::unique_ptr<MidiBackend>> list;
            if (numInputs + numOutputs == 0) {
                whyNot.push_back("no devices here");
                return list;
            }
            auto fresh = std::make_unique<FakeBackend>(numInputs, numOutputs);
            backend = fresh.get();
            list.push_back(std::move(fresh));
            return list;
        };
        if (adjust) adjust(env);
        layer = std::make_unique<MidiLayer>(rack, engine, env);
        layer->setMIDI(iOpen);
        return *layer;
    }

    // Ends the current block and starts the next one, as the engine does.
    void nextBlock() {
        layer->endOfBlockMidi();
        MidiLockGuard lock;
        layer->switchMidiHalves();
        engine.blockStartMs = platform::tickCountMs();
    }
    const MidiHalf& readHalf(int port) {
        return layer->ports().ports[static_cast<std::size_t>(port)].buffer->halves[layer->readHalf()];
    }
    static MidiTime atFrame(int frame) { return {true, frame}; }

    test::LogCapture log;
    test::TempFolder home;
    rack::Rack rack;
    rack::AudioEngine engine{rack};
    std::unique_ptr<MidiLayer> layer;
    FakeBackend* backend = nullptr;
};

TEST_F(MidiLayerTest, WithoutDevicesOneInputEntryIsStillReservedAndTheReasonLogged) {
    open(0, 0);
    EXPECT_EQ(layer->ports().numInputs, 1);
    EXPECT_EQ(layer->ports().length, 1 + 48);
    EXPECT_TRUE(log.contains("MIDI: no input devices (no devices here)"));
    layer.reset();
    open(80, 1);
    EXPECT_EQ(layer->ports().numInputs, 64);
    EXPECT_EQ(layer->ports().ports[64].kind, 'P');
    EXPECT_EQ(layer->ports().ports[80].kind, 'V');
}

TEST_F(MidiLayerTest, InputSectionsOpenDevicesUnderAliasesAndKeepUnknownLines) {
    open(2, 1,
         "[MIDIinputs]\r\nkeys 1=Upper\r\nGone Device=Old\r\nDefaultPort=X\r\n[MIDIoutputs]\r\nSynth box 0=Box\r\n");
    EXPECT_EQ(layer->resolvePort("upper"), 1);
    EXPECT_EQ(layer->ports().ports[0].index, -1);
    EXPECT_EQ(layer->resolveOutputAlias("BOX"), 0);
    persist::IniHandle ini;
    layer->writeDeviceSections(ini);
    persist::CloseIni(ini);
    const std::string text = test::readFile(home.file("Trelvo.ini"));
    EXPECT_THAT(text, HasSubstr("[MIDIinputs]\r\nKeys 1=Upper\r\nGone Device=Old\r\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("DefaultPort")));
    EXPECT_THAT(text, HasSubstr("[MIDIoutputs]\r\nSynth box 0=Box\r\n"));
}

TEST_F(MidiLayerTest, IncomingNotesAreNormalisedAndTimedIntoTheBlock) {
    open(1, 0);
    layer->openPort(0, "Keys");
    nextBlock();
    backend->sink->shortMessage(0, 0x91, 60, 0, atFrame(10));  // note on velocity 0
    backend->sink->shortMessage(0, 0x82, 61, 77, atFrame(20)); // note off with a release velocity
    const std::uint32_t start = engine.blockStartMs.load();
    backend->sink->shortMessage(0, 0x90, 62, 9, {false, start + 1000}); // long after the block: last frame
    backend->sink->shortMessage(0, 0x90, 63, 9, {false, start - 5});    // before the block: first frame
    nextBlock();
    const MidiHalf& half = readHalf(0);
    ASSERT_EQ(half.count(), 4);
    EXPECT_EQ(half.event(0).word(), 0x00003C81u);
    EXPECT_EQ(half.event(0).time, 10);
    EXPECT_EQ(half.event(1).word(), 0x00003D82u);
    EXPECT_EQ(half.event(2).time, 255);
    EXPECT_EQ(half.event(3).time, 0);
}

TEST_F(MidiLayerTest, AHalfHoldsFiveHundredElevenEventsAndCountsTheRest) {
    open(1, 0);
    layer->openPort(0, "Keys");
    for (int i = 0; i < 520; ++i)
        backend->sink->shortMessage(0, 0xB0, 1, static_cast<std::uint8_t>(i & 127), atFrame(0));
    nextBlock();
    EXPECT_EQ(readHalf(0).count(), 511);
    EXPECT_THAT(layer->takeDropReports(), Contains(HasSubstr("9 incoming events dropped")));
    EXPECT_TRUE(layer->takeDropReports().empty()); // reported once
}

TEST_F(MidiLayerTest, ALongSysExDumpArrivesInPiecesOfAtMost2048Bytes) {
    open(1, 0);
    layer->openPort(0, "Keys");
    std::vector<std::uint8_t> dump(5000, 0x11);
    dump.front() = 0xF0;
    dump.back() = 0xF7;
    forEachSysexPiece(dump.data(), dump.size(), [&](const std::uint8_t* piece, std::size_t size) {
        backend->sink->sysexPiece(0, piece, size, atFrame(3));
    });
    nextBlock();
    const MidiHalf& half = readHalf(0);
    ASSERT_EQ(half.count(), 3);
    EXPECT_EQ(half.event(0).sysexLength, 2048u);
    EXPECT_EQ(half.event(1).sysexLength, 2048u);
    EXPECT_EQ(half.event(2).sysexLength, 904u);
    EXPECT_EQ(half.event(2).data1, 904 & 0xFF);
    EXPECT_EQ(half.sysex(half.event(2))[903], 0xF7);
}

TEST_F(MidiLayerTest, PanicSilencesEveryOpenPortUnlessThereAreTooManyInputs) {
    open(2, 0);
    layer->openPort(1, "Keys");
    backend->sink->shortMessage(1, 0x90, 60, 100, atFrame(0));
    layer->cmdPanic();
    nextBlock();
    const MidiHalf& half = readHalf(1);
    ASSERT_EQ(half.count(), 32); // the pending note was discarded
    EXPECT_EQ(half.event(0).word(), 0x00007BB0u);
    EXPECT_EQ(half.event(31).word(), 0x000040BFu);
    layer.reset();
    open(20, 0); // table length 68
    layer->openPort(0, "Keys");
    layer->cmdPanic();
    nextBlock();
    EXPECT_EQ(readHalf(0).count(), 0);
}

TEST_F(MidiLayerTest, SlotRoutingDeliversThroughRoutesAndRespectsItsLimits) {
    open(1, 0);
    layer->openPort(0, "Keys");
    rack.addSlot(rack::SlotKind::Output);
    rack.addSlot(rack::SlotKind::Channel);
    const int synth = test::addPlugIn(rack, TrelvoSynth_PATH, "Synth");
    host::TVstPlugIn& slot = rack.slot(synth);
    slot.midi->routes.routes[0].portName = "Keys";
    slot.midi->routes.routes[0].portIndex = layer->resolvePort("Keys");
    slot.midi->chgFxpOnMidiPc = true;
    for (int i = 0; i < 300; ++i) backend->sink->shortMessage(0, 0x90, 60, 100, atFrame(i));
    backend->sink->shortMessage(0, 0xC5, 17, 0, atFrame(1)); // a program change on a channel no entry takes
    // Two layered entries double every note: 600 events for a block that holds 512.
    slot.midi->routes.routes[0].channelMap[1] = {1, 0, 1};
    nextBlock();
    layer->deliverMidi(slot);
    EXPECT_EQ(slot.midi->block.count(), 512);
    EXPECT_THAT(layer->takeDropReports(), Contains(HasSubstr("88 events for slot 2 \"Synth\" dropped")));
    EXPECT_EQ(rack.commands().count(), 1); // the program change became a request instead
    EXPECT_EQ(rack.commands().entry(0).argument, 17);

    // A route whose port is gone: no MIDI at all, not even from the slot's own buffer.
    slot.midi->slotBuffer = std::make_unique<MidiEventBuffer>();
    slot.midi->slotBuffer->halves[layer->readHalf()].append(MidiEvent{});
    slot.midi->routes.routes[0].portIndex = -1;
    layer->deliverMidi(slot);
    EXPECT_EQ(slot.midi->block.count(), 0);
    EXPECT_EQ(slot.midi->slotBuffer->halves[layer->readHalf()].count(), 1);
}

TEST_F(MidiLayerTest, TwoSysExMessagesLeaveTenMillisecondsApartAndShortMessagesWaitTheirTurn) {
    open(0, 1, "[MIDIoutputs]\r\nSynth box 0=Box\r\n");
    const std::uint8_t sysex[] = {0xF0, 0x7D, 0x01, 0xF7};
    const std::uint8_t note[] = {0x90, 60, 100};
    layer->sendToOutputPort(0, sysex, sizeof sysex, 0);
    layer->sendToOutputPort(0, sysex, sizeof sysex, 0);
    layer->sendToOutputPort(0, note, sizeof note, 0);
    layer->wakeOutput();
    for (int wait = 0; wait < 100; ++wait) {
        {
            std::lock_guard lock(backend->mutex);
            if (backend->sent.size() == 3) break;
        }
        platform::sleepMs(5);
    }
    std::lock_guard lock(backend->mutex);
    ASSERT_EQ(backend->sent.size(), 3u);
    std::int64_t firstSysex = -1, secondSysex = -1, noteAt = -1;
    for (const auto& [time, bytes] : backend->sent) {
        if (bytes[0] == 0xF0) (firstSysex < 0 ? firstSysex : secondSysex) = time;
        if (bytes[0] == 0x90) noteAt = time;
    }
    EXPECT_GE(secondSysex - firstSysex, 10'000'000); // at least 10 ms apart
    // The short message goes out before, between or after them, but never while a pause runs.
    for (std::int64_t sysexAt : {firstSysex, secondSysex})
        EXPECT_FALSE(noteAt > sysexAt && noteAt < sysexAt + 10'000'000) << "note inside a SysEx pause";
}

TEST_F(MidiLayerTest, OutputWorksAgainAfterTheLayerWasClosedAndOpened) {
    open(0, 1, "[MIDIoutputs]\r\nSynth box 0=Box\r\n");
    layer->setMIDI(iClose);
    layer->setMIDI(iOpen);
    const std::uint8_t note[] = {0x90, 60, 100};
    EXPECT_TRUE(layer->sendToOutputPort(0, note, sizeof note, 0));
    layer->wakeOutput();
    std::size_t sent = 0;
    for (int wait = 0; wait < 100 && sent == 0; ++wait) {
        platform::sleepMs(5);
        std::lock_guard lock(backend->mutex);
        sent = backend->sent.size();
    }
    EXPECT_EQ(sent, 1u);
}

// Two threads play 10,000 events a second each into one port while an audio thread
// switches and reads the halves: nothing crashes, no event is torn, every drop is counted.
TEST_F(MidiLayerTest, AFloodFromTwoThreadsIsStoredWholeOrCountedAsDropped) {
    open(1, 0);
    layer->openPort(0, "Keys");
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> sentCount{0}, readCount{0}, torn{0};
    const auto player = [&](std::uint8_t channel) {
        for (int i = 0; !stop.load(); ++i) {
            const auto key = static_cast<std::uint8_t>(i & 127);
            // data2 repeats the key: a torn event would break the pair.
            backend->sink->shortMessage(0, static_cast<std::uint8_t>(0xB0 | channel), key, key, atFrame(0));
            ++sentCount;
            if (i % 10 == 9) platform::sleepMs(1);
        }
    };
    std::thread audio([&] {
        while (!stop.load()) {
            nextBlock();
            const MidiHalf& half = readHalf(0);
            for (int e = 0; e < half.count(); ++e) {
                const MidiEvent& event = half.event(e);
                if (event.data1 != event.data2 || (event.status & 0xF0) != 0xB0) ++torn;
            }
            readCount += static_cast<std::uint64_t>(half.count());
            platform::sleepMs(5);
        }
    });
    std::thread first(player, 0), second(player, 1);
    platform::sleepMs(2000);
    stop = true;
    first.join();
    second.join();
    audio.join();
    nextBlock();
    readCount += static_cast<std::uint64_t>(readHalf(0).count());
    EXPECT_EQ(torn.load(), 0u);
    EXPECT_GT(sentCount.load(), 20000u);
    std::uint64_t dropped = 0;
    for (const std::string& line : layer->takeDropReports()) dropped += std::stoull(line.substr(6));
    EXPECT_EQ(readCount.load() + dropped, sentCount.load());
}

// Guards against port buffers freed under a running block (a closed port, a closed layer,
// or the tail of a block emptying them while audio was held). A driver thread runs blocks
// that route two inputs, one of them flooded, directly and through the virtual port "MAIN"
// into a synthesizer while the interface closes and reopens single ports and the whole
// layer, with audio held and without. Under AddressSanitizer and ThreadSanitizer this shows any block
// reading a buffer that was freed or replaced under it.
TEST_F(MidiLayerTest, PortsCloseAndReopenUnderRunningBlocksWithoutFreeingWhatTheyRead) {
    rack.addSlot(rack::SlotKind::Output);
    const int channel = rack.addSlot(rack::SlotKind::Channel);
    const int synth = test::addPlugIn(rack, TrelvoSynth_PATH, "Synth");
    ASSERT_GE(synth, 0);
    RouteBlock& routes = rack.slot(synth).midi->routes;
    routes.count = 2;
    routes.routes[0].portName = "DEFAULT";
    routes.routes[1].portName = "Keys 1";
    engine.allocateBuffers(256);
    engine.engineOn = true;
    engine.allowed = true;
    open(2, 0, "", [this](MidiLayer::Environment& env) {
        // setAllowed(pause) and (resume): the driver keeps running, blocks only run their tail.
        env.haltAudio = [this] {
            engine.allowed = false;
            while (engine.busy.load()) std::this_thread::yield();
        };
        env.resumeAudio = [this] { engine.allowed = true; };
    });
    engine.setHooks(layer.get());

    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread driver([&] {
        std::vector<float> left(256), right(256);
        const float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {left.data(), right.data()};
        const rack::DriverBlock block{inputs, 2, outputs, 2, 256, true};
        platform::RealtimeScope realtime;
        while (!stop.load()) {
            engine.bufferSwitch(block);
            ++blocks;
        }
    });
    // Controllers keep every block busy reading full halves; the synthesizer ignores them.
    std::thread keyboard([&] {
        MidiInputSink& input = *layer;
        for (int i = 0; !stop.load(); ++i) {
            input.shortMessage(1, 0xB0, 1, static_cast<std::uint8_t>(i & 127), atFrame(i & 255));
            if (i % 64 == 63) std::this_thread::yield();
        }
    });
    const auto letABlockRun = [&] {
        const int seen = blocks.load();
        while (blocks.load() < seen + 1) std::this_thread::yield();
    };

    for (int round = 0; round < 200; ++round) {
        backend->sink->shortMessage(0, 0x90, static_cast<std::uint8_t>(40 + round % 40), 100, atFrame(0));
        letABlockRun();
        for (int device : {0, 1}) {
            layer->closePort(device); // a device port, audio running
            letABlockRun();
            layer->openPort(device, "Keys " + std::to_string(device));
        }
        const int mainPort = layer->ports().numInputs;
        layer->closePort(mainPort); // the virtual port, audio running
        letABlockRun();
        layer->openPort(mainPort, "MAIN");
        if (round % 8 == 3) {
            layer->setMIDI(iClose); // audio held: only the blocks' tails run
            letABlockRun();
            layer->setMIDI(iOpen);
        } else if (round % 8 == 7) {
            layer->setMIDI(iClose | iHalt); // as at shutdown: blocks go on processing
            letABlockRun();
            layer->setMIDI(iOpen);
        }
    }
    stop = true;
    keyboard.join();
    driver.join();
    engine.setHooks(nullptr);
    // The notes went through the ports into the synthesizer while they were being replaced.
    EXPECT_GT(rack.slot(channel).PeakL.load(), 0.0f);
}

} // namespace
} // namespace trelvo::midi
