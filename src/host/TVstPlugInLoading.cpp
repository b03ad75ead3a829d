// TVstPlugIn: loading a library, opening and closing the plug-in, unloading it.
#include <cstring>
#include <mutex>
#include <vector>

#include "host/HostCallback.h"
#include "host/IsolatedEffect.h"
#include "host/PlugInLines.h"
#include "host/TVstHost.h"
#include "host/TVstPlugIn.h"
#include "platform/FloatingPoint.h"
#include "platform/TrelvoHome.h"

namespace trelvo::host {

using detail::errorLine;
using detail::fileOnlyLine;
using detail::quoted;

namespace {

using diag::debugLine;

/// Libraries of quarantined slots: code may still run from them (threads, pending
/// callbacks), and their unload code may fault again, so they stay mapped until exit.
std::mutex gGraveyardMutex;
std::vector<platform::DynamicLibrary>* gGraveyard = new std::vector<platform::DynamicLibrary>();

} // namespace

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
    if (Isolated.load()) return loadIsolated();
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

bool TVstPlugIn::loadIsolated() {
    isolation = std::make_unique<IsolatedEffect>(host, *this);
    std::string failure;
    AEffect* effect = isolation->start(DllPath, failure);
    if (effect == nullptr) {
        unloadWithReason("isolated: " + failure, failure);
        return false;
    }
    PlugLoaded.store(true, std::memory_order_release);
    PVstEffect.store(effect, std::memory_order_release);
    debugLine(std::to_string(SlotIdx) + ":Library loaded in its own process: " + platform::fileNamePart(DllPath));
    if (OnLoaded) OnLoaded(SlotIdx, 0);
    debugLine("Load OK");
    return true;
}

void TVstPlugIn::Unload() {
    debugLine("unLoad: " + quoted(DllPath));
    // The worker goes first: nothing may reach its stand-in record afterwards.
    PVstEffect.store(nullptr, std::memory_order_release);
    isolation.reset();
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
    if (isolation && isolation->lost()) {
        unloadWithReason("isolated: the worker ended in effOpen",
                         "it crashed while opening (" + isolation->lossReason() + ", in its own process)");
        Opening = false;
        return;
    }
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

} // namespace trelvo::host
