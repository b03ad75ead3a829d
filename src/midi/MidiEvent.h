#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace trelvo::midi {

inline constexpr int kHalfCapacity = 512;         ///< event slots in one half
inline constexpr int kMaxReceived = 511;          ///< input handlers store while the count is below this
inline constexpr std::size_t kSysexArena = 32768; ///< SysEx bytes one half can hold
inline constexpr std::size_t kSysexPiece = 2048;  ///< SysEx arrives in pieces of at most this size

/// One MIDI event in a port buffer: its time in sample frames from the block start, the
/// message word (status in the low byte) and, for SysEx (status 0xF0), its bytes, which
/// live in the half's arena. Plain data: copying it allocates nothing.
struct MidiEvent {
    std::int32_t time = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t spare = 0;
    std::uint32_t sysexOffset = 0;
    std::uint32_t sysexLength = 0;

    bool isSysex() const noexcept { return status == 0xF0; }
    std::uint32_t word() const noexcept {
        return static_cast<std::uint32_t>(status) | (static_cast<std::uint32_t>(data1) << 8) |
               (static_cast<std::uint32_t>(data2) << 16) | (static_cast<std::uint32_t>(spare) << 24);
    }
};

/// One half of a port buffer: a count, 512 event slots and an arena for SysEx bytes, all
/// allocated once with the port; clearing it frees nothing.
class MidiHalf {
public:
    int count() const noexcept { return numEvents; }
    const MidiEvent& event(int index) const noexcept { return events[static_cast<std::size_t>(index)]; }
    MidiEvent& event(int index) noexcept { return events[static_cast<std::size_t>(index)]; }
    const std::uint8_t* sysex(const MidiEvent& e) const noexcept { return arena.data() + e.sysexOffset; }

    /// Appends while the count is below limit; SysEx bytes are copied into the arena.
    /// False when the half (or its arena) is full.
    bool append(const MidiEvent& e, const std::uint8_t* sysexBytes = nullptr, std::size_t sysexLength = 0,
                int limit = kMaxReceived) noexcept;
    /// Inserts before the first event whose time is greater: equal times keep their order.
    bool insertInTimeOrder(const MidiEvent& e, const std::uint8_t* sysexBytes, std::size_t sysexLength) noexcept;
    void clear() noexcept {
        numEvents = 0;
        arenaUsed = 0;
    }

private:
    bool storeSysex(MidiEvent& e, const std::uint8_t* bytes, std::size_t length) noexcept;

    int numEvents = 0;
    std::array<MidiEvent, kHalfCapacity> events{};
    std::size_t arenaUsed = 0;
    std::array<std::uint8_t, kSysexArena> arena{};
};

/// A port's two halves: input handlers append to the write half, the engine reads the
/// read half (Part of the block's half switch).
struct MidiEventBuffer {
    MidiHalf halves[2];
};

/// A port's buffer as the threads share it: the audio thread, the work thread and the input
/// handlers read the pointer, only the user interface thread replaces it. What it replaces
/// is handed back, to be freed once no block can still be reading it (MidiLayer does so).
/// Owns what it points to.
class PortBuffer {
public:
    PortBuffer() = default;
    ~PortBuffer() { delete current.load(std::memory_order_relaxed); }
    PortBuffer(const PortBuffer&) = delete;
    PortBuffer& operator=(const PortBuffer&) = delete;

    /// Thread: any, wait-free. Sequentially consistent, so that a block that has announced
    /// itself (MidiLayer::beginBlockMidi) sees every replacement made before the interface
    /// looked at the block announcement.
    MidiEventBuffer* get() const noexcept { return current.load(std::memory_order_seq_cst); }
    MidiEventBuffer* operator->() const noexcept { return get(); }
    explicit operator bool() const noexcept { return get() != nullptr; }

    /// Puts fresh in place (none: the port has no buffer) and returns the buffer it replaced.
    /// Thread: user interface, under MidiLock.
    std::unique_ptr<MidiEventBuffer> replace(std::unique_ptr<MidiEventBuffer> fresh) noexcept {
        return std::unique_ptr<MidiEventBuffer>(current.exchange(fresh.release(), std::memory_order_seq_cst));
    }

private:
    std::atomic<MidiEventBuffer*> current{nullptr};
};

/// One entry of the port table.
struct MidiPort {
    char kind = 'I'; ///< 'I' hardware input, 'P' virtual port output, 'V' slot port
    int index = -1;  ///< own table position while open, -1 while closed
    std::string name;
    PortBuffer buffer;
};

inline constexpr int kMaxInputPorts = 64;
inline constexpr int kVirtualPorts = 16;
inline constexpr int kSlotPorts = 32;
inline constexpr int kMaxPorts = kMaxInputPorts + kVirtualPorts + kSlotPorts;

/// All ports routes can read: nIn inputs, 16 virtual ports, 32 slot ports.
struct MidiPortTable {
    std::array<MidiPort, kMaxPorts> ports;
    /// Change only under MidiLock while no block reads the table without it (the layer is
    /// closed to blocks then).
    int length = 0;
    int numInputs = 0;

    MidiPort* find(const std::string& name) noexcept;
};

/// One output-port entry: an alias and the output device it stands for.
struct MidiOutPort {
    std::string alias;
    int deviceIndex = -1;
};

} // namespace trelvo::midi
