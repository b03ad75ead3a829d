#pragma once

#include <QKeyEvent>

namespace trelvo::ui {

/// A key as a plug-in editor hears it: the character (lower case for letters), the VST
/// virtual key for keys without one, and the modifier bits.
struct VstKey {
    int character = 0;
    int virtualKey = 0;
    int modifiers = 0;
    /// False for a key a plug-in is never told of (a lone modifier being pressed is told;
    /// keys Trelvo has no name for are not).
    bool known = false;
};

VstKey vstKeyOf(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text);
inline VstKey vstKeyOf(const QKeyEvent& key) {
    return vstKeyOf(key.key(), key.modifiers(), key.text());
}

} // namespace trelvo::ui
