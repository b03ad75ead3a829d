#pragma once
// Racks and direct plug-in calls shared by the benchmarks.

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "TestPaths.h"
#include "diag/DiagLog.h"
#include "platform/FloatingPoint.h"
#include "support/EngineRunner.h"

namespace trelvo::bench {

using rack::SlotKind;
using test::addPlugIn;
using test::EngineRunner;

inline const char* const kHeavyPlugIns[] = {"/usr/lib/vst/MVerb-vst.so", "/usr/lib/vst/MaFreeverb-vst.so"};

/// The light rack: one channel with 24 DPF 3BandEQ in series.
inline const char* const kEqPlugIn = "/usr/lib/vst/3BandEQ-vst.so";
constexpr int kEqCount = 24;

inline void quietLog() {
    trelvo::diag::theLog().switches.debugOutput = false;
}

inline void fillInputs(EngineRunner& runner) {
    for (std::size_t i = 0; i < runner.inLeft.size(); ++i) {
        runner.inLeft[i] = 0.3f * std::sin(0.01f * static_cast<float>(i));
        runner.inRight[i] = 0.3f * std::cos(0.013f * static_cast<float>(i));
    }
}

/// 1 output, 8 channels and 23 TrelvoGain slots: a full rack of 32.
inline std::unique_ptr<EngineRunner> gainRack(int blockSize) {
    auto runner = std::make_unique<EngineRunner>(blockSize);
    runner->rack.addSlot(SlotKind::Output);
    int plugIns = 0;
    for (int c = 0; c < 8; ++c) {
        const int channel = runner->rack.addSlot(SlotKind::Channel);
        runner->rack.slot(channel).InpVol.set(0);
        for (int k = 0; k < 3 && plugIns < 23; ++k, ++plugIns) addPlugIn(runner->rack, TrelvoGain_PATH, "Gain");
    }
    runner->start();
    fillInputs(*runner);
    for (int b = 0; b < 20; ++b) runner->block(); // past the fade-ins
    return runner;
}

/// 1 output and 8 channels, each with two DPF effects.
inline std::unique_ptr<EngineRunner> heavyRack(int blockSize) {
    auto runner = std::make_unique<EngineRunner>(blockSize);
    runner->rack.addSlot(SlotKind::Output);
    for (int c = 0; c < 8; ++c) {
        const int channel = runner->rack.addSlot(SlotKind::Channel);
        runner->rack.slot(channel).InpVol.set(-6);
        for (const char* path : kHeavyPlugIns) addPlugIn(runner->rack, path, "Heavy");
    }
    runner->start();
    fillInputs(*runner);
    for (int b = 0; b < 20; ++b) runner->block();
    return runner;
}

/// 1 output and 1 channel with 24 3BandEQ in series, the channel at 0 dB.
inline std::unique_ptr<EngineRunner> eqRack(int blockSize) {
    auto runner = std::make_unique<EngineRunner>(blockSize);
    runner->rack.addSlot(SlotKind::Output);
    const int channel = runner->rack.addSlot(SlotKind::Channel);
    runner->rack.slot(channel).InpVol.set(0);
    for (int k = 0; k < kEqCount; ++k) addPlugIn(runner->rack, kEqPlugIn, "EQ");
    runner->start();
    fillInputs(*runner);
    for (int b = 0; b < 20; ++b) runner->block();
    return runner;
}

/// 1 output and 8 channels of unequal weight: the first with both DPF effects, three with
/// one of them, four with a TrelvoGain only.
inline std::unique_ptr<EngineRunner> unequalRack(int blockSize) {
    auto runner = std::make_unique<EngineRunner>(blockSize);
    runner->rack.addSlot(SlotKind::Output);
    for (int c = 0; c < 8; ++c) {
        const int channel = runner->rack.addSlot(SlotKind::Channel);
        runner->rack.slot(channel).InpVol.set(-6);
        if (c == 0)
            for (const char* path : kHeavyPlugIns) addPlugIn(runner->rack, path, "Heavy");
        else if (c < 4)
            addPlugIn(runner->rack, kHeavyPlugIns[c % 2], "Heavy");
        else
            addPlugIn(runner->rack, TrelvoGain_PATH, "Gain");
    }
    runner->start();
    fillInputs(*runner);
    for (int b = 0; b < 20; ++b) runner->block();
    return runner;
}

/// Calls every plug-in of the rack directly, strip by strip, on the strip's own work pair
/// (the previous plug-in's output is the next one's input), with the same floating-point
/// mode the engine uses.
class DirectCalls {
public:
    DirectCalls(EngineRunner& runner, int blockSize) : frames(blockSize) {
        platform::maskFloatingPointExceptions();
        input[0] = runner.inLeft;
        input[1] = runner.inRight;
        rack::StripBuffers* buffers = nullptr;
        for (int i = 0; i < runner.rack.numSlots(); ++i) {
            host::TVstPlugIn& slot = runner.rack.slot(i);
            if (slot.IsMixer) buffers = slot.buffers.get();
            if (slot.hasEffect() && buffers != nullptr) calls.push_back({slot.PVstEffect.load(), buffers});
        }
    }
    void run() {
        rack::StripBuffers* previous = nullptr;
        bool swap = false;
        for (const Call& call : calls) {
            swap = call.buffers == previous ? !swap : false;
            if (call.buffers != previous) {
                // Each strip starts from the same input, as in the rack.
                for (int c = 0; c < 2; ++c)
                    std::copy(input[c].begin(), input[c].end(), call.buffers->input->channel(c));
            }
            previous = call.buffers;
            float** in = swap ? call.buffers->output->channels() : call.buffers->input->channels();
            float** out = swap ? call.buffers->input->channels() : call.buffers->output->channels();
            call.effect->processReplacing(call.effect, in, out, frames);
        }
    }

private:
    struct Call {
        AEffect* effect;
        rack::StripBuffers* buffers;
    };
    int frames;
    std::vector<Call> calls;
    std::vector<float> input[2];
};

} // namespace trelvo::bench
