#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "vst/VstAbi.h"

namespace trelvo::rack {

/// Index of a 64-bit field for the numeric setters.
enum class TimeField {
    SamplePos = 0,
    SampleRate = 1,
    NanoSeconds = 2,
    PpqPos = 3,
    Tempo = 4,
    BarStartPos = 5,
    CycleStartPos = 6,
    CycleEndPos = 7,
};

/// Index of a 32-bit field for the numeric setters.
enum class TimeIntField {
    TimeSigNumerator = 0,
    TimeSigDenominator = 1,
    SmpteOffset = 2,
    SmpteFrameRate = 3,
    SamplesToNextClock = 4,
};

/// The rack's one VST time-info record (the address audioMasterGetTime hands out) with
/// its setters. Plug-ins read the record on the audio thread; the audio thread and the
/// user interface write it through these setters, each field as a whole, so no reader
/// ever sees half a value.
class TVTI {
public:
    TVTI();

    /// Thread: any. Changes the field only when the value differs, then notifies.
    void setDouble(int index, double value) noexcept;
    void setInt(int index, std::int32_t value) noexcept;
    /// 0 for an unknown index. Thread: any.
    double getDouble(int index) const noexcept;
    std::int32_t getInt(int index) const noexcept;

    void set(TimeField field, double value) noexcept { setDouble(static_cast<int>(field), value); }
    void set(TimeIntField field, std::int32_t value) noexcept { setInt(static_cast<int>(field), value); }
    double get(TimeField field) const noexcept { return getDouble(static_cast<int>(field)); }
    std::int32_t get(TimeIntField field) const noexcept { return getInt(static_cast<int>(field)); }

    std::int32_t flags() const noexcept;
    void setFlags(std::int32_t bits) noexcept;
    void clearFlags(std::int32_t bits) noexcept;
    bool hasFlags(std::int32_t bits) const noexcept { return (flags() & bits) == bits; }

    /// ppqPos = samplePos / sampleRate x tempo / 60. Thread: audio (start of each block).
    void updatePpq() noexcept;

    /// The record itself, for the host callback.
    VstTimeInfo* record() noexcept { return &info; }

    /// Called after a setter changed a value (the host hooks it to an empty handler).
    std::function<void()> onChange;

private:
    double* doubleField(int index) noexcept;
    std::int32_t* intField(int index) noexcept;
    VstTimeInfo info{};
};

} // namespace trelvo::rack
