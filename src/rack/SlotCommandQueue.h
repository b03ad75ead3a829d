#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

namespace trelvo::rack {

/// Commands carried by the slot command queue.
enum class SlotCommandCode : std::int32_t {
    Pan = 1,
    WetVol = 2,
    DryVol = 3,
    InpVol = 4,
    Mute = 6,
    Solo = 7,
    Bypass = 8,
    SelectPreset = 9,      ///< carried out by the idle timer; the audio thread never takes it
    RefreshParameter = 10, ///< carried out by the idle timer; the audio thread never takes it
    Off = 11,
};

/// State bits of an entry. 0 is a free entry.
enum SlotCommandState : std::uint32_t {
    kWaitingForAudio = 1,    ///< bit 0
    kWaitingForListView = 2, ///< bit 1
    kAppliedByAudio = 8,     ///< bit 3
    kBeingFilled = 0x80,     ///< claimed by a writer that has not published the entry yet
};

inline constexpr int kCommandQueueCapacity = 9999;
inline constexpr std::size_t kCommandTextCapacity = 128;

/// One entry: seven fields. Everything but the state is written by the entry's owner
/// before the state is published (release) and read after the state is seen (acquire).
struct SlotCommand {
    std::atomic<std::uint32_t> state{0};
    std::int32_t command = 0;
    std::int32_t slot = 0;
    std::int32_t argument = 0;
    std::int32_t wholeValue = 0;
    float floatValue = 0.0f;
    char text[kCommandTextCapacity] = {};

    SlotCommandCode code() const noexcept { return static_cast<SlotCommandCode>(command); }
};

/// The process-wide queue through which the user interface, MIDI routing and control
/// surfaces change volumes and switches without touching audio state. At most 9999
/// entries; a full queue drops the command. Claiming an entry is atomic between the
/// user-interface thread and the audio thread: a writer takes a free entry or appends one
/// with compare-and-swap, fills it, and publishes its state last.
class SlotCommandQueue {
public:
    SlotCommandQueue();

    /// Asks for the letter of a switch command's slot when the value is kToggle:
    /// true when the switch is currently set (capital letter).
    using SwitchReader = bool (*)(const void* context, int slot, SlotCommandCode code);

    /// The user interface's entry point. Pan is clamped and converted; volumes below -48
    /// become -49 with gain 0, others are clamped to +12; Mute, Solo, Bypass and Off take
    /// kToggle as "flip the current letter" (asked through readSwitch). Published with
    /// state 3 (waiting for the audio thread and the list view).
    /// Returns false when the queue was full. Thread: any but real-time.
    bool Enqueue(SlotCommandCode code, int slot, int argument, std::string_view text, int value,
                 SwitchReader readSwitch = nullptr, const void* context = nullptr);

    /// MIDI routing's entry point for program-change requests: no conversion, float value
    /// and text cleared. Thread: any, lock-free.
    /// Every entry point publishes SelectPreset and RefreshParameter waiting for the idle
    /// timer only (state 2), whatever it publishes other commands with.
    bool EnqueueRequest(SlotCommandCode code, int slot, int argument, int value) noexcept;

    /// The plain entry point used on the audio thread: the same as EnqueueRequest.
    /// Thread: any, lock-free.
    bool EnqueuePlain(SlotCommandCode code, int slot, int argument, int value) noexcept;

    /// How many entries are in use or were used since the queue last emptied.
    int count() const noexcept { return used.load(std::memory_order_acquire); }
    SlotCommand& entry(int index) noexcept { return entries[static_cast<std::size_t>(index)]; }
    const SlotCommand& entry(int index) const noexcept { return entries[static_cast<std::size_t>(index)]; }

    /// The audio thread's step: for every entry waiting for it, clears bit 0 and sets bit 3,
    /// then calls apply with a copy of the entry. Thread: audio, wait-free apart from
    /// compare-and-swap retries.
    template <class Apply> void applyPending(Apply&& apply) noexcept {
        const int n = count();
        SlotCommand copy;
        for (int i = 0; i < n; ++i) {
            SlotCommand& command = entries[static_cast<std::size_t>(i)];
            std::uint32_t state = command.state.load(std::memory_order_acquire);
            bool taken = false;
            while ((state & kWaitingForAudio) != 0 && (state & kBeingFilled) == 0) {
                // Copied while the entry still waits for us: once bit 3 is set the interface
                // may free the entry and a writer fill it again under our feet.
                copyFields(command, copy);
                if (command.state.compare_exchange_weak(state, (state & ~kWaitingForAudio) | kAppliedByAudio,
                                                        std::memory_order_acq_rel)) {
                    taken = true;
                    break;
                }
            }
            if (taken) apply(copy);
        }
    }

    /// Changes an entry's state from what the caller saw to a new one; false when someone
    /// else changed it first. Thread: any.
    bool transition(int index, std::uint32_t expected, std::uint32_t desired) noexcept;

    /// Frees every entry whose state is exactly 8 and, when no entry is left in use, returns
    /// the count to 0. Thread: user interface.
    void freeApplied() noexcept;

    /// Commands dropped because the queue was full.
    std::uint64_t dropCount() const noexcept { return drops.load(std::memory_order_relaxed); }

private:
    static void copyFields(const SlotCommand& from, SlotCommand& to) noexcept;
    /// Claims an entry (state 0 to kBeingFilled); -1 when the queue is full.
    int claim() noexcept;
    void publish(int index, std::uint32_t state) noexcept;
    /// Claims an entry, fills it and publishes it in `state`; counts a drop when the queue is full.
    bool post(SlotCommandCode code, int slot, int argument, int value, float floatValue, std::string_view text,
              std::uint32_t state) noexcept;

    std::unique_ptr<std::array<SlotCommand, kCommandQueueCapacity>> storage;
    std::array<SlotCommand, kCommandQueueCapacity>& entries;
    std::atomic<int> used{0};
    std::atomic<std::uint64_t> drops{0};
};

} // namespace trelvo::rack
