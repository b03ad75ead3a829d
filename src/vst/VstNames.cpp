#include "vst/VstNames.h"

#include <array>

namespace trelvo::host {

namespace {

constexpr std::array<std::string_view, 80> kEffNames = {
    "Open",
    "Close",
    "SetProgram",
    "GetProgram",
    "SetProgramName",
    "GetProgramName",
    "GetParamLabel",
    "GetParamDisplay",
    "GetParamName",
    "GetVu*",
    "SetSampleRate",
    "SetBlockSize",
    "MainsChanged",
    "EditGetRect",
    "EditOpen",
    "EditClose",
    "EditDraw*",
    "EditMouse*",
    "EditKey*",
    "EditIdle",
    "EditTop*",
    "EditSleep*",
    "Identify*",
    "GetChunk",
    "SetChunk",
    "ProcessEvents",
    "CanBeAutomated",
    "String2Parameter",
    "GetNumProgramCategories",
    "GetProgramNameIndexed",
    "CopyProgram",
    "ConnectInput",
    "ConnectOutput",
    "GetInputProperties",
    "GetOutputProperties",
    "GetPlugCategory",
    "GetCurrentPosition",
    "GetDestinationBuffer",
    "OfflineNotify",
    "OfflinePrepare",
    "OfflineRun",
    "ProcessVarIo",
    "SetSpeakerArrangement",
    "SetBlockSizeAndSampleRate",
    "SetBypass",
    "GetEffectName",
    "GetErrorText",
    "GetVendorString",
    "GetProductString",
    "GetVendorVersion",
    "VendorSpecific",
    "CanDo",
    "GetTailSize",
    "Idle",
    "GetIcon",
    "SetViewPosition",
    "GetParameterProperties",
    "KeysRequired",
    "GetVstVersion",
    "EditKeyDown",
    "EditKeyUp",
    "SetEditKnobMode",
    "GetMidiProgramName",
    "GetCurrentMidiProgram",
    "GetMidiProgramCategory",
    "HasMidiProgramsChanged",
    "GetMidiKeyName",
    "BeginSetProgram",
    "EndSetProgram",
    "GetSpeakerArrangement",
    "ShellGetNextPlugin",
    "StartProcess",
    "StopProcess",
    "SetTotalSampleToProcess",
    "SetPanLaw",
    "BeginLoadBank",
    "BeginLoadProgram",
    "SetProcessPrecision",
    "GetNumMidiInputChannels",
    "GetNumMidiOutputChannels",
};

constexpr std::array<std::string_view, 50> kAmNames = {
    "Automate",
    "Version",
    "CurrentID",
    "Idle",
    "PinConnected",
    "2_0_*",
    "WantMidi*",
    "GetTime",
    "ProcessEvents",
    "SetTime*",
    "TempoAt*",
    "GetNumAutomatableParameters*",
    "GetParameterQuantization*",
    "IOChanged",
    "NeedIdle*",
    "SizeWindow",
    "GetSampleRate",
    "GetBlockSize",
    "GetInputLatency",
    "GetOutputLatency",
    "GetPreviousPlug*",
    "GetNextPlug*",
    "WillReplaceOrAccumulate*",
    "GetCurrentProcessLevel",
    "GetAutomationState",
    "OfflineStart",
    "OfflineRead",
    "OfflineWrite",
    "OfflineGetCurrentPass",
    "OfflineGetCurrentMetaPass",
    "SetOutputSampleRate*",
    "GetOutputSpeakerArrangement*",
    "GetVendorString",
    "GetProductString",
    "GetVendorVersion",
    "VendorSpecific",
    "SetIcon*",
    "CanDo",
    "GetLanguage",
    "OpenWindow*",
    "CloseWindow*",
    "GetDirectory",
    "UpdateDisplay",
    "BeginEdit",
    "EndEdit",
    "OpenFileSelector",
    "CloseFileSelector",
    "EditFile*",
    "GetChunkFile*",
    "GetInputSpeakerArrangement*",
};

constexpr std::array<std::string_view, 12> kCategoryNames = {
    "Unknown", "Effect",     "Synth",       "Analysis",       "Mastering", "Spacializer",
    "RoomFx",  "SurroundFx", "Restoration", "OfflineProcess", "Shell",     "Generator",
};

std::string prefixed(int opcode, bool withNumber, std::string_view prefix, std::string_view name) {
    std::string text;
    if (withNumber) text = std::to_string(opcode) + ":";
    text.append(prefix).append(name);
    return text;
}

} // namespace

std::string_view effOpcodeBaseName(int opcode) noexcept {
    return opcode >= 0 && opcode < static_cast<int>(kEffNames.size()) ? kEffNames[static_cast<std::size_t>(opcode)]
                                                                      : "Unknown";
}

std::string EffOpcodeName(int opcode, bool withNumber) {
    return prefixed(opcode, withNumber, "eff", effOpcodeBaseName(opcode));
}

std::string_view amOpcodeBaseName(int opcode) noexcept {
    return opcode >= 0 && opcode < static_cast<int>(kAmNames.size()) ? kAmNames[static_cast<std::size_t>(opcode)]
                                                                     : "Unknown";
}

std::string AmOpcodeName(int opcode, bool withNumber) {
    return prefixed(opcode, withNumber, "am", amOpcodeBaseName(opcode));
}

std::string_view PlugCategoryName(int category) noexcept {
    return category >= 0 && category < static_cast<int>(kCategoryNames.size())
               ? kCategoryNames[static_cast<std::size_t>(category)]
               : std::string_view();
}

} // namespace trelvo::host
