// The audio engine's cost: the host's own work per slot and frame, the rack against
// calling the same plug-ins directly, and the speed-up of "UseAllCPUs".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "TestPaths.h"
#include "diag/DiagLog.h"
#include "platform/FloatingPoint.h"
#include "support/EngineRunner.h"

namespace {

using trelvo::rack::SlotKind;
using trelvo::test::addPlugIn;
using trelvo::test::EngineRunner;

const char* const kHeavyPlugIns[] = {"/usr/lib/vst/MVerb-vst.so", "/usr/lib/vst/MaFreeverb-vst.so"};

void quietLog() { trelvo::diag::theLog().switches.debugOutput = false; }

void fillInputs(EngineRunner& runner) {
    for (std::size_t i = 0; i < runner.inLeft.size(); ++i) {
        runner.inLeft[i] = 0.3f * std::sin(0.01f * static_cast<float>(i));
        runner.inRight[i] = 0.3f * std::cos(0.013f * static_cast<float>(i));
    }
}

/// 1 output, 8 channels and 23 TrelvoGain slots: a full rack of 32.
std::unique_ptr<EngineRunner> gainRack(int blockSize) {
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
std::unique_ptr<EngineRunner> heavyRack(int blockSize) {
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

/// Calls every plug-in of the rack directly, strip by strip, on the strip's own work pair
/// (the previous plug-in's output is the next one's input), with the same floating-point
/// mode the engine uses.
class DirectCalls {
public:
    DirectCalls(EngineRunner& runner, int blockSize) : frames(blockSize) {
        trelvo::platform::maskFloatingPointExceptions();
        input[0] = runner.inLeft;
        input[1] = runner.inRight;
        trelvo::rack::StripBuffers* buffers = nullptr;
        for (int i = 0; i < runner.rack.numSlots(); ++i) {
            trelvo::host::TVstPlugIn& slot = runner.rack.slot(i);
            if (slot.IsMixer) buffers = slot.buffers.get();
            if (slot.hasEffect() && buffers != nullptr) calls.push_back({slot.PVstEffect.load(), buffers});
        }
    }
    void run() {
        trelvo::rack::StripBuffers* previous = nullptr;
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
        trelvo::rack::StripBuffers* buffers;
    };
    int frames;
    std::vector<Call> calls;
    std::vector<float> input[2];
};

void GainRackBlock(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto runner = gainRack(blockSize);
    runner->engine.rampLoopsOnly = state.range(1) != 0;
    for (auto _ : state) runner->block();
    state.counters["ns_per_slot_frame"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 32 * blockSize,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(GainRackBlock)->ArgsProduct({{64, 256}, {0, 1}})->ArgNames({"block", "ramps"});

void GainPlugInsDirect(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto runner = gainRack(blockSize);
    DirectCalls direct(*runner, blockSize);
    for (auto _ : state) direct.run();
    state.counters["ns_per_slot_frame"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 32 * blockSize,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(GainPlugInsDirect)->Arg(64)->Arg(256)->ArgName("block");

void HeavyRackBlock(benchmark::State& state) {
    quietLog();
    auto runner = heavyRack(static_cast<int>(state.range(0)));
    runner->engine.useAllCpus = state.range(1) != 0;
    for (auto _ : state) runner->block();
}
BENCHMARK(HeavyRackBlock)->ArgsProduct({{64, 256}, {0, 1}})->ArgNames({"block", "allcpus"})->UseRealTime();

void HeavyPlugInsDirect(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto runner = heavyRack(blockSize);
    DirectCalls direct(*runner, blockSize);
    for (auto _ : state) direct.run();
}
BENCHMARK(HeavyPlugInsDirect)->Arg(64)->Arg(256)->ArgName("block")->UseRealTime();

/// The rack against direct calls, interleaved block by block so that both see the same
/// machine load; two identical racks, one driven by the engine, one called directly.
void HeavyRackOverDirect(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto engineRack = heavyRack(blockSize);
    auto directRack = heavyRack(blockSize);
    DirectCalls direct(*directRack, blockSize);
    double rackNs = 0.0, directNs = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        engineRack->block();
        const auto t1 = std::chrono::steady_clock::now();
        direct.run();
        const auto t2 = std::chrono::steady_clock::now();
        rackNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        directNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
    }
    state.counters["rack_us"] = rackNs / 1000.0 / static_cast<double>(state.iterations());
    state.counters["direct_us"] = directNs / 1000.0 / static_cast<double>(state.iterations());
    state.counters["ratio"] = rackNs / directNs;
}
BENCHMARK(HeavyRackOverDirect)->Arg(64)->Arg(256)->ArgName("block");

/// "UseAllCPUs" against the single thread, interleaved the same way.
void HeavyAllCpusSpeedUp(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto single = heavyRack(blockSize);
    auto split = heavyRack(blockSize);
    split->engine.useAllCpus = true;
    for (int b = 0; b < 20; ++b) split->block();
    double singleNs = 0.0, splitNs = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        single->block();
        const auto t1 = std::chrono::steady_clock::now();
        split->block();
        const auto t2 = std::chrono::steady_clock::now();
        singleNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        splitNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
    }
    state.counters["single_us"] = singleNs / 1000.0 / static_cast<double>(state.iterations());
    state.counters["split_us"] = splitNs / 1000.0 / static_cast<double>(state.iterations());
    state.counters["speedup"] = singleNs / splitNs;
}
BENCHMARK(HeavyAllCpusSpeedUp)->Arg(64)->Arg(256)->ArgName("block");

} // namespace
