// The worker process of an isolated slot: it loads one plug-in library and serves the two
// channels of the memory it shares with Trelvo. Its audio thread runs the blocks; its main
// thread answers every other call. Whatever the plug-in does wrong ends this process only.
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/HostCallback.h"
#include "host/IsolationChannel.h"
#include "platform/FloatingPoint.h"
#include "platform/Futex.h"
#include "platform/ThreadScheduling.h"

namespace trelvo::host::isolation {

namespace {

constexpr std::int64_t kParentCheckNs = 500'000'000;

SharedBlock* gShared = nullptr;
AEffect* gEffect = nullptr;
std::atomic<bool> gQuit{false};
std::atomic<bool> gAudioStop{false};
std::thread gAudio;
std::atomic<float> gSampleRate{44100.0f};
std::atomic<std::int32_t> gBlockSize{512};
VstTimeInfo gTime{};

std::thread::id gControlThread;
int gRequestDepth = 0;           ///< control thread: requests being served
std::uint32_t gLastToWorker = 0; ///< control thread: the last message read
thread_local bool tAudioThread = false;
std::mutex gAsyncMutex; ///< the plug-in's own threads, writing the ring one at a time

bool hostGone() {
    return ::getppid() != gShared->start.hostPid;
}

EffectFacts gLastFacts; ///< control thread
bool gClosed = false;   ///< control thread: effClose was sent, the record may be gone

EffectFacts factsOf(const AEffect* effect) {
    if (gClosed) return gLastFacts;
    EffectFacts facts;
    facts.magic = effect->magic;
    facts.numPrograms = effect->numPrograms;
    facts.numParams = effect->numParams;
    facts.numInputs = effect->numInputs;
    facts.numOutputs = effect->numOutputs;
    facts.flags = effect->flags;
    facts.initialDelay = effect->initialDelay;
    facts.uniqueID = effect->uniqueID;
    facts.version = effect->version;
    facts.ioRatio = effect->ioRatio;
    facts.hasProcess = effect->process != nullptr ? 1 : 0;
    facts.hasReplacing = effect->processReplacing != nullptr ? 1 : 0;
    gLastFacts = facts;
    return facts;
}

// ---- The control channel ----

void sendToHost() {
    ControlChannel& control = gShared->control;
    control.toHost.fetch_add(1, std::memory_order_release);
    platform::futexWake(control.toHost);
}

/// Waits for the host's next message; false when the host is gone or asked to quit.
bool waitForHost() {
    ControlChannel& control = gShared->control;
    for (;;) {
        const std::uint32_t now = control.toWorker.load(std::memory_order_acquire);
        if (now != gLastToWorker) {
            gLastToWorker = now;
            return true;
        }
        if (gQuit.load() || hostGone()) return false;
        platform::futexWait(control.toWorker, now, kParentCheckNs);
    }
}

void serveMessage();

/// A host call made on the control thread while it serves a request: the host answers it
/// (serving any request it makes meanwhile) before the plug-in goes on.
VstIntPtr forwardNow(VstInt32 opcode, VstInt32 index, VstIntPtr value, float opt) {
    ControlChannel& control = gShared->control;
    control.message = Message::Callback;
    control.opcode = opcode;
    control.index = index;
    control.value = value;
    control.opt = opt;
    control.facts = factsOf(gEffect);
    sendToHost();
    while (waitForHost()) {
        if (control.message == Message::CallbackAnswer) return static_cast<VstIntPtr>(control.result);
        serveMessage();
    }
    gQuit = true;
    return 0;
}

void forwardLater(VstInt32 opcode, VstInt32 index, VstIntPtr value, float opt) {
    if (tAudioThread) {
        AudioChannel& audio = gShared->audio;
        if (audio.callbackCount >= kMaxBlockCallbacks) return;
        audio.callbacks[audio.callbackCount++] = Callback{opcode, index, static_cast<std::int64_t>(value), opt};
        return;
    }
    AsyncRing& ring = gShared->async;
    std::lock_guard lock(gAsyncMutex);
    const std::uint32_t head = ring.head.load(std::memory_order_relaxed);
    if (head - ring.tail.load(std::memory_order_acquire) >= static_cast<std::uint32_t>(kAsyncSlots)) return;
    ring.slots[head % kAsyncSlots] = Callback{opcode, index, static_cast<std::int64_t>(value), opt};
    ring.head.store(head + 1, std::memory_order_release);
    ring.signal.fetch_add(1, std::memory_order_release);
    platform::futexWake(ring.signal);
}

void copyText(void* ptr, const char* text) {
    if (ptr == nullptr) return;
    const std::size_t length = std::min<std::size_t>(std::strlen(text), kVstMaxVendorStrLen - 1);
    std::memcpy(ptr, text, length);
    static_cast<char*>(ptr)[length] = '\0';
}

/// The plug-in's host: what the worker knows it answers itself; what only Trelvo can do
/// travels there, at once from inside a request, else with the block or through the ring.
VstIntPtr workerCallback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    const StartFacts& start = gShared->start;
    switch (opcode) {
    case audioMasterVersion: return 2300;
    case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&gTime);
    case audioMasterProcessEvents:
        if (tAudioThread && ptr != nullptr) appendEvents(static_cast<const VstEvents*>(ptr), gShared->audio.out);
        return 0;
    case audioMasterTempoAt: return static_cast<VstIntPtr>(gTime.tempo * 10000.0);
    case audioMasterGetNumAutomatableParameters: return start.numAutomatableParams;
    case audioMasterGetParameterQuantization: return value == -1 ? start.parameterQuantization : 0;
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(gSampleRate.load());
    case audioMasterGetBlockSize: return gBlockSize.load();
    case audioMasterGetInputLatency: return start.inputLatency;
    case audioMasterGetOutputLatency: return start.outputLatency;
    case audioMasterGetCurrentProcessLevel: return tAudioThread ? 2 : 1;
    case audioMasterGetVendorString: copyText(ptr, start.vendor); return 0;
    case audioMasterGetProductString: copyText(ptr, start.product); return 0;
    case audioMasterGetVendorVersion: return start.vendorVersion;
    case audioMasterCanDo:
        return ptr != nullptr
                   ? hostCanDo(start.capabilities, std::string_view(static_cast<const char*>(ptr),
                                                                    strnlen(static_cast<const char*>(ptr), 255)))
                   : 0;
    case audioMasterGetLanguage: return start.language <= 5 ? start.language + 1 : 0;
    case audioMasterGetDirectory: return reinterpret_cast<VstIntPtr>(start.directory);
    case audioMasterAutomate:
    case audioMasterWantMidi:
    case audioMasterIOChanged:
    case audioMasterNeedIdle:
    case audioMasterSizeWindow:
    case audioMasterUpdateDisplay:
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        if (gEffect != nullptr && std::this_thread::get_id() == gControlThread && gRequestDepth > 0)
            return forwardNow(opcode, index, value, opt);
        forwardLater(opcode, index, value, opt);
        return opcode == audioMasterSizeWindow || opcode == audioMasterIOChanged ? 0 : 1;
    default: return 0;
    }
}

/// Ends the audio thread: no block runs while the plug-in is closed or torn down.
void stopAudio() {
    gAudioStop = true;
    platform::futexWake(gShared->audio.request);
    if (gAudio.joinable()) gAudio.join();
}

// ---- Requests ----

VstIntPtr dispatchRequest(ControlChannel& control, std::vector<std::uint8_t>& out, EventBuilder& events) {
    const auto opcode = static_cast<VstInt32>(control.opcode);
    const auto index = static_cast<VstInt32>(control.index);
    const auto value = static_cast<VstIntPtr>(control.value);
    const auto opt = static_cast<float>(control.opt);
    // The request's data is copied first: a call the host makes while this one runs reuses
    // the channel.
    const std::size_t inSize = static_cast<std::size_t>(std::clamp<std::int64_t>(control.dataSize, 0, kControlBytes));
    std::vector<std::uint8_t> in(control.data, control.data + inSize);
    in.push_back(0);
    if (opcode == effClose) stopAudio();
    auto call = [&](void* ptr, VstIntPtr passedValue) {
        if (opcode == effSetSampleRate) gSampleRate = opt;
        if (opcode == effSetBlockSize) gBlockSize = static_cast<std::int32_t>(value);
        const VstIntPtr result = gEffect->dispatcher(gEffect, opcode, index, passedValue, ptr, opt);
        if (opcode == effClose) gClosed = true;
        return result;
    };
    // What changes how the plug-in processes waits until a block it may still be running
    // late is done.
    if (opcode == effMainsChanged || opcode == effSetSampleRate || opcode == effSetBlockSize || opcode == effSetChunk ||
        opcode == effSetBlockSizeAndSampleRate) {
        AudioChannel& audio = gShared->audio;
        for (int waited = 0;
             waited < 2000 && !gAudioStop.load() &&
             audio.answer.load(std::memory_order_acquire) != audio.request.load(std::memory_order_acquire);
             ++waited)
            ::usleep(1000);
    }
    if (gClosed) return 0; // nothing reaches a closed plug-in
    switch (static_cast<Argument>(control.argument)) {
    case Argument::None: return call(nullptr, value);
    case Argument::TextIn: return call(in.data(), value);
    case Argument::TextOut: {
        std::vector<char> text(4096, '\0');
        const VstIntPtr result = call(text.data(), value);
        text.back() = '\0';
        const std::size_t length = std::min(std::strlen(text.data()), textOutLimit(opcode));
        out.assign(text.data(), text.data() + length);
        out.push_back(0);
        return result;
    }
    case Argument::RectOut: {
        ERect* rect = nullptr;
        const VstIntPtr result = call(&rect, value);
        if (rect != nullptr)
            out.assign(reinterpret_cast<std::uint8_t*>(rect), reinterpret_cast<std::uint8_t*>(rect + 1));
        return result;
    }
    case Argument::Window: return call(reinterpret_cast<void*>(static_cast<std::uintptr_t>(value)), 0);
    case Argument::ChunkOut: {
        void* data = nullptr;
        const VstIntPtr size = call(&data, value);
        if (data != nullptr && size > 0 && static_cast<std::size_t>(size) <= kControlBytes) {
            out.assign(static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
            return size;
        }
        return size > 0 ? -1 : size;
    }
    case Argument::ChunkIn: return call(in.data(), static_cast<VstIntPtr>(inSize));
    case Argument::EventsIn: {
        EventList* list = reinterpret_cast<EventList*>(in.data());
        if (inSize < sizeof(EventList)) return 0;
        return call(events.build(*list), value);
    }
    case Argument::Record: {
        const std::size_t size = recordSize(opcode);
        std::vector<std::uint8_t> record(size, 0);
        std::memcpy(record.data(), in.data(), std::min(size, inSize));
        const VstIntPtr result = call(record.data(), value);
        out = std::move(record);
        return result;
    }
    case Argument::Refused: return 0;
    }
    return 0;
}

void serveMessage() {
    static EventBuilder events;
    ControlChannel& control = gShared->control;
    const Message message = control.message;
    const std::uint32_t requestId = control.requestId;
    std::vector<std::uint8_t> out;
    VstIntPtr result = 0;
    double opt = 0.0;
    ++gRequestDepth;
    platform::maskFloatingPointExceptions();
    switch (message) {
    case Message::Dispatch: result = dispatchRequest(control, out, events); break;
    case Message::SetParameter:
        if (gClosed) break;
        gEffect->setParameter(gEffect, static_cast<VstInt32>(control.index), static_cast<float>(control.opt));
        break;
    case Message::GetParameter:
        if (gClosed) break;
        opt = gEffect->getParameter(gEffect, static_cast<VstInt32>(control.index));
        break;
    case Message::Quit: gQuit = true; break;
    default: break;
    }
    --gRequestDepth;
    control.message = Message::Answer;
    control.requestId = requestId;
    control.result = result;
    control.opt = opt;
    control.dataSize = static_cast<std::int64_t>(out.size());
    if (!out.empty()) std::memcpy(control.data, out.data(), out.size());
    control.facts = factsOf(gEffect);
    sendToHost();
}

// ---- Blocks ----

/// first: the request number before the host could post any block.
void audioLoop(std::uint32_t first) {
    tAudioThread = true;
    platform::setCurrentThreadScheduling(platform::ownAudioThreadScheduling());
    platform::maskFloatingPointExceptions();
    EventBuilder events;
    // Room past the channels the host hands over: a plug-in that grew its counts reads and
    // writes scratch memory, not stray pointers.
    constexpr int kPointers = 4 * kMaxChannels;
    std::vector<float> scratchIn(static_cast<std::size_t>(kMaxFrames), 0.0f);
    std::vector<float> scratchOut(static_cast<std::size_t>(kMaxFrames), 0.0f);
    float* inputs[kPointers];
    float* outputs[kPointers];
    AudioChannel& audio = gShared->audio;
    std::uint32_t last = first;
    while (!gQuit.load(std::memory_order_relaxed) && !gAudioStop.load(std::memory_order_relaxed)) {
        const std::uint32_t posted = audio.request.load(std::memory_order_acquire);
        if (posted == last) {
            platform::futexWait(audio.request, posted, kParentCheckNs);
            if (hostGone()) gQuit = true;
            continue;
        }
        last = posted;
        audio.callbackCount = 0;
        audio.out.count = 0;
        audio.out.sysexUsed = 0;
        gTime = audio.time;
        if (audio.mainsChange != kNoChange)
            gEffect->dispatcher(gEffect, effMainsChanged, 0, audio.mainsChange, nullptr, 0.0f);
        if (audio.bypassChange != kNoChange)
            audio.bypassResult = static_cast<std::int32_t>(
                gEffect->dispatcher(gEffect, effSetBypass, 0, audio.bypassChange, nullptr, 0.0f));
        if (audio.in.count > 0) gEffect->dispatcher(gEffect, effProcessEvents, 0, 0, events.build(audio.in), 0.0f);
        const int frames = std::clamp(audio.frames, 0, kMaxFrames);
        if (audio.replacing >= 0 && frames > 0) {
            const int numIn = std::clamp(audio.numInputs, 0, kMaxChannels);
            const int numOut = std::clamp(audio.numOutputs, 0, kMaxChannels);
            for (int c = 0; c < kPointers; ++c) {
                inputs[c] = c < numIn ? inputChannel(audio, c) : scratchIn.data();
                outputs[c] = c < numOut ? outputChannel(audio, c) : scratchOut.data();
            }
            if (audio.replacing == 1 && gEffect->processReplacing != nullptr)
                gEffect->processReplacing(gEffect, inputs, outputs, frames);
            else if (audio.replacing == 0 && gEffect->process != nullptr)
                gEffect->process(gEffect, inputs, outputs, frames);
        }
        audio.answer.store(posted, std::memory_order_release);
        platform::futexWake(audio.answer);
    }
}

void reportLoad(LoadStatus status, const std::string& error) {
    const std::size_t length = std::min(error.size(), sizeof gShared->loadError - 1);
    std::memcpy(gShared->loadError, error.data(), length);
    gShared->loadError[length] = '\0';
    if (gEffect != nullptr) gShared->loadedFacts = factsOf(gEffect);
    gShared->loadStatus.store(static_cast<std::int32_t>(status), std::memory_order_release);
    gShared->loadSignal.fetch_add(1, std::memory_order_release);
    platform::futexWake(gShared->loadSignal);
}

/// Loads the library and calls its entry point. A crash in either ends the process, which
/// Trelvo sees as the answer.
bool load() {
    const char* path = gShared->start.library;
    if (::access(path, F_OK) != 0) {
        reportLoad(LoadStatus::NoFile, "the file does not exist");
        return false;
    }
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = ::dlerror();
        reportLoad(LoadStatus::NotLibrary, error != nullptr ? error : "");
        return false;
    }
    void* entry = ::dlsym(handle, "main");
    const char* entryName = "main";
    if (entry == nullptr) {
        entry = ::dlsym(handle, "VSTPluginMain");
        entryName = "VSTPluginMain";
    }
    if (entry == nullptr) {
        reportLoad(LoadStatus::NoEntry, "");
        return false;
    }
    try {
        platform::maskFloatingPointExceptions();
        gEffect = reinterpret_cast<VstPluginMainProc>(entry)(&workerCallback);
    } catch (...) {
        reportLoad(LoadStatus::Threw, entryName);
        return false;
    }
    if (gEffect == nullptr) {
        reportLoad(LoadStatus::NoEffect, entryName);
        return false;
    }
    reportLoad(LoadStatus::Loaded, entryName);
    return true;
}

} // namespace

int runWorker() noexcept {
    // Ends with Trelvo, even when Trelvo is killed outright.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // A fault in the plug-in ends the process with its signal, which Trelvo reports; no
    // handler a runtime installed (a sanitizer's, say) turns it into something else.
    for (int number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(number, SIG_DFL);
    void* memory = ::mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, kSharedDescriptor, 0);
    if (memory == MAP_FAILED) return kWorkerSetupFailed;
    ::close(kSharedDescriptor);
    gShared = static_cast<SharedBlock*>(memory);
    if (gShared->start.layoutVersion != kLayoutVersion || hostGone()) return kWorkerSetupFailed;
    gSampleRate = gShared->start.sampleRate;
    gBlockSize = gShared->start.blockSize;
    gControlThread = std::this_thread::get_id();
    gLastToWorker = gShared->control.toWorker.load(std::memory_order_acquire);
    // Read before the load is reported: the host posts its first block only after that, and
    // the audio thread may start later than it.
    const std::uint32_t firstRequest = gShared->audio.request.load(std::memory_order_acquire);
    try {
        if (!load()) return 0;
        gAudio = std::thread(audioLoop, firstRequest);
        while (!gQuit.load() && waitForHost()) serveMessage();
        gQuit = true;
        stopAudio();
    } catch (...) {
        return kWorkerSetupFailed;
    }
    // The plug-in's own teardown is not waited for: Trelvo has closed it already, or is gone.
    std::_Exit(0);
}

} // namespace trelvo::host::isolation
