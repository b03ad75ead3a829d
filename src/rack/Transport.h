#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "model/TimeInfo.h"

namespace trelvo::rack {

enum class TransportRequest : int { None = 0, Stop = 1, Play = 2, Pause = 3, Rewind = 4, RewindWhilePaused = 5 };
enum class TransportState : int { Stopped = 1, Playing = 2, Paused = 3 };

inline constexpr int kTempoMin = 16, kTempoMax = 360, kTempoDefault = 120;
inline constexpr int kTimeSigMin = 1, kTimeSigMax = 32;

/// The small transport (play, pause, stop, rewind) that moves the time-info position.
/// The user interface and control surfaces place requests; the audio thread applies the
/// pending request once per block, so a request written during a block takes effect at
/// the next one.
class Transport {
public:
    explicit Transport(TVTI& timeInfo);

    // ---- Buttons and fields. Thread: user interface (or a control-surface handler) ----
    void pressStop();
    /// Play when stopped or paused; pause when playing.
    void pressStartPause();
    void pressRewind();
    void request(TransportRequest request) noexcept { pending.store(static_cast<int>(request)); }
    /// Whole beats per minute, limited to 16..360 like the tempo box.
    void setTempo(int beatsPerMinute);
    /// 1..32 like the time-signature boxes.
    void setTimeSignature(int numerator, int denominator);
    /// The jog wheel: moves a paused position by whole beats (from between two beats to the
    /// next or previous one), never below 0; the next block applies it.
    void jog(int beats) noexcept { jogBeats.fetch_add(beats); }
    /// The tempo as the other parts read it.
    float tempo() const noexcept { return static_cast<float>(info.get(TimeField::Tempo)); }

    /// Told of every button press as a control-surface transport code (91) and value.
    std::function<void(int code, int value)> onSurfaceNotice;

    // ---- Audio thread ----
    /// Applies the pending request and moves samplePos for the block that starts at the
    /// driver's sample position. The first five blocks after a reset are traced.
    void updateSamplePos(std::int64_t position) noexcept;
    /// Clears the transport-changed flag, so a change is reported for exactly one block.
    void endOfBlock() noexcept { info.clearFlags(kVstTransportChanged); }

    /// Audio start and stop: stop request, position 0, not playing, start offset 0.
    /// Thread: user interface while audio is held.
    void resetForAudio() noexcept;
    /// Restarts the trace of the first blocks (program start).
    void restartTrace() noexcept { traceCounter = 6; }

    TransportState state() const noexcept { return static_cast<TransportState>(current.load()); }
    TransportRequest pendingRequest() const noexcept { return static_cast<TransportRequest>(pending.load()); }
    std::int64_t startOffset() const noexcept { return start.load(); }
    std::int64_t pauseOffset() const noexcept { return paused.load(); }

private:
    void apply(TransportRequest request, std::int64_t position) noexcept;
    void applyJog(int beats) noexcept;

    TVTI& info;
    std::atomic<int> pending{static_cast<int>(TransportRequest::None)};
    std::atomic<int> current{static_cast<int>(TransportState::Stopped)};
    // 64-bit positions: a 32-bit offset would wrap after about twelve hours at 48 kHz.
    std::atomic<std::int64_t> start{0};
    std::atomic<std::int64_t> paused{0};
    std::atomic<int> jogBeats{0};
    int traceCounter = 6;
};

} // namespace trelvo::rack
