#include "host/TVstPlugIn.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "diag/OpcodeLevels.h"
#include "host/HostCallback.h"
#include "host/TVstHost.h"
#include "platform/FloatingPoint.h"
#include "platform/TrelvoHome.h"
#include "vst/VstNames.h"

namespace trelvo::host {

namespace {

using diag::LineText;

bool writeLogOn() noexcept {
    return diag::theLog().switches.writeLog.load(std::memory_order_relaxed);
}

/// A debug line: written only while "WrLog" is on.
using diag::debugLine;

/// A debug line for the log file only.
void fileOnlyLine(std::string_view line) {
    if (writeLogOn()) diag::LogOnly(line);
}

void errorLine(std::string_view line) {
    diag::hookedLogError(line);
}

std::string quoted(std::string_view text) {
    std::string result = "\"";
    result.append(text).append("\"");
    return result;
}

/// Libraries of quarantined slots: code may still run from them (threads, pending
/// callbacks), and their unload code may fault again, so they stay mapped until exit.
std::mutex gGraveyardMutex;
std::vector<platform::DynamicLibrary>* gGraveyard = new std::vector<platform::DynamicLibrary>();

/// Opcodes whose ptr argument is text in verbose log lines.
bool ptrIsText(VstInt32 opcode) {
    return (opcode >= effSetProgramName && opcode <= effGetParamName) || opcode == effString2Parameter ||
           opcode == effGetProgramNameIndexed || (opcode >= effGetEffectName && opcode <= effGetProductString);
}

} // namespace

TVstPlugIn::TVstPlugIn(TVstHost& owner, int slotIdx) : rack::SlotRecord(slotIdx), host(owner) {}

TVstPlugIn::~TVstPlugIn() {
    if (PlugLoaded.load()) {
        if (EditorOpen.load()) EditClose();
        Unload();
    }
}

std::string TVstPlugIn::programText(int program) {
    const std::string digits = std::to_string(program);
    if (program < 10) return "00" + digits;
    if (program < 100) return "0" + digits;
    return digits;
}

// ---- Guarded calls ----

bool TVstPlugIn::callPlugIn(void (*fn)(void*), void* context, std::string_view what,
                            bool quarantineOnException) noexcept {
    if (Quarantined.load(std::memory_order_acquire)) return false;
    platform::maskFloatingPointExceptions();
    platform::FaultReport report;
    if (platform::runGuarded(fn, context, report)) return true;
    if (report.kind == platform::FaultKind::Signal || quarantineOnException) quarantine(report, what);
    return false;
}

void TVstPlugIn::quarantine(const platform::FaultReport& report, std::string_view what) noexcept {
    LineText reason;
    reason << (report.kind == platform::FaultKind::Signal ? "" : "exception ") << report.what << " in " << what;
    const std::string_view text = reason.view();
    const std::size_t length = std::min(text.size(), sizeof quarantineText - 1);
    std::memcpy(quarantineText, text.data(), length);
    quarantineText[length] = '\0';
    refusalReported.store(false, std::memory_order_relaxed);
    Quarantined.store(true, std::memory_order_release);
    LineText line;
    line << "quarantined slot " << SlotIdx << " " << '"' << SlotName << '"' << ": " << report.what << " in " << what
         << "; no further calls reach this plug-in";
    errorLine(line.view());
}

std::string TVstPlugIn::quarantineReason() const {
    if (!isQuarantined()) return {};
    return quarantineText;
}

VstIntPtr TVstPlugIn::Dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, double opt) noexcept {
    AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    const std::uint32_t tick = host.idleTick.load(std::memory_order_relaxed);
    if (kind() != rack::SlotKind::Plugin || !PlugLoaded.load(std::memory_order_acquire) || effect == nullptr ||
        isQuarantined()) {
        // A quarantined slot is refused on every call (the MIDI delivery of every block among
        // them): one line says so, the rest would bury the log.
        if (isQuarantined() && refusalReported.exchange(true, std::memory_order_relaxed)) return kDispatchRefused;
        LineText line;
        line << tick << ":.dispatchTo " << '"' << EffectName << '"' << ", " << opcode << ":" << opcode << ":eff"
             << effOpcodeBaseName(opcode);
        if (isQuarantined()) line << " (quarantined)";
        errorLine(line.view());
        return kDispatchRefused;
    }

    struct Call {
        AEffect* effect;
        VstInt32 opcode;
        VstInt32 index;
        VstIntPtr value;
        void* ptr;
        float opt;
        VstIntPtr result;
    } call{effect, opcode, index, value, ptr, static_cast<float>(opt), 0};
    const bool ok = callPlugIn(
        [](void* context) {
            auto* c = static_cast<Call*>(context);
            c->result = c->effect->dispatcher(c->effect, c->opcode, c->index, c->value, c->ptr, c->opt);
        },
        &call, effOpcodeBaseName(opcode));
    if (!ok) {
        LineText line;
        line << tick << ":>dispatchTo " << '"' << EffectName << '"' << ", " << opcode << opcode << ":eff"
             << effOpcodeBaseName(opcode);
        errorLine(line.view());
        return kDispatchRefused;
    }
    logCall(opcode, index, value, ptr, opt, call.result);
    return call.result;
}

void TVstPlugIn::logCall(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, double opt,
                         VstIntPtr result) noexcept {
    diag::DiagLog& log = diag::theLog();
    diag::CountText countText;
    if (!diag::passLogGate(log.switches, opcode, diag::plugCallLevels(), diag::kPlugOpcodeCount - 1, countText)) return;

    if (opcode == effGetProgramNameIndexed && index >= 2 && index <= NumPrograms - 3) {
        if (!dittoWritten) diag::hookedLog("         ditto");
        dittoWritten = true;
        return;
    }
    dittoWritten = false;

    LineText line;
    line << host.idleTick.load(std::memory_order_relaxed) << ":dispatchTo " << '"' << SlotName << '"' << ", eff"
         << effOpcodeBaseName(opcode);
    if (log.switches.verbose.load(std::memory_order_relaxed)) {
        line << "(" << opcode << "," << index << "," << value << ",";
        if (ptrIsText(opcode) && ptr != nullptr)
            line.appendQuoted(
                std::string_view(static_cast<const char*>(ptr), strnlen(static_cast<const char*>(ptr), 255)));
        else
            line.appendPointer(ptr);
        line << ",";
        line.appendFixed(opt, 5);
        line << ")";
    }
    line << "=" << result;
    if (opcode == effCanDo && ptr != nullptr)
        line << "  \"" << std::string_view(static_cast<const char*>(ptr), strnlen(static_cast<const char*>(ptr), 255))
             << "=" << result << "\"";
    line << countText.view();
    diag::hookedLog(line.view());
}

bool TVstPlugIn::SetParameter(int index, float value) {
    AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    if (effect == nullptr) return false;
    struct Call {
        AEffect* effect;
        int index;
        float value;
    } call{effect, index, value};
    callPlugIn(
        [](void* c) {
            auto* p = static_cast<Call*>(c);
            p->effect->setParameter(p->effect, p->index, p->value);
        },
        &call, "setParameter");
    return true;
}

float TVstPlugIn::GetParameter(int index) {
    AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    if (effect == nullptr) return 0.0f;
    struct Call {
        AEffect* effect;
        int index;
        float value;
    } call{effect, index, 0.0f};
    if (!callPlugIn(
            [](void* c) {
                auto* p = static_cast<Call*>(c);
                p->value = p->effect->getParameter(p->effect, p->index);
            },
            &call, "getParameter"))
        return 0.0f;
    return call.value;
}

namespace {
struct ProcessCall {
    AEffect* effect;
    AEffectProcessProc proc;
    float** inputs;
    float** outputs;
    int frames;
};
void runProcess(void* context) {
    auto* c = static_cast<ProcessCall*>(context);
    c->proc(c->effect, c->inputs, c->outputs, c->frames);
}
} // namespace

bool TVstPlugIn::Process(float** inputs, float** outputs, int sampleFrames) noexcept {
    AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    if (effect == nullptr || effect->process == nullptr) return true;
    ProcessCall call{effect, effect->process, inputs, outputs, sampleFrames};
    return callPlugIn(&runProcess, &call, "process", true);
}

bool TVstPlugIn::ProcessReplacing(float** inputs, float** outputs, int sampleFrames) noexcept {
    AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    if (effect == nullptr || effect->processReplacing == nullptr) return true;
    ProcessCall call{effect, effect->processReplacing, inputs, outputs, sampleFrames};
    return callPlugIn(&runProcess, &call, "processReplacing", true);
}

// ---- Loading ----

void TVstPlugIn::unloadWithReason(std::string_view reason, std::string readable) {
    std::string line = "unload " + DllPath + ": ";
    line.append(reason);
    errorLine(line);
    LoadFailure = std::move(readable);
    Unload();
}

bool TVstPlugIn::enterMain(const char* entryName) {
    struct Call {
        VstPluginMainProc entry;
        AEffect* effect;
    } call{FMainFunction, nullptr};
    const bool ok = callPlugIn(
        [](void* c) {
            auto* p = static_cast<Call*>(c);
            p->effect = p->entry(&hostCallback);
        },
        &call, entryName);
    if (!ok) {
        unloadWithReason(std::string("FMainFunction ") + quoted(entryName) + " failed",
                         isQuarantined() ? "it crashed while loading (" + quarantineReason() + ")"
                                         : "it failed while loading (its entry point threw an exception)");
        return false;
    }
    PVstEffect.store(call.effect, std::memory_order_release);
    if (std::strcmp(entryName, "main") == 0)
        debugLine(std::to_string(SlotIdx) + ":FMainFunction " + quoted(entryName) + " OK...");
    else
        debugLine("FMainFunction " + quoted(entryName) + " OK...");
    return true;
}

bool TVstPlugIn::Load() {
    debugLine("Load: " + quoted(DllPath));
    Quarantined.store(false, std::memory_order_release);
    quarantineAnnounced = false;
    LoadFailure.clear();
    if (!platform::fileExists(DllPath)) {
        unloadWithReason("File does not exist", "the file does not exist");
        return false;
    }
    if (!FDLLHandle.open(DllPath)) {
        errorLine("dlopen: " + FDLLHandle.error());
        unloadWithReason("FDLLHandle = 0", "it is not a library this system can load (" + FDLLHandle.error() + ")");
        return false;
    }
    debugLine(std::to_string(SlotIdx) + ":Library loaded: " + platform::fileNamePart(DllPath) + " " +
              std::to_string(FDLLHandle.handleValue()));
    PlugLoaded.store(true, std::memory_order_release);

    // "main" first; "VSTPluginMain" only when the library has no "main".
    if (void* mainEntry = FDLLHandle.symbol("main")) {
        FMainFunction = reinterpret_cast<VstPluginMainProc>(mainEntry);
        debugLine(std::to_string(SlotIdx) + ":Library ====== loaded...");
        if (!enterMain("main")) return false;
    } else if (void* pluginMain = FDLLHandle.symbol("VSTPluginMain")) {
        FMainFunction = reinterpret_cast<VstPluginMainProc>(pluginMain);
        if (!enterMain("VSTPluginMain")) return false;
    }
    if (FMainFunction == nullptr) {
        unloadWithReason("2:FMainFunction = nil", "it has no VST 2.x entry point (\"main\" or \"VSTPluginMain\")");
        return false;
    }
    if (PVstEffect.load() == nullptr) {
        unloadWithReason("PVstEffect = nil",
                         "its entry point gave no plug-in (it may need a host it does not recognise)");
        return false;
    }
    if (OnLoaded) OnLoaded(SlotIdx, 0);
    debugLine("Load OK");
    return true;
}

void TVstPlugIn::Unload() {
    debugLine("unLoad: " + quoted(DllPath));
    runMode.reset();
    smoothed = rack::SmoothedGains{0, 0, 0, 0, 0, 0, 0};
    NumPrograms = -1;
    UniqueIdText.clear();
    if (FDLLHandle.isOpen()) {
        if (isQuarantined()) {
            std::lock_guard lock(gGraveyardMutex);
            gGraveyard->push_back(std::move(FDLLHandle));
            FDLLHandle = platform::DynamicLibrary();
        } else {
            FDLLHandle.close();
        }
    }
    FMainFunction = nullptr;
    mainsOn = false;
    PVstEffect.store(nullptr, std::memory_order_release);
    PlugLoaded.store(false, std::memory_order_release);
    Opened.store(false, std::memory_order_release);
}

void TVstPlugIn::Open() {
    fileOnlyLine("Open: " + quoted(DllPath));
    Kind = rack::SlotKind::Plugin;
    Opening = true;
    PlugLoaded = false;
    Opened = false;
    IsMixer = false;

    if (PVstEffect.load() == nullptr) {
        host.slotCount.fetch_add(1);
        const bool loaded = Load();
        PlugLoaded = false;
        host.slotCount.fetch_sub(1);
        if (!loaded) {
            Opening = false;
            return;
        }
    }
    platform::maskFloatingPointExceptions();
    EditorOpen = false;
    NeedIdle = false;

    AEffect* effect = PVstEffect.load();
    // The record is the plug-in's memory; read its magic under the guard.
    std::pair<AEffect*, VstInt32> read{effect, 0};
    callPlugIn(
        [](void* c) {
            auto* p = static_cast<std::pair<AEffect*, VstInt32>*>(c);
            p->second = p->first->magic;
        },
        &read, "reading the effect record");
    if (read.second != kEffectMagic) {
        unloadWithReason("No correct magic in DLL",
                         "it is not a VST 2.x plug-in (its effect record has the wrong magic number)");
        Opening = false;
        return;
    }
    effect->resvd1 = reinterpret_cast<VstIntPtr>(this);
    PlugLoaded = true;
    numInputs = effect->numInputs;
    numOutputs = effect->numOutputs;
    tooWideReported.store(false, std::memory_order_relaxed);
    isMidiPlugin = isMidiPlugin || (numInputs <= 0 && numOutputs <= 0);

    debugLine("effOpen: " + quoted(DllPath));
    platform::maskFloatingPointExceptions();
    Dispatch(effOpen, 0, 0, nullptr, 0.0);
    if (isQuarantined()) {
        // A hardware fault inside effOpen: nothing more is asked of this plug-in.
        LoadFailure = "it crashed while opening (" + quarantineReason() + ")";
        Opening = false;
        return;
    }

    CanBypass = CanDo("bypass") == 1;
    const VstIntPtr receives = CanDo("receiveVstMidiEvent");
    CanReceiveMidi = receives >= 0;
    if (receives < 0) CanReceiveMidi = (effect->flags & effFlagsIsSynth) != 0;
    debugLine(std::string("canRxVstMidiEvent=") + (CanReceiveMidi ? "1" : "0"));

    SetSampleRate(static_cast<double>(host.engineSampleRate.load()));
    SetBlockSize(host.engineBlockSize.load());
    Active = true;

    const auto id = static_cast<std::uint32_t>(effect->uniqueID);
    UniqueIdText = std::string{static_cast<char>(id >> 24), static_cast<char>(id >> 16), static_cast<char>(id >> 8),
                               static_cast<char>(id)};
    VstVersion = GetVstVersion();
    if (VstVersion < 1) VstVersion = effect->version;
    PlugCategory = static_cast<std::uint8_t>(GetPlugCategory());
    NumPrograms = effect->numPrograms;
    PlugLoaded = true;
    Opened = true;
    fileOnlyLine("end of .open");
    Opening = false;
}

void TVstPlugIn::Close() {
    if (EditorOpen.load()) EditClose();
    if (Active.load()) {
        // A resumed plug-in is suspended before it is closed.
        if (mainsOn) MainsChanged(false);
        debugLine("Closing: " + quoted(EffectName));
        Dispatch(effClose, 0, 0, nullptr, 0.0);
        debugLine("effClose: " + quoted(EffectName));
        PVstEffect.store(nullptr, std::memory_order_release);
        mainsOn = false;
    }
    Active = false;
}

void TVstPlugIn::SetActive(bool value) {
    if (value == Active.load()) return;
    if (value)
        Open();
    else
        Close();
}

// ---- Facts ----

VstInt32 TVstPlugIn::effectFlags() const noexcept {
    const AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    return effect != nullptr ? effect->flags : 0;
}
int TVstPlugIn::effectNumParams() const noexcept {
    const AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    return effect != nullptr ? effect->numParams : 0;
}
int TVstPlugIn::effectNumPrograms() const noexcept {
    const AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    return effect != nullptr ? effect->numPrograms : 0;
}
int TVstPlugIn::effectNumInputs() const noexcept {
    const AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    return effect != nullptr ? effect->numInputs : 0;
}
int TVstPlugIn::effectNumOutputs() const noexcept {
    const AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    return effect != nullptr ? effect->numOutputs : 0;
}
VstInt32 TVstPlugIn::effectUniqueID() const noexcept {
    const AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    return effect != nullptr ? effect->uniqueID : 0;
}
VstInt32 TVstPlugIn::effectVersion() const noexcept {
    const AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    return effect != nullptr ? effect->version : 0;
}
int TVstPlugIn::effectInitialDelay() const noexcept {
    const AEffect* effect = PVstEffect.load(std::memory_order_acquire);
    return effect != nullptr ? effect->initialDelay : 0;
}

// ---- Wrappers ----

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
