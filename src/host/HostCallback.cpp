#include "host/HostCallback.h"

#include <cmath>
#include <cstring>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "diag/OpcodeLevels.h"
#include "host/TVstHost.h"
#include "host/TVstPlugIn.h"
#include "platform/FloatingPoint.h"
#include "platform/RealtimeThread.h"
#include "vst/VstNames.h"

namespace trelvo::host {

namespace {

using diag::LineText;

constexpr VstInt32 kAnonymousOpcodes[] = {
    audioMasterVersion,
    audioMasterGetTime,
    audioMasterTempoAt,
    audioMasterGetNumAutomatableParameters,
    audioMasterGetParameterQuantization,
    audioMasterGetSampleRate,
    audioMasterGetBlockSize,
    audioMasterGetInputLatency,
    audioMasterGetOutputLatency,
    audioMasterGetVendorString,
    audioMasterGetProductString,
    audioMasterGetVendorVersion,
    audioMasterCanDo,
    audioMasterGetLanguage,
    audioMasterGetDirectory,
};

bool isAnonymousOpcode(VstInt32 opcode) {
    for (VstInt32 allowed : kAnonymousOpcodes)
        if (opcode == allowed) return true;
    return false;
}

/// The slot calling, or nullptr for an anonymous call. resvd1 is checked against the
/// host's own slots before it is trusted.
TVstPlugIn* callerOf(TVstHost& host, AEffect* effect) {
    if (effect == nullptr || effect->resvd1 == 0) return nullptr;
    auto* slot = reinterpret_cast<TVstPlugIn*>(effect->resvd1);
    if (!host.ownsSlot(slot)) return nullptr;
    if (!slot->PlugLoaded.load(std::memory_order_acquire) || slot->Opening.load(std::memory_order_acquire))
        return nullptr;
    return slot;
}

std::string_view textAt(const void* ptr) {
    if (ptr == nullptr) return {};
    return {static_cast<const char*>(ptr), strnlen(static_cast<const char*>(ptr), 255)};
}

void copyText(void* ptr, const std::string& text) {
    if (ptr == nullptr) return;
    // Plug-ins give 64-byte buffers for vendor and product texts.
    const std::size_t length = std::min<std::size_t>(text.size(), kVstMaxVendorStrLen - 1);
    std::memcpy(ptr, text.data(), length);
    static_cast<char*>(ptr)[length] = '\0';
}

struct Call {
    TVstHost& host;
    TVstPlugIn* slot;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

VstIntPtr answer(const Call& call) {
    TVstHost& host = call.host;
    TVstPlugIn* slot = call.slot;
    const int slotIndex = slot != nullptr ? slot->SlotIdx : -1;
    switch (call.opcode) {
    case audioMasterAutomate:
        if (slot && slot->OnAutomate) slot->OnAutomate(slotIndex, call.index, call.opt);
        return 0;
    case audioMasterVersion: return 2300;
    case audioMasterCurrentId:
        if (slot) slot->Identify();
        return 0;
    case audioMasterIdle:
        if (slot && slot->OnIdle) slot->OnIdle(slotIndex, 0);
        if (host.IdleEditors.load()) {
            for (int i = 0; i < host.numSlots(); ++i)
                if (TVstPlugIn* other = host.slot(i); other != nullptr && other->EditorOpen.load()) other->EditIdle();
        }
        return 0;
    case audioMasterPinConnected:
        return slot && slot->OnPinConnected && slot->OnPinConnected(slotIndex, call.index, call.value != 0) ? 1 : 0;
    case audioMasterWantMidi:
        if (slot && slot->OnWantMidi) slot->OnWantMidi(slotIndex, 0);
        return 0;
    case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(host.TimeInfo.record());
    case audioMasterProcessEvents:
        if (slot && slot->OnProcessEvents) slot->OnProcessEvents(slotIndex, static_cast<VstEvents*>(call.ptr));
        return 0;
    case audioMasterTempoAt:
        return static_cast<VstIntPtr>(std::nearbyint(host.TimeInfo.get(rack::TimeField::Tempo) * 10000.0));
    case audioMasterGetNumAutomatableParameters: return host.NumAutomatableParams;
    case audioMasterGetParameterQuantization: return call.value == -1 ? host.ParamQuantization : 0;
    case audioMasterIOChanged:
        if (slot && slot->OnIOChanged) slot->OnIOChanged(slotIndex, 0);
        return 0;
    case audioMasterNeedIdle:
        if (!slot) return 0;
        slot->NeedIdle = true;
        if (slot->OnNeedIdle) slot->OnNeedIdle(slotIndex, 0);
        if (host.IdleEditors.load()) slot->Idle();
        return 0;
    case audioMasterSizeWindow:
        if (slot && slot->OnSizeWindow && !slot->NoResize) {
            slot->OnSizeWindow(slotIndex, call.index, static_cast<int>(call.value));
            return 1;
        }
        return 0;
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(std::nearbyint(host.engineSampleRate.load()));
    case audioMasterGetBlockSize: return host.engineBlockSize.load();
    case audioMasterGetInputLatency: return host.InputLatency;
    case audioMasterGetOutputLatency: return host.OutputLatency;
    case audioMasterWillReplaceOrAccumulate: return slot ? slot->ReplaceOrAccumulate : 0;
    case audioMasterGetCurrentProcessLevel: return slot ? slot->ProcessLevel : 0;
    case audioMasterGetAutomationState: return slot ? slot->AutomationState : 0;
    case audioMasterOfflineStart:
        if (slot && slot->OnOfflineStart) slot->OnOfflineStart(slotIndex, nullptr);
        return 0;
    case audioMasterOfflineRead:
        if (slot && slot->OnOfflineRead) slot->OnOfflineRead(slotIndex, call.ptr);
        return 0;
    case audioMasterOfflineWrite:
        if (slot && slot->OnOfflineWrite) slot->OnOfflineWrite(slotIndex, call.ptr);
        return 0;
    case audioMasterOfflineGetCurrentPass:
        if (slot && slot->OnOfflineGetCurrentPass) slot->OnOfflineGetCurrentPass(slotIndex, nullptr);
        return 0;
    case audioMasterOfflineGetCurrentMetaPass:
        if (slot && slot->OnOfflineGetCurrentMetaPass) slot->OnOfflineGetCurrentMetaPass(slotIndex, nullptr);
        return 0;
    case audioMasterSetOutputSampleRate: {
        if (slot && slot->OnSetOutputSampleRate) slot->OnSetOutputSampleRate(slotIndex, call.opt);
        host.engineSampleRate = call.opt;
        LineText line;
        line << "!! audioMasterSetOutputSampleRate, for variable i/o, sample rate in ";
        line.appendFixed(call.opt, 0);
        diag::hookedLogError(line.view());
        return 0;
    }
    case audioMasterGetVendorString: copyText(call.ptr, host.VendorString); return 0;
    case audioMasterGetProductString: copyText(call.ptr, host.ProductString); return 0;
    case audioMasterGetVendorVersion: return host.VendorVersion;
    case audioMasterCanDo: {
        const int result = hostCanDo(host.capabilities.load(), textAt(call.ptr));
        diag::DiagLog& log = diag::theLog();
        if (log.switches.writeLog.load(std::memory_order_relaxed)) {
            LineText extra;
            extra << ", host can: " << textAt(call.ptr) << "=" << result;
            log.appendToLastLine(extra.view());
        }
        return result;
    }
    case audioMasterGetLanguage: return host.Language <= 5 ? host.Language + 1 : 0;
    case audioMasterOpenWindow:
        if (call.ptr != nullptr && slot && slot->OnOpenWindow) slot->OnOpenWindow(slotIndex, &host);
        return 0;
    case audioMasterGetDirectory: return reinterpret_cast<VstIntPtr>(host.Directory.c_str());
    case audioMasterUpdateDisplay:
        if (slot && slot->OnUpdateDisplay) {
            slot->OnUpdateDisplay(slotIndex, 0);
            return 1;
        }
        return 0;
    case audioMasterBeginEdit:
        if (slot && slot->OnBeginEdit) {
            slot->OnBeginEdit(slotIndex, call.index);
            return 1;
        }
        return 0;
    case audioMasterEndEdit:
        if (slot && slot->OnEndEdit) {
            slot->OnEndEdit(slotIndex, call.index);
            return 1;
        }
        return 0;
    case audioMasterOpenFileSelector:
        if (call.ptr != nullptr && slot && slot->OnOpenFileSelector) {
            slot->OnOpenFileSelector(call.ptr, &host);
            return 1;
        }
        return 0;
    case audioMasterCloseFileSelector:
        if (call.ptr != nullptr && slot && slot->OnCloseFileSelector) {
            slot->OnCloseFileSelector(call.ptr, &host);
            return 1;
        }
        return 0;
    default: return 0;
    }
}

void logCall(const Call& call, VstIntPtr result) {
    diag::DiagLog& log = diag::theLog();
    diag::CountText countText;
    if (!diag::passLogGate(log.switches, call.opcode, diag::hostCallLevels(), diag::kHostOpcodeCount - 1, countText))
        return;
    LineText line;
    line << call.host.bufferCount.load(std::memory_order_relaxed) << ":AMcallbackFrom \""
         << (call.slot != nullptr ? std::string_view(call.slot->SlotName) : std::string_view("---")) << "\", ";
    if (call.slot == nullptr) line << call.opcode << ":";
    line << "am" << amOpcodeBaseName(call.opcode);
    if (log.switches.verbose.load(std::memory_order_relaxed)) {
        line << "(" << call.opcode << "," << call.index << "," << call.value << ",";
        if (call.opcode == audioMasterGetVendorString || call.opcode == audioMasterGetProductString)
            line.appendQuoted(textAt(call.ptr));
        else if (call.opcode == audioMasterGetDirectory)
            line.appendQuoted(call.host.Directory);
        else
            line.appendPointer(call.ptr);
        line << ",";
        line.appendFixed(call.opt, 5);
        line << ")";
    }
    if (call.slot != nullptr) {
        line << "=" << result;
        if (call.opcode == audioMasterCanDo) line << "  \"" << textAt(call.ptr) << "=" << result << "\"";
    }
    line << countText.view();
    diag::hookedLog(line.view());
}

} // namespace

int hostCanDo(std::uint32_t capabilities, std::string_view text) noexcept {
    for (int bit = 0; bit < 19; ++bit)
        if (text == kHostCanDoTexts[bit]) return (capabilities >> bit) & 1u ? 1 : 0;
    return 0;
}

VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    TVstHost* host = TVstHost::current();
    if (host == nullptr) return 0;
    // The callback's log lines go through the lock-free queue whichever thread calls, so that
    // a call from the audio thread or from inside processing never waits on the log's mutex.
    platform::RealtimeScope queuedLogging;

    TVstPlugIn* slot = callerOf(*host, effect);
    if (slot == nullptr && (opcode > audioMasterEditFile || !isAnonymousOpcode(opcode))) {
        LineText line;
        line << "*AMcallback " << opcode;
        diag::hookedLogError(line.view());
        return 0;
    }

    // No lock here: handlers do interface work (editor idle, window sizes, effIdentify) that
    // must never hold up the audio thread, and the one that touches what the audio thread
    // shares, the plug-in's MIDI output into the port buffers, takes MidiLock for that copy.
    platform::maskFloatingPointExceptions();
    const Call call{*host, slot, opcode, index, value, ptr, opt};
    VstIntPtr result = 0;
    try {
        result = answer(call);
        logCall(call, result);
    } catch (...) {
        LineText line;
        line << "AMcallback " << opcode;
        diag::hookedLogError(line.view());
    }
    return result;
}

} // namespace trelvo::host
