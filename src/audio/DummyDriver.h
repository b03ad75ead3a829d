#pragma once

#include <atomic>
#include <thread>

#include "audio/BufferedDriver.h"

namespace trelvo::audio {

/// "Dummy": always present, the embedded default. A real-time-paced thread of its own
/// runs the blocks; inputs are silent and outputs are discarded after their peak is kept.
class DummyDriver final : public BufferedDriver {
public:
    explicit DummyDriver(const std::string& name = "Dummy");
    ~DummyDriver() override;

    AsioError start() override;
    AsioError stop() override;
    AsioError controlPanel() override;

    /// The largest absolute output sample since the last call. Thread: any.
    float takeOutputPeak() noexcept { return outputPeak.exchange(0.0f); }

private:
    void run();

    std::atomic<bool> running{false};
    std::atomic<float> outputPeak{0.0f};
    std::thread thread;
};

} // namespace trelvo::audio
