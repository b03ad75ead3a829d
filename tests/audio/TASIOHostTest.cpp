#include "audio/TASIOHost.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/FakeDriver.h"

namespace trelvo::audio {
namespace {

using test::FakeDriver;

class TASIOHostTest : public ::testing::Test {
protected:
    void TearDown() override { channelSelection() = ChannelSelection{}; }

    TASIOHost& makeHost(SampleType type, int inputs, int outputs, int minimum, int maximum, int preferred,
                        bool dropHalf = false) {
        host = std::make_unique<TASIOHost>(
            &messages, std::vector<DriverEntry>{{"Fake", "fake", "", [=, this] {
                                                     auto driver = std::make_unique<FakeDriver>(
                                                         type, inputs, outputs, minimum, maximum, preferred);
                                                     driver->dropSecondHalfOfFirst = dropHalf;
                                                     fake = driver.get();
                                                     return driver;
                                                 }}});
        host->setDriverIndex(0);
        return *host;
    }

    rack::UiMessageQueue messages;
    std::unique_ptr<TASIOHost> host;
    FakeDriver* fake = nullptr;
};

TEST_F(TASIOHostTest, AFixedSizeDriverIsUsedAtItsOnlySize) {
    EXPECT_EQ(makeHost(SampleType::Float32LSB, 2, 2, 128, 128, 512).bufferSize, 128);
    EXPECT_EQ(makeHost(SampleType::Float32LSB, 2, 2, 64, 1024, 512).bufferSize, 512);
    EXPECT_TRUE(host->ready());
    EXPECT_TRUE(host->buffersCreated());
    EXPECT_EQ(host->driverName, "Fake");
}

TEST_F(TASIOHostTest, ChannelsLeftOutGetNoArrayAndTheRestArePackedInDriverOrder) {
    channelSelection().inputs = {0, -1, 0};
    channelSelection().outputs = {-1, 0, 0};
    makeHost(SampleType::Int16LSB, 3, 3, 4, 4, 4);
    EXPECT_EQ(host->activeInputs, 2);
    EXPECT_EQ(host->activeOutputs, 2);

    // Driver input 2 becomes the engine's second input; engine output 0 goes to driver output 1.
    const std::int16_t in0[4] = {16384, 0, 0, 0}, in2[4] = {-32768, 0, 0, 0};
    std::memcpy(fake->half(true, 0, 0), in0, sizeof in0);
    std::memcpy(fake->half(true, 2, 0), in2, sizeof in2);
    ASSERT_EQ(fake->half(true, 1, 0), nullptr);
    std::vector<float> seen;
    host->OnBufferSwitch = [&](const float* const* inputs, int numInputs, float* const* outputs, int numOutputs,
                               int frames) {
        ASSERT_EQ(numInputs, 2);
        ASSERT_EQ(numOutputs, 2);
        ASSERT_EQ(frames, 4);
        seen = {inputs[0][0], inputs[1][0]};
        outputs[0][0] = 1.0f;
        outputs[1][0] = -0.5f;
    };
    host->setActive(true);
    fake->block(0);
    EXPECT_EQ(seen, (std::vector<float>{0.5f, -1.0f}));
    std::int16_t out1[4], out2[4];
    std::memcpy(out1, fake->half(false, 1, 0), sizeof out1);
    std::memcpy(out2, fake->half(false, 2, 0), sizeof out2);
    EXPECT_EQ(out1[0], 32767);
    EXPECT_EQ(out2[0], -16384);
}

TEST_F(TASIOHostTest, AMissingBufferHalfLeavesThatChannelsArrayAsItWas) {
    // Converted samples: the array keeps the last block's input.
    makeHost(SampleType::Int32LSB, 1, 1, 2, 2, 2, true);
    const std::int32_t quarter[2] = {1 << 29, 1 << 29}, threeQuarters[2] = {3 << 29, 3 << 29};
    std::memcpy(fake->half(true, 0, 0), quarter, sizeof quarter);
    std::memcpy(fake->half(true, 0, 1), threeQuarters, sizeof threeQuarters);
    std::vector<float> seen;
    host->OnBufferSwitch = [&](const float* const* inputs, int, float* const*, int, int) {
        seen.push_back(inputs[0][0]);
    };
    host->setActive(true);
    fake->block(0);
    fake->block(1); // half 1 of input 0 is missing: the array keeps 0.25
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FLOAT_EQ(seen[0], 0.25f);
    EXPECT_FLOAT_EQ(seen[1], 0.25f);
}

TEST_F(TASIOHostTest, FloatChannelsAreReadInTheDriversMemoryAndAMissingHalfIsSilence) {
    // The engine reads the driver's half itself; where a half is missing it gets silence,
    // never the other half, which the driver may be filling at that moment.
    makeHost(SampleType::Float32LSB, 1, 1, 2, 2, 2, true);
    const float first[2] = {0.25f, 0.25f}, second[2] = {0.75f, 0.75f};
    std::memcpy(fake->half(true, 0, 0), first, sizeof first);
    std::memcpy(fake->half(true, 0, 1), second, sizeof second);
    std::vector<const float*> where;
    std::vector<float> seen;
    host->OnBufferSwitch = [&](const float* const* inputs, int, float* const* outputs, int, int) {
        where.push_back(inputs[0]);
        seen.push_back(inputs[0][0]);
        outputs[0][0] = outputs[0][1] = 0.5f;
    };
    host->setActive(true);
    fake->block(0);
    fake->block(1);
    EXPECT_EQ(where[0], reinterpret_cast<const float*>(fake->half(true, 0, 0)));
    EXPECT_EQ(seen, (std::vector<float>{0.25f, 0.0f}));
    float out[2] = {};
    std::memcpy(out, fake->half(false, 0, 0), sizeof out); // written in place
    EXPECT_EQ(out[0], 0.5f);
}

TEST_F(TASIOHostTest, DriverMessagesAreAnsweredAndNoticesPosted) {
    makeHost(SampleType::Float32LSB, 2, 2, 64, 64, 64);
    EXPECT_EQ(host->asioMessage(kAsioSelectorSupported, kAsioBufferSizeChange), 0);
    for (int supported : {2, 3, 5, 6, 7, 8})
        EXPECT_EQ(host->asioMessage(kAsioSelectorSupported, supported), 1) << supported;
    EXPECT_EQ(host->asioMessage(kAsioSelectorSupported, 9), 0);
    EXPECT_EQ(host->asioMessage(kAsioEngineVersion, 0), 2);
    EXPECT_EQ(host->asioMessage(kAsioSupportsTimeInfo, 0), 1);
    EXPECT_EQ(host->asioMessage(kAsioMMCCommand, 0), 0);
    EXPECT_EQ(host->asioMessage(kAsioResetRequest, 0), 1);
    EXPECT_EQ(host->asioMessage(kAsioBufferSizeChange, 0), 1);
    EXPECT_EQ(host->asioMessage(kAsioLatenciesChanged, 0), 1);
    std::vector<std::intptr_t> notices;
    rack::UiMessage message;
    while (messages.take(message)) {
        EXPECT_EQ(message.code, rack::kMsgAsioNotice);
        notices.push_back(message.wParam);
    }
    EXPECT_EQ(notices, (std::vector<std::intptr_t>{kNoticeReset, kNoticeReset, kNoticeLatencies}));
}

TEST_F(TASIOHostTest, StoppingClearsTheOutputHalvesAndAFailedStartIsReported) {
    makeHost(SampleType::Int32LSB, 0, 1, 8, 8, 8);
    host->OnBufferSwitch = [](const float* const*, int, float* const* outputs, int, int frames) {
        for (int i = 0; i < frames; ++i) outputs[0][i] = 0.5f;
    };
    ASSERT_TRUE(host->setActive(true));
    fake->block(0);
    fake->block(1);
    EXPECT_NE(fake->half(false, 0, 1)[0] | fake->half(false, 0, 1)[3], 0);
    host->setActive(false);
    for (int half = 0; half < 2; ++half)
        for (int byte = 0; byte < 32; ++byte) ASSERT_EQ(fake->half(false, 0, half)[byte], 0);
    fake->startResult = ASE_HWMalfunction;
    EXPECT_FALSE(host->setActive(true));
    EXPECT_FALSE(host->isActive());
}

} // namespace
} // namespace trelvo::audio
