// Offline rendering: seconds of audio per second of wall time for the demo, and for a rack
// of eight DPF effect chains and one of 24 light DPF EQs in series, against calling the same
// plug-ins directly on the same buffers.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchRacks.h"
#include "app/CommandLine.h"
#include "app/RunModes.h"
#include "media/AudioFile.h"
#include "platform/TrelvoHome.h"

namespace {

using namespace trelvo::bench;

constexpr double kRate = 48000.0;
constexpr int kBlock = 256;
/// Long enough that starting and stopping the rack (loading 16 plug-ins) is a small part.
constexpr double kSeconds = 30.0;

/// A Trelvo home folder of the benchmark's own, with the files a render needs.
struct Workspace {
    Workspace() {
        root = std::filesystem::temp_directory_path() / ("trelvo-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root);
        setenv("TRELVO_HOME", root.c_str(), 1);
        // The input the heavy rack's channels share.
        std::vector<float> left(static_cast<std::size_t>(kSeconds * kRate)), right(left.size());
        for (std::size_t i = 0; i < left.size(); ++i) {
            left[i] = 0.3f * std::sin(0.01f * static_cast<float>(i));
            right[i] = 0.3f * std::cos(0.013f * static_cast<float>(i));
        }
        std::string error;
        trelvo::media::writeFloatWav(file("input.wav"), left, right, static_cast<int>(kRate), error);
        std::string project = "[Project]\r\n01_OUTPUT=Master\r\n";
        int slot = 1;
        char prefix[16];
        for (int c = 0; c < 8; ++c) {
            std::snprintf(prefix, sizeof prefix, "%02d_", ++slot);
            project += std::string(prefix) + "CHANNEL=Chain\r\n" + prefix + "InpVol=-6\r\n";
            for (const char* path : kHeavyPlugIns) {
                std::snprintf(prefix, sizeof prefix, "%02d_", ++slot);
                project += std::string(prefix) + "PLUGIN=Fx\r\n" + prefix +
                           "DLLfile=" + std::filesystem::path(path).filename().string() + "\r\n";
            }
        }
        std::ofstream(file("heavy.vprj")) << project;
        std::string eqs = "[Project]\r\n01_OUTPUT=Master\r\n02_CHANNEL=EQs\r\n02_InpVol=0\r\n";
        for (int k = 0; k < kEqCount; ++k) {
            std::snprintf(prefix, sizeof prefix, "%02d_", k + 3);
            eqs += std::string(prefix) + "PLUGIN=EQ\r\n" + prefix +
                   "DLLfile=" + std::filesystem::path(kEqPlugIn).filename().string() + "\r\n";
        }
        std::ofstream(file("eq.vprj")) << eqs;
        std::ofstream(file("Trelvo.ini"))
            << "[General]\r\nDebug=0\r\n[VSTfolders]\r\n/usr/lib/vst=VST\r\n" TRELVO_PLUGIN_DIR "=Own\r\n";
    }
    ~Workspace() {
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }
    std::string file(const std::string& name) const { return (root / name).string(); }
    std::filesystem::path root;
};

Workspace& workspace() {
    static Workspace instance;
    return instance;
}

double renderSeconds(const trelvo::app::CommandLine& command) {
    const auto start = std::chrono::steady_clock::now();
    if (trelvo::app::runRender(command) != 0) std::abort();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void RenderDemo(benchmark::State& state) {
    quietLog();
    trelvo::app::CommandLine command;
    command.file = std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj";
    command.midi = std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.mid";
    command.out = workspace().file("demo.wav");
    double wall = 0.0;
    for (auto _ : state) wall += renderSeconds(command);
    state.counters["x_realtime"] = 9.0 * static_cast<double>(state.iterations()) / wall;
}
BENCHMARK(RenderDemo)->Unit(benchmark::kMillisecond)->UseRealTime();

/// A rack rendered from a project with 30 s of input, against the same plug-ins called
/// directly for the same number of blocks; interleaved so that both see the same load.
void renderOverDirect(benchmark::State& state, const char* project, std::unique_ptr<EngineRunner> (*makeRack)(int)) {
    quietLog();
    const int blockSize = static_cast<int>(state.range(0));
    trelvo::app::CommandLine command;
    command.file = workspace().file(project);
    command.in = workspace().file("input.wav");
    command.seconds = kSeconds;
    command.block = blockSize;
    command.out = workspace().file("render.wav");
    auto runner = makeRack(blockSize);
    DirectCalls direct(*runner, blockSize);
    const int blocks = static_cast<int>(std::ceil(kSeconds * kRate / blockSize));
    double wholeWall = 0.0, loopWall = 0.0, directWall = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        trelvo::app::RenderJob job(command);
        if (job.prepare() != 0) std::abort();
        const auto loopStart = std::chrono::steady_clock::now();
        if (job.render() != 0) std::abort();
        const auto loopEnd = std::chrono::steady_clock::now();
        if (job.finish() != 0) std::abort();
        loopWall += std::chrono::duration<double>(loopEnd - loopStart).count();
        wholeWall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const auto directStart = std::chrono::steady_clock::now();
        for (int b = 0; b < blocks; ++b) direct.run();
        directWall += std::chrono::duration<double>(std::chrono::steady_clock::now() - directStart).count();
    }
    const double audio = kSeconds * static_cast<double>(state.iterations());
    state.counters["whole_x_realtime"] = audio / wholeWall;
    state.counters["loop_x_realtime"] = audio / loopWall;
    state.counters["direct_x_realtime"] = audio / directWall;
    state.counters["loop_ratio"] = loopWall / directWall;
    state.counters["whole_ratio"] = wholeWall / directWall;
}

void RenderHeavyOverDirect(benchmark::State& state) {
    renderOverDirect(state, "heavy.vprj", &heavyRack);
}
BENCHMARK(RenderHeavyOverDirect)
    ->Arg(kBlock)
    ->ArgName("block")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

/// The light rack, where the host's own share shows: 24 EQs cost little each.
void RenderEqOverDirect(benchmark::State& state) {
    renderOverDirect(state, "eq.vprj", &eqRack);
}
BENCHMARK(RenderEqOverDirect)
    ->Arg(64)
    ->Arg(kBlock)
    ->ArgName("block")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace
