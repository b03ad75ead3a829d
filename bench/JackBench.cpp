// What Trelvo's JACK process callback costs against a bare JACK client of our own that runs
// the same plug-ins in series, both in one JACK server (a dummy backend of the benchmark's
// own, real-time when the system allows it): for an empty rack (output and channel), 24 DPF
// 3BandEQ in series, and 8 channels of two DPF reverbs, at 64 and 256 frames. The bare
// client's outputs feed Trelvo's inputs, so JACK runs the two one after the other in every
// cycle: the same cycles, without the two competing for the processor. Prints a Markdown
// table of the per-run medians (min / median / max over the runs).
//
// usage: trelvo_jack_bench [--runs N] [--seconds S] [--rack K] [--frames F] [--all-cpus]
//        (8 runs of 2 s per rack and size; --rack 0..2 and --frames measure one alone, for a
//        profiler; --all-cpus runs Trelvo with "Use all CPUs", the bare client on one core)

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
#include "platform/DynamicLibrary.h"
#include "session/RackController.h"
#include "support/JackServer.h"
#include "support/TempFolder.h"
#include "vst/VstAbi.h"

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

/// The bare client's host: only what a plug-in asks while it starts. Trelvo's own host stays
/// the only one of the process, so that Trelvo's plug-ins call nobody else.
std::atomic<int> bareRate{48000};
std::atomic<int> bareFrames{256};

VstIntPtr bareHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterGetSampleRate: return bareRate.load();
    case audioMasterGetBlockSize: return bareFrames.load();
    default: return 0;
    }
}

/// A JACK client of our own: stereo in, the strips' plug-ins called directly in series on
/// each strip (every strip from the same input), the strips summed to stereo out.
class BareClient {
public:
    BareClient(const RackShape& shape, int frames, int rate) : frames(frames) {
        bareRate = rate;
        bareFrames = frames;
        for (const auto& strip : shape.strips) {
            Strip made;
            for (const char* path : strip) {
                AEffect* effect = open(path, rate, frames);
                if (effect == nullptr) {
                    std::fprintf(stderr, "the bare client cannot load %s\n", path);
                    return;
                }
                made.effects.push_back(effect);
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
            if (inputs[c] == nullptr || outputs[c] == nullptr) {
                jack_client_close(client);
                client = nullptr;
                return;
            }
        }
        jack_set_process_callback(client, &onProcess, this);
        if (jack_activate(client) != 0) {
            jack_client_close(client);
            client = nullptr;
            return;
        }
        for (int c = 0; c < 2; ++c) {
            const std::string capture = "system:capture_" + std::to_string(c + 1);
            jack_connect(client, capture.c_str(), jack_port_name(inputs[c]));
        }
    }
    ~BareClient() {
        if (client != nullptr) {
            jack_deactivate(client);
            jack_client_close(client);
        }
        for (AEffect* effect : opened) {
            effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
            effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        }
    }
    bool ready() const { return client != nullptr; }
    const audio::CycleTimes& cycleTimes() const { return cycles; }
    /// Puts this client before Trelvo in the cycle (its outputs feed Trelvo's inputs), or
    /// after it (Trelvo's outputs feed its inputs): JACK runs the two one after the other.
    /// The runs take turns, since the second of two clients with the same plug-in code finds
    /// that code in the cache.
    bool order(const std::string& trelvo, bool bareFirst) {
        for (int c = 0; c < 2; ++c) {
            const std::string number = std::to_string(c + 1);
            const std::string capture = "system:capture_" + number;
            const std::string trelvoIn = trelvo + ":in_" + number, trelvoOut = trelvo + ":out_" + number;
            const std::string bareIn = jack_port_name(inputs[c]), bareOut = jack_port_name(outputs[c]);
            for (const auto& [from, to] : {std::pair{capture, trelvoIn}, std::pair{capture, bareIn},
                                           std::pair{bareOut, trelvoIn}, std::pair{trelvoOut, bareIn}})
                jack_disconnect(client, from.c_str(), to.c_str());
            const bool connected = bareFirst ? jack_connect(client, capture.c_str(), bareIn.c_str()) == 0 &&
                                                   jack_connect(client, bareOut.c_str(), trelvoIn.c_str()) == 0
                                             : jack_connect(client, capture.c_str(), trelvoIn.c_str()) == 0 &&
                                                   jack_connect(client, trelvoOut.c_str(), bareIn.c_str()) == 0;
            if (!connected) return false;
        }
        return true;
    }

private:
    struct Strip {
        std::vector<AEffect*> effects;
        std::vector<float> buffers[4]; ///< a ping-pong pair of stereo buffers
    };
    AEffect* open(const char* path, int rate, int blockSize) {
        auto library = std::make_unique<platform::DynamicLibrary>();
        if (!library->open(path)) return nullptr;
        auto entry = reinterpret_cast<VstPluginMainProc>(library->symbol("VSTPluginMain"));
        if (entry == nullptr) entry = reinterpret_cast<VstPluginMainProc>(library->symbol("main"));
        AEffect* effect = entry != nullptr ? entry(&bareHost) : nullptr;
        if (effect == nullptr || effect->magic != kEffectMagic) {
            std::fprintf(stderr, "%s: %s\n", path, entry == nullptr ? "no entry point" : "no effect");
            return nullptr;
        }
        effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
        effect->dispatcher(effect, effSetBlockSize, 0, blockSize, nullptr, 0.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        libraries.push_back(std::move(library));
        opened.push_back(effect);
        return effect;
    }
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

    int frames;
    std::vector<std::unique_ptr<platform::DynamicLibrary>> libraries;
    std::vector<AEffect*> opened;
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

int run(int runs, double seconds, int onlyRack, int onlyFrames, bool allCpus) {
    quietLog();
    std::printf(
        "| rack | frames | Trelvo us (min / median / max) | bare client us | Trelvo / bare, median (min to max) |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const int frames : {64, 256}) {
        if (onlyFrames > 0 && frames != onlyFrames) continue;
        // Real-time when the system lets us, as a player's server runs.
        auto server = std::make_unique<test::JackServer>(frames, 48000, 70);
        if (!server->running()) {
            server.reset(); // its name leaves the environment before the next one's goes in
            server = std::make_unique<test::JackServer>(frames, 48000, 0);
        }
        if (!server->running()) {
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
            settings.useAllCpus = allCpus;
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
                for (const char* path : shape.strips[s]) {
                    const int slot = controller.loadPlugin(path);
                    if (slot < 0 || !controller.rack().slot(slot).PlugLoaded.load()) {
                        std::fprintf(stderr, "Trelvo cannot load %s\n", path);
                        return 1;
                    }
                }
            }
            controller.setRunning();
            BareClient bare(shape, frames, 48000);
            const std::string trelvoName = jack_get_client_name(driver->client());
            if (!bare.ready() || !bare.order(trelvoName, true)) {
                std::fprintf(stderr, "the bare client did not start\n");
                return 1;
            }
            platform::sleepMs(500); // past the fade-ins and the first cycles
            std::vector<double> trelvo, direct, ratios;
            for (int r = 0; r < runs; ++r) {
                if (!bare.order(trelvoName, r % 2 == 0)) {
                    std::fprintf(stderr, "the clients cannot be connected\n");
                    return 1;
                }
                platform::sleepMs(100);
                const std::uint32_t fromTrelvo = driver->cycleTimes().count();
                const std::uint32_t fromBare = bare.cycleTimes().count();
                const std::uint32_t until = platform::tickCountMs() + static_cast<std::uint32_t>(seconds * 1000);
                while (static_cast<std::int32_t>(platform::tickCountMs() - until) < 0) {
                    platform::sleepMs(30);
                    controller.idleTick();
                }
                const double t = median(driver->cycleTimes().since(fromTrelvo));
                const double b = median(bare.cycleTimes().since(fromBare));
                trelvo.push_back(t);
                direct.push_back(b);
                ratios.push_back(b > 0 ? t / b : 0.0);
            }
            const Spread ratio = spreadOf(ratios);
            std::printf("| %s | %d | %s | %s | %.2f (%.2f to %.2f) |\n", shape.name, frames,
                        microseconds(spreadOf(trelvo)).c_str(), microseconds(spreadOf(direct)).c_str(), ratio.middle,
                        ratio.low, ratio.high);
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
    double seconds = 2.0; // 8192 callbacks at most are kept: 10 s at 64 frames
    int rack = -1;
    int frames = 0;
    bool allCpus = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--all-cpus") == 0) {
            allCpus = true;
            continue;
        }
        if (i + 1 >= argc) break;
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(0.2, std::atof(argv[++i]));
        else if (std::strcmp(argv[i], "--rack") == 0)
            rack = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::atoi(argv[++i]);
    }
    return trelvo::bench::run(runs, seconds, rack, frames, allCpus);
}
