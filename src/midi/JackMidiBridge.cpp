#include "midi/JackMidiBridge.h"

#include <jack/midiport.h>
#include <sched.h>

#include <cstring>

namespace trelvo::midi {

JackMidiBridge& JackMidiBridge::instance() noexcept {
    static JackMidiBridge bridge;
    return bridge;
}

void JackMidiBridge::attach(int pair, jack_port_t* input, jack_port_t* output) noexcept {
    if (pair < 0 || pair >= kPairs) return;
    pairs[static_cast<std::size_t>(pair)].inputPort = input;
    pairs[static_cast<std::size_t>(pair)].outputPort = output;
    if (input != nullptr || output != nullptr) attached.store(true, std::memory_order_release);
}

void JackMidiBridge::detach() noexcept {
    attached.store(false, std::memory_order_release);
    for (Pair& pair : pairs) {
        pair.inputPort = nullptr;
        pair.outputPort = nullptr;
    }
}

void JackMidiBridge::setInputSink(int pair, InputSink sink, void* context) noexcept {
    if (pair < 0 || pair >= kPairs) return;
    Pair& target = pairs[static_cast<std::size_t>(pair)];
    target.sinkFunction.store(nullptr, std::memory_order_seq_cst);
    while (callingSink.load(std::memory_order_seq_cst) != 0) sched_yield();
    target.sinkContext.store(context, std::memory_order_seq_cst);
    target.sinkFunction.store(sink, std::memory_order_seq_cst);
}

void JackMidiBridge::cycleInput(jack_nframes_t frames) noexcept {
    callingSink.fetch_add(1, std::memory_order_seq_cst);
    for (Pair& pair : pairs) {
        jack_port_t* port = pair.inputPort.load(std::memory_order_acquire);
        InputSink sink = pair.sinkFunction.load(std::memory_order_seq_cst);
        void* context = pair.sinkContext.load(std::memory_order_seq_cst);
        if (port == nullptr || sink == nullptr) continue;
        void* buffer = jack_port_get_buffer(port, frames);
        const jack_nframes_t count = jack_midi_get_event_count(buffer);
        for (jack_nframes_t i = 0; i < count; ++i) {
            jack_midi_event_t event{};
            if (jack_midi_event_get(&event, buffer, i) == 0 && event.size > 0)
                sink(context, event.buffer, event.size, static_cast<int>(event.time));
        }
    }
    callingSink.fetch_sub(1, std::memory_order_seq_cst);
}

void JackMidiBridge::cycleOutput(jack_nframes_t frames) noexcept {
    for (Pair& pair : pairs) {
        jack_port_t* port = pair.outputPort.load(std::memory_order_acquire);
        if (port == nullptr) continue;
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        OutMessage message;
        int lastFrame = 0;
        while (pair.outputQueue.tryPop(message)) {
            // Events must go in non-decreasing frame order and inside the cycle.
            int frame = message.frame < 0 ? 0 : message.frame;
            if (frame >= static_cast<int>(frames)) frame = static_cast<int>(frames) - 1;
            if (frame < lastFrame) frame = lastFrame;
            lastFrame = frame;
            jack_midi_event_write(buffer, static_cast<jack_nframes_t>(frame), message.bytes, message.length);
        }
    }
}

bool JackMidiBridge::queueOutput(int pair, const std::uint8_t* bytes, std::size_t length, int frame) noexcept {
    if (pair < 0 || pair >= kPairs) return false;
    if (length == 0 || length > kMaxMessage) {
        tooLong.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return pairs[static_cast<std::size_t>(pair)].outputQueue.tryEmplace([&](OutMessage& message) {
        message.frame = frame;
        message.length = static_cast<std::uint16_t>(length);
        std::memcpy(message.bytes, bytes, length);
    });
}

std::uint64_t JackMidiBridge::droppedOutput() const noexcept {
    std::uint64_t total = tooLong.load(std::memory_order_relaxed);
    for (const Pair& pair : pairs) total += pair.outputQueue.dropCount();
    return total;
}

} // namespace trelvo::midi
