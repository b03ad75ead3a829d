#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rack/AudioEngine.h"
#include "rack/Rack.h"

namespace trelvo::test {

/// Adds a plug-in slot at the end of the rack and opens and resumes the plug-in, as the
/// rack controller's load operation will. Returns the slot index, -1 when it failed.
/// isolated: the plug-in runs in a worker process of its own.
int addPlugIn(rack::Rack& rack, const std::string& path, const std::string& name = "PlugIn", bool isolated = false);

/// A rack and its engine driven block by block over stereo driver buffers, as a driver
/// would: the engine running (stage 7, allowed, engine on) with buffers for blockSize.
class EngineRunner {
public:
    explicit EngineRunner(int blockSize = 256, rack::EngineHooks* hooks = nullptr);

    /// Call after the rack's slots are in place (buffers follow the mixer slots).
    void start();
    /// Runs one block; the inputs are taken from inLeft/inRight.
    void block();
    /// Runs blocks and appends every output sample to the recordings.
    void run(int blocks);

    rack::Rack rack;
    rack::AudioEngine engine;
    int blockSize;
    std::vector<float> inLeft, inRight, outLeft, outRight;
    std::vector<float> recordedLeft, recordedRight;
};

} // namespace trelvo::test
