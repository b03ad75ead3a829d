// What Trelvo's JACK process callback costs against a bare JACK client of our own that runs
// the same plug-ins in series, both in one JACK server (a dummy backend of the benchmark's
// own) and so in the same cycles: for an empty rack (output and channel), 24 DPF 3BandEQ in
// series, and 8 channels of two DPF reverbs, at 64 and 256 frames. Prints a Markdown table
// of the per-run medians (min / median / max over the runs).
//
// usage: trelvo_jack_bench [--runs N] [--seconds S] [--rack K] [--frames F]
//        (8 runs of 2 s per rack and size; --rack 0..2 and --frames measure one alone, for a
//        profiler)

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchRacks.h"
#include "audio/CycleTimes.h"
#include "audio/DriverThread.h"
#include "audio/JackDriver.h"
#include "platform/Clock.h"
#include "session/RackController.h"
#include "support/JackServer.h"
#include "support/TempFolder.h"

namespace trelvo::bench {
namespace {

constexpr const char* kEq = "/usr/lib/vst/3BandEQ-vst.so";

struct RackShape {
    const char* name;
    /// Per channel strip, the plug-ins in series.
    std::vector<std::vector<const char*>> strips;
};

std::vector<RackShape> shapes() {
    std::vector<const char*> eqs(24, kEq);
    std::vector<std::vector<const char*>> reverbs(8, {kHeavyPlugIns[0], kHeavyPlugIns[1]});
    return {{"empty rack (output, channel)", {{}}},
            {"24 x 3BandEQ in series", {eqs}},
            {"8 channels x (MVerb, MaFreeverb)", reverbs}};
}

/// A JACK client of our own: stereo in, the strips' plug-ins called directly in series on
/// each strip (every strip from the same input), the strips summed to stereo out.
class BareClient {
public:
    BareClient(const RackShape& shape, int frames) : runner(frames), frames(frames) {
        runner.rack.addSlot(rack::SlotKind::Output);
        for (const auto& strip : shape.strips) {
            runner.rack.addSlot(rack::SlotKind::Channel);
            Strip made;
            for (const char* path : strip) {
                const int slot = addPlugIn(runner.rack, path, "Bare");
                if (slot >= 0) made.effects.push_back(runner.rack.slot(slot).PVstEffect.load());
            }
            for (auto& buffer : made.buffers) buffer.assign(static_cast<std::size_t>(frames), 0.0f);
            strips.push_back(std::move(made));
        }
        client = jack_client_open("bare", JackNoStartServer, nullptr);
        if (client == nullptr) return;
        for (int c = 0; c < 2; ++c) {
            inputs[c] =
                jack_port_register(client, c == 0 ? "in_1" : "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            outputs[c] =
                jack_port_register(client, c == 0 ? "out_1" : "out_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        }
        jack_set_process_callback(client, &onProcess, this);
        jack_activate(client);
        for (int c = 0; c < 2; ++c) {
            const std::string capture = "system:capture_" + std::to_string(c + 1);
            const std::string playback = "system:playback_" + std::to_string(c + 1);
            jack_connect(client, capture.c_str(), jack_port_name(inputs[c]));
            jack_connect(client, jack_port_name(outputs[c]), playback.c_str());
        }
    }
    ~BareClient() {
        if (client != nullptr) {
            jack_deactivate(client);
            jack_client_close(client);
        }
    }
    bool ready() const { return client != nullptr; }
    const audio::CycleTimes& cycleTimes() const { return cycles; }

private:
    struct Strip {
        std::vector<AEffect*> effects;
        std::vector<float> buffers[4]; ///< a ping-pong pair of stereo buffers
    };
    static int onProcess(jack_nframes_t count, void* context) {
        auto* self = static_cast<BareClient*>(context);
        if (!self->threadPrepared) {
            audio::enterAudioThread(audio::AudioThreadScheduling::Keep);
            self->threadPrepared = true;
        }
        const std::int64_t began = platform::perfCounter();
        self->process(count);
        self->cycles.record(platform::perfCounter() - began);
        return 0;
    }
    void process(jack_nframes_t count) {
        const auto n = static_cast<std::size_t>(std::min<jack_nframes_t>(count, static_cast<jack_nframes_t>(frames)));
        const float* in[2];
        float* out[2];
        for (int c = 0; c < 2; ++c) {
            in[c] = static_cast<const float*>(jack_port_get_buffer(inputs[c], count));
            out[c] = static_cast<float*>(jack_port_get_buffer(outputs[c], count));
        }
        if (strips.size() == 1 && strips.front().effects.empty()) {
            // The floor: a client that copies its inputs to its outputs.
            for (int c = 0; c < 2; ++c) std::memcpy(out[c], in[c], n * sizeof(float));
            return;
        }
        for (int c = 0; c < 2; ++c) std::memset(out[c], 0, n * sizeof(float));
        for (Strip& strip : strips) {
            float* a[2] = {strip.buffers[0].data(), strip.buffers[1].data()};
            float* b[2] = {strip.buffers[2].data(), strip.buffers[3].data()};
            for (int c = 0; c < 2; ++c) std::memcpy(a[c], in[c], n * sizeof(float));
            for (AEffect* effect : strip.effects) {
                effect->processReplacing(effect, a, b, static_cast<std::int32_t>(n));
                std::swap(a[0], b[0]);
                std::swap(a[1], b[1]);
            }
            for (int c = 0; c < 2; ++c)
                for (std::size_t i = 0; i < n; ++i) out[c][i] += a[c][i];
        }
    }

    test::EngineRunner runner;
    int frames;
    std::vector<Strip> strips;
    jack_client_t* client = nullptr;
    jack_port_t* inputs[2] = {};
    jack_port_t* outputs[2] = {};
    bool threadPrepared = false;
    audio::CycleTimes cycles;
};

double median(std::vector<std::uint32_t> values) {
    if (values.empty()) return 0.0;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

struct Spread {
    double low = 0, middle = 0, high = 0;
};

Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    if (values.empty()) return {};
    return {values.front(), values[values.size() / 2], values.back()};
}

std::string microseconds(const Spread& spread) {
    char text[96];
    std::snprintf(text, sizeof text, "%.1f / %.1f / %.1f", spread.low / 1000.0, spread.middle / 1000.0,
                  spread.high / 1000.0);
    return text;
}

int run(int runs, double seconds, int onlyRack, int onlyFrames) {
    quietLog();
    std::printf("| rack | frames | Trelvo us (min / median / max) | of it the engine's block | bare client us | "
                "Trelvo / bare, median (min to max) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const int frames : {64, 256}) {
        if (onlyFrames > 0 && frames != onlyFrames) continue;
        test::JackServer server(frames, 48000, 0);
        if (!server.running()) {
            std::fprintf(stderr, "jackd -d dummy did not start\n");
            return 1;
        }
        const std::vector<RackShape> racks = shapes();
        for (std::size_t k = 0; k < racks.size(); ++k) {
            if (onlyRack >= 0 && static_cast<int>(k) != onlyRack) continue;
            const RackShape& shape = racks[k];
            test::TempFolder home;
            persist::AppSettings settings(home.path());
            settings.asioDriver = "JACK";
            rack::RackController controller(settings);
            controller.startAudio();
            auto* driver = dynamic_cast<audio::JackDriver*>(
                controller.control().host() != nullptr ? controller.control().host()->openDriver() : nullptr);
            if (driver == nullptr) {
                std::fprintf(stderr, "Trelvo did not open the JACK driver\n");
                return 1;
            }
            controller.newRack();
            for (std::size_t s = 0; s < shape.strips.size(); ++s) {
                if (s > 0) controller.addSlot(rack::SlotKind::Channel, false);
                for (const char* path : shape.strips[s]) controller.loadPlugin(path);
            }
            controller.setRunning();
            BareClient bare(shape, frames);
            if (!bare.ready()) {
                std::fprintf(stderr, "the bare client did not start\n");
                return 1;
            }
            platform::sleepMs(500); // past the fade-ins and the first cycles
            std::vector<double> trelvo, direct, ratios, engine;
            for (int r = 0; r < runs; ++r) {
                const std::uint32_t fromTrelvo = driver->cycleTimes().count();
                const std::uint32_t fromBare = bare.cycleTimes().count();
                const std::uint32_t until = platform::tickCountMs() + static_cast<std::uint32_t>(seconds * 1000);
                std::vector<std::uint32_t> engineSamples;
                while (static_cast<std::int32_t>(platform::tickCountMs() - until) < 0) {
                    platform::sleepMs(30);
                    controller.idleTick();
                    // The engine's own average over its last ten blocks, the driver's work left out.
                    engineSamples.push_back(
                        static_cast<std::uint32_t>(controller.engine().timing.average.load(std::memory_order_relaxed)));
                }
                engine.push_back(median(engineSamples));
                const double t = median(driver->cycleTimes().since(fromTrelvo));
                const double b = median(bare.cycleTimes().since(fromBare));
                trelvo.push_back(t);
                direct.push_back(b);
                ratios.push_back(b > 0 ? t / b : 0.0);
            }
            const Spread ratio = spreadOf(ratios);
            std::printf("| %s | %d | %s | %.1f | %s | %.2f (%.2f to %.2f) |\n", shape.name, frames,
                        microseconds(spreadOf(trelvo)).c_str(), spreadOf(engine).middle / 1000.0,
                        microseconds(spreadOf(direct)).c_str(), ratio.middle, ratio.low, ratio.high);
            std::fflush(stdout);
            controller.control().setAllowed(audio::kAllowedStop);
        }
    }
    return 0;
}

} // namespace
} // namespace trelvo::bench

int main(int argc, char** argv) {
    int runs = 8;
    double seconds = 2.0;
    int rack = -1;
    int frames = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(0.2, std::atof(argv[i + 1]));
        if (std::strcmp(argv[i], "--rack") == 0) rack = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--frames") == 0) frames = std::atoi(argv[i + 1]);
    }
    return trelvo::bench::run(runs, seconds, rack, frames);
}
