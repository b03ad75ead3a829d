// TrelvoFaulty: a stereo pass-through effect that misbehaves on request, so that the host's
// guards can be tested. The misbehaviour is chosen by the library's file name
// "TrelvoFaulty-<Variant>.so"; which entry points exist is chosen at build time
// (TRELVO_FAULTY_EXPORTS: 0 "VSTPluginMain" only, 1 both, 2 neither, 3 "main" only).
//
//   ThrowInEntry, CrashInEntry, NilEntry     the entry point throws, faults, returns nil
//   BadMagic                                 the effect's magic is not "VstP"
//   ThrowInOpen, CrashInOpen, SlowOpen       effOpen throws, faults, or takes a while
//                                            ($TRELVO_FAULTY_SLOW_MS, default 3000 ms)
//   ThrowInProcess, CrashInProcess,
//   DivideInProcess                          processing throws, writes through a null
//                                            pointer, or divides an integer by zero
//   CallsHost                                the entry point asks the host for its version
//                                            and sends an automation; effOpen asks for the
//                                            version, the sample rate, canDo "sizeWindow" and
//                                            sends an automation. effVendorSpecific(index i)
//                                            answers the host's i-th answer (the entry
//                                            point's two first), -1 past the end.
//   HostThread                               from effOpen to effClose a thread of its own
//                                            calls GetTime, GetSampleRate, UpdateDisplay and
//                                            Automate in a loop; effVendorSpecific(index 100)
//                                            answers how many rounds it made.
//   LegacySynth                              claims to be an instrument (synth flag), answers
//                                            effGetVstVersion with 0 (AEffect.version is
//                                            1234) and every canDo with -1.
//   CrashInEditOpen                          has an editor (effFlagsHasEditor; effEditGetRect
//                                            answers 240 x 120) and writes through a null
//                                            pointer in effEditOpen.
//   HangInProcess                            processing never returns
//   CrashOnThread                            effOpen starts a thread of its own that writes
//                                            through a null pointer 50 ms later
//   anything else                            behaves.
//
// The effect name tells which entry point created it: "Faulty via main" or
// "Faulty via VSTPluginMain".

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/PluginBase.h"

#ifndef TRELVO_FAULTY_EXPORTS
#define TRELVO_FAULTY_EXPORTS 0
#endif

namespace trelvo::plugins {

namespace {

std::string ownVariant() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ownVariant), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string name = info.dli_fname;
    const std::size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::string prefix = "TrelvoFaulty-";
    if (name.compare(0, prefix.size(), prefix) != 0) return {};
    name.erase(0, prefix.size());
    return name.substr(0, name.find('.'));
}

// Faults the compiler may not optimise away.
void writeThroughNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 42;
}

int divideByZero() {
    volatile int zero = 0;
    volatile int numerator = 7;
    return numerator / zero;
}

constexpr PluginInfo kFaultyInfo{
    .effectName = "TrelvoFaulty",
    .productName = "TrelvoFaulty",
    .uniqueId = fourCharCode("TFlt"),
    .version = 1000,
    .category = kPlugCategEffect,
    .numInputs = 2,
    .numOutputs = 2,
    .numParams = 1,
    .numPrograms = 1,
    .flags = 0,
};

constexpr int kMaxAnswers = 16;

// Every instance stays reachable from here, and whatever a host never closed (an effect
// with a wrong magic, an instance abandoned after a fault) is freed when the library is
// unloaded, as a careful plug-in would do.
// A plain array, so that nothing of it is destroyed before the library's destructor runs.
class TrelvoFaulty;
constexpr int kMaxInstances = 64;
std::mutex gInstancesMutex;
TrelvoFaulty* gInstances[kMaxInstances] = {};

void registerInstance(TrelvoFaulty* instance, TrelvoFaulty* replaced) {
    std::lock_guard lock(gInstancesMutex);
    for (TrelvoFaulty*& entry : gInstances)
        if (entry == replaced) {
            entry = instance;
            return;
        }
}

class TrelvoFaulty final : public PluginBase {
public:
    TrelvoFaulty(audioMasterCallback host, std::string variant, const char* entryName)
        : PluginBase(host, kFaultyInfo), variant(std::move(variant)), entryName(entryName) {
        copyText(program(0).name, "Default", sizeof program(0).name);
        program(0).values[0] = 1.0f;
    }

    ~TrelvoFaulty() override {
        stopThread();
        registerInstance(nullptr, this);
    }

    void recordAnswer(VstIntPtr answer) {
        if (numAnswers < kMaxAnswers) answers[numAnswers++] = answer;
    }

protected:
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override {
        switch (opcode) {
        case effOpen: return open();
        case effClose: stopThread(); break;
        case effGetEffectName: {
            const std::string name = std::string("Faulty via ") + entryName;
            copyText(ptr, name, kVstMaxEffectNameLen);
            return 1;
        }
        case effVendorSpecific:
            if (index == 100) return hostRounds.load();
            return index >= 0 && index < numAnswers ? answers[index] : -1;
        case effGetVstVersion:
            if (variant == "LegacySynth") return 0;
            break;
        case effEditGetRect:
            if (variant != "CrashInEditOpen" || ptr == nullptr) break;
            *static_cast<ERect**>(ptr) = &editorRect;
            return 1;
        case effEditOpen:
            if (variant == "CrashInEditOpen") writeThroughNull();
            break;
        default: break;
        }
        return PluginBase::dispatch(opcode, index, value, ptr, opt);
    }

    std::string parameterName(int) const override { return "Level"; }

    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
        if (variant == "ThrowInProcess") throw std::runtime_error("TrelvoFaulty: processing failed on purpose");
        if (variant == "CrashInProcess") writeThroughNull();
        if (variant == "DivideInProcess") lastQuotient = divideByZero();
        if (variant == "HangInProcess")
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        const float level = parameter(0);
        for (VstInt32 i = 0; i < frames; ++i) {
            outputs[0][i] = inputs[0][i] * level;
            outputs[1][i] = inputs[1][i] * level;
        }
    }

private:
    VstIntPtr open() {
        if (variant == "ThrowInOpen") throw std::runtime_error("TrelvoFaulty: effOpen failed on purpose");
        if (variant == "CrashInOpen") writeThroughNull();
        if (variant == "SlowOpen") {
            const char* text = std::getenv("TRELVO_FAULTY_SLOW_MS");
            std::this_thread::sleep_for(std::chrono::milliseconds(text != nullptr ? std::atoi(text) : 3000));
        }
        if (variant == "CallsHost") {
            recordAnswer(callHost(audioMasterVersion));
            recordAnswer(callHost(audioMasterGetSampleRate));
            recordAnswer(callHost(audioMasterAutomate, 0, 0, nullptr, 0.5f));
            char sizeWindow[] = "sizeWindow";
            recordAnswer(callHost(audioMasterCanDo, 0, 0, sizeWindow));
        }
        if (variant == "HostThread") startThread();
        if (variant == "CrashOnThread") {
            std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                writeThroughNull();
            }).detach();
        }
        return 0;
    }

    void startThread() {
        running = true;
        worker = std::thread([this] {
            while (running.load()) {
                callHost(audioMasterGetTime, 0, 0);
                callHost(audioMasterGetSampleRate);
                callHost(audioMasterUpdateDisplay);
                callHost(audioMasterAutomate, 0, 0, nullptr, 0.25f);
                hostRounds.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }

    void stopThread() {
        running = false;
        if (worker.joinable()) worker.join();
    }

    std::string variant;
    const char* entryName;
    VstIntPtr answers[kMaxAnswers] = {};
    int numAnswers = 0;
    volatile int lastQuotient = 0;
    std::atomic<bool> running{false};
    std::atomic<VstIntPtr> hostRounds{0};
    std::thread worker;
    ERect editorRect{0, 0, 120, 240};
};

[[maybe_unused]] AEffect* createFaulty(audioMasterCallback host, const char* entryName) {
    const std::string variant = ownVariant();
    if (host == nullptr) return nullptr;
    VstIntPtr entryAnswers[2] = {0, 0};
    if (variant == "CallsHost") {
        entryAnswers[0] = host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f);
        entryAnswers[1] = host(nullptr, audioMasterAutomate, 0, 0, nullptr, 0.5f);
    }
    if (variant == "ThrowInEntry") throw std::runtime_error("TrelvoFaulty: entry point failed on purpose");
    if (variant == "CrashInEntry") writeThroughNull();
    if (variant == "NilEntry") return nullptr;
    auto* plugin = new TrelvoFaulty(host, variant, entryName);
    registerInstance(plugin, nullptr);
    if (variant == "CallsHost") {
        plugin->recordAnswer(entryAnswers[0]);
        plugin->recordAnswer(entryAnswers[1]);
    }
    if (variant == "BadMagic") plugin->effect()->magic = fourCharCode("VstX");
    if (variant == "LegacySynth") {
        plugin->effect()->flags |= effFlagsIsSynth;
        plugin->effect()->version = 1234;
    }
    if (variant == "CrashInEditOpen") plugin->effect()->flags |= effFlagsHasEditor;
    return plugin->effect();
}

__attribute__((destructor)) void freeUnclosedInstances() {
    TrelvoFaulty* left[kMaxInstances];
    {
        std::lock_guard lock(gInstancesMutex);
        std::copy(std::begin(gInstances), std::end(gInstances), std::begin(left));
    }
    for (TrelvoFaulty* instance : left) delete instance;
}

} // namespace
} // namespace trelvo::plugins

#if TRELVO_FAULTY_EXPORTS == 0 || TRELVO_FAULTY_EXPORTS == 1
TRELVO_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
    return trelvo::plugins::createFaulty(host, "VSTPluginMain");
}
#endif

#if TRELVO_FAULTY_EXPORTS == 1 || TRELVO_FAULTY_EXPORTS == 3
// A C++ function cannot be called main; the assembler name gives the export that name.
TRELVO_EXPORT AEffect* faultyMainEntry(audioMasterCallback host) __asm__("main");
TRELVO_EXPORT AEffect* faultyMainEntry(audioMasterCallback host) {
    return trelvo::plugins::createFaulty(host, "main");
}
#endif

#if TRELVO_FAULTY_EXPORTS == 2
TRELVO_EXPORT int trelvoFaultyHasNoEntryPoint() {
    return 1;
}
#endif
