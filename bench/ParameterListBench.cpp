// What the parameter list costs with a plug-in of 1000 parameters (TrelvoParams): the lines
// of one screenful (what a scroll or a program change repaints), every line (what a list
// that made all its lines at once would pay), and one value step with its line.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "TestPaths.h"
#include "host/TVstPlugIn.h"
#include "persist/AppSettings.h"
#include "session/ParameterList.h"
#include "session/RackController.h"

namespace {

/// A rack with TrelvoParams in slot 2, in a home folder of its own.
struct ParamsRack {
    ParamsRack() {
        char pattern[] = "/tmp/trelvo-bench-XXXXXX";
        home = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        settings = std::make_unique<trelvo::persist::AppSettings>(home);
        controller = std::make_unique<trelvo::rack::RackController>(*settings);
        controller->newRack();
        slot = controller->loadPlugin(TrelvoParams_PATH, 2);
    }
    ~ParamsRack() {
        controller.reset();
        std::error_code error;
        if (home != "/tmp") std::filesystem::remove_all(home, error);
    }
    trelvo::host::TVstPlugIn& plugIn() { return controller->rack().slot(slot); }

    std::string home;
    std::unique_ptr<trelvo::persist::AppSettings> settings;
    std::unique_ptr<trelvo::rack::RackController> controller;
    int slot = -1;
};

void ParameterLinesScreenful(benchmark::State& state) {
    ParamsRack rack;
    trelvo::rack::ParameterList list;
    int first = 0;
    for (auto _ : state) {
        for (int row = first; row < first + 30; ++row) benchmark::DoNotOptimize(list.line(rack.plugIn(), row));
        first = (first + 30) % 960;
    }
    state.SetItemsProcessed(state.iterations() * 30);
}
BENCHMARK(ParameterLinesScreenful);

void ParameterLinesAll(benchmark::State& state) {
    ParamsRack rack;
    trelvo::rack::ParameterList list;
    for (auto _ : state) benchmark::DoNotOptimize(list.lines(rack.plugIn()));
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(ParameterLinesAll);

void ParameterStepWithItsLine(benchmark::State& state) {
    ParamsRack rack;
    trelvo::rack::ParameterList list;
    int direction = 1;
    for (auto _ : state) {
        if (!list.step(rack.plugIn(), 500, direction, true, false)) direction = -direction;
        benchmark::DoNotOptimize(list.line(rack.plugIn(), 500));
    }
}
BENCHMARK(ParameterStepWithItsLine);

} // namespace
