#include "session/ListColours.h"

#include <gtest/gtest.h>

using trelvo::rack::listColoursFor;

TEST(ListColours, ALightFaceGivesMixerRowsDarkerThanTheList) {
    // A light theme: button face F0F0F0, black text.
    const auto colours = listColoursFor(0xF0F0F0, 0x000000);
    EXPECT_EQ(colours.background, 0xDFDFDFu); // F - 111111
    EXPECT_EQ(colours.mixer, 0xCECECEu);      // F - 222222
    EXPECT_LT(colours.mixer, colours.background);
    // Half the mean of F's components is 120: tint(51, 102, 255) = (171, 222, 255).
    EXPECT_EQ(colours.selectedPlugIn, 0xABDEFFu);
    EXPECT_EQ(colours.selectedMixer, 0x7878FFu); // 136 + 120 stops at 255
    EXPECT_EQ(colours.other, 0xFF7878u);
    EXPECT_EQ(colours.selectedOther, 0xFFABABu);
    EXPECT_EQ(colours.lightGreen, 0xABFFDEu);
    EXPECT_EQ(colours.darkGreen, 0x78FF78u);
    EXPECT_EQ(colours.text, 0x000000u);
    EXPECT_EQ(colours.softText, 0x333333u);
}

TEST(ListColours, ADarkFaceGivesMixerRowsLighterThanTheList) {
    // A dark theme: button face 353535, light text.
    const auto colours = listColoursFor(0x353535, 0xEEEEEE);
    EXPECT_EQ(colours.background, 0x131313u); // F - 222222
    EXPECT_EQ(colours.mixer, 0x464646u);      // F + 111111
    EXPECT_GT(colours.mixer, colours.background);
    EXPECT_EQ(colours.selectedMixer, 0x1A1AA2u); // half mean 26
    EXPECT_EQ(colours.softText, 0xBBBBBBu);      // T - 333333
}

TEST(ListColours, ChannelsNearTheirEndsSaturateInsteadOfBleedingIntoTheirNeighbours) {
    // A near-black face: a 24-bit subtraction would borrow across channels and wrap.
    const auto dark = listColoursFor(0x101010, 0xFFFFFF);
    EXPECT_EQ(dark.background, 0x000000u);
    EXPECT_EQ(dark.mixer, 0x212121u);
    // A coloured face with one channel below 0x22.
    EXPECT_EQ(listColoursFor(0x7F1040, 0).background, 0x5D001Eu);
    // A white face: half the mean is 127, and the blue of the tint stops at 255.
    EXPECT_EQ(listColoursFor(0xFFFFFF, 0).selectedPlugIn, 0xB2E5FFu);
}
