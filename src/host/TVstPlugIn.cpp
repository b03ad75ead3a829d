#include "host/TVstPlugIn.h"

#include <algorithm>
#include <cstring>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "diag/OpcodeLevels.h"
#include "host/IsolatedEffect.h"
#include "host/PlugInLines.h"
#include "host/TVstHost.h"
#include "platform/FloatingPoint.h"
#include "vst/VstNames.h"

namespace trelvo::host {

using detail::errorLine;

namespace {

using diag::LineText;

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

} // namespace trelvo::host
