#pragma once

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "vst/VstAbi.h"

namespace trelvo::test {

/// One call a plug-in made to the test host.
struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
    std::vector<std::vector<unsigned char>> events; ///< bytes of each event for ProcessEvents
};

/// Loads a plug-in library straight through dlopen and talks to it through a minimal host
/// callback, for tests of the plug-ins themselves (the real loader has tests of its own).
/// The minimal host answers Version 2400, GetSampleRate 48000, GetBlockSize 256 and records
/// every call. One DirectPlugin at a time may be alive.
class DirectPlugin {
public:
    explicit DirectPlugin(const std::string& path);
    ~DirectPlugin();

    AEffect* effect() const { return aeffect; }
    bool loaded() const { return aeffect != nullptr; }
    const std::string& error() const { return loadError; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);
    /// effOpen, sample rate, block size, mains on.
    void open(float sampleRate = 48000.0f, int blockSize = 256);
    std::string text(VstInt32 opcode, VstInt32 index = 0);
    /// Runs processReplacing on stereo buffers; inputs may be empty for instruments.
    void process(std::vector<float>& left, std::vector<float>& right, const std::vector<float>& inLeft,
                 const std::vector<float>& inRight);
    /// Sends short MIDI events (status, data1, data2 at a frame) with effProcessEvents.
    void sendMidi(const std::vector<std::array<int, 4>>& frameStatusData);

    std::vector<HostCall> takeHostCalls();

private:
    platform::DynamicLibrary library;
    AEffect* aeffect = nullptr;
    std::string loadError;
};

} // namespace trelvo::test
