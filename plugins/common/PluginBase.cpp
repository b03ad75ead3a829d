#include "common/PluginBase.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace trelvo::plugins {

PluginBase::PluginBase(audioMasterCallback host, const PluginInfo& info)
    : host(host), info(info), programs(new Program[static_cast<std::size_t>(std::max(info.numPrograms, 1))]) {
    aeffect.magic = kEffectMagic;
    aeffect.dispatcher = &dispatchEntry;
    aeffect.process = &processEntry;
    aeffect.processReplacing = &processReplacingEntry;
    aeffect.setParameter = &setParameterEntry;
    aeffect.getParameter = &getParameterEntry;
    aeffect.numPrograms = info.numPrograms;
    aeffect.numParams = info.numParams;
    aeffect.numInputs = info.numInputs;
    aeffect.numOutputs = info.numOutputs;
    aeffect.flags = info.flags | effFlagsCanReplacing;
    aeffect.uniqueID = info.uniqueId;
    aeffect.version = info.version;
    aeffect.ioRatio = 1.0f;
    aeffect.object = this;
}

void PluginBase::copyText(void* target, std::string_view text, std::size_t size) {
    if (target == nullptr || size == 0) return;
    const std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(target, text.data(), length);
    static_cast<char*>(target)[length] = '\0';
}

VstIntPtr PluginBase::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return host != nullptr ? host(&aeffect, opcode, index, value, ptr, opt) : 0;
}

void PluginBase::setParameter(int index, float value) {
    if (index < 0 || index >= std::min(info.numParams, kMaxParams)) return;
    value = std::clamp(value, 0.0f, 1.0f);
    program(currentProgram()).values[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
    parameterChanged(index, value);
}

void PluginBase::setParameterAutomated(int index, float value) {
    if (index < 0 || index >= std::min(info.numParams, kMaxParams)) return;
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, parameter(index));
}

float PluginBase::parameter(int index) const noexcept {
    if (index < 0 || index >= std::min(info.numParams, kMaxParams)) return 0.0f;
    return programs[static_cast<std::size_t>(currentProgram())].values[static_cast<std::size_t>(index)].load(
        std::memory_order_relaxed);
}

void PluginBase::selectProgram(int programIndex) {
    if (programIndex < 0 || programIndex >= info.numPrograms) return;
    current.store(programIndex, std::memory_order_relaxed);
    programChanged();
}

std::string PluginBase::parameterDisplay(int index) const {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(parameter(index)));
    return text;
}

VstIntPtr PluginBase::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    switch (opcode) {
    case effOpen: return 0;
    case effClose: delete this; return 1;
    case effSetProgram: selectProgram(static_cast<int>(value)); return 0;
    case effGetProgram: return currentProgram();
    case effSetProgramName:
        if (ptr != nullptr)
            copyText(program(currentProgram()).name, static_cast<const char*>(ptr), kVstMaxProgNameLen + 1);
        return 0;
    case effGetProgramName: copyText(ptr, program(currentProgram()).name, kVstMaxProgNameLen + 1); return 0;
    case effGetProgramNameIndexed:
        if (index < 0 || index >= info.numPrograms) return 0;
        copyText(ptr, program(index).name, kVstMaxProgNameLen + 1);
        return 1;
    case effGetParamName:
        if (index < 0 || index >= info.numParams) return 0;
        copyText(ptr, parameterName(index), kVstMaxParamStrLen * 4);
        return 0;
    case effGetParamLabel:
        if (index < 0 || index >= info.numParams) return 0;
        copyText(ptr, parameterLabel(index), kVstMaxParamStrLen * 4);
        return 0;
    case effGetParamDisplay:
        if (index < 0 || index >= info.numParams) return 0;
        copyText(ptr, parameterDisplay(index), kVstMaxParamStrLen * 4);
        return 0;
    case effCanBeAutomated: return index >= 0 && index < info.numParams ? 1 : 0;
    case effSetSampleRate: sampleRate = opt > 0.0f ? opt : sampleRate; return 0;
    case effSetBlockSize: blockSize = value > 0 ? static_cast<int>(value) : blockSize; return 0;
    case effMainsChanged: mainsChanged(value != 0); return 0;
    case effGetEffectName: copyText(ptr, info.effectName, kVstMaxEffectNameLen); return 1;
    case effGetVendorString: copyText(ptr, "Trelvo", kVstMaxVendorStrLen); return 1;
    case effGetProductString: copyText(ptr, info.productName, kVstMaxProductStrLen); return 1;
    case effGetVendorVersion: return info.version;
    case effGetVstVersion: return kVstVersion;
    case effGetPlugCategory: return info.category;
    case effCanDo: return ptr != nullptr ? canDo(static_cast<const char*>(ptr)) : 0;
    case effGetTailSize: return 0;
    case effGetInputProperties:
    case effGetOutputProperties: {
        const bool isInput = opcode == effGetInputProperties;
        if (ptr == nullptr || index < 0 || index >= (isInput ? info.numInputs : info.numOutputs)) return 0;
        auto* pin = static_cast<VstPinProperties*>(ptr);
        char label[kVstMaxLabelLen];
        std::snprintf(label, sizeof label, "%s %s", isInput ? "In" : "Out", index % 2 == 0 ? "L" : "R");
        copyText(pin->label, label, sizeof pin->label);
        copyText(pin->shortLabel, label, sizeof pin->shortLabel);
        pin->flags = kVstPinIsActive | kVstPinIsStereo;
        return 1;
    }
    default: return 0;
    }
}

VstIntPtr PluginBase::dispatchEntry(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                    float opt) {
    return static_cast<PluginBase*>(effect->object)->dispatch(opcode, index, value, ptr, opt);
}

void PluginBase::processEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    // The accumulating form adds the replacing result to what the outputs already hold.
    auto* plugin = static_cast<PluginBase*>(effect->object);
    constexpr int kChunk = 256;
    const int numOutputs = std::min(plugin->info.numOutputs, 8);
    float scratch[8][kChunk];
    float* chunkOut[8];
    float* chunkIn[8];
    for (int start = 0; start < frames; start += kChunk) {
        const int count = std::min(kChunk, frames - start);
        for (int c = 0; c < numOutputs; ++c) chunkOut[c] = scratch[c];
        for (int c = 0; c < std::min(plugin->info.numInputs, 8); ++c) chunkIn[c] = inputs[c] + start;
        plugin->processReplacing(chunkIn, chunkOut, count);
        for (int c = 0; c < numOutputs; ++c)
            for (int i = 0; i < count; ++i) outputs[c][start + i] += scratch[c][i];
    }
}

void PluginBase::processReplacingEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    static_cast<PluginBase*>(effect->object)->processReplacing(inputs, outputs, frames);
}

void PluginBase::setParameterEntry(AEffect* effect, VstInt32 index, float value) {
    static_cast<PluginBase*>(effect->object)->setParameter(index, value);
}

float PluginBase::getParameterEntry(AEffect* effect, VstInt32 index) {
    return static_cast<PluginBase*>(effect->object)->parameter(index);
}

} // namespace trelvo::plugins
