#include "support/EngineRunner.h"

#include "platform/RealtimeThread.h"

namespace trelvo::test {

int addPlugIn(rack::Rack& rack, const std::string& path, const std::string& name, bool isolated) {
    const int index = rack.numSlots();
    if (index >= rack::kMaxSlots) return -1;
    host::TVstPlugIn& slot = rack.slot(index);
    slot.DllPath = path;
    slot.SlotName = name;
    slot.Isolated = isolated;
    slot.Open();
    if (!slot.Active.load()) return -1;
    slot.MainsChanged(true);
    slot.setFreshVolumes();
    rack.setNumSlots(index + 1);
    rack.assignIdentity(index, 0);
    slot.OwnerIndex = rack.stripHeadOf(index);
    return index;
}

EngineRunner::EngineRunner(int frames, rack::EngineHooks* hooks)
    : engine(rack, hooks), blockSize(frames), inLeft(static_cast<std::size_t>(frames)),
      inRight(static_cast<std::size_t>(frames)), outLeft(static_cast<std::size_t>(frames)),
      outRight(static_cast<std::size_t>(frames)) {}

void EngineRunner::start() {
    engine.allocateBuffers(blockSize);
    engine.applicationStage = rack::kStageRunning;
    engine.allowed = true;
    engine.engineOn = true;
}

void EngineRunner::block() {
    const float* inputs[2] = {inLeft.data(), inRight.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    rack::DriverBlock driver;
    driver.inputs = inputs;
    driver.numInputs = 2;
    driver.outputs = outputs;
    driver.numOutputs = 2;
    driver.bufferSize = blockSize;
    platform::RealtimeScope realtime;
    platform::AudioBlockScope inBlock;
    engine.bufferSwitch(driver);
}

void EngineRunner::run(int blocks) {
    for (int b = 0; b < blocks; ++b) {
        block();
        recordedLeft.insert(recordedLeft.end(), outLeft.begin(), outLeft.end());
        recordedRight.insert(recordedRight.end(), outRight.begin(), outRight.end());
    }
}

} // namespace trelvo::test
