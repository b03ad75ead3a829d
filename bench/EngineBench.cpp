// The audio engine's cost: the host's own work per slot and frame, the rack against
// calling the same plug-ins directly, and the speed-up of "UseAllCPUs".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "BenchRacks.h"
#include "TestPaths.h"
#include "diag/DiagLog.h"
#include "platform/FloatingPoint.h"
#include "support/EngineRunner.h"

namespace {

using namespace trelvo::bench;
using trelvo::test::EngineRunner;

void GainRackBlock(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto runner = gainRack(blockSize);
    runner->engine.rampLoopsOnly = state.range(1) != 0;
    for (auto _ : state) runner->block();
    state.counters["ns_per_slot_frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * 32 * blockSize,
                                                             benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(GainRackBlock)->ArgsProduct({{64, 256}, {0, 1}})->ArgNames({"block", "ramps"});

void GainPlugInsDirect(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto runner = gainRack(blockSize);
    DirectCalls direct(*runner, blockSize);
    for (auto _ : state) direct.run();
    state.counters["ns_per_slot_frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * 32 * blockSize,
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

/// A rack against direct calls, interleaved block by block so that both see the same
/// machine load; two identical racks, one driven by the engine, one called directly.
template <std::unique_ptr<EngineRunner> (*makeRack)(int)> void rackOverDirect(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto engineRack = makeRack(blockSize);
    auto directRack = makeRack(blockSize);
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
void HeavyRackOverDirect(benchmark::State& state) {
    rackOverDirect<heavyRack>(state);
}
BENCHMARK(HeavyRackOverDirect)->Arg(64)->Arg(256)->ArgName("block");

/// 24 light plug-ins in one strip: what the engine does around each call shows.
void EqRackOverDirect(benchmark::State& state) {
    rackOverDirect<eqRack>(state);
}
BENCHMARK(EqRackOverDirect)->Arg(64)->Arg(256)->ArgName("block");

/// One 3BandEQ in a channel, run in a worker process of its own against the same plug-in
/// in the process, block by block: the hand-over's cost per block (two wake-ups and the
/// copies). Every block is waited for, as when rendering, so that none falls back.
std::unique_ptr<EngineRunner> oneEq(int blockSize, bool isolated) {
    auto runner = std::make_unique<EngineRunner>(blockSize);
    runner->rack.host().slotWorker = TRELVO_SLOT_WORKER_PATH;
    runner->rack.host().offlineRendering = true;
    runner->rack.addSlot(SlotKind::Output);
    runner->rack.slot(runner->rack.addSlot(SlotKind::Channel)).InpVol.set(0);
    if (addPlugIn(runner->rack, kEqPlugIn, "EQ", isolated) < 0) return nullptr;
    runner->start();
    fillInputs(*runner);
    for (int b = 0; b < 200; ++b) runner->block();
    return runner;
}
void IsolatedOverInProcess(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto inProcess = oneEq(blockSize, false);
    auto isolated = oneEq(blockSize, true);
    if (!inProcess || !isolated) {
        state.SkipWithError("3BandEQ-vst.so (dpf-plugins-vst) did not load");
        return;
    }
    double inProcessNs = 0.0, isolatedNs = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        inProcess->block();
        const auto t1 = std::chrono::steady_clock::now();
        isolated->block();
        const auto t2 = std::chrono::steady_clock::now();
        inProcessNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        isolatedNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
    }
    const auto blocks = static_cast<double>(state.iterations());
    state.counters["in_process_us"] = inProcessNs / 1000.0 / blocks;
    state.counters["isolated_us"] = isolatedNs / 1000.0 / blocks;
    state.counters["extra_us"] = (isolatedNs - inProcessNs) / 1000.0 / blocks;
}
BENCHMARK(IsolatedOverInProcess)->Arg(64)->Arg(256)->ArgName("block");

/// "UseAllCPUs" against the single thread, interleaved the same way.
/// The engine with and without the work thread, block by block, on two copies of a rack.
template <std::unique_ptr<EngineRunner> (*makeRack)(int)> void allCpusSpeedUp(benchmark::State& state) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    auto single = makeRack(blockSize);
    auto split = makeRack(blockSize);
    split->engine.useAllCpus = true;
    for (int b = 0; b < 20; ++b) split->block();
    double singleNs = 0.0, splitNs = 0.0;
    std::int64_t workerStrips = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        single->block();
        const auto t1 = std::chrono::steady_clock::now();
        split->block();
        const auto t2 = std::chrono::steady_clock::now();
        singleNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        splitNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
        for (int i = 0; i < split->rack.numSlots(); ++i) workerStrips += split->rack.slot(i).workerFlag;
    }
    // How many strips the work thread ran per block, on average.
    state.counters["worker_strips"] = static_cast<double>(workerStrips) / static_cast<double>(state.iterations());
    state.counters["single_us"] = singleNs / 1000.0 / static_cast<double>(state.iterations());
    state.counters["split_us"] = splitNs / 1000.0 / static_cast<double>(state.iterations());
    state.counters["speedup"] = singleNs / splitNs;
}
void HeavyAllCpusSpeedUp(benchmark::State& state) {
    allCpusSpeedUp<heavyRack>(state);
}
BENCHMARK(HeavyAllCpusSpeedUp)->Arg(64)->Arg(256)->ArgName("block");

/// Strips of unequal weight: the split must never lose against one core.
void UnequalAllCpusSpeedUp(benchmark::State& state) {
    allCpusSpeedUp<unequalRack>(state);
}
BENCHMARK(UnequalAllCpusSpeedUp)->Arg(64)->Arg(256)->ArgName("block");

} // namespace
