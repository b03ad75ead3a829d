#include <algorithm>
#include <atomic>

#include "midi/JackMidiBridge.h"
#include "midi/MidiBackend.h"

namespace trelvo::midi {

namespace {

/// One input device ("JACK: trelvo:midi_in") and one output device ("JACK: trelvo:midi_out").
class JackMidiBackend final : public MidiBackend {
public:
    ~JackMidiBackend() override { JackMidiBridge::instance().setInputSink(nullptr, nullptr); }
    // The sink's context is this backend: removing the sink waits for JACK's thread to
    // leave it, so the backend may go away afterwards.

    std::string name() const override { return "JACK"; }
    std::vector<std::string> inputNames() override { return {"JACK: trelvo:midi_in"}; }
    std::vector<std::string> outputNames() override { return {"JACK: trelvo:midi_out"}; }

    bool openInput(int local, int device, MidiInputSink* inputSink) override {
        if (local != 0) return false;
        deviceIndex = device;
        sink = inputSink;
        JackMidiBridge::instance().setInputSink(&onInput, this);
        return true;
    }
    void closeInput(int local) override {
        if (local == 0) JackMidiBridge::instance().setInputSink(nullptr, nullptr);
    }
    bool openOutput(int local) override { return local == 0; }
    void closeOutput(int) override {}
    bool send(int local, const std::uint8_t* bytes, std::size_t length, int frame) noexcept override {
        return local == 0 && JackMidiBridge::instance().queueOutput(bytes, length, frame);
    }
    bool sampleAccurate() const noexcept override { return true; }

private:
    static void onInput(void* context, const std::uint8_t* bytes, std::size_t length, int frame) {
        auto* self = static_cast<JackMidiBackend*>(context);
        const MidiTime time{true, frame};
        if (bytes[0] == 0xF0) {
            forEachSysexPiece(bytes, length, [&](const std::uint8_t* piece, std::size_t size) {
                self->sink->sysexPiece(self->deviceIndex, piece, size, time);
            });
            return;
        }
        self->sink->shortMessage(self->deviceIndex, bytes[0], length > 1 ? bytes[1] : 0, length > 2 ? bytes[2] : 0,
                                 time);
    }

    int deviceIndex = -1;
    MidiInputSink* sink = nullptr;
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
