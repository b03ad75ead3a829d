#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiBackend.h"
#include "platform/BoundedQueue.h"

namespace trelvo::midi {

/// The MIDI output devices of all backends, their queues and ToMIDIthread, which sends
/// the queued messages with the designed pacing: short messages in order, one per device
/// per pass; after a SysEx message the device rests 10 ms after handing it over and 1 ms
/// after it completes. Sample-accurate devices (JACK) take their messages directly.
///
/// The queues are fixed in size and lock-free: the audio thread queues without waiting
/// and without allocating; a full queue drops the message and counts it.
class TMidiOutputs {
public:
    explicit TMidiOutputs(std::vector<MidiBackend*> backends);
    /// Stops the output thread and closes every device.
    ~TMidiOutputs();

    int count() const noexcept { return static_cast<int>(devices.size()); }
    const std::string& name(int device) const { return devices[static_cast<std::size_t>(device)].name; }
    bool isOpen(int device) const noexcept;
    bool open(int device);
    void close(int device);
    void closeAll();

    /// Queues one message (a short message of up to 3 bytes, or SysEx) for a device at a
    /// frame of the current block. Thread: any, lock-free.
    bool enqueue(int device, const std::uint8_t* bytes, std::size_t length, int frame) noexcept;
    /// Wakes the output thread. Thread: any, wait-free.
    void wake() noexcept;
    std::uint64_t dropped() const noexcept { return drops.load(); }

private:
    static constexpr std::size_t kLongBytes = 2048;
    struct ShortEntry {
        std::uint32_t word;
        std::uint8_t length;
    };
    struct LongEntry {
        std::uint16_t length;
        std::uint8_t bytes[kLongBytes];
    };
    struct Device {
        std::string name;
        MidiBackend* backend = nullptr;
        int local = 0;
        std::atomic<bool> open{false};
        std::int64_t nextFree = 0;
        std::unique_ptr<platform::BoundedQueue<ShortEntry, 1024>> shorts;
        std::unique_ptr<platform::BoundedQueue<LongEntry, 16>> longs;
    };

    void run();

    std::vector<Device> devices;
    std::atomic<bool> terminate{false};
    std::counting_semaphore<1024> signal{0};
    std::atomic<std::uint64_t> drops{0};
    std::thread thread;
};

} // namespace trelvo::midi
