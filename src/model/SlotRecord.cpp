#include "model/SlotRecord.h"

namespace trelvo::rack {

namespace {
constexpr char kLowerLetters[4] = {'b', 'm', 's', 'o'};
constexpr char kUpperLetters[4] = {'B', 'M', 'S', 'O'};
} // namespace

void RunMode::set(Position position, bool on) noexcept {
    letters[position].store(on ? kUpperLetters[position] : kLowerLetters[position], std::memory_order_relaxed);
}

std::string RunMode::text() const {
    std::string result(4, ' ');
    for (int i = 0; i < 4; ++i)
        result[static_cast<std::size_t>(i)] = letters[static_cast<std::size_t>(i)].load(std::memory_order_relaxed);
    return result;
}

void RunMode::assign(std::string_view text) noexcept {
    for (std::size_t i = 0; i < 4; ++i) {
        if (letters[i].load(std::memory_order_relaxed) == '\0')
            letters[i].store(kLowerLetters[i], std::memory_order_relaxed);
        if (i >= text.size()) continue;
        if (text[i] == kUpperLetters[i] || text[i] == kLowerLetters[i])
            letters[i].store(text[i], std::memory_order_relaxed);
    }
}

void Volume::set(int decibels) noexcept {
    const int clamped = clampVolumeDb(decibels);
    set(clamped, volumeGain(clamped));
}

void Volume::set(int decibels, float linearGain) noexcept {
    dB.store(decibels, std::memory_order_relaxed);
    gain.store(linearGain, std::memory_order_relaxed);
}

void Pan::set(int panStep) noexcept {
    const int clamped = clampPanStep(panStep);
    set(clamped, panValue(clamped));
}

void Pan::set(int panStep, float panValueToStore) noexcept {
    step.store(panStep, std::memory_order_relaxed);
    value.store(panValueToStore, std::memory_order_relaxed);
}

SlotRecord::SlotRecord(int slotIndex) : SlotIdx(slotIndex) {}

void SlotRecord::clearRackFields() {
    averageTime = 0;
    timeSum = 0;
    timeCount = 0;
    SlotName.clear();
    PlugDisplayName.clear();
    presetMode = "s s";
    MidiSelect = MidiSelectState{};
    MidiChannelCount = 1;
    MidiChannelUsed = {};
    UseFxpFxb = 3;
    isMidiVport = false;
    suspended = false;
    MidiThru = false;
    Kind = SlotKind::Free;
    SlotID = 0;
    IsMixer = false;
    isMidiPlugin = false;
    Processed = false;
}

void SlotRecord::setProgramMode(char mode) {
    presetMode.resize(3, ' ');
    presetMode[2] = mode;
}

void SlotRecord::setMidiBankStyle(char style) {
    presetMode.resize(3, ' ');
    presetMode[1] = style;
}

void SlotRecord::setFreshVolumes() {
    const SlotKind k = kind();
    if (k == SlotKind::Group || k == SlotKind::Output)
        InpVol.set(0);
    else
        InpVol.set(kVolumeOff);
    DryVol.set(kVolumeOff);
    WetVol.set(0);
    pan.set(0);
    MuteGain = 1.0f;
    SoloGain = 1.0f;
    OnGain = 1.0f;
    runMode.reset();
}

} // namespace trelvo::rack
