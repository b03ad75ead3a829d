#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/IsolationChannel.h"
#include "vst/VstAbi.h"

namespace trelvo::host {

class TVstHost;
class TVstPlugIn;

/// A plug-in running in a worker process of its own, seen by the slot through a stand-in
/// effect record: its dispatcher, process and parameter calls travel through shared memory,
/// so that the slot, the engine and every caller work as with a plug-in in the process.
///
/// Blocks go to the worker's audio thread and are waited for with a deadline; a block the
/// worker misses, and every block while it is down, plays the slot's fallback: its input for
/// an effect (the signal goes on, dry, rather than stopping the band), silence for an
/// instrument. When the worker dies, or misses its deadline for blocks running, the keeper
/// thread restarts it with the plug-in's last known state (its bank, or its program and
/// parameter values, taken at each program change and every few seconds) and the slot fades
/// back in. A worker lost again soon after a restart stays off until switchOn.
class IsolatedEffect {
public:
    enum class State : int {
        Starting, ///< the first worker is loading and opening
        Running,  ///< the worker answers
        Down,     ///< the worker was lost; the keeper restarts it
        Off,      ///< lost again soon after a restart (or not restartable): off until switchOn
    };

    IsolatedEffect(TVstHost& host, TVstPlugIn& slot);
    /// Ends the worker (it is asked to quit, then killed) and the keeper.
    ~IsolatedEffect();
    IsolatedEffect(const IsolatedEffect&) = delete;
    IsolatedEffect& operator=(const IsolatedEffect&) = delete;

    /// Starts a worker for library and loads it: the stand-in effect record, or nullptr
    /// with the reason, in words for the user, in failure. Thread: user interface.
    AEffect* start(const std::string& library, std::string& failure);

    State state() const noexcept { return currentState.load(std::memory_order_acquire); }
    /// True once the current worker was lost (until it is replaced). Thread: any.
    bool lost() const noexcept { return workerLost.load(std::memory_order_acquire); }
    /// Why the worker was last lost ("SIGSEGV", "it stopped answering"). Thread: any.
    std::string lossReason() const;
    /// A line for the user about the last loss, once; empty when there is nothing new.
    /// Thread: user interface.
    std::string takeNotice();
    /// Restarts a worker that stays off, with its last state. Thread: user interface.
    bool switchOn();
    /// The worker's process id (0 while none runs). Thread: any.
    pid_t workerPid() const noexcept { return pid.load(std::memory_order_acquire); }
    /// How many times the worker was restarted. Thread: any.
    int restarts() const noexcept { return restartCount.load(std::memory_order_acquire); }
    /// Asks the keeper to take the plug-in's state now (after a program change or a preset
    /// load). Thread: any.
    void stateChanged() noexcept { stateVersion.fetch_add(1, std::memory_order_acq_rel); }
    /// True while the keeper holds a state taken after the last stateChanged.
    bool stateTaken() const noexcept {
        return haveSnapshot.load(std::memory_order_acquire) &&
               takenVersion.load(std::memory_order_acquire) == stateVersion.load(std::memory_order_acquire);
    }

    /// The worker program: the host's choice, else $TRELVO_SLOT_WORKER, else
    /// "trelvo-slot-worker" beside the running program or in its lib/trelvo folder.
    static std::string workerProgram(const std::string& chosen);

    /// How long a worker lost again after a restart counts as "soon".
    static constexpr std::int64_t kRecrashWindowNs = 30'000'000'000;

private:
    // The stand-in record's procedures.
    static VstIntPtr dispatchProc(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt);
    static void processProc(AEffect* effect, float** inputs, float** outputs, VstInt32 frames);
    static void replacingProc(AEffect* effect, float** inputs, float** outputs, VstInt32 frames);
    static void setParameterProc(AEffect* effect, VstInt32 index, float value);
    static float getParameterProc(AEffect* effect, VstInt32 index);

    // The audio path (engine threads): allocates nothing, takes no lock.
    void runBlock(float** inputs, float** outputs, int frames, int replacing) noexcept;
    VstIntPtr dispatchFromBlock(VstInt32 opcode, VstIntPtr value, void* ptr) noexcept;
    void playFallback(float** inputs, float** outputs, int frames, int replacing) noexcept;
    /// What a slot whose worker cannot answer plays: the input for an effect (the signal goes
    /// on, dry), silence for an instrument.
    bool passesInput() const noexcept { return (proxy.flags & effFlagsIsSynth) == 0 && proxy.numInputs > 0; }
    void noteMiss() noexcept;

    // The control path (any other thread), one call at a time.
    VstIntPtr dispatchControl(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt, bool internal);
    bool exchange(isolation::Message message, std::int64_t limitNs);
    void applyFacts(const isolation::EffectFacts& facts) noexcept;

    // The worker.
    bool spawnWorker(std::string& failure);
    /// Waits for the worker's load to end: false, with the reason and the worker ended, when
    /// the library did not load.
    bool waitForLoad(std::string& failure);
    bool reapWorker() noexcept;
    void killWorker() noexcept;
    void endWorker() noexcept;
    void keeperLoop();
    void drainAsync();
    void workerWasLost();
    void restart();
    void takeSnapshot();
    bool restoreSnapshot();
    void setNotice(std::string text);

    TVstHost& host;
    TVstPlugIn& slot;
    AEffect proxy{};
    int memoryFile = -1;
    isolation::SharedBlock* shared = nullptr;
    std::string library;
    std::string workerPath;

    std::atomic<State> currentState{State::Starting};
    std::atomic<pid_t> pid{0};
    std::atomic<bool> workerLost{false};
    std::atomic<bool> hung{false};
    std::atomic<bool> stopping{false};
    std::atomic<bool> opened{false}; ///< effOpen answered once: a lost worker is restarted
    std::atomic<bool> audioBusy{false};
    std::atomic<int> restartCount{0};
    std::mutex pidMutex;
    mutable std::mutex textMutex;
    std::string lastLoss;
    std::string notice;
    std::int64_t lastRestartNs = 0;
    std::atomic<bool> restartedBefore{false};
    std::atomic<bool> restartWanted{false};
    std::thread keeper;

    // Control channel (under controlMutex).
    std::recursive_mutex controlMutex;
    std::uint32_t lastToHost = 0;
    std::uint32_t requestCounter = 0;
    /// What the plug-in's chunk and editor rectangle calls hand out: the caller's, and the
    /// keeper's own, so that a snapshot never moves memory a caller still reads.
    std::vector<std::uint8_t> chunkCopy, keeperChunk;
    ERect rectCopy{}, keeperRect{};

    // What the slot wants of the plug-in, kept through a restart (any thread).
    std::atomic<bool> closed{false};           ///< effClose was sent
    std::atomic<std::int32_t> wantedMains{0};  ///< the last effMainsChanged
    std::atomic<std::int32_t> wantedBypass{0}; ///< the last effSetBypass
    std::string displayName;                   ///< the slot's name when it started (under textMutex)
    std::atomic<std::intptr_t> editorWindow{0};
    std::array<std::atomic<bool>, 96> refusedSaid{}; ///< the opcode's refusal was logged

    // Audio path (engine threads only).
    /// Changes the engine's threads asked for, sent with the next block; a change through
    /// the control channel, or a restart, drops what is pending.
    std::atomic<std::int32_t> pendingMains{isolation::kNoChange};
    std::atomic<std::int32_t> pendingBypass{isolation::kNoChange};
    /// Events for the next block the worker takes; kept while it is late.
    std::unique_ptr<isolation::EventList> pendingEvents;
    std::atomic<std::uint32_t> droppedEvents{0};
    bool eventsWaiting = false;           ///< events were kept and no block came for them since
    std::int64_t droppedSaidNs = 0;       ///< keeper: when dropped events were last logged
    std::atomic<bool> missesReset{false}; ///< a new worker: the count of missed blocks starts again
    std::atomic<bool> tooLongSaid{false};
    int missedBlocks = 0;
    std::int64_t firstMissNs = 0;
    std::int64_t spinNs = 0; ///< how long a block's answer is polled for before sleeping
    int fadePosition = 0;
    std::atomic<bool> fadeWanted{false}; ///< the keeper asks the next block to fade in
    int fadeLength = 441;
    std::unique_ptr<isolation::EventBuilder> outEvents;

    // The plug-in's last known state (keeper thread).
    std::atomic<std::uint32_t> stateVersion{1}; ///< counts the plug-in's state changes
    std::atomic<std::uint32_t> takenVersion{0}; ///< the count the last snapshot was taken at
    std::atomic<bool> haveSnapshot{false};
    bool snapshotFailureSaid = false;
    bool snapshotFailed = false; ///< keeper: the last snapshot could not be taken
    std::int64_t lastSnapshotNs = 0;
    bool snapshotIsBank = false;
    std::vector<std::uint8_t> snapshotBank;
    std::vector<float> snapshotParameters;
    std::int32_t snapshotProgram = -1;
};

} // namespace trelvo::host
