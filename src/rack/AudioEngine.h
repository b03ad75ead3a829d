#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "model/StripBuffers.h"
#include "rack/EngineHooks.h"
#include "rack/SlotCommandQueue.h"
#include "rack/WorkThread.h"

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::rack {

class Rack;

/// Smoothing steps per sample: gains move toward their targets by these and never overshoot.
inline constexpr float kGainStep = 0.001f;
inline constexpr float kOnGainStep = 0.002f;

/// The application stage from which the engine processes blocks.
inline constexpr int kStageRunning = 7;

/// One audio block as the driver host hands it over: the driver's channel arrays (null
/// entries are inactive channels), already converted to float.
struct DriverBlock {
    const float* const* inputs = nullptr;
    int numInputs = 0;
    float* const* outputs = nullptr;
    int numOutputs = 0;
    int bufferSize = 0;    ///< the host's buffer size for this block
    bool hostReady = true; ///< the driver host is ready and active
};

/// Block timing in performance-counter ticks, written by the audio thread, read by the
/// interface (meters, device-state texts, the CPU view).
struct BlockTiming {
    std::atomic<std::int64_t> last{0};
    std::atomic<std::int64_t> average{0};
    std::atomic<std::int64_t> maximum{0};
    std::atomic<std::int64_t> recentPeak{0};
    std::int64_t windowSum = 0;   ///< audio thread
    std::int64_t windowCount = 0; ///< audio thread

    /// Thread: user interface (the list refresh and the surface countdown do this).
    void resetPeaks() noexcept {
        maximum = 0;
        recentPeak = 0;
    }
};

/// The per-block audio processing of the rack: commands, MIDI hand-over, every strip's
/// insert chain with wet/dry/pan/mute/solo/on/bypass, summing into groups and the output
/// bus, output volume, clipping, meters and timing; optionally split with TwrkThread.
///
/// bufferSwitch is the single entry every driver and every test calls. It allocates
/// nothing, takes no lock but MidiLock (for the half switch and, through the MIDI hooks,
/// for emptying the ports at the end) and never waits on the interface; its log lines go
/// through the lock-free queue.
class AudioEngine {
public:
    explicit AudioEngine(Rack& rack, EngineHooks* hooks = nullptr);
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    /// One block. Thread: the driver's audio thread.
    void bufferSwitch(const DriverBlock& block) noexcept;

    /// Gives every mixer slot among 0..N-1 its strip buffers, sizes the channel pointers lent
    /// to plug-ins to the widest plug-in loaded and the input pair to the block, then sets
    /// buffers ready. The engine-control operations call
    /// it; audio must be held. Thread: user interface.
    void allocateBuffers(int blockSize);
    /// Clears buffers ready and releases every strip buffer, the plug-in channel pointers and
    /// the input pair. Thread: user interface, audio held.
    void releaseBuffers();
    /// The block size the buffers were made for (0 without buffers).
    int bufferCapacity() const noexcept { return capacity; }

    void setHooks(EngineHooks* newHooks) noexcept { hooks = newHooks != nullptr ? newHooks : &noHooks; }
    /// MIDI panic through the hooks (the disallow path and the menu). Thread: any.
    void panic() noexcept { hooks->panic(); }

    // ---- Engine-wide values ----
    std::atomic<bool> allowed{false};
    std::atomic<bool> engineOn{false};
    std::atomic<bool> buffersReady{false};
    std::atomic<bool> busy{false};
    std::atomic<bool> useAllCpus{false};
    std::atomic<int> applicationStage{0};
    std::atomic<float> outputVolume{1.0f};
    BlockTiming timing;

    /// When the current block began (the MIDI layer turns event times into frames with these).
    std::atomic<std::uint32_t> blockStartMs{0};
    std::atomic<std::int64_t> blockStartTicks{0};

    /// The one slot whose plug-in is timed in this block: the slots take turns, so that a
    /// block pays for two clock readings however many plug-ins it runs. Audio thread.
    int timedSlot = 0;

    /// Blocks skipped because the driver's buffer was larger than the engine's buffers.
    std::atomic<std::uint64_t> oversizedBlocks{0};

    /// Always take the per-sample ramp loops, even when every gain is settled. Only tests
    /// set it, to show that the settled loops give the same samples.
    bool rampLoopsOnly = false;

private:
    void applyCommand(SlotCommand& command) noexcept;
    void recomputeSolo() noexcept;
    void runList(const std::array<int, 32>& heads, int count, bool split) noexcept;
    void processStrip(int head, PlugInPins& pins) noexcept;
    bool runChain(int head, int& pluginsRun, PlugInPins& pins) noexcept;
    void processPlugInSlot(host::TVstPlugIn& headSlot, host::TVstPlugIn& slot, int& pluginsRun, bool& failed,
                           PlugInPins& pins) noexcept;
    /// False (and one error line) for a plug-in declaring more channels than the pins hold.
    bool fitsPins(host::TVstPlugIn& slot, const PlugInPins& pins) noexcept;
    void mixHead(host::TVstPlugIn& headSlot, bool anyPluginRan) noexcept;
    void updateBlockTiming(std::int64_t elapsed) noexcept;
    static void updateSlotTiming(host::TVstPlugIn& headSlot, std::int64_t elapsed) noexcept;

    Rack& rack;
    EngineHooks noHooks;
    EngineHooks* hooks;
    int capacity = 0;
    int frames = 0; ///< this block's size
    /// Channel pointers for plug-ins: one set for the driver's thread, one for the worker,
    /// each as wide as the widest plug-in in the rack when the buffers were made.
    std::unique_ptr<PlugInPins> callerPins;
    std::unique_ptr<PlugInPins> workerPins;
    TwrkThread worker;
    bool sharedLastBlock = false; ///< audio thread: the last block offered strips to the worker
};

} // namespace trelvo::rack
