// The surface protocol on its own: what the host answers, sends and holds back, with a clock
// of the test's own and the output collected as it would go to the device.
#include "rack/SurfaceState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace trelvo::rack {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::atomic<std::uint32_t> fakeNow{1000};
std::uint32_t fakeClock() {
    return fakeNow.load();
}

class SurfaceStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeNow = 1000;
        surface.setClock(&fakeClock);
        surface.setMessages(&messages);
    }

    void begin(const std::string& name) {
        surface.setup(name, 1);
        surface.beginConnecting();
        fakeNow += SurfaceState::kStartDelayMs;
        surface.markStarted();
    }

    std::vector<Bytes> flush() {
        std::vector<Bytes> sent;
        surface.flush(
            [](void* context, const std::uint8_t* bytes, std::size_t length) {
                static_cast<std::vector<Bytes>*>(context)->emplace_back(bytes, bytes + length);
            },
            &sent);
        return sent;
    }

    void receive(const Bytes& bytes) {
        midi::MidiEvent event;
        event.status = bytes[0];
        if (bytes[0] == 0xF0) {
            event.sysexLength = static_cast<std::uint32_t>(bytes.size());
            surface.interpret(event, bytes.data());
            return;
        }
        event.data1 = bytes.size() > 1 ? bytes[1] : 0;
        event.data2 = bytes.size() > 2 ? bytes[2] : 0;
        surface.interpret(event, nullptr);
    }

    std::vector<UiMessage> posted() {
        std::vector<UiMessage> all;
        UiMessage message;
        while (messages.take(message)) all.push_back(message);
        return all;
    }

    static bool isSysex(const Bytes& message) { return !message.empty() && message[0] == 0xF0; }

    SurfaceState surface;
    UiMessageQueue messages;
};

Bytes query(std::uint8_t id, int dataBytes) {
    Bytes message{0xF0, 0x00, 0x00, 0x66, id, 0x01};
    for (int i = 0; i < dataBytes; ++i) message.push_back(static_cast<std::uint8_t>(0x10 + i));
    message.push_back(0xF7);
    return message;
}

TEST_F(SurfaceStateTest, TheHandshakeAnswersTheQueryAndAsksForTheVersionLater) {
    surface.setup("LCU", 1);
    surface.beginConnecting();
    const Bytes note{0x90, 5, 127};
    surface.sendRaw(note.data(), note.size());
    receive(query(0x10, 12));
    // During the start delay only the handshake goes out.
    const std::vector<Bytes> reply = flush();
    ASSERT_EQ(reply.size(), 1u);
    // An LCU answers with eleven of the query's bytes, under its own id.
    Bytes expected{0xF0, 0x00, 0x00, 0x66, 0x10, 0x02};
    for (int i = 0; i < 11; ++i) expected.push_back(static_cast<std::uint8_t>(0x10 + i));
    expected.push_back(0xF7);
    EXPECT_EQ(reply[0], expected);
    fakeNow += SurfaceState::kStartDelayMs;
    EXPECT_EQ(flush(), (std::vector<Bytes>{note})) << "the rest waits for the end of the delay";

    receive({0xF0, 0x00, 0x00, 0x66, 0x10, 0x03, 0x10, 0xF7});
    EXPECT_TRUE(flush().empty()) << "the version request is stamped 350 ms ahead";
    fakeNow += 349;
    EXPECT_TRUE(flush().empty());
    fakeNow += 1;
    EXPECT_EQ(flush(), (std::vector<Bytes>{{0xF0, 0x00, 0x00, 0x66, 0x10, 0x13, 0xF7}}));

    EXPECT_FALSE(surface.answered());
    receive({0xF0, 0x00, 0x00, 0x66, 0x10, 0x14, 'V', '1', 0xF7});
    EXPECT_TRUE(surface.answered());
    const std::vector<UiMessage> notes = posted();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().code, kMsgSurfaceStatus);
    EXPECT_EQ(notes.back().wParam, kSurfaceVersion);
}

TEST_F(SurfaceStateTest, AnMcuReplyCarriesTwelveBytesButNeverTheQuerysEndByte) {
    surface.setup("MCU", 1);
    fakeNow += SurfaceState::kStartDelayMs;
    receive(query(0x14, 12));
    std::vector<Bytes> reply = flush();
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].size(), 6u + 12u + 1u);
    // A query of seven serial and four challenge bytes: the reply ends after them.
    receive(query(0x14, 11));
    reply = flush();
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].size(), 6u + 11u + 1u);
    EXPECT_EQ(reply[0][16], 0x1A);
    EXPECT_EQ(reply[0].back(), 0xF7);
}

TEST_F(SurfaceStateTest, BadSysexIsIgnoredAndCounted) {
    surface.setup("MCU", 1);
    fakeNow += SurfaceState::kStartDelayMs;
    receive({0xF0, 0x00, 0x00, 0x66, 0x14, 0x01, 0x10, 0x11}); // truncated, no end byte
    receive(query(0x14, 5));                                   // too short a query
    receive({0xF0, 0x00, 0x20, 0x32, 0x14, 0x01, 0xF7});       // another manufacturer
    receive(query(0x10, 11));                                  // another device's id
    receive({0xF0, 0xF7});
    Bytes eightBit = query(0x14, 11);
    eightBit[8] = 0xF7; // an end byte inside: the reply would be two messages
    receive(eightBit);
    receive({0xB0, 7, 100});  // a controller below 16
    receive({0xB0, 64, 127}); // a controller no surface control sends
    EXPECT_TRUE(flush().empty());
    EXPECT_EQ(surface.ignoredMessages(), 7u);
    EXPECT_TRUE(posted().empty());
}

TEST_F(SurfaceStateTest, ATouchedFaderGetsNoPositionUntilItIsReleased) {
    begin("MCU");
    flush();
    receive({0x90, 104, 127}); // touch fader 1
    surface.setFader(0, 512);
    surface.setFader(1, 512);
    EXPECT_EQ(flush(), (std::vector<Bytes>{{0xE1, 0, 64}}));
    receive({0x90, 104, 0});
    surface.setFader(0, 512);
    EXPECT_EQ(flush(), (std::vector<Bytes>{{0xE0, 0, 64}}));
    surface.setFader(0, 512);
    EXPECT_TRUE(flush().empty()) << "an unchanged position is not sent again";
}

TEST_F(SurfaceStateTest, TheDisplaySendsOnlyWhatChanged) {
    begin("MCU");
    flush();
    // After the start the whole line goes out: what the surface showed before is unknown.
    surface.writeDisplay("c1_Piano", 0, SurfaceState::kWriteLine);
    std::vector<Bytes> sent = flush();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][6], 0);
    EXPECT_EQ(sent[0].size(), 7u + 56u + 1u);
    surface.writeDisplay("c1_Piano", 0, SurfaceState::kWriteLine);
    EXPECT_TRUE(flush().empty()) << "the same text twice is one message";
    surface.writeDisplay("c1_Organ", 0, SurfaceState::kWriteLine);
    sent = flush();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][6], 3);
    EXPECT_EQ(Bytes(sent[0].begin() + 7, sent[0].end() - 1), (Bytes{'O', 'r', 'g', 'a', 'n'}));
    EXPECT_EQ(surface.lcdLine(1).substr(0, 9), "c1_Organ ");

    // Mode 4 blanks everything after the text, line 2 included; a line write fills one line.
    surface.writeDisplay("second line", 56, SurfaceState::kWriteLine);
    surface.writeDisplay("...", 0, SurfaceState::kWriteAndBlankRest);
    EXPECT_EQ(surface.lcdLine(1), "..." + std::string(53, ' '));
    EXPECT_EQ(surface.lcdLine(2), std::string(56, ' '));
    // Text the surface cannot show becomes '?', one per character.
    surface.writeDisplay("Flûte", 0, 0);
    EXPECT_EQ(surface.lcdLine(1).substr(0, 5), "Fl?te");
}

TEST_F(SurfaceStateTest, ASurfaceWithoutDisplayNeverReceivesSysex) {
    surface.setup("BCRU", 2);
    EXPECT_TRUE(surface.noDisplay());
    surface.deviceQuery();
    fakeNow += SurfaceState::kStartDelayMs;
    surface.markStarted();
    surface.fadersToMinimum();
    surface.allLedsOff();
    surface.writeDisplay("...", 0, SurfaceState::kWriteAndBlankRest);
    surface.setAssignment("-.-");
    surface.setTimecode("1.1.000");
    surface.goOffline(0);
    surface.setRing(3, 0x13);
    surface.setLed(10, 1);
    fakeNow += 1000;
    const std::vector<Bytes> sent = flush();
    for (const Bytes& message : sent) EXPECT_FALSE(isSysex(message));
    // The faders and LEDs go to their rest one by one; the ring is a controller position.
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Bytes{0xE8, 0, 0}), 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Bytes{0x90, 118, 0}), 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Bytes{0xB0, 19, 28}), 1); // round(2 x 12.7) + 3
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Bytes{0x90, 10, 127}), 1) << "a blink is sent as on";
}

TEST_F(SurfaceStateTest, LedGroupsRingsAndSevenSegmentText) {
    begin("MCU");
    flush();
    surface.setLedGroup(24, 2);
    for (int key = 24; key < 32; ++key) EXPECT_EQ(surface.ledValue(key), key == 26 ? 127 : 0);
    surface.setLedGroup(91, 3);
    EXPECT_EQ(surface.ledValue(93), 0);
    EXPECT_EQ(surface.ledValue(94), 1) << "paused: play blinks";
    surface.setLedGroup(24, 8);
    EXPECT_EQ(surface.ledValue(26), 127) << "an index above 7 changes nothing";
    surface.setLedGroup(115, 15);
    EXPECT_EQ(surface.ledValue(115), 127) << "a key outside the groups takes any value";

    surface.setRing(0, 0x1F);
    EXPECT_EQ(surface.ringValue(0), 0x1B) << "positions above 11 are sent as 11";
    surface.setRing(1, 0x10);
    EXPECT_EQ(surface.ringValue(1), 0x50) << "boost/cut at 0 lights the centre";
    surface.setRing(2, 5 << 4);
    EXPECT_EQ(surface.ringValue(2), 64);

    surface.setAssignment("-.-");
    EXPECT_EQ(surface.assignmentText(), "-.-");
    std::vector<Bytes> sent = flush();
    EXPECT_EQ(sent.back(), (Bytes{0xF0, 0x00, 0x00, 0x66, 0x14, 0x11, '-' | 0x40, '-', 0xF7}));
    EXPECT_EQ(SurfaceState::segmentText(16, 37), "PP");
    EXPECT_EQ(SurfaceState::segmentText(2, 1 | 0x40), "bA.");
    EXPECT_EQ(SurfaceState::segmentText(0, 31), " _");

    surface.setTimecode("12.3");
    sent = flush();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0xF0, 0x00, 0x00, 0x66, 0x14, 0x10, '3', '2' | 0x40, '1', 0xF7})) << "reversed, dot on 2";
    surface.setTimecode("123456789012");
    sent = flush();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 6u + 10u + 1u) << "ten digits, the rightmost";
    EXPECT_EQ(sent[0][6], '2');
    EXPECT_EQ(sent[0][15], '3');
}

TEST_F(SurfaceStateTest, EncodersAndFadersAreFoldedIntoOneMessageEach) {
    begin("MCU");
    receive({0xB0, 16, 0x01});
    receive({0xB0, 16, 0x41});
    receive({0xB0, 16, 0x41});
    receive({0xB0, 17, 0x03});
    for (int i = 0; i < 5000; ++i)
        receive({0xE2, static_cast<std::uint8_t>((i & 7) << 4), static_cast<std::uint8_t>(i % 128)});
    const std::vector<UiMessage> notes = posted();
    ASSERT_EQ(notes.size(), 3u) << "one per control, however many messages came";
    EXPECT_EQ(surface.takeEncoderSteps(16), -1) << "0x41 is one step down, 0x01 one step up";
    EXPECT_EQ(surface.takeEncoderSteps(17), 3);
    EXPECT_EQ(surface.takeFaderPosition(2), (4999 % 128) * 8 + (4999 & 7)) << "the newest position wins";
    // A 14-bit value: the upper byte and the top three bits of the lower one.
    receive({0xE3, 0x7F, 0x7F});
    receive({0xE4, 0x70, 10});
    posted();
    EXPECT_EQ(surface.takeFaderPosition(3), 1023);
    EXPECT_EQ(surface.takeFaderPosition(4), 87);
    EXPECT_EQ(surface.takeFaderPosition(2), -1);
    receive({0xE2, 0, 10});
    EXPECT_EQ(posted().size(), 1u) << "taken positions post again";

    // A window message lost to a full queue does not leave the fader waiting for it.
    while (messages.post(kMsgAutomate, 0, 0)) {
    }
    receive({0xE5, 0, 20});
    posted();
    receive({0xE5, 0, 21});
    const std::vector<UiMessage> after = posted();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].wParam, kSurfaceFaderBase + 5);
    EXPECT_EQ(surface.takeFaderPosition(5), 21 * 8);

    receive({0x90, 40, 127});
    receive({0x90, 40, 0});
    receive({0x90, 120, 127});
    const std::vector<UiMessage> buttons = posted();
    ASSERT_EQ(buttons.size(), 1u) << "a press only; keys from 112 on are not commands";
    EXPECT_EQ(buttons[0].code, kMsgSurfaceButtons);
    EXPECT_EQ(buttons[0].wParam, 40);
}

TEST_F(SurfaceStateTest, StampedMessagesWaitAndAFullBufferDropsAndCounts) {
    begin("MCU");
    flush();
    surface.setLed(5, 127, 200);
    surface.setLed(6, 127);
    std::vector<Bytes> sent = flush();
    EXPECT_EQ(sent, (std::vector<Bytes>{{0x90, 6, 127}}));
    fakeNow += 200;
    EXPECT_EQ(flush(), (std::vector<Bytes>{{0x90, 5, 127}}));
    // A later value for the same LED replaces a stamped one still waiting.
    surface.setLed(7, 127, 50);
    surface.setLed(7, 0);
    EXPECT_EQ(flush(), (std::vector<Bytes>{{0x90, 7, 0}}));
    fakeNow += 50;
    EXPECT_TRUE(flush().empty());

    // Two-byte messages: nothing replaces them, so the buffer fills.
    for (int i = 0; i < 2000; ++i) surface.sendRaw(Bytes{0xD0, static_cast<std::uint8_t>(i & 0x7F)}.data(), 2);
    EXPECT_GT(surface.droppedOutput(), 0u);
    EXPECT_EQ(flush().size(), 1024u);
    EXPECT_TRUE(flush().empty());
}

} // namespace
} // namespace trelvo::rack
