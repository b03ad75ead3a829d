// TVstPlugIn: the wrappers of the dispatcher's opcodes.
#include <cstring>
#include <vector>

#include "host/TVstPlugIn.h"
#include "vst/VstNames.h"

namespace trelvo::host {

std::string TVstPlugIn::textCall(VstInt32 opcode, VstInt32 index, std::size_t bufferSize) {
    std::vector<char> buffer(bufferSize + 1, '\0');
    Dispatch(opcode, index, 0, buffer.data(), 0.0);
    buffer[bufferSize] = '\0';
    return std::string(buffer.data());
}

void TVstPlugIn::SetProgram(int program) {
    if (!Active.load()) return;
    Dispatch(effSetProgram, 0, program, nullptr, 0.0);
    CurProgram = program;
    CurProgramText = programText(program);
}

int TVstPlugIn::GetProgram() {
    if (!Active.load()) return -1;
    const int program = static_cast<int>(Dispatch(effGetProgram, 0, 0, nullptr, 0.0));
    CurProgram = program;
    CurProgramText = programText(program);
    return program;
}

void TVstPlugIn::SetProgramName(const std::string& name) {
    if (!Active.load()) return;
    Dispatch(effSetProgramName, 0, 0, const_cast<char*>(name.c_str()), 0.0);
    CurProgramName = name.substr(0, 24);
}

std::string TVstPlugIn::GetProgramName() {
    if (!Active.load()) return {};
    std::string name = textCall(effGetProgramName, 0, 65);
    CurProgramName = name.substr(0, 24);
    return name;
}

std::string TVstPlugIn::GetParamLabel(int index) {
    if (!Active.load() || index < 0 || index >= effectNumParams()) return {};
    return textCall(effGetParamLabel, index, 65);
}

std::string TVstPlugIn::GetParamDisplay(int index) {
    if (!Active.load() || index < 0 || index >= effectNumParams()) return {};
    return textCall(effGetParamDisplay, index, 65);
}

std::string TVstPlugIn::GetParamName(int index) {
    if (!Active.load() || index < 0 || index >= effectNumParams()) return {};
    return textCall(effGetParamName, index, 65);
}

void TVstPlugIn::SetSampleRate(double rate) {
    Dispatch(effSetSampleRate, 0, 0, nullptr, rate);
}

void TVstPlugIn::SetBlockSize(int frames) {
    Dispatch(effSetBlockSize, 0, frames, nullptr, 0.0);
}

void TVstPlugIn::MainsChanged(bool on) {
    Dispatch(effMainsChanged, 0, on ? 1 : 0, nullptr, 0.0);
    mainsOn = on;
}

ERect TVstPlugIn::EditGetRect() {
    if (!Active.load()) return ERect{};
    ERect* rect = nullptr;
    Dispatch(effEditGetRect, 0, 0, &rect, 0.0);
    if (rect == nullptr) return ERect{};
    // The pointer is the plug-in's; read it under the guard.
    std::pair<ERect*, ERect> read{rect, ERect{}};
    callPlugIn(
        [](void* c) {
            auto* p = static_cast<std::pair<ERect*, ERect>*>(c);
            p->second = *p->first;
        },
        &read, "reading the editor rectangle");
    return read.second;
}

VstIntPtr TVstPlugIn::EditOpen(void* parentWindow) {
    const VstIntPtr result = Dispatch(effEditOpen, 0, 0, parentWindow, 0.0);
    if (result >= 0) {
        EditorOpen = true;
        EditorShown = true;
    }
    return result;
}

void TVstPlugIn::EditClose() {
    Dispatch(effEditClose, 0, 0, nullptr, 0.0);
    EditorOpen = false;
}

VstIntPtr TVstPlugIn::EditIdle() {
    return EditorOpen.load() ? Dispatch(effEditIdle, 0, 0, nullptr, 0.0) : 0;
}

VstIntPtr TVstPlugIn::Identify() {
    return Dispatch(effIdentify, 0, 0, nullptr, 0.0);
}

VstIntPtr TVstPlugIn::GetChunk(bool isPreset, void*& data) {
    data = nullptr;
    return Dispatch(effGetChunk, isPreset ? 1 : 0, 0, &data, 0.0);
}

VstIntPtr TVstPlugIn::SetChunk(bool isPreset, void* data, VstIntPtr size) {
    return Dispatch(effSetChunk, isPreset ? 1 : 0, size, data, 0.0);
}

VstIntPtr TVstPlugIn::ProcessEvents(VstEvents* events) {
    return Dispatch(effProcessEvents, 0, 0, events, 0.0);
}

VstIntPtr TVstPlugIn::String2Parameter(int index, const char* text) {
    return Dispatch(effString2Parameter, index, 0, const_cast<char*>(text), 0.0);
}

VstIntPtr TVstPlugIn::GetProgramNameIndexed(int category, int index, char* buffer) {
    if (!Active.load()) return -1;
    return Dispatch(effGetProgramNameIndexed, index, category, buffer, 0.0);
}

VstIntPtr TVstPlugIn::GetInputProperties(int index, VstPinProperties& record) {
    if (!Active.load()) return 0;
    std::memset(&record, 0, sizeof record);
    return Dispatch(effGetInputProperties, index, 0, &record, 0.0);
}

VstIntPtr TVstPlugIn::GetOutputProperties(int index, VstPinProperties& record) {
    if (!Active.load()) return 0;
    std::memset(&record, 0, sizeof record);
    return Dispatch(effGetOutputProperties, index, 0, &record, 0.0);
}

int TVstPlugIn::GetPlugCategory() {
    if (!Active.load()) return -1;
    return static_cast<int>(Dispatch(effGetPlugCategory, 0, 0, nullptr, 0.0));
}

bool TVstPlugIn::SetBypass(bool on) {
    if (!CanBypass) return false;
    return Dispatch(effSetBypass, 0, on ? 1 : 0, nullptr, 0.0) != 0;
}

std::string TVstPlugIn::GetEffectName() {
    EffectName = Active.load() ? textCall(effGetEffectName, 0, 256) : std::string();
    return EffectName;
}

std::string TVstPlugIn::GetVendorString() {
    return Active.load() ? textCall(effGetVendorString, 0, 256) : std::string();
}

std::string TVstPlugIn::GetProductString() {
    return Active.load() ? textCall(effGetProductString, 0, 256) : std::string();
}

int TVstPlugIn::GetVendorVersion() {
    return Active.load() ? static_cast<int>(Dispatch(effGetVendorVersion, 0, 0, nullptr, 0.0)) : -1;
}

VstIntPtr TVstPlugIn::VendorSpecific(int index, VstIntPtr value, void* ptr, float opt) {
    return Dispatch(effVendorSpecific, index, value, ptr, opt);
}

VstIntPtr TVstPlugIn::CanDo(const char* text) {
    return Dispatch(effCanDo, 0, 0, const_cast<char*>(text), 0.0);
}

int TVstPlugIn::GetTailSize() {
    return Active.load() ? static_cast<int>(Dispatch(effGetTailSize, 0, 0, nullptr, 0.0)) : -1;
}

VstIntPtr TVstPlugIn::Idle() {
    return NeedIdle.load() ? Dispatch(effIdle, 0, 0, nullptr, 0.0) : 0;
}

int TVstPlugIn::GetVstVersion() {
    return Active.load() ? static_cast<int>(Dispatch(effGetVstVersion, 0, 0, nullptr, 0.0)) : -1;
}

bool TVstPlugIn::EditKeyDown(int character, int virtualKey, int modifiers) {
    if (!Active.load()) return false;
    return Dispatch(effEditKeyDown, character, virtualKey, nullptr, modifiers) == 1;
}

bool TVstPlugIn::EditKeyUp(int character, int virtualKey, int modifiers) {
    if (!Active.load()) return false;
    return Dispatch(effEditKeyUp, character, virtualKey, nullptr, modifiers) == 1;
}

void TVstPlugIn::SetEditKnobMode(int mode) {
    if (Active.load()) Dispatch(effSetEditKnobMode, 0, mode, nullptr, 0.0);
}

VstIntPtr TVstPlugIn::GetMidiProgramName(int channel, MidiProgramName& record) {
    return Active.load() ? Dispatch(effGetMidiProgramName, channel, 0, &record, 0.0) : 0;
}

VstIntPtr TVstPlugIn::GetMidiProgramCategory(MidiProgramCategory& record) {
    return Active.load() ? Dispatch(effGetMidiProgramCategory, 0, 0, &record, 0.0) : 0;
}

void TVstPlugIn::BeginSetProgram() {
    if (Active.load()) Dispatch(effBeginSetProgram, 0, 0, nullptr, 0.0);
}

void TVstPlugIn::EndSetProgram() {
    if (Active.load()) Dispatch(effEndSetProgram, 0, 0, nullptr, 0.0);
}

VstIntPtr TVstPlugIn::BeginLoadBank(VstPatchChunkInfo& info) {
    return Active.load() ? Dispatch(effBeginLoadBank, 0, 0, &info, 0.0) : -1;
}

VstIntPtr TVstPlugIn::BeginLoadProgram(VstPatchChunkInfo& info) {
    return Active.load() ? Dispatch(effBeginLoadProgram, 0, 0, &info, 0.0) : -1;
}

} // namespace trelvo::host
