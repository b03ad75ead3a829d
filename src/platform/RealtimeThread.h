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

} // namespace trelvo::platform
