#pragma once

#include <string>

namespace trelvo::rack {

/// A program number typed on the numeric keypad for the selected slot. The first digit
/// starts the entry (Ctrl held then makes it a MIDI-mode entry); a normal entry applies
/// itself at its third digit, a MIDI-mode entry at its second, unless a point was typed:
/// then only Enter applies. Backspace removes the last character (an empty entry ends),
/// Esc cancels. Enter, Backspace and Esc are Ignored while no entry runs, so the caller
/// can give those keys their other meanings. Thread: user interface.
class ProgramEntry {
public:
    enum class Result {
        Ignored, ///< the key means nothing to the entry (a point without an entry)
        Typing,  ///< the entry goes on; text() shows it
        Apply,   ///< the entry is complete: apply number(), midiMode(); the entry has ended
        Ended,   ///< the entry ended without a number (cancelled or emptied)
    };

    Result digit(int digit, bool ctrlHeld);
    /// A decimal point: added to a running entry; Ignored without one (the caller then
    /// cycles the preset display mode).
    Result point();
    Result enter();
    Result backspace();
    Result escape();

    bool active() const noexcept { return running; }
    bool midiMode() const noexcept { return midi; }
    /// The typed characters ("1.05"); after Apply, those of the applied entry until the
    /// next digit starts another; empty after an entry that ended without a number.
    const std::string& text() const noexcept { return typed; }
    /// The number the entry stands for: only the part after the last point counts; -1 when
    /// that part holds no digit.
    int number() const;

private:
    bool running = false;
    bool midi = false;
    std::string typed;
};

} // namespace trelvo::rack
