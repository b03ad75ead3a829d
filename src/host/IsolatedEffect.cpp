#include "host/IsolatedEffect.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "host/HostCallback.h"
#include "host/TVstHost.h"
#include "host/TVstPlugIn.h"
#include "platform/Clock.h"
#include "platform/Futex.h"
#include "platform/RealtimeThread.h"
#include "platform/TrelvoHome.h"

extern char** environ;

namespace trelvo::host {

using isolation::AudioChannel;
using isolation::ControlChannel;
using isolation::Message;

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kLoadLimitNs = 30'000 * kMs;          ///< loading the library in the worker
constexpr std::int64_t kCallLimitNs = 10'000 * kMs;          ///< one dispatcher call
constexpr std::int64_t kOpenLimitNs = 30'000 * kMs;          ///< effOpen and chunk loads
constexpr std::int64_t kOfflineBlockLimitNs = 10'000 * kMs;  ///< one block while rendering to a file
constexpr std::int64_t kHungNs = 300 * kMs;                  ///< missed blocks running for this long: hung
constexpr int kHungBlocks = 8;                               ///< ... and at least this many of them
constexpr std::int64_t kSnapshotEveryNs = 10'000 * kMs;      ///< the state is taken this often anyway
constexpr std::int64_t kSnapshotAfterChangeNs = 1'000 * kMs; ///< and this long after a change at the soonest
constexpr int kMaxSnapshotParameters = 8192;
constexpr std::int64_t kSpinNs = 50'000; ///< the engine's thread polls for the answer this long, then sleeps

std::int64_t now() noexcept {
    return platform::perfCounter();
}

std::string signalText(int status) {
    if (WIFSIGNALED(status)) {
        const int number = WTERMSIG(status);
        const char* name = sigabbrev_np(number);
        return name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(number);
    }
    if (WIFEXITED(status)) return "it exited with code " + std::to_string(WEXITSTATUS(status));
    return "it ended";
}

} // namespace

std::string IsolatedEffect::workerProgram(const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    if (const char* fromEnvironment = std::getenv("TRELVO_SLOT_WORKER"); fromEnvironment != nullptr && *fromEnvironment)
        return fromEnvironment;
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "trelvo-slot-worker";
    std::string folder(self, static_cast<std::size_t>(length));
    folder = folder.substr(0, folder.find_last_of('/'));
    for (const std::string& candidate : {folder + "/trelvo-slot-worker", folder + "/../lib/trelvo/trelvo-slot-worker"})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    return folder + "/trelvo-slot-worker";
}

IsolatedEffect::IsolatedEffect(TVstHost& owner, TVstPlugIn& record)
    : host(owner), slot(record), pendingEvents(std::make_unique<isolation::EventList>()),
      outEvents(std::make_unique<isolation::EventBuilder>()) {
    memoryFile = ::memfd_create("trelvo-slot", MFD_CLOEXEC);
    if (memoryFile < 0) return;
    if (::ftruncate(memoryFile, static_cast<off_t>(sizeof(isolation::SharedBlock))) != 0) return;
    void* memory = ::mmap(nullptr, sizeof(isolation::SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, memoryFile, 0);
    if (memory == MAP_FAILED) return;
    shared = new (memory) isolation::SharedBlock();
}

IsolatedEffect::~IsolatedEffect() {
    stopping = true;
    if (shared != nullptr) {
        shared->async.signal.fetch_add(1);
        platform::futexWake(shared->async.signal);
    }
    if (keeper.joinable()) keeper.join();
    endWorker();
    if (shared != nullptr) {
        shared->~SharedBlock();
        ::munmap(shared, sizeof(isolation::SharedBlock));
    }
    if (memoryFile >= 0) ::close(memoryFile);
}

// ---- Starting and ending workers ----

bool IsolatedEffect::spawnWorker(std::string& failure) {
    std::lock_guard lock(pidMutex);
    shared->loadStatus.store(static_cast<std::int32_t>(isolation::LoadStatus::Pending));
    shared->audio.answer.store(shared->audio.request.load());
    shared->audio.in.count = 0;
    shared->audio.in.sysexUsed = 0;
    shared->async.tail.store(shared->async.head.load());
    lastToHost = shared->control.toHost.load();
    missesReset.store(true);
    workerLost = false;
    hung = false;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, memoryFile, isolation::kSharedDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, isolation::kSharedDescriptor + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: helpers the plug-in starts end with it.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    std::string slotText = std::to_string(slot.SlotIdx);
    char* arguments[] = {workerPath.data(), const_cast<char*>("--slot"), slotText.data(), nullptr};
    pid_t started = 0;
    const int error = ::posix_spawn(&started, workerPath.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        failure = "its worker process " + workerPath + " cannot be started (" + std::strerror(error) + ")";
        return false;
    }
    pid.store(started, std::memory_order_release);
    diag::hookedLog("slot " + std::to_string(slot.SlotIdx) + ": worker " + std::to_string(started) + " for " + library);
    return true;
}

bool IsolatedEffect::reapWorker() noexcept {
    std::lock_guard lock(pidMutex);
    const pid_t running = pid.load();
    if (running <= 0) return true;
    // Looked at without reaping first: while the ended worker is not reaped its process
    // group cannot be taken by another, so the helpers it left behind go safely with it.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(running), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != ECHILD) return false;
    } else if (info.si_pid != running) {
        return false;
    }
    ::kill(-running, SIGKILL);
    int status = 0;
    ::waitpid(running, &status, 0);
    pid.store(0, std::memory_order_release);
    {
        std::lock_guard text(textMutex);
        lastLoss = hung.load() ? "it stopped answering" : signalText(status);
    }
    workerLost.store(true, std::memory_order_release);
    return true;
}

void IsolatedEffect::killWorker() noexcept {
    std::lock_guard lock(pidMutex);
    const pid_t running = pid.load();
    if (running <= 0) return;
    ::kill(-running, SIGKILL);
    ::kill(running, SIGKILL);
}

void IsolatedEffect::endWorker() noexcept {
    if (pid.load() <= 0 || shared == nullptr) return;
    {
        std::unique_lock lock(controlMutex, std::try_to_lock);
        if (lock.owns_lock() && !workerLost.load()) {
            ControlChannel& control = shared->control;
            control.message = Message::Quit;
            control.toWorker.fetch_add(1, std::memory_order_release);
            platform::futexWake(control.toWorker);
        }
    }
    const std::int64_t limit = now() + 1000 * kMs;
    while (!reapWorker() && now() < limit) platform::sleepMs(2);
    if (pid.load() > 0) {
        killWorker();
        std::lock_guard lock(pidMutex);
        ::waitpid(pid.load(), nullptr, 0);
        pid.store(0);
    }
}

bool IsolatedEffect::waitForLoad(std::string& failure) {
    const std::int64_t limit = now() + kLoadLimitNs;
    for (;;) {
        const std::uint32_t signal = shared->loadSignal.load(std::memory_order_acquire);
        const auto status = static_cast<isolation::LoadStatus>(shared->loadStatus.load(std::memory_order_acquire));
        if (status == isolation::LoadStatus::Loaded) return true;
        if (status != isolation::LoadStatus::Pending) {
            const std::string detail = shared->loadError;
            switch (status) {
            case isolation::LoadStatus::NoFile: failure = "the file does not exist"; break;
            case isolation::LoadStatus::NotLibrary:
                failure = "it is not a library this system can load (" + detail + ")";
                break;
            case isolation::LoadStatus::NoEntry:
                failure = "it has no VST 2.x entry point (\"main\" or \"VSTPluginMain\")";
                break;
            case isolation::LoadStatus::NoEffect:
                failure = "its entry point gave no plug-in (it may need a host it does not recognise)";
                break;
            default: failure = "it failed while loading (its entry point threw an exception)"; break;
            }
            endWorker();
            return false;
        }
        if (reapWorker()) {
            failure = "it crashed while loading (" + lossReason() + ", in its own process)";
            return false;
        }
        if (now() > limit || stopping.load()) {
            hung = true;
            endWorker();
            failure = "it did not finish loading within 30 seconds";
            return false;
        }
        platform::futexWait(shared->loadSignal, signal, 20 * kMs);
    }
}

AEffect* IsolatedEffect::start(const std::string& path, std::string& failure) {
    if (shared == nullptr) {
        failure =
            std::string("the memory it would share with its worker cannot be made (") + std::strerror(errno) + ")";
        return nullptr;
    }
    library = path;
    workerPath = workerProgram(host.slotWorker);
    {
        std::lock_guard lock(textMutex);
        displayName = slot.SlotName;
    }
    isolation::StartFacts& facts = shared->start;
    facts.layoutVersion = isolation::kLayoutVersion;
    facts.hostPid = ::getpid();
    facts.slotIndex = slot.SlotIdx;
    facts.sampleRate = host.engineSampleRate.load();
    facts.blockSize = host.engineBlockSize.load();
    facts.vendorVersion = host.VendorVersion;
    facts.capabilities = host.capabilities.load();
    facts.language = host.Language;
    facts.inputLatency = host.InputLatency;
    facts.outputLatency = host.OutputLatency;
    facts.numAutomatableParams = host.NumAutomatableParams;
    facts.parameterQuantization = host.ParamQuantization;
    auto copy = [](char* to, std::size_t size, const std::string& text) {
        const std::size_t length = std::min(text.size(), size - 1);
        std::memcpy(to, text.data(), length);
        to[length] = '\0';
    };
    copy(facts.vendor, sizeof facts.vendor, host.VendorString);
    copy(facts.product, sizeof facts.product, host.ProductString);
    copy(facts.directory, sizeof facts.directory, host.Directory);
    if (path.size() >= sizeof facts.library) {
        failure = "its path is too long";
        return nullptr;
    }
    copy(facts.library, sizeof facts.library, path);
    cpu_set_t usable;
    CPU_ZERO(&usable);
    spinNs = sched_getaffinity(0, sizeof usable, &usable) == 0 && CPU_COUNT(&usable) >= 2 ? kSpinNs : 0;
    fadeLength = std::max(1, static_cast<int>(host.engineSampleRate.load() / 100.0f));
    fadePosition = fadeLength; // a plug-in just loaded starts as in the process

    if (!spawnWorker(failure) || !waitForLoad(failure)) return nullptr;

    const isolation::EffectFacts& loaded = shared->loadedFacts;
    if (loaded.numInputs > isolation::kMaxChannels || loaded.numOutputs > isolation::kMaxChannels) {
        failure = "it declares " + std::to_string(loaded.numInputs) + " inputs and " +
                  std::to_string(loaded.numOutputs) + " outputs; in a process of its own a plug-in has at most " +
                  std::to_string(isolation::kMaxChannels) + " of each";
        endWorker();
        return nullptr;
    }
    proxy = AEffect{};
    proxy.dispatcher = &dispatchProc;
    proxy.setParameter = &setParameterProc;
    proxy.getParameter = &getParameterProc;
    proxy.object = this;
    applyFacts(shared->loadedFacts);
    currentState.store(State::Running, std::memory_order_release);
    keeper = std::thread([this] { keeperLoop(); });
    return &proxy;
}

void IsolatedEffect::applyFacts(const isolation::EffectFacts& facts) noexcept {
    // Written only when they changed: the engine reads them while it runs.
    auto set = [](auto& field, auto value) {
        if (field != value) field = value;
    };
    set(proxy.magic, facts.magic);
    set(proxy.numPrograms, facts.numPrograms);
    set(proxy.numParams, facts.numParams);
    set(proxy.numInputs, std::clamp(facts.numInputs, 0, isolation::kMaxChannels));
    set(proxy.numOutputs, std::clamp(facts.numOutputs, 0, isolation::kMaxChannels));
    set(proxy.flags, facts.flags & ~effFlagsCanDoubleReplacing);
    set(proxy.initialDelay, facts.initialDelay);
    set(proxy.uniqueID, facts.uniqueID);
    set(proxy.version, facts.version);
    set(proxy.ioRatio, facts.ioRatio);
    set(proxy.process, facts.hasProcess != 0 ? &processProc : nullptr);
    set(proxy.processReplacing, facts.hasReplacing != 0 ? &replacingProc : nullptr);
}

std::string IsolatedEffect::lossReason() const {
    std::lock_guard lock(textMutex);
    return lastLoss;
}

std::string IsolatedEffect::takeNotice() {
    std::lock_guard lock(textMutex);
    return std::exchange(notice, std::string());
}

void IsolatedEffect::setNotice(std::string text) {
    diag::hookedLogError(text);
    std::lock_guard lock(textMutex);
    notice = std::move(text);
}

bool IsolatedEffect::switchOn() {
    if (state() != State::Off || !opened.load() || closed.load()) return false;
    restartedBefore = false;
    currentState.store(State::Down, std::memory_order_release);
    restartWanted = true;
    shared->async.signal.fetch_add(1);
    platform::futexWake(shared->async.signal);
    return true;
}

// ---- The stand-in record ----

VstIntPtr IsolatedEffect::dispatchProc(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                       float opt) {
    auto& self = *static_cast<IsolatedEffect*>(effect->object);
    // Events always go with the next block; the engine's threads never wait on a call.
    if (opcode == effProcessEvents || platform::inAudioBlock()) return self.dispatchFromBlock(opcode, value, ptr);
    return self.dispatchControl(opcode, index, value, ptr, opt, false);
}

void IsolatedEffect::processProc(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    static_cast<IsolatedEffect*>(effect->object)->runBlock(inputs, outputs, frames, 0);
}

void IsolatedEffect::replacingProc(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    static_cast<IsolatedEffect*>(effect->object)->runBlock(inputs, outputs, frames, 1);
}

void IsolatedEffect::setParameterProc(AEffect* effect, VstInt32 index, float value) {
    auto& self = *static_cast<IsolatedEffect*>(effect->object);
    if (platform::inAudioBlock() || self.state() != State::Running) return;
    std::lock_guard lock(self.controlMutex);
    ControlChannel& control = self.shared->control;
    control.index = index;
    control.opt = value;
    control.dataSize = 0;
    self.exchange(Message::SetParameter, kCallLimitNs);
    self.stateChanged();
}

float IsolatedEffect::getParameterProc(AEffect* effect, VstInt32 index) {
    auto& self = *static_cast<IsolatedEffect*>(effect->object);
    if (platform::inAudioBlock() || self.state() != State::Running) return 0.0f;
    std::lock_guard lock(self.controlMutex);
    ControlChannel& control = self.shared->control;
    control.index = index;
    control.dataSize = 0;
    return self.exchange(Message::GetParameter, kCallLimitNs) ? static_cast<float>(control.opt) : 0.0f;
}

// ---- The audio path ----

VstIntPtr IsolatedEffect::dispatchFromBlock(VstInt32 opcode, VstIntPtr value, void* ptr) noexcept {
    switch (opcode) {
    case effProcessEvents:
        // Kept for the next block the worker takes, while it runs a late one too. Events of a
        // block the slot did not process (it is off, bypassed or suspended) are not: the
        // plug-in would hear them all at once when it is processed again.
        if (ptr == nullptr) return 0;
        if (eventsWaiting) {
            pendingEvents->count = 0;
            pendingEvents->sysexUsed = 0;
        }
        if (!isolation::appendEvents(static_cast<const VstEvents*>(ptr), *pendingEvents))
            droppedEvents.fetch_add(1, std::memory_order_relaxed);
        eventsWaiting = true;
        return 1;
    case effMainsChanged:
        wantedMains.store(static_cast<std::int32_t>(value), std::memory_order_relaxed);
        pendingMains.store(static_cast<std::int32_t>(value), std::memory_order_relaxed);
        return 0;
    case effSetBypass:
        // The plug-in said it can bypass itself (canDo "bypass"); it hears so with the next block.
        wantedBypass.store(static_cast<std::int32_t>(value), std::memory_order_relaxed);
        pendingBypass.store(static_cast<std::int32_t>(value), std::memory_order_relaxed);
        return 1;
    default: return 0;
    }
}

void IsolatedEffect::playFallback(float** inputs, float** outputs, int frames, int replacing) noexcept {
    const int numIn = proxy.numInputs;
    const int numOut = proxy.numOutputs;
    const bool passInput = passesInput();
    const auto bytes = sizeof(float) * static_cast<std::size_t>(frames);
    for (int c = 0; c < numOut; ++c) {
        float* out = outputs[c];
        if (passInput && c < numIn) {
            const float* in = inputs[c];
            if (replacing != 0) {
                if (out != in) std::memmove(out, in, bytes);
            } else {
                for (int i = 0; i < frames; ++i) out[i] += in[i];
            }
        } else if (replacing != 0) {
            std::memset(out, 0, bytes);
        }
    }
    fadePosition = 0;
}

void IsolatedEffect::noteMiss() noexcept {
    const std::int64_t time = now();
    if (missedBlocks++ == 0) firstMissNs = time;
    if (missedBlocks >= kHungBlocks && time - firstMissNs >= kHungNs && !hung.exchange(true)) {
        shared->async.signal.fetch_add(1, std::memory_order_release);
        platform::futexWake(shared->async.signal);
    }
}

void IsolatedEffect::runBlock(float** inputs, float** outputs, int frames, int replacing) noexcept {
    audioBusy.store(true, std::memory_order_seq_cst);
    AudioChannel& audio = shared->audio;
    const int numIn = proxy.numInputs;
    const int numOut = proxy.numOutputs;
    if (missesReset.exchange(false, std::memory_order_acquire)) missedBlocks = 0;
    if (frames > isolation::kMaxFrames && !tooLongSaid.exchange(true, std::memory_order_relaxed)) {
        diag::LineText line; // on the stack: the engine's thread allocates nothing
        line << "slot " << slot.SlotIdx << ": blocks of more than " << isolation::kMaxFrames
             << " frames do not reach a plug-in in a process of its own";
        diag::hookedLogError(line.view());
    }
    eventsWaiting = false;
    if (currentState.load(std::memory_order_seq_cst) != State::Running || frames <= 0 ||
        frames > isolation::kMaxFrames) {
        // A worker that is down or off hears none of this block's events later.
        pendingEvents->count = 0;
        pendingEvents->sysexUsed = 0;
        playFallback(inputs, outputs, frames, replacing);
        audioBusy.store(false, std::memory_order_release);
        return;
    }
    const std::uint32_t last = audio.request.load(std::memory_order_relaxed);
    if (audio.answer.load(std::memory_order_acquire) != last) {
        // Still on a block it missed.
        noteMiss();
        playFallback(inputs, outputs, frames, replacing);
        audioBusy.store(false, std::memory_order_release);
        return;
    }
    const auto bytes = sizeof(float) * static_cast<std::size_t>(frames);
    for (int c = 0; c < numIn; ++c) std::memcpy(isolation::inputChannel(audio, c), inputs[c], bytes);
    if (replacing == 0)
        for (int c = 0; c < numOut; ++c) std::memcpy(isolation::outputChannel(audio, c), outputs[c], bytes);
    audio.frames = frames;
    audio.replacing = replacing;
    audio.numInputs = numIn;
    audio.numOutputs = numOut;
    audio.mainsChange = pendingMains.exchange(isolation::kNoChange, std::memory_order_relaxed);
    audio.bypassChange = pendingBypass.exchange(isolation::kNoChange, std::memory_order_relaxed);
    audio.time = *host.TimeInfo.record();
    isolation::EventList& pending = *pendingEvents;
    audio.in.count = pending.count;
    audio.in.sysexUsed = pending.sysexUsed;
    std::memcpy(audio.in.events, pending.events, sizeof(isolation::Event) * static_cast<std::size_t>(pending.count));
    std::memcpy(audio.in.sysex, pending.sysex, static_cast<std::size_t>(pending.sysexUsed));
    pending.count = 0;
    pending.sysexUsed = 0;
    const std::uint32_t posted = last + 1;
    audio.request.store(posted, std::memory_order_release);
    platform::futexWake(audio.request);

    const std::int64_t budget =
        host.offlineRendering.load(std::memory_order_relaxed)
            ? kOfflineBlockLimitNs
            // Three quarters of the block's length: a block missed leaves the rest of the rack
            // time to finish before the driver wants it.
            : std::max<std::int64_t>(
                  static_cast<std::int64_t>(0.75e9 * frames / std::max(1.0f, host.engineSampleRate.load())), kMs / 2);
    const std::int64_t posting = now();
    const std::int64_t deadline = posting + budget;
    for (;;) {
        const std::uint32_t answered = audio.answer.load(std::memory_order_acquire);
        if (answered == posted) break;
        // A light plug-in answers within some microseconds: polling that long costs less than
        // going to sleep and being woken (tens of microseconds). Only with another processor
        // for the worker to run on.
        if (spinNs > 0 && now() - posting < spinNs) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
            continue;
        }
        const std::int64_t left = deadline - now();
        if (left <= 0 || workerLost.load(std::memory_order_acquire)) {
            noteMiss();
            playFallback(inputs, outputs, frames, replacing);
            audioBusy.store(false, std::memory_order_release);
            return;
        }
        platform::futexWait(audio.answer, answered, left);
    }
    missedBlocks = 0;
    if (fadeWanted.exchange(false, std::memory_order_relaxed)) fadePosition = 0;
    for (int c = 0; c < numOut; ++c) {
        const float* wet = isolation::outputChannel(audio, c);
        if (fadePosition >= fadeLength) {
            std::memcpy(outputs[c], wet, bytes);
            continue;
        }
        // Back after a gap: from the fallback to the plug-in's sound, without a click.
        const bool passInput = passesInput() && c < numIn;
        const float* dry = passInput ? isolation::inputChannel(audio, c) : nullptr;
        for (int i = 0; i < frames; ++i) {
            const float gain = std::min(1.0f, static_cast<float>(fadePosition + i) / static_cast<float>(fadeLength));
            const float from = dry != nullptr ? dry[i] : 0.0f;
            outputs[c][i] = from + (wet[i] - from) * gain;
        }
    }
    if (fadePosition < fadeLength) fadePosition = std::min(fadeLength, fadePosition + frames);
    const int callbacks = std::clamp(audio.callbackCount, 0, isolation::kMaxBlockCallbacks);
    for (int i = 0; i < callbacks; ++i) {
        const isolation::Callback& call = audio.callbacks[i];
        hostCallback(&proxy, call.opcode, call.index, static_cast<VstIntPtr>(call.value), nullptr, call.opt);
    }
    if (audio.out.count > 0) hostCallback(&proxy, audioMasterProcessEvents, 0, 0, outEvents->build(audio.out), 0.0f);
    audioBusy.store(false, std::memory_order_release);
}

// ---- The control path ----

bool IsolatedEffect::exchange(Message message, std::int64_t limitNs) {
    // A worker that stopped answering, or one being ended, gets no more requests: the
    // keeper ends it and starts another.
    if (hung.load(std::memory_order_acquire) || stopping.load(std::memory_order_acquire)) return false;
    ControlChannel& control = shared->control;
    const std::uint32_t id = ++requestCounter;
    control.message = message;
    control.requestId = id;
    control.toWorker.fetch_add(1, std::memory_order_release);
    platform::futexWake(control.toWorker);
    const std::int64_t limit = now() + limitNs;
    for (;;) {
        const std::uint32_t seen = control.toHost.load(std::memory_order_acquire);
        if (seen != lastToHost) {
            lastToHost = seen;
            if (control.message == Message::Answer && control.requestId == id) {
                applyFacts(control.facts);
                return true;
            }
            if (control.message == Message::Callback) {
                // A host call from inside the request: answered here, on the caller's thread,
                // as a plug-in in the process would have it answered.
                applyFacts(control.facts);
                const auto opcode = static_cast<VstInt32>(control.opcode);
                const auto index = static_cast<VstInt32>(control.index);
                const auto value = static_cast<VstIntPtr>(control.value);
                const auto opt = static_cast<float>(control.opt);
                if (opcode == audioMasterAutomate) stateChanged();
                const VstIntPtr result = hostCallback(&proxy, opcode, index, value, nullptr, opt);
                control.message = Message::CallbackAnswer;
                control.result = result;
                control.toWorker.fetch_add(1, std::memory_order_release);
                platform::futexWake(control.toWorker);
            }
            continue;
        }
        if (workerLost.load(std::memory_order_acquire) || reapWorker() || stopping.load()) return false;
        if (now() > limit) {
            hung = true;
            shared->async.signal.fetch_add(1, std::memory_order_release);
            platform::futexWake(shared->async.signal);
            return false;
        }
        platform::futexWait(control.toHost, seen, 20 * kMs);
    }
}

VstIntPtr IsolatedEffect::dispatchControl(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt,
                                          bool internal) {
    // What the slot wants of the plug-in is kept whatever the worker's state: a restart
    // brings it back.
    if (!internal) {
        switch (opcode) {
        case effMainsChanged:
            wantedMains.store(static_cast<std::int32_t>(value));
            pendingMains.store(isolation::kNoChange, std::memory_order_relaxed);
            break;
        case effSetBypass:
            wantedBypass.store(static_cast<std::int32_t>(value));
            pendingBypass.store(isolation::kNoChange, std::memory_order_relaxed);
            break;
        case effEditOpen: editorWindow = reinterpret_cast<std::intptr_t>(ptr); break;
        case effEditClose: editorWindow = 0; break;
        case effClose:
            closed = true;
            editorWindow = 0;
            break;
        case effOpen: closed = false; break;
        default: break;
        }
    }
    if (!internal && state() != State::Running) return 0;
    const isolation::Argument argument = isolation::argumentOf(opcode, ptr);
    if (argument == isolation::Argument::Refused) {
        // Said once for each opcode.
        if (opcode < 0 || opcode >= static_cast<VstInt32>(refusedSaid.size()) ||
            refusedSaid[static_cast<std::size_t>(opcode)].exchange(true))
            return 0;
        diag::LineText line;
        line << "slot " << slot.SlotIdx << ": opcode " << opcode
             << " with its pointer cannot reach an isolated plug-in";
        diag::hookedLogError(line.view());
        return 0;
    }
    std::lock_guard lock(controlMutex);
    ControlChannel& control = shared->control;
    control.opcode = opcode;
    control.index = index;
    control.value = value;
    control.opt = opt;
    control.argument = static_cast<std::int32_t>(argument);
    control.dataSize = 0;
    switch (argument) {
    case isolation::Argument::TextIn: {
        const std::size_t length = strnlen(static_cast<const char*>(ptr), 4095);
        std::memcpy(control.data, ptr, length);
        control.data[length] = 0;
        control.dataSize = static_cast<std::int64_t>(length + 1);
        break;
    }
    case isolation::Argument::Window:
        control.value = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(ptr));
        break;
    case isolation::Argument::ChunkIn:
        if (value < 0 || static_cast<std::size_t>(value) > isolation::kControlBytes) {
            diag::hookedLogError("slot " + std::to_string(slot.SlotIdx) + ": a chunk of " + std::to_string(value) +
                                 " bytes is too large for a plug-in in a process of its own");
            return 0;
        }
        std::memcpy(control.data, ptr, static_cast<std::size_t>(value));
        control.dataSize = value;
        break;
    case isolation::Argument::EventsIn: {
        auto* list = new (control.data) isolation::EventList();
        isolation::appendEvents(static_cast<const VstEvents*>(ptr), *list);
        control.dataSize = sizeof(isolation::EventList);
        break;
    }
    case isolation::Argument::Record:
        std::memcpy(control.data, ptr, isolation::recordSize(opcode));
        control.dataSize = static_cast<std::int64_t>(isolation::recordSize(opcode));
        break;
    default: break;
    }
    const std::int64_t limit =
        opcode == effOpen || opcode == effSetChunk || opcode == effEditOpen ? kOpenLimitNs : kCallLimitNs;
    if (!exchange(Message::Dispatch, limit)) return 0;
    if (opcode == effOpen) opened = true;
    const auto result = static_cast<VstIntPtr>(control.result);
    const std::size_t size =
        static_cast<std::size_t>(std::clamp<std::int64_t>(control.dataSize, 0, isolation::kControlBytes));
    switch (argument) {
    case isolation::Argument::TextOut: {
        const std::size_t length =
            std::min(strnlen(reinterpret_cast<const char*>(control.data), size), isolation::textOutLimit(opcode));
        std::memcpy(ptr, control.data, length);
        static_cast<char*>(ptr)[length] = '\0';
        break;
    }
    case isolation::Argument::RectOut: {
        ERect& rect = internal ? keeperRect : rectCopy;
        if (size >= sizeof(ERect)) {
            std::memcpy(&rect, control.data, sizeof(ERect));
            *static_cast<ERect**>(ptr) = &rect;
        }
        break;
    }
    case isolation::Argument::ChunkOut: {
        if (result < 0) {
            if (!internal || !snapshotFailureSaid)
                diag::hookedLogError("slot " + std::to_string(slot.SlotIdx) +
                                     ": the plug-in's chunk is too large to leave its process");
            snapshotFailureSaid = snapshotFailureSaid || internal;
            return 0;
        }
        std::vector<std::uint8_t>& chunk = internal ? keeperChunk : chunkCopy;
        chunk.assign(control.data, control.data + size);
        *static_cast<void**>(ptr) = chunk.empty() ? nullptr : chunk.data();
        break;
    }
    case isolation::Argument::Record:
        std::memcpy(ptr, control.data, std::min(size, isolation::recordSize(opcode)));
        break;
    default: break;
    }
    if (opcode == effSetProgram || opcode == effSetChunk || opcode == effEndSetProgram) stateChanged();
    return result;
}

// ---- The keeper ----

void IsolatedEffect::keeperLoop() {
    isolation::AsyncRing& ring = shared->async;
    while (!stopping.load()) {
        const std::uint32_t signal = ring.signal.load(std::memory_order_acquire);
        drainAsync();
        if (hung.load() && pid.load() > 0) killWorker();
        reapWorker();
        if (droppedEvents.load() > 0 && now() - droppedSaidNs > kSnapshotEveryNs) {
            droppedSaidNs = now();
            diag::hookedLogError("slot " + std::to_string(slot.SlotIdx) + ": " +
                                 std::to_string(droppedEvents.exchange(0)) +
                                 " times MIDI events did not fit a block for the plug-in and were left out");
        }
        const State current = state();
        if (current == State::Running && workerLost.load()) {
            workerWasLost();
        } else if ((current == State::Down || current == State::Off) && restartWanted.exchange(false) &&
                   !closed.load()) {
            restart();
        } else if (current == State::Running && opened.load() && !closed.load() &&
                   now() - lastSnapshotNs > (takenVersion.load() != stateVersion.load() && !snapshotFailed
                                                 ? kSnapshotAfterChangeNs
                                                 : kSnapshotEveryNs)) {
            takeSnapshot();
        }
        if (stopping.load()) break;
        platform::futexWait(ring.signal, signal, 50 * kMs);
    }
}

void IsolatedEffect::drainAsync() {
    isolation::AsyncRing& ring = shared->async;
    for (;;) {
        const std::uint32_t tail = ring.tail.load(std::memory_order_relaxed);
        if (tail == ring.head.load(std::memory_order_acquire)) return;
        const isolation::Callback call = ring.slots[tail % isolation::kAsyncSlots];
        ring.tail.store(tail + 1, std::memory_order_release);
        if (call.opcode == audioMasterAutomate) stateChanged();
        if (state() == State::Running)
            hostCallback(&proxy, call.opcode, call.index, static_cast<VstIntPtr>(call.value), nullptr, call.opt);
    }
}

void IsolatedEffect::workerWasLost() {
    currentState.store(State::Down, std::memory_order_seq_cst);
    // The engine's thread finishes the block it may be in; every later one plays the fallback.
    while (audioBusy.load(std::memory_order_seq_cst)) platform::sleepMs(0);
    if (closed.load()) {
        // Closed already: nothing is lost, and nothing starts it again.
        currentState.store(State::Off, std::memory_order_release);
        return;
    }
    std::string name;
    {
        std::lock_guard lock(textMutex);
        name = displayName;
    }
    std::string head =
        "slot " + std::to_string(slot.SlotIdx) + " \"" + name + "\" (" + library + "): its worker process ";
    head += hung.load() ? "stopped answering and was ended" : "ended (" + lossReason() + ")";
    const std::string fallback = passesInput() ? "its input passes unchanged" : "it is silent";
    if (!opened.load()) {
        currentState.store(State::Off, std::memory_order_release);
        setNotice(head + "; " + fallback);
        return;
    }
    if (restartedBefore && now() - lastRestartNs < kRecrashWindowNs) {
        currentState.store(State::Off, std::memory_order_release);
        setNotice(head + " again soon after a restart; " + fallback + " until it is switched on");
        return;
    }
    setNotice(head + "; " + fallback + " while it is restarted" +
              (haveSnapshot.load() ? " with its last state" : " (no state of it was taken yet)"));
    restartWanted = true;
    restart();
}

void IsolatedEffect::restart() {
    std::lock_guard lock(controlMutex);
    if (pid.load() > 0) {
        killWorker();
        while (!reapWorker()) platform::sleepMs(1);
    }
    restartWanted = false;
    pendingMains.store(isolation::kNoChange, std::memory_order_relaxed);
    pendingBypass.store(isolation::kNoChange, std::memory_order_relaxed);
    std::string failure;
    auto fail = [&](const std::string& why) {
        currentState.store(State::Off, std::memory_order_release);
        setNotice("slot " + std::to_string(slot.SlotIdx) + " (" + library + ") could not be restarted: " + why);
    };
    if (!spawnWorker(failure) || !waitForLoad(failure)) return fail(failure);
    applyFacts(shared->loadedFacts);
    restartedBefore = true;
    lastRestartNs = now();
    restartCount.fetch_add(1);
    dispatchControl(effOpen, 0, 0, nullptr, 0.0f, true);
    dispatchControl(effSetSampleRate, 0, 0, nullptr, host.engineSampleRate.load(), true);
    dispatchControl(effSetBlockSize, 0, host.engineBlockSize.load(), nullptr, 0.0f, true);
    restoreSnapshot();
    // What the slot asked for last, also while the worker was down.
    const std::int32_t bypass = wantedBypass.load();
    if (bypass != 0) dispatchControl(effSetBypass, 0, bypass, nullptr, 0.0f, true);
    const std::intptr_t window = editorWindow.load();
    if (window != 0) {
        // The view opens again in the editor window, at the size it starts with.
        dispatchControl(effEditOpen, 0, 0, reinterpret_cast<void*>(window), 0.0f, true);
        ERect* rect = nullptr;
        dispatchControl(effEditGetRect, 0, 0, &rect, 0.0f, true);
        if (rect != nullptr && rect->right > rect->left && rect->bottom > rect->top)
            hostCallback(&proxy, audioMasterSizeWindow, rect->right - rect->left, rect->bottom - rect->top, nullptr,
                         0.0f);
    }
    // Resumed last, then running; a change of mind meanwhile reaches it through the block.
    std::int32_t mains = wantedMains.load();
    if (mains != 0) dispatchControl(effMainsChanged, 0, mains, nullptr, 0.0f, true);
    fadeWanted.store(true, std::memory_order_relaxed);
    currentState.store(State::Running, std::memory_order_seq_cst);
    // Changes of mind while it started: the engine's threads pass them on with the next block;
    // an editor closed meanwhile closes its view.
    if (const std::int32_t later = wantedMains.load(); later != mains)
        pendingMains.store(later, std::memory_order_relaxed);
    if (const std::int32_t later = wantedBypass.load(); later != bypass)
        pendingBypass.store(later, std::memory_order_relaxed);
    if (window != 0 && editorWindow.load() != window) dispatchControl(effEditClose, 0, 0, nullptr, 0.0f, true);
    if (workerLost.load() || hung.load()) return; // the keeper's next look decides
    diag::hookedLog("slot " + std::to_string(slot.SlotIdx) + ": worker restarted" +
                    (haveSnapshot.load() ? " with the plug-in's last state" : ""));
}

void IsolatedEffect::takeSnapshot() {
    lastSnapshotNs = now();
    const std::uint32_t version = stateVersion.load(std::memory_order_acquire);
    std::unique_lock lock(controlMutex);
    const std::int32_t program = static_cast<std::int32_t>(dispatchControl(effGetProgram, 0, 0, nullptr, 0.0f, true));
    bool taken = false;
    if ((proxy.flags & effFlagsProgramChunks) != 0) {
        void* data = nullptr;
        const VstIntPtr size = dispatchControl(effGetChunk, 0, 0, &data, 0.0f, true);
        if (!workerLost.load() && data != nullptr && size > 0) {
            snapshotBank.assign(static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
            snapshotIsBank = true;
            taken = true;
        }
    } else {
        const int count = std::clamp(proxy.numParams, 0, kMaxSnapshotParameters);
        std::vector<float> values(static_cast<std::size_t>(count));
        ControlChannel& control = shared->control;
        taken = true;
        for (int i = 0; i < count && taken; ++i) {
            if (i > 0 && i % 64 == 0) {
                // Calls from the window get their turn between groups of values.
                lock.unlock();
                lock.lock();
            }
            control.index = i;
            control.dataSize = 0;
            taken = exchange(Message::GetParameter, kCallLimitNs);
            values[static_cast<std::size_t>(i)] = static_cast<float>(control.opt);
        }
        if (taken) {
            snapshotParameters = std::move(values);
            snapshotIsBank = false;
        }
    }
    if (!taken || workerLost.load()) {
        snapshotFailed = true; // tried again at the next periodic look, not at once
        return;
    }
    snapshotFailed = false;
    snapshotProgram = program;
    haveSnapshot = true;
    takenVersion.store(version, std::memory_order_release);
}

bool IsolatedEffect::restoreSnapshot() {
    if (!haveSnapshot.load()) return true;
    if (snapshotIsBank) {
        dispatchControl(effSetChunk, 0, static_cast<VstIntPtr>(snapshotBank.size()), snapshotBank.data(), 0.0f, true);
        if (snapshotProgram >= 0) dispatchControl(effSetProgram, 0, snapshotProgram, nullptr, 0.0f, true);
        return !workerLost.load();
    }
    if (snapshotProgram >= 0) dispatchControl(effSetProgram, 0, snapshotProgram, nullptr, 0.0f, true);
    ControlChannel& control = shared->control;
    for (std::size_t i = 0; i < snapshotParameters.size(); ++i) {
        control.index = static_cast<std::int32_t>(i);
        control.opt = snapshotParameters[i];
        control.dataSize = 0;
        if (!exchange(Message::SetParameter, kCallLimitNs)) return false;
    }
    return true;
}

} // namespace trelvo::host
