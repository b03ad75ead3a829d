#pragma once

// A small base for the project's own VST 2.x plug-ins: the effect record, programs with
// parameter values, the common dispatcher opcodes and the entry point. Each plug-in adds
// its processing and whatever opcodes it answers differently.

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "VstAbi.h"

namespace trelvo::plugins {

inline constexpr int kMaxParams = 8;

/// One program: a name and a value for every parameter. Values are atomics because the
/// host may set them on one thread while the audio thread reads them.
struct Program {
    char name[kVstMaxProgNameLen + 1] = {};
    std::array<std::atomic<float>, kMaxParams> values{};
};

struct PluginInfo {
    const char* effectName;
    const char* productName;
    VstInt32 uniqueId;
    VstInt32 version;
    VstInt32 category;
    int numInputs;
    int numOutputs;
    int numParams;
    int numPrograms;
    VstInt32 flags;
};

class PluginBase {
public:
    PluginBase(audioMasterCallback host, const PluginInfo& info);
    virtual ~PluginBase() = default;
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;

    AEffect* effect() noexcept { return &aeffect; }

protected:
    virtual VstIntPtr dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 frames) = 0;
    virtual std::string parameterName(int index) const = 0;
    virtual std::string parameterDisplay(int index) const;
    virtual std::string parameterLabel(int index) const { return {}; }
    /// canDo answer: 1 yes, -1 no, 0 don't know.
    virtual VstIntPtr canDo(std::string_view text) const { return -1; }
    virtual void parameterChanged(int index, float value) {}
    virtual void programChanged() {}
    virtual void mainsChanged(bool on) {}

    void setParameter(int index, float value);
    /// Sets a parameter as the user did in the editor and tells the host (audioMasterAutomate
    /// with the value as stored, after clamping). Thread: user interface.
    void setParameterAutomated(int index, float value);
    float parameter(int index) const noexcept;
    /// Switches the current program (and its parameter values). Thread: any.
    void selectProgram(int program);
    int currentProgram() const noexcept { return current.load(std::memory_order_relaxed); }
    Program& program(int index) noexcept { return programs[static_cast<std::size_t>(index)]; }
    const Program& program(int index) const noexcept { return programs[static_cast<std::size_t>(index)]; }
    const PluginInfo& pluginInfo() const noexcept { return info; }
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);

    /// Copies text into a host buffer of at least size bytes, always terminated.
    static void copyText(void* target, std::string_view text, std::size_t size);

    audioMasterCallback host;
    AEffect aeffect{};
    double sampleRate = 44100.0;
    int blockSize = 1024;

private:
    static VstIntPtr dispatchEntry(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt);
    static void processEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 frames);
    static void processReplacingEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 frames);
    static void setParameterEntry(AEffect* effect, VstInt32 index, float value);
    static float getParameterEntry(AEffect* effect, VstInt32 index);

    PluginInfo info;
    std::unique_ptr<Program[]> programs;
    std::atomic<int> current{0};
};

/// Asks the host for its version first, as plug-ins do; a host that answers 0 gets nothing.
template <class Plugin> AEffect* createPlugin(audioMasterCallback host) {
    if (host == nullptr || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    return (new Plugin(host))->effect();
}

} // namespace trelvo::plugins

#define TRELVO_EXPORT extern "C" __attribute__((visibility("default")))

/// Defines the "VSTPluginMain" entry point for a plug-in class.
#define TRELVO_PLUGIN_ENTRY(PluginClass)                                                                               \
    TRELVO_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {                                                   \
        return trelvo::plugins::createPlugin<PluginClass>(host);                                                       \
    }
