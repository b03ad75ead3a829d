#pragma once

#include <vector>

#include "audio/BufferedDriver.h"

namespace trelvo::audio {

/// "Offline": not listed; render mode and tests use it. It has no thread: the caller runs
/// blocks one after another, as fast as they compute, and can fill the inputs and read the
/// outputs of each (floats).
class OfflineDriver final : public BufferedDriver {
public:
    OfflineDriver(int bufferSize, double sampleRate, int numInputs = 2, int numOutputs = 2);

    AsioError start() override;
    AsioError stop() override;
    AsioError controlPanel() override { return ASE_OK; }

    /// Runs one block on the calling thread. inputs: one array per driver input (may be
    /// shorter or empty for silence); outputs receive one array per driver output.
    /// Returns false while the driver is not started.
    bool runBlock(const std::vector<const float*>& inputs, std::vector<std::vector<float>>& outputs);

private:
    bool started = false;
    int half = 0;
};

} // namespace trelvo::audio
