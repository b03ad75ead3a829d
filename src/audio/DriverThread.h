#pragma once

namespace trelvo::audio {

/// Prepares the calling thread to run audio blocks: marked real-time, fault guard ready,
/// floating-point exceptions masked, and SCHED_FIFO when the system allows it.
/// Thread: the driver's audio thread, once at its start.
void enterAudioThread() noexcept;

} // namespace trelvo::audio
