#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "app/RunModes.h"
#include "audio/DriverList.h"
#include "audio/OfflineDriver.h"
#include "diag/DiagLog.h"
#include "media/AudioFile.h"
#include "media/MidiFile.h"
#include "midi/MidiBackend.h"
#include "platform/TrelvoHome.h"
#include "rack/PlugInFaults.h"
#include "session/Session.h"

namespace trelvo::app {

namespace {

/// The one MIDI input of a render: the events of the MIDI file, handed in at their frames.
class RenderMidiInput final : public midi::MidiBackend {
public:
    std::string name() const override { return "render"; }
    std::vector<std::string> inputNames() override { return {"Trelvo render"}; }
    std::vector<std::string> outputNames() override { return {}; }
    bool openInput(int, int device, midi::MidiInputSink* inputSink) override {
        sink = inputSink;
        position = device;
        return true;
    }
    void closeInput(int) override { sink = nullptr; }
    bool openOutput(int) override { return false; }
    void closeOutput(int) override {}
    bool send(int, const std::uint8_t*, std::size_t, int) noexcept override { return false; }

    /// Hands in every event before end (in frames), each at its frame within the block
    /// that starts at blockStart.
    void feed(const media::MidiFileContents& file, std::size_t& next, std::int64_t blockStart, std::int64_t end,
              double rate) {
        for (; next < file.events.size(); ++next) {
            const media::TimedMidiEvent& event = file.events[next];
            const auto frame = static_cast<std::int64_t>(std::llround(event.seconds * rate));
            if (frame >= end) break;
            if (sink == nullptr) continue;
            const midi::MidiTime time{true, std::max<std::int64_t>(frame - blockStart, 0)};
            if (event.bytes.front() == 0xF0) {
                midi::forEachSysexPiece(event.bytes.data(), event.bytes.size(),
                                        [&](const std::uint8_t* piece, std::size_t length) {
                                            sink->sysexPiece(position, piece, length, time);
                                        });
            } else {
                sink->shortMessage(position, event.bytes[0], event.bytes.size() > 1 ? event.bytes[1] : 0,
                                   event.bytes.size() > 2 ? event.bytes[2] : 0, time);
            }
        }
    }

private:
    midi::MidiInputSink* sink = nullptr;
    int position = 0;
};

volatile std::sig_atomic_t gInterruptedBy = 0;

extern "C" void interruptRender(int signalNumber) {
    gInterruptedBy = signalNumber;
}

int failure(const std::string& message) {
    std::fprintf(stderr, "trelvo: %s\n", message.c_str());
    return 1;
}

int firstPluginSlot(rack::Rack& rack) {
    for (int i = 0; i < rack.numSlots(); ++i)
        if (rack.slot(i).kind() == rack::SlotKind::Plugin && rack.slot(i).PlugLoaded.load()) return i;
    return -1;
}

bool folderIsWritable(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
    return platform::fileExists(folder) && ::access(folder.c_str(), W_OK) == 0;
}

void showProgress(std::int64_t done, std::int64_t total) {
    const int width = 40;
    const int filled = total > 0 ? static_cast<int>(width * done / total) : width;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), ' ').c_str(),
                 total > 0 ? static_cast<int>(100 * done / total) : 100);
    std::fflush(stderr);
}

} // namespace

struct RenderJob::State {
    media::MidiFileContents midiFile;
    media::AudioFileData input;
    std::unique_ptr<Session> session;
    audio::OfflineDriver* offline = nullptr;
    RenderMidiInput* midiInput = nullptr;
    int first = -1;
    std::int64_t frames = 0;
    media::FloatWavWriter wav;
};

RenderJob::RenderJob(const CommandLine& commandLine) : command(commandLine), state(std::make_unique<State>()) {}

RenderJob::~RenderJob() = default;

int RenderJob::prepare() {
    if (!platform::isRegularFile(command.file)) return failure("cannot read " + command.file);
    if (!folderIsWritable(command.out))
        return failure("cannot write " + command.out + ": the folder does not exist or is not writable");
    std::string error;
    if (!command.midi.empty() && !media::readMidiFile(command.midi, state->midiFile, error))
        return failure(command.midi + ": " + error);
    if (!command.in.empty()) {
        if (!media::readAudioFile(command.in, state->input, error)) return failure(error);
        if (state->input.sampleRate != command.rate)
            return failure(command.in + " has a sample rate of " + std::to_string(state->input.sampleRate) +
                           " Hz, the render runs at " + std::to_string(command.rate) + " Hz");
    }
    double seconds = command.seconds;
    if (seconds <= 0) {
        const double inputSeconds = static_cast<double>(state->input.left.size()) / command.rate;
        const double longest = std::max(command.midi.empty() ? 0.0 : state->midiFile.lengthSeconds, inputSeconds);
        seconds = command.midi.empty() && command.in.empty() ? 10.0 : longest + 2.0;
    }
    const double maxSeconds = static_cast<double>(media::FloatWavWriter::kMaxFrames) / command.rate;
    if (!(seconds <= maxSeconds))
        return failure("the render would last " + std::to_string(std::llround(std::min(seconds, 1e15))) +
                       " s; a WAV file holds at most " + std::to_string(static_cast<long long>(maxSeconds)) + " s at " +
                       std::to_string(command.rate) + " Hz");
    state->frames = std::llround(seconds * command.rate);
    if (!state->wav.open(command.out, command.rate, error)) return failure(error);

    state->session = std::make_unique<Session>(false);
    rack::RackController& controller = *state->session->controller;
    // The offline driver runs every block on this thread: no block can be running while
    // the rack changes, so holding audio needs no waiting.
    controller.control().sleep = [](int) {};
    controller.rack().host().offlineRendering = true;
    state->session->startAudio("Offline", {audio::offlineDriverEntry(command.block, command.rate)});
    audio::TASIOHost* host = controller.control().host();
    state->offline = dynamic_cast<audio::OfflineDriver*>(host != nullptr ? host->openDriver() : nullptr);
    if (state->offline == nullptr) return failure("the offline driver could not be started");
    controller.startMidi([this](std::vector<std::string>&) {
        std::vector<std::unique_ptr<midi::MidiBackend>> backends;
        auto backend = std::make_unique<RenderMidiInput>();
        state->midiInput = backend.get();
        backends.push_back(std::move(backend));
        return backends;
    });
    // The MIDI file's events reach "DEFAULT" routes straight, whatever the virtual ports say.
    controller.midi().openPort(0, "Trelvo render");
    controller.midi().useAsDefaultPort(0);

    if (isLibraryOrProfile(command.file)) {
        controller.startWithLibrary(command.file);
    } else if (!controller.openProject(command.file)) {
        return failure("cannot load the project " + command.file);
    }
    rack::Rack& rack = controller.rack();
    for (int i = 0; i < rack.numSlots(); ++i) {
        const host::TVstPlugIn& slot = rack.slot(i);
        if (slot.kind() == rack::SlotKind::Plugin && !slot.PlugLoaded.load()) {
            const bool found = platform::isRegularFile(slot.DllPath);
            const std::string why = !found                      ? "it was found neither there nor in the VST folders"
                                    : !slot.LoadFailure.empty() ? slot.LoadFailure
                                                                : "it did not open as a plug-in";
            return failure("the plug-in " + slot.DllPath + " could not be loaded: " + why);
        }
    }
    state->first = firstPluginSlot(rack);
    if ((!command.fxp.empty() || !command.fxb.empty() || !command.saveFxp.empty() || !command.saveFxb.empty()) &&
        state->first < 0)
        return failure("the rack holds no plug-in for the preset files");
    if (!command.fxb.empty() && !rack.slot(state->first).LoadBank(command.fxb))
        return failure("cannot load the bank " + command.fxb + ": " + host::TVstPlugIn::lastPresetFailure());
    if (!command.fxp.empty() && !rack.slot(state->first).LoadPreset(command.fxp))
        return failure("cannot load the preset " + command.fxp + ": " + host::TVstPlugIn::lastPresetFailure());
    controller.resolveSlotRoutes();
    controller.setRunning();
    // After setRunning: starting audio resets the transport to stopped.
    if (command.play) rack.transport().request(trelvo::rack::TransportRequest::Play);
    return 0;
}

int RenderJob::render() {
    rack::RackController& controller = *state->session->controller;
    const media::AudioFileData& input = state->input;
    const double rate = command.rate;
    const std::int64_t total = state->frames;
    const auto block = static_cast<std::int64_t>(command.block);
    std::string error;
    std::vector<float> inLeft(static_cast<std::size_t>(block)), inRight(static_cast<std::size_t>(block));
    std::vector<std::vector<float>> outputs;
    std::size_t nextEvent = 0;
    // The idle duties run at fixed points of the audio, so a render never depends on the clock.
    const std::int64_t idleEvery =
        std::max<std::int64_t>(1, std::llround(controller.idlePeriodMs() * rate / 1000.0 / block));
    const bool progress = isatty(STDERR_FILENO) != 0;
    std::int64_t blocks = 0;
    for (std::int64_t position = 0; position < total; position += block, ++blocks) {
        if (gInterruptedBy != 0) {
            // The temporary file goes with the writer; the target was never touched.
            if (progress) std::fputc('\n', stderr);
            std::fprintf(stderr, "trelvo: the render was interrupted; %s was left as it was\n", command.out.c_str());
            return 128 + gInterruptedBy;
        }
        state->midiInput->feed(state->midiFile, nextEvent, position, position + block, rate);
        for (std::int64_t f = 0; f < block; ++f) {
            const auto source = static_cast<std::size_t>(position + f);
            inLeft[static_cast<std::size_t>(f)] = source < input.left.size() ? input.left[source] : 0.0f;
            inRight[static_cast<std::size_t>(f)] = source < input.right.size() ? input.right[source] : 0.0f;
        }
        if (!state->offline->runBlock({inLeft.data(), inRight.data()}, outputs) || outputs.size() < 2)
            return failure("the offline driver stopped");
        const auto take = static_cast<std::size_t>(std::min(block, total - position));
        if (!state->wav.write(outputs[0].data(), outputs[1].data(), take, error)) return failure(error);
        if (blocks % idleEvery == 0) controller.idleTick();
        if (progress && blocks % 64 == 0) showProgress(position, total);
    }
    if (progress) {
        showProgress(total, total);
        std::fputc('\n', stderr);
    }
    return 0;
}

int RenderJob::finish() {
    rack::RackController& controller = *state->session->controller;
    rack::Rack& rack = controller.rack();
    std::string error;
    if (!state->wav.commit(error)) return failure(error);
    host::TVstPlugIn* first = state->first >= 0 ? &rack.slot(state->first) : nullptr;
    const std::string written = " (" + command.out + " was written)";
    if (!command.saveFxp.empty() && !first->SavePreset(command.saveFxp, 0))
        return failure("--save-fxp: cannot save " + command.saveFxp + ": " + host::TVstPlugIn::lastPresetFailure() +
                       written);
    if (!command.saveFxb.empty() && !first->SaveBank(command.saveFxb, false))
        return failure("--save-fxb: cannot save " + command.saveFxb + ": " + host::TVstPlugIn::lastPresetFailure() +
                       written);
    if (!command.saveProject.empty() && !controller.saveProjectTo(command.saveProject))
        return failure("--save-project: cannot save the project " + command.saveProject + written);
    // A plug-in that faulted was passed by from then on: the file holds what was heard, but
    // not what was asked for.
    const std::vector<std::string> faults = trelvo::rack::takePlugInFaults(rack);
    for (const std::string& fault : faults) std::fprintf(stderr, "trelvo: %s\n", fault.c_str());
    if (!faults.empty())
        return failure(command.out + " was written, but " + (faults.size() == 1 ? "a plug-in" : "plug-ins") +
                       " faulted while rendering");
    return 0;
}

int runRender(const CommandLine& command) {
    // Ctrl+C or a polite kill stops between blocks, so the temporary file can be removed.
    gInterruptedBy = 0;
    onStopSignals(interruptRender);
    RenderJob job(command);
    int status = job.prepare();
    if (status == 0) status = job.render();
    if (status == 0) status = job.finish();
    return status;
}

} // namespace trelvo::app
