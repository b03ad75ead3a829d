#include "model/TimeInfo.h"

namespace trelvo::rack {

namespace {
// Each field is read and written whole; plug-ins read the same memory without our help.
double load(const double& field) noexcept {
    return std::atomic_ref<const double>(field).load(std::memory_order_relaxed);
}
std::int32_t load(const std::int32_t& field) noexcept {
    return std::atomic_ref<const std::int32_t>(field).load(std::memory_order_relaxed);
}
} // namespace

TVTI::TVTI() {
    info.sampleRate = 44100.0;
    info.tempo = 120.0;
    info.timeSigNumerator = 4;
    info.timeSigDenominator = 4;
    info.smpteFrameRate = 1;
    info.flags = 0xFF00;
}

double* TVTI::doubleField(int index) noexcept {
    switch (index) {
    case 0: return &info.samplePos;
    case 1: return &info.sampleRate;
    case 2: return &info.nanoSeconds;
    case 3: return &info.ppqPos;
    case 4: return &info.tempo;
    case 5: return &info.barStartPos;
    case 6: return &info.cycleStartPos;
    case 7: return &info.cycleEndPos;
    default: return nullptr;
    }
}

std::int32_t* TVTI::intField(int index) noexcept {
    switch (index) {
    case 0: return &info.timeSigNumerator;
    case 1: return &info.timeSigDenominator;
    case 2: return &info.smpteOffset;
    case 3: return &info.smpteFrameRate;
    case 4: return &info.samplesToNextClock;
    default: return nullptr;
    }
}

void TVTI::setDouble(int index, double value) noexcept {
    double* field = doubleField(index);
    if (field == nullptr || load(*field) == value) return;
    std::atomic_ref<double>(*field).store(value, std::memory_order_relaxed);
    if (onChange) onChange();
}

void TVTI::setInt(int index, std::int32_t value) noexcept {
    std::int32_t* field = intField(index);
    if (field == nullptr || load(*field) == value) return;
    std::atomic_ref<std::int32_t>(*field).store(value, std::memory_order_relaxed);
    if (onChange) onChange();
}

double TVTI::getDouble(int index) const noexcept {
    const double* field = const_cast<TVTI*>(this)->doubleField(index);
    return field != nullptr ? load(*field) : 0.0;
}

std::int32_t TVTI::getInt(int index) const noexcept {
    const std::int32_t* field = const_cast<TVTI*>(this)->intField(index);
    return field != nullptr ? load(*field) : 0;
}

std::int32_t TVTI::flags() const noexcept {
    return load(info.flags);
}

void TVTI::setFlags(std::int32_t bits) noexcept {
    std::atomic_ref<std::int32_t>(info.flags).fetch_or(bits, std::memory_order_relaxed);
}

void TVTI::clearFlags(std::int32_t bits) noexcept {
    std::atomic_ref<std::int32_t>(info.flags).fetch_and(~bits, std::memory_order_relaxed);
}

void TVTI::updatePpq() noexcept {
    const double rate = get(TimeField::SampleRate);
    if (rate <= 0.0) return;
    set(TimeField::PpqPos, get(TimeField::SamplePos) / rate * get(TimeField::Tempo) / 60.0);
}

} // namespace trelvo::rack
