#include "session/ProgramEntry.h"

#include <algorithm>
#include <climits>

namespace trelvo::rack {

ProgramEntry::Result ProgramEntry::digit(int digit, bool ctrlHeld) {
    if (digit < 0 || digit > 9) return Result::Ignored;
    if (!running) {
        // A new entry: what the last one applied is forgotten now.
        running = true;
        midi = ctrlHeld;
        typed.clear();
    }
    typed += static_cast<char>('0' + digit);
    // A point says the user will finish with Enter: no digit applies by itself then.
    if (typed.find('.') != std::string::npos) return Result::Typing;
    const auto digits = static_cast<int>(typed.size());
    if (digits >= (midi ? 2 : 3)) {
        running = false;
        return Result::Apply;
    }
    return Result::Typing;
}

ProgramEntry::Result ProgramEntry::point() {
    if (!running) return Result::Ignored;
    typed += '.';
    return Result::Typing;
}

ProgramEntry::Result ProgramEntry::enter() {
    if (!running) return Result::Ignored;
    running = false;
    if (number() >= 0) return Result::Apply;
    typed.clear();
    return Result::Ended;
}

ProgramEntry::Result ProgramEntry::backspace() {
    if (!running) return Result::Ignored;
    typed.pop_back();
    if (!typed.empty()) return Result::Typing;
    running = false;
    return Result::Ended;
}

ProgramEntry::Result ProgramEntry::escape() {
    if (!running) return Result::Ignored;
    running = false;
    typed.clear();
    return Result::Ended;
}

int ProgramEntry::number() const {
    const std::size_t point = typed.rfind('.');
    const std::size_t first = point == std::string::npos ? 0 : point + 1;
    if (first >= typed.size()) return -1;
    // Digits after a point are not limited in count; a number too long for an int stays
    // the largest one, which every selection clamps anyway.
    long long value = 0;
    for (std::size_t i = first; i < typed.size(); ++i)
        value = std::min<long long>(value * 10 + (typed[i] - '0'), INT_MAX);
    return static_cast<int>(value);
}

} // namespace trelvo::rack
