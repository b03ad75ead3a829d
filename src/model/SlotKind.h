#pragma once

#include <string_view>

namespace trelvo::rack {

/// Rack slots: exactly 32, indexes 0 to 31.
inline constexpr int kMaxSlots = 32;

/// A slot's kind, one character as stored in the slot record.
enum class SlotKind : char {
    Output = 'O',
    Group = 'G',
    Channel = 'C',
    Input = 'I',
    Midi = 'M',
    Plugin = 'P',
    Free = '-',
};

/// OUTPUT, GROUP and CHANNEL head a strip.
constexpr bool isMixerKind(SlotKind kind) {
    return kind == SlotKind::Output || kind == SlotKind::Group || kind == SlotKind::Channel;
}

/// How many slots of a kind the rack accepts; 32 (the table) when the kind has no limit.
constexpr int kindLimit(SlotKind kind) {
    switch (kind) {
    case SlotKind::Output:
    case SlotKind::Group:
    case SlotKind::Input: return 16;
    case SlotKind::Channel: return 64;
    default: return kMaxSlots;
    }
}

/// The word a kind is written as in project files; empty for kinds never written there.
constexpr std::string_view projectWord(SlotKind kind) {
    switch (kind) {
    case SlotKind::Output: return "OUTPUT";
    case SlotKind::Group: return "GROUP";
    case SlotKind::Channel: return "CHANNEL";
    case SlotKind::Midi: return "MIDI";
    case SlotKind::Plugin: return "PLUGIN";
    default: return {};
    }
}

} // namespace trelvo::rack
