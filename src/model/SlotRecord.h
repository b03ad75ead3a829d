#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "midi/VstEventBlock.h"
#include "model/SlotKind.h"
#include "model/StripBuffers.h"
#include "model/VolumeCodec.h"

namespace trelvo::rack {

/// The four switch letters of a slot: Bypass, Mute, Solo, Off. Lowercase means clear.
/// Written by the audio thread when it applies commands and read by the user interface,
/// so each letter is an atomic. Thread: any.
class RunMode {
public:
    enum Position { Bypass = 0, Mute = 1, Solo = 2, Off = 3 };

    RunMode() { assign("bmso"); }

    bool isSet(Position position) const noexcept { return upper(letters[position].load(std::memory_order_relaxed)); }
    void set(Position position, bool on) noexcept;
    /// "bmso" with the set switches in capitals.
    std::string text() const;
    /// Takes up to four letters as written in files; positions not given keep their letter.
    /// Letters other than the position's own (either case) are ignored.
    void assign(std::string_view text) noexcept;
    void reset() noexcept { assign("bmso"); }

private:
    static bool upper(char c) noexcept { return c >= 'A' && c <= 'Z'; }
    std::array<std::atomic<char>, 4> letters{};
};

/// A volume kept as whole decibels and as the linear gain the engine multiplies by.
struct Volume {
    std::atomic<int> dB{kVolumeOff};
    std::atomic<float> gain{0.0f};

    /// Stores the clamped decibels and their gain. Thread: the audio thread, or the user
    /// interface while audio is held.
    void set(int decibels) noexcept;
    void set(int decibels, float linearGain) noexcept;
    int getDb() const noexcept { return dB.load(std::memory_order_relaxed); }
    float getGain() const noexcept { return gain.load(std::memory_order_relaxed); }
};

/// A pan position kept as a step and as the value the pan rule uses.
struct Pan {
    std::atomic<int> step{0};
    std::atomic<float> value{0.0f};

    void set(int panStep) noexcept;
    void set(int panStep, float panValue) noexcept;
    int getStep() const noexcept { return step.load(std::memory_order_relaxed); }
    float getValue() const noexcept { return value.load(std::memory_order_relaxed); }
};

/// Current values that ramp toward the targets, one step per sample. Audio thread only.
struct SmoothedGains {
    float inpVol = 0.0f;
    float dryVol = 0.0f;
    float wetVol = 0.0f;
    float pan = 0.0f;
    float mute = 1.0f;
    float solo = 1.0f;
    float on = 1.0f;
};

/// The MIDI program selection of a slot in the MIDI program mode: the current channel and,
/// per channel, the program and bank numbers (0..127) last chosen.
struct MidiSelectState {
    int Channel = 0;
    std::array<std::uint8_t, 16> Program{};
    std::array<std::uint8_t, 16> BankMsb{};
    std::array<std::uint8_t, 16> BankLsb{};
};

/// The rack side of a slot: kind, identity, switches, volumes, meters and timing. Every
/// slot of the rack is a TVstPlugIn, which adds the plug-in side to this record.
///
/// Structural fields (kind, names, identity, indexes, flags set at load) are written only
/// by the user interface while audio is held (setAllowed). Fields the audio thread writes
/// while running (switches, volumes from commands, meters, timing) are atomics.
class SlotRecord {
public:
    explicit SlotRecord(int slotIndex);
    virtual ~SlotRecord() = default;
    SlotRecord(const SlotRecord&) = delete;
    SlotRecord& operator=(const SlotRecord&) = delete;

    SlotKind kind() const noexcept { return Kind.load(std::memory_order_relaxed); }
    bool isFree() const noexcept { return kind() == SlotKind::Free; }

    /// Empties the rack fields: kind '-', no identity, names and flags cleared, timing
    /// zeroed, preset mode "s s". The plug-in side is cleared by TVstPlugIn.
    void clearRackFields();
    /// The volumes, switches and gains of a freshly added slot of this kind.
    void setFreshVolumes();

    std::atomic<SlotKind> Kind{SlotKind::Free};
    bool IsMixer = false;
    std::string SlotName;
    std::string PlugDisplayName; ///< the plug-in's own name, used in prompts
    std::int32_t SlotID = 0;
    std::int32_t SlotIdx;    ///< current table index, kept equal to the slot's place
    std::int32_t KindNo = 0; ///< ordinal among slots of the same kind; for PLUGIN, position in its strip
    std::int32_t OwnerIndex = -1;

    RunMode runMode;
    Volume InpVol;
    Volume DryVol;
    Volume WetVol;
    Pan pan;
    std::atomic<float> MuteGain{1.0f};
    std::atomic<float> SoloGain{1.0f};
    std::atomic<float> OnGain{1.0f};
    SmoothedGains smoothed;

    std::atomic<float> PeakL{0.0f};
    std::atomic<float> PeakR{0.0f};

    bool Processed = false; ///< audio thread: the plug-in already ran in this block
    bool isMidiPlugin = false;
    bool isMidiVport = false;
    bool MidiThru = false;
    std::atomic<bool> suspended{false}; ///< the engine sent effMainsChanged(0) because the slot is Off
    std::int32_t numInputs = 0;
    std::int32_t numOutputs = 0;
    /// The engine said once that the plug-in declares more channels than it can lend.
    std::atomic<bool> tooWideReported{false};

    std::atomic<std::int64_t> averageTime{0};
    std::int64_t timeSum = 0;   ///< the thread that runs the strip
    std::int64_t timeCount = 0; ///< the thread that runs the strip
    std::int32_t workerFlag = 0;

    /// "PresetMode": the second character is the MIDI bank style, the third the program
    /// mode ('s' Std-FXB, 'p' FXP-Banks, 'x' Std-FXP, 'm' MIDI).
    std::string presetMode = "s s";
    char ProgramMode() const noexcept { return presetMode.size() >= 3 ? presetMode[2] : 's'; }
    char MidiBankStyle() const noexcept { return presetMode.size() >= 2 ? presetMode[1] : ' '; }
    void setProgramMode(char mode);
    void setMidiBankStyle(char style);
    MidiSelectState MidiSelect;
    int MidiChannelCount = 1;               ///< channels the slot uses, 1..16
    std::array<bool, 16> MidiChannelUsed{}; ///< channels whose selection is stored
    /// The profile's "useFXP_FXB": bit 1 FXP files and program names, bit 2 FXB files.
    int UseFxpFxb = 3;

    /// A mixer slot's strip buffers while the engine's buffers are ready; none otherwise.
    std::unique_ptr<StripBuffers> buffers;

    /// Routes, own event buffer, output device and event block (Parts of the MIDI layer).
    std::unique_ptr<midi::SlotMidi> midi = std::make_unique<midi::SlotMidi>();
};

} // namespace trelvo::rack
