#pragma once

namespace trelvo::platform {

/// Marks the calling thread as real-time (the audio thread, the work thread, MIDI driver
/// callbacks). Code that may block or allocate checks the mark and takes its wait-free path.
/// Thread: the thread itself.
void markRealtimeThread(bool isRealtime) noexcept;

/// Thread: any, wait-free.
bool isRealtimeThread() noexcept;

/// Marks the calling thread real-time for the life of the object.
class RealtimeScope {
public:
    RealtimeScope() noexcept : wasRealtime(isRealtimeThread()) { markRealtimeThread(true); }
    ~RealtimeScope() { markRealtimeThread(wasRealtime); }
    RealtimeScope(const RealtimeScope&) = delete;
    RealtimeScope& operator=(const RealtimeScope&) = delete;

private:
    bool wasRealtime;
};

/// True while the calling thread runs an audio block (see AudioBlockScope).
/// Thread: any, wait-free.
bool inAudioBlock() noexcept;

/// Marks the calling thread as running an audio block for the life of the object: a driver's
/// callback through the host and the engine, the work thread through its strips. Nothing
/// inside may allocate or free; the tests' allocation guard counts on every thread that
/// carries the mark. Nests.
class AudioBlockScope {
public:
    AudioBlockScope() noexcept;
    ~AudioBlockScope();
    AudioBlockScope(const AudioBlockScope&) = delete;
    AudioBlockScope& operator=(const AudioBlockScope&) = delete;

private:
    bool wasInBlock;
};

} // namespace trelvo::platform
