#include "session/ProgramEntry.h"

#include <gtest/gtest.h>

namespace trelvo::rack {
namespace {

using Result = ProgramEntry::Result;

TEST(ProgramEntry, TheThirdDigitAppliesWithoutEnter) {
    ProgramEntry entry;
    EXPECT_EQ(entry.digit(1, false), Result::Typing);
    EXPECT_TRUE(entry.active());
    EXPECT_EQ(entry.digit(2, false), Result::Typing);
    EXPECT_EQ(entry.text(), "12");
    EXPECT_EQ(entry.digit(3, false), Result::Apply);
    EXPECT_FALSE(entry.active());
    EXPECT_FALSE(entry.midiMode());
    // The applied entry stays readable until a new digit starts the next one.
    EXPECT_EQ(entry.number(), 123);
    EXPECT_EQ(entry.text(), "123");
    EXPECT_EQ(entry.digit(7, false), Result::Typing);
    EXPECT_EQ(entry.text(), "7");
}

TEST(ProgramEntry, EnterAppliesAShorterEntry) {
    ProgramEntry entry;
    entry.digit(5, false);
    EXPECT_EQ(entry.enter(), Result::Apply);
    EXPECT_EQ(entry.number(), 5);
    EXPECT_FALSE(entry.active());
    EXPECT_EQ(entry.enter(), Result::Ignored); // Enter belongs to others again
}

TEST(ProgramEntry, APointHoldsTheEntryOpenAndOnlyTheLastPartCounts) {
    ProgramEntry entry;
    EXPECT_EQ(entry.point(), Result::Ignored); // the caller cycles the preset display
    EXPECT_FALSE(entry.active());
    entry.digit(1, false);
    EXPECT_EQ(entry.point(), Result::Typing);
    EXPECT_EQ(entry.digit(0, false), Result::Typing);
    EXPECT_EQ(entry.digit(5, false), Result::Typing); // a third digit, but after a point
    EXPECT_EQ(entry.digit(5, false), Result::Typing);
    EXPECT_EQ(entry.text(), "1.055");
    EXPECT_EQ(entry.backspace(), Result::Typing);
    EXPECT_EQ(entry.enter(), Result::Apply);
    EXPECT_EQ(entry.number(), 5);
}

TEST(ProgramEntry, AnEntryEndingInAPointHasNoNumber) {
    ProgramEntry entry;
    entry.digit(4, false);
    entry.point();
    EXPECT_EQ(entry.number(), -1);
    EXPECT_EQ(entry.enter(), Result::Ended);
    EXPECT_FALSE(entry.active());
    EXPECT_EQ(entry.text(), "");
}

TEST(ProgramEntry, CtrlOnTheFirstDigitMakesAMidiEntryThatAppliesAtTheSecond) {
    ProgramEntry entry;
    EXPECT_EQ(entry.digit(0, true), Result::Typing);
    EXPECT_TRUE(entry.midiMode());
    EXPECT_EQ(entry.digit(3, false), Result::Apply); // Ctrl counts only when the entry starts
    EXPECT_EQ(entry.number(), 3);
    EXPECT_TRUE(entry.midiMode());

    entry.digit(1, false);
    EXPECT_FALSE(entry.midiMode());
    EXPECT_EQ(entry.digit(2, true), Result::Typing);
    EXPECT_FALSE(entry.midiMode());
}

TEST(ProgramEntry, EscDiscardsAndBackspaceOnTheOnlyDigitEnds) {
    ProgramEntry entry;
    entry.digit(4, false);
    entry.digit(2, false);
    EXPECT_EQ(entry.escape(), Result::Ended);
    EXPECT_FALSE(entry.active());
    EXPECT_EQ(entry.text(), "");
    EXPECT_EQ(entry.escape(), Result::Ignored);

    entry.digit(9, false);
    EXPECT_EQ(entry.backspace(), Result::Ended);
    EXPECT_FALSE(entry.active());
    EXPECT_EQ(entry.backspace(), Result::Ignored);
    // After a Backspace the count of digits starts again from what is left.
    entry.digit(1, false);
    entry.digit(2, false);
    entry.backspace();
    EXPECT_EQ(entry.digit(3, false), Result::Typing);
    EXPECT_EQ(entry.digit(4, false), Result::Apply);
    EXPECT_EQ(entry.number(), 134);
}

TEST(ProgramEntry, AVeryLongNumberAfterAPointStaysAnInt) {
    ProgramEntry entry;
    entry.digit(1, false);
    entry.point();
    for (int i = 0; i < 15; ++i) entry.digit(9, false);
    EXPECT_EQ(entry.enter(), Result::Apply);
    EXPECT_GT(entry.number(), 0);
    EXPECT_EQ(entry.digit(10, false), Result::Ignored);
}

} // namespace
} // namespace trelvo::rack
