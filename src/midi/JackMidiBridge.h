#pragma once

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/BoundedQueue.h"

namespace trelvo::midi {

/// Where Trelvo's JACK MIDI ports meet the MIDI layer. The JACK audio driver registers two
/// pairs of ports on its client, "midi_in"/"midi_out" for instruments and
/// "surface_in"/"surface_out" for a control surface, and attaches them here while it runs;
/// in each process cycle it hands the input events over before the block and writes the
/// queued output events after it, each at its frame. The MIDI layer sets the input sinks
/// and queues output from any thread.
class JackMidiBridge {
public:
    static constexpr int kPairs = 2;
    static constexpr int kInstruments = 0;
    static constexpr int kSurface = 1;
    /// The port names of each pair, input and output.
    static const char* inputName(int pair) noexcept { return pair == kSurface ? "surface_in" : "midi_in"; }
    static const char* outputName(int pair) noexcept { return pair == kSurface ? "surface_out" : "midi_out"; }

    static JackMidiBridge& instance() noexcept;

    /// Receives input events on JACK's thread: bytes of one message and its frame.
    using InputSink = void (*)(void* context, const std::uint8_t* bytes, std::size_t length, int frame);

    // ---- The JACK driver ----
    void attach(int pair, jack_port_t* input, jack_port_t* output) noexcept;
    void detach() noexcept;
    /// Before the block: every input event to the sinks. Thread: JACK's process thread.
    void cycleInput(jack_nframes_t frames) noexcept;
    /// After the block: every queued output event into the output ports. Thread: JACK's.
    void cycleOutput(jack_nframes_t frames) noexcept;

    // ---- The MIDI layer ----
    bool present() const noexcept { return attached.load(std::memory_order_acquire); }
    /// Sets (or with nullptr removes) a pair's sink. Removing waits until a cycle that is
    /// still calling the old sink has left it, so the old context may be destroyed after.
    void setInputSink(int pair, InputSink sink, void* context) noexcept;
    /// Queues one message for a pair's output port at a frame of the next (or current)
    /// cycle; false when the queue is full or the message is too long. Thread: any,
    /// lock-free.
    bool queueOutput(int pair, const std::uint8_t* bytes, std::size_t length, int frame) noexcept;
    std::uint64_t droppedOutput() const noexcept;

    static constexpr std::size_t kMaxMessage = 1024;

private:
    struct OutMessage {
        int frame;
        std::uint16_t length;
        std::uint8_t bytes[kMaxMessage];
    };
    struct Pair {
        std::atomic<jack_port_t*> inputPort{nullptr};
        std::atomic<jack_port_t*> outputPort{nullptr};
        std::atomic<InputSink> sinkFunction{nullptr};
        std::atomic<void*> sinkContext{nullptr};
        platform::BoundedQueue<OutMessage, 512> outputQueue;
    };

    std::atomic<bool> attached{false};
    std::atomic<int> callingSink{0};
    std::array<Pair, kPairs> pairs;
    std::atomic<std::uint64_t> tooLong{0};
};

} // namespace trelvo::midi
