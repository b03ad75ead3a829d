#include "ui/VstKeys.h"

#include <gtest/gtest.h>

#include "vst/VstAbi.h"

namespace trelvo::ui {
namespace {

TEST(VstKeys, NamedKeysKeypadAndFunctionKeysGetTheirVirtualCodes) {
    EXPECT_EQ(vstKeyOf(Qt::Key_Escape, Qt::NoModifier, "\x1b").virtualKey, VKEY_ESCAPE);
    EXPECT_EQ(vstKeyOf(Qt::Key_PageDown, Qt::NoModifier, {}).virtualKey, VKEY_PAGEDOWN);
    EXPECT_EQ(vstKeyOf(Qt::Key_F12, Qt::NoModifier, {}).virtualKey, VKEY_F12);
    // The keypad's digits and signs are keys of their own; the main row's are characters.
    const VstKey keypadSeven = vstKeyOf(Qt::Key_7, Qt::KeypadModifier, "7");
    EXPECT_EQ(keypadSeven.virtualKey, VKEY_NUMPAD7);
    EXPECT_EQ(keypadSeven.character, '7');
    EXPECT_EQ(vstKeyOf(Qt::Key_7, Qt::NoModifier, "7").virtualKey, 0);
    EXPECT_EQ(vstKeyOf(Qt::Key_Plus, Qt::KeypadModifier, "+").virtualKey, VKEY_ADD);
    EXPECT_EQ(vstKeyOf(Qt::Key_Plus, Qt::NoModifier, "+").character, '+');
    EXPECT_EQ(vstKeyOf(Qt::Key_Enter, Qt::KeypadModifier, "\r").virtualKey, VKEY_ENTER);
}

TEST(VstKeys, LettersAreLowerCaseWithTheirModifiers) {
    const VstKey shiftedA = vstKeyOf(Qt::Key_A, Qt::ShiftModifier, "A");
    EXPECT_EQ(shiftedA.character, 'a');
    EXPECT_EQ(shiftedA.virtualKey, 0);
    EXPECT_EQ(shiftedA.modifiers, MODIFIER_SHIFT);
    EXPECT_EQ(vstKeyOf(Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier, {}).modifiers,
              MODIFIER_CONTROL | MODIFIER_ALTERNATE);
    EXPECT_FALSE(vstKeyOf(Qt::Key_VolumeUp, Qt::NoModifier, {}).known);
}

} // namespace
} // namespace trelvo::ui
