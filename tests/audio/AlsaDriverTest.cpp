// The ALSA driver on the user-space "file" PCM: what it writes is the engine's output
// after conversion to the device's format.
#include "audio/AlsaDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>

#include "TestPaths.h"
#include "audio/DriverSettings.h"
#include "audio/SampleConverters.h"
#include "platform/Clock.h"
#include "rack/AudioEngine.h"
#include "rack/EngineControl.h"
#include "rack/Rack.h"
#include "support/EngineRunner.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::audio {
namespace {

TEST(AlsaDriver, TheFilePcmReceivesTheEnginesOutputConvertedToItsFormat) {
    test::LogCapture log;
    test::TempFolder folder;
    const std::string file = folder.file("out.raw");
    DriverSettings settings;
    settings.bufferSize = 256;
    settings.sampleRate = 48000.0;
    settings.formatForced = true;
    settings.format = SampleType::Int16LSB;
    storeSettings("ALSA: test file", settings);

    rack::Rack rack;
    rack.addSlot(rack::SlotKind::Output);
    rack.addSlot(rack::SlotKind::Channel);
    const int gain = test::addPlugIn(rack, TrelvoFaulty_Plain_PATH, "Tone"); // passes its input on
    rack::AudioEngine engine(rack);
    rack::UiMessageQueue messages;
    EngineControl control(rack, engine, messages);
    control.sleep = [](int ms) { platform::sleepMs(static_cast<unsigned>(ms)); };
    engine.applicationStage = 6;
    // The host first, without a driver, so that the test can listen in before any block runs.
    control.ASIOinit({{"ALSA: test file", "alsa", "file",
                       [file] { return std::make_unique<AlsaDriver>("ALSA: test file", "file:'" + file + "',raw"); }}});
    ASSERT_NE(control.host(), nullptr);

    // Record what the engine hands the driver, block by block, beside the file.
    constexpr int kBlocks = 16;
    static float recorded[kBlocks][2][256];
    std::atomic<int> seen{0};
    auto engineStep = control.host()->OnBufferSwitch;
    float phase = 0.0f;
    control.host()->OnBufferSwitch = [&](const float* const* in, int numIn, float* const* out, int numOut, int frames) {
        // A known signal instead of the silent driver input.
        static float tone[256];
        for (int i = 0; i < frames; ++i, phase += 0.01f) tone[i] = 0.6f * std::sin(phase);
        const float* inputs[2] = {tone, tone};
        engineStep(inputs, 2, out, numOut, frames);
        const int block = seen.load();
        if (block < kBlocks) {
            std::memcpy(recorded[block][0], out[0], sizeof(float) * 256);
            std::memcpy(recorded[block][1], out[1], sizeof(float) * 256);
            seen = block + 1;
        }
    };
    rack.slot(1).InpVol.set(0);
    engine.applicationStage = rack::kStageRunning;
    control.ASIOchange(0);
    ASSERT_TRUE(control.hostReady()) << ::testing::PrintToString(log.errors());
    ASSERT_EQ(control.host()->activeOutputs, 2);
    EXPECT_EQ(control.host()->outputInfos[0].type, SampleType::Int16LSB);
    for (int wait = 0; wait < 200 && seen.load() < kBlocks; ++wait) platform::sleepMs(10);
    control.setAllowed(kAllowedStop);
    ASSERT_EQ(seen.load(), kBlocks);

    const std::string written = test::readFile(file);
    ASSERT_GE(written.size(), static_cast<std::size_t>(kBlocks) * 256 * 2 * 2);
    const auto* samples = reinterpret_cast<const std::int16_t*>(written.data());
    bool heard = false;
    for (int b = 0; b < kBlocks; ++b)
        for (int c = 0; c < 2; ++c) {
            std::int16_t expected[256];
            outputConverterFor(SampleType::Int16LSB)(recorded[b][c], expected, 256);
            for (int i = 0; i < 256; ++i) {
                ASSERT_EQ(samples[(b * 256 + i) * 2 + c], expected[i])
                    << "block " << b << " channel " << c << " frame " << i;
                heard |= expected[i] != 0;
            }
        }
    EXPECT_TRUE(heard);
    EXPECT_EQ(gain, 2);
}

TEST(AlsaDriver, ADeviceThatDoesNotExistFailsToOpenWithAMessage) {
    test::LogCapture log;
    rack::Rack rack;
    rack::AudioEngine engine(rack);
    rack::UiMessageQueue messages;
    EngineControl control(rack, engine, messages);
    engine.applicationStage = 6;
    control.selectedDriverName = "ALSA: nowhere";
    control.ASIOinit({{"ALSA: nowhere", "alsa", "hw:77,0",
                       [] { return std::make_unique<AlsaDriver>("ALSA: nowhere", "hw:77,0"); }}});
    EXPECT_FALSE(control.hostReady());
    EXPECT_NE(std::find(log.errors().begin(), log.errors().end(), "ASIO Driver Failed!"), log.errors().end());
}

} // namespace
} // namespace trelvo::audio
