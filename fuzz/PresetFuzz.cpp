// Fuzz target for the FXP and FXB readers: any bytes as a program file and as a bank file,
// loaded into a stand-in plug-in that uses chunks or parameters. Loading must never crash,
// hang or trip a sanitizer, and must only ever touch the plug-in's own parameters.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diag/DiagLog.h"
#include "host/TVstHost.h"
#include "host/TVstPlugIn.h"

using namespace trelvo;

namespace {

constexpr int kParams = 8;
constexpr int kPrograms = 4;
float values[kParams];

VstIntPtr dispatcher(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr value, void* ptr, float) {
    if (opcode == effSetChunk && value > 0 && ptr == nullptr) __builtin_trap();
    if (opcode == effSetProgram && (value < 0 || value >= kPrograms)) __builtin_trap();
    return 0;
}
void setParameter(AEffect*, VstInt32 index, float value) {
    if (index < 0 || index >= kParams) __builtin_trap();
    values[index] = value;
}
float getParameter(AEffect*, VstInt32 index) {
    return index >= 0 && index < kParams ? values[index] : 0.0f;
}

struct Stage {
    Stage() {
        diag::theLog().switches.debugOutput = false; // a refused file is the normal case here
        effect.magic = kEffectMagic;
        effect.dispatcher = dispatcher;
        effect.setParameter = setParameter;
        effect.getParameter = getParameter;
        effect.numParams = kParams;
        effect.numPrograms = kPrograms;
        effect.uniqueID = 0x54657374; // "Test"
        slot.Kind = rack::SlotKind::Plugin;
        slot.PlugLoaded = true;
        slot.Active = true;
        slot.PVstEffect = &effect;
        const char* folder = std::getenv("TMPDIR");
        file = std::string(folder != nullptr ? folder : "/tmp") + "/trelvo-preset-fuzz-" + std::to_string(getpid()) +
               ".fxp";
    }
    AEffect effect{};
    host::TVstHost host;
    host::TVstPlugIn slot{host, 0};
    std::string file;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Stage stage;
    if (size == 0) return 0;
    // The first byte picks the plug-in's form and accepted ids; the rest is the file.
    stage.effect.flags = (data[0] & 1) != 0 ? effFlagsProgramChunks : 0;
    stage.slot.AltUniqueIds[0] = (data[0] & 2) != 0 ? 0x41424344 : 0;
    host::TVstPlugIn::DeveloperSwitch = (data[0] & 4) != 0;
    std::FILE* out = std::fopen(stage.file.c_str(), "wb");
    if (out == nullptr) return 0;
    const bool written = std::fwrite(data + 1, 1, size - 1, out) == size - 1;
    if (std::fclose(out) != 0 || !written) return 0;
    stage.slot.LoadPreset(stage.file);
    stage.slot.LoadBank(stage.file);
    return 0;
}
