#include <algorithm>
#include <array>
#include <atomic>

#include "midi/JackMidiBridge.h"
#include "midi/MidiBackend.h"

namespace trelvo::midi {

namespace {

/// The input devices "JACK: trelvo:midi_in" and "JACK: trelvo:surface_in", the output
/// devices "JACK: trelvo:midi_out" and "JACK: trelvo:surface_out": the driver's two pairs.
class JackMidiBackend final : public MidiBackend {
public:
    // Each sink's context is its entry of this backend: removing the sinks waits for JACK's
    // thread to leave them, so the backend may go away afterwards.
    ~JackMidiBackend() override {
        for (int pair = 0; pair < JackMidiBridge::kPairs; ++pair)
            JackMidiBridge::instance().setInputSink(pair, nullptr, nullptr);
    }

    std::string name() const override { return "JACK"; }
    std::vector<std::string> inputNames() override {
        std::vector<std::string> names;
        for (int pair = 0; pair < JackMidiBridge::kPairs; ++pair)
            names.push_back(std::string("JACK: trelvo:") + JackMidiBridge::inputName(pair));
        return names;
    }
    std::vector<std::string> outputNames() override {
        std::vector<std::string> names;
        for (int pair = 0; pair < JackMidiBridge::kPairs; ++pair)
            names.push_back(std::string("JACK: trelvo:") + JackMidiBridge::outputName(pair));
        return names;
    }

    bool openInput(int local, int device, MidiInputSink* inputSink) override {
        if (local < 0 || local >= JackMidiBridge::kPairs) return false;
        Input& input = inputs[static_cast<std::size_t>(local)];
        input.deviceIndex = device;
        input.sink = inputSink;
        JackMidiBridge::instance().setInputSink(local, &onInput, &input);
        return true;
    }
    void closeInput(int local) override {
        if (local >= 0 && local < JackMidiBridge::kPairs)
            JackMidiBridge::instance().setInputSink(local, nullptr, nullptr);
    }
    bool openOutput(int local) override { return local >= 0 && local < JackMidiBridge::kPairs; }
    void closeOutput(int) override {}
    bool send(int local, const std::uint8_t* bytes, std::size_t length, int frame) noexcept override {
        return JackMidiBridge::instance().queueOutput(local, bytes, length, frame);
    }
    bool sampleAccurate() const noexcept override { return true; }

private:
    struct Input {
        int deviceIndex = -1;
        MidiInputSink* sink = nullptr;
    };

    static void onInput(void* context, const std::uint8_t* bytes, std::size_t length, int frame) {
        auto* input = static_cast<Input*>(context);
        const MidiTime time{true, frame};
        if (bytes[0] == 0xF0) {
            forEachSysexPiece(bytes, length, [&](const std::uint8_t* piece, std::size_t size) {
                input->sink->sysexPiece(input->deviceIndex, piece, size, time);
            });
            return;
        }
        input->sink->shortMessage(input->deviceIndex, bytes[0], length > 1 ? bytes[1] : 0, length > 2 ? bytes[2] : 0,
                                  time);
    }

    std::array<Input, JackMidiBridge::kPairs> inputs{};
};

} // namespace

std::vector<std::unique_ptr<MidiBackend>> openMidiBackends(std::vector<std::string>& whyNot) {
    std::vector<std::unique_ptr<MidiBackend>> found;
    std::string reason;
    for (auto open : {&openAlsaSequencer, &openJackMidi}) {
        if (auto backend = open(reason))
            found.push_back(std::move(backend));
        else
            whyNot.push_back(reason);
    }
    return found;
}

void listMidiDevices(std::vector<std::string>& inputs, std::vector<std::string>& outputs) {
    std::vector<std::string> ignored;
    for (const auto& backend : openMidiBackends(ignored)) {
        for (const std::string& name : backend->inputNames()) inputs.push_back(name);
        for (const std::string& name : backend->outputNames()) outputs.push_back(name);
    }
}

std::unique_ptr<MidiBackend> openJackMidi(std::string& whyNot) {
    if (!JackMidiBridge::instance().present()) {
        whyNot = "the JACK audio driver is not running";
        return nullptr;
    }
    return std::make_unique<JackMidiBackend>();
}

} // namespace trelvo::midi
