#pragma once

namespace trelvo::audio {

/// Who decides the audio thread's scheduling.
enum class AudioThreadScheduling {
    Raise, ///< Trelvo's own driver thread (ALSA, Dummy): real-time when the system allows it
    Keep,  ///< a thread the driver's server made (JACK): its scheduling is left as it is
};

/// Prepares the calling thread to run audio blocks: marked real-time, fault guard ready,
/// floating-point exceptions masked, its scheduling raised or kept, and that scheduling
/// published for the work thread. A refused real-time priority is reported once per
/// process, in the log. Thread: the driver's audio thread, once at its start.
void enterAudioThread(AudioThreadScheduling scheduling) noexcept;

} // namespace trelvo::audio
