#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "midi/MidiBackend.h"
#include "platform/Clock.h"

namespace trelvo::test {

/// Devices the test creates, whose input it plays and whose output it records.
class FakeBackend final : public midi::MidiBackend {
public:
    FakeBackend(int numInputs, int numOutputs) {
        for (int i = 0; i < numInputs; ++i) ins.push_back("Keys " + std::to_string(i));
        for (int i = 0; i < numOutputs; ++i) outs.push_back("Synth box " + std::to_string(i));
    }
    std::string name() const override { return "fake"; }
    std::vector<std::string> inputNames() override { return ins; }
    std::vector<std::string> outputNames() override { return outs; }
    bool openInput(int, int, midi::MidiInputSink* inputSink) override { return sink = inputSink, true; }
    void closeInput(int) override {}
    bool openOutput(int) override { return true; }
    void closeOutput(int) override {}
    bool send(int, const std::uint8_t* bytes, std::size_t length, int) noexcept override {
        std::lock_guard lock(mutex);
        sent.push_back({platform::perfCounter(), std::vector<std::uint8_t>(bytes, bytes + length)});
        return true;
    }
    std::vector<std::string> ins, outs;
    midi::MidiInputSink* sink = nullptr;
    std::mutex mutex;
    std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> sent;
};

} // namespace trelvo::test
