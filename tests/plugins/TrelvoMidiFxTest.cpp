#include <gtest/gtest.h>

#include "TestPaths.h"
#include "support/DirectPlugin.h"

namespace trelvo::test {
namespace {

using Bytes = std::vector<unsigned char>;

class TrelvoMidiFxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin.loaded()) << plugin.error();
        plugin.open();
        plugin.takeHostCalls();
    }

    // Runs one processing call and returns the events sent to the host: frame, then bytes.
    std::vector<Bytes> runAndCollect() {
        float* none[2] = {scratch, scratch};
        plugin.effect()->processReplacing(plugin.effect(), none, none, 64);
        std::vector<Bytes> events;
        for (const HostCall& call : plugin.takeHostCalls())
            if (call.opcode == audioMasterProcessEvents)
                events.insert(events.end(), call.events.begin(), call.events.end());
        return events;
    }

    DirectPlugin plugin{TrelvoMidiFx_PATH};
    float scratch[64] = {};
};

TEST_F(TrelvoMidiFxTest, HasNoAudioAndSaysItSendsMidi) {
    EXPECT_EQ(plugin.effect()->numInputs, 0);
    EXPECT_EQ(plugin.effect()->numOutputs, 0);
    EXPECT_EQ(plugin.dispatch(effCanDo, 0, 0, const_cast<char*>("sendVstMidiEvent")), 1);
}

TEST_F(TrelvoMidiFxTest, SendsBackWhatItReceivesAtTheSameFrames) {
    plugin.sendMidi({{3, 0x90, 60, 100}, {9, 0xB0, 7, 90}, {20, 0x80, 60, 0}});
    EXPECT_EQ(runAndCollect(), (std::vector<Bytes>{{3, 0x90, 60, 100}, {9, 0xB0, 7, 90}, {20, 0x80, 60, 0}}));
    EXPECT_TRUE(runAndCollect().empty());
}

TEST_F(TrelvoMidiFxTest, TransposesNotesAndDropsThoseThatLeaveTheKeyRange) {
    plugin.effect()->setParameter(plugin.effect(), 0, 0.75f); // +12
    EXPECT_EQ(plugin.text(effGetParamDisplay, 0), "12");
    plugin.sendMidi({{0, 0x90, 60, 100}, {1, 0x90, 120, 100}, {2, 0xA0, 61, 30}, {3, 0xB0, 64, 127}});
    EXPECT_EQ(runAndCollect(), (std::vector<Bytes>{{0, 0x90, 72, 100}, {2, 0xA0, 73, 30}, {3, 0xB0, 64, 127}}));

    plugin.effect()->setParameter(plugin.effect(), 0, 0.0f); // -24
    plugin.sendMidi({{0, 0x80, 30, 0}, {0, 0x80, 10, 0}});
    EXPECT_EQ(runAndCollect(), (std::vector<Bytes>{{0, 0x80, 6, 0}}));
}

TEST_F(TrelvoMidiFxTest, SendsItsSysExOnceWhenAsked) {
    plugin.effect()->setParameter(plugin.effect(), 1, 1.0f);
    plugin.sendMidi({{0, 0x90, 60, 1}});
    const auto events = runAndCollect();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (Bytes{0, 0xF0, 0x7D, 0x54, 0x52, 0x4C, 0x56, 0xF7}));
    EXPECT_EQ(events[1], (Bytes{0, 0x90, 60, 1}));
    EXPECT_FLOAT_EQ(plugin.effect()->getParameter(plugin.effect(), 1), 0.0f);
    EXPECT_TRUE(runAndCollect().empty());
}

} // namespace
} // namespace trelvo::test
