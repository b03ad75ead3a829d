#include "ui/VstKeys.h"

#include "vst/VstAbi.h"

namespace trelvo::ui {

namespace {

struct KeyPair {
    int qt;
    int vst;
};

// Keys that have a VST name; the keypad's digits and signs are told apart by the keypad flag.
constexpr KeyPair kNamedKeys[] = {
    {Qt::Key_Backspace, VKEY_BACK},    {Qt::Key_Tab, VKEY_TAB},         {Qt::Key_Backtab, VKEY_TAB},
    {Qt::Key_Clear, VKEY_CLEAR},       {Qt::Key_Return, VKEY_RETURN},   {Qt::Key_Pause, VKEY_PAUSE},
    {Qt::Key_Escape, VKEY_ESCAPE},     {Qt::Key_Space, VKEY_SPACE},     {Qt::Key_End, VKEY_END},
    {Qt::Key_Home, VKEY_HOME},         {Qt::Key_Left, VKEY_LEFT},       {Qt::Key_Up, VKEY_UP},
    {Qt::Key_Right, VKEY_RIGHT},       {Qt::Key_Down, VKEY_DOWN},       {Qt::Key_PageUp, VKEY_PAGEUP},
    {Qt::Key_PageDown, VKEY_PAGEDOWN}, {Qt::Key_Select, VKEY_SELECT},   {Qt::Key_Print, VKEY_PRINT},
    {Qt::Key_Enter, VKEY_ENTER},       {Qt::Key_Insert, VKEY_INSERT},   {Qt::Key_Delete, VKEY_DELETE},
    {Qt::Key_Help, VKEY_HELP},         {Qt::Key_NumLock, VKEY_NUMLOCK}, {Qt::Key_ScrollLock, VKEY_SCROLL},
    {Qt::Key_Shift, VKEY_SHIFT},       {Qt::Key_Control, VKEY_CONTROL}, {Qt::Key_Alt, VKEY_ALT},
    {Qt::Key_Equal, VKEY_EQUALS},
};

constexpr KeyPair kKeypadSigns[] = {
    {Qt::Key_Asterisk, VKEY_MULTIPLY}, {Qt::Key_Plus, VKEY_ADD},       {Qt::Key_Comma, VKEY_SEPARATOR},
    {Qt::Key_Minus, VKEY_SUBTRACT},    {Qt::Key_Period, VKEY_DECIMAL}, {Qt::Key_Slash, VKEY_DIVIDE},
};

} // namespace

VstKey vstKeyOf(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text) {
    VstKey key;
    if (modifiers & Qt::ShiftModifier) key.modifiers |= MODIFIER_SHIFT;
    if (modifiers & Qt::AltModifier) key.modifiers |= MODIFIER_ALTERNATE;
    if (modifiers & Qt::ControlModifier) key.modifiers |= MODIFIER_CONTROL;
    const bool keypad = (modifiers & Qt::KeypadModifier) != 0;

    if (keypad && qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        key.virtualKey = VKEY_NUMPAD0 + (qtKey - Qt::Key_0);
        key.character = '0' + (qtKey - Qt::Key_0);
        key.known = true;
        return key;
    }
    if (keypad)
        for (const KeyPair& pair : kKeypadSigns)
            if (pair.qt == qtKey) {
                key.virtualKey = pair.vst;
                key.known = true;
                return key;
            }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) {
        key.virtualKey = VKEY_F1 + (qtKey - Qt::Key_F1);
        key.known = true;
        return key;
    }
    for (const KeyPair& pair : kNamedKeys)
        if (pair.qt == qtKey) {
            key.virtualKey = pair.vst;
            if (qtKey == Qt::Key_Space) key.character = ' ';
            key.known = true;
            return key;
        }
    // A printable key: its character, letters in lower case as editors expect them.
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        key.character = 'a' + (qtKey - Qt::Key_A);
        key.known = true;
        return key;
    }
    if (qtKey >= Qt::Key_Space && qtKey <= Qt::Key_AsciiTilde) {
        key.character = text.size() == 1 && text.at(0).unicode() < 128 ? text.at(0).unicode() : qtKey;
        key.known = true;
    }
    return key;
}

} // namespace trelvo::ui
