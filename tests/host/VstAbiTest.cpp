#include "vst/VstAbi.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "support/DirectPlugin.h"

namespace {

// The layout itself is pinned by the static assertions of the header; these tests check
// it against plug-ins built by others, which is what the layout is for.

TEST(VstAbi, FourCharacterCodesPackTheFirstCharacterHighest) {
    EXPECT_EQ(fourCharCode("VstP"), 0x56737450);
    EXPECT_EQ(fourCharCode("CcnK"), 0x43636E4B);
    EXPECT_EQ(fourCharCode("\xff\x01\x02\x03"), static_cast<VstInt32>(0xFF010203u));
}

TEST(VstAbi, AThirdPartyPlugInFillsTheRecordWhereWeReadIt) {
    const std::string path = "/usr/lib/vst/3BandEQ-vst.so";
    ASSERT_TRUE(std::filesystem::exists(path)) << "the dpf-plugins-vst package provides " << path;
    trelvo::test::DirectPlugin plugin(path);
    ASSERT_TRUE(plugin.loaded()) << plugin.error();
    AEffect* effect = plugin.effect();
    EXPECT_EQ(effect->magic, kEffectMagic);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_GT(effect->numParams, 0);
    EXPECT_NE(effect->flags & effFlagsCanReplacing, 0);
    EXPECT_NE(effect->processReplacing, nullptr);
    for (int shift = 0; shift < 32; shift += 8)
        EXPECT_TRUE(std::isprint((effect->uniqueID >> shift) & 0xFF)) << "unique id byte " << shift / 8;

    plugin.open(48000.0f, 256);
    EXPECT_EQ(plugin.dispatch(effGetVstVersion), kVstVersion);
    EXPECT_FALSE(plugin.text(effGetEffectName).empty());
    EXPECT_FALSE(plugin.text(effGetParamName, 0).empty());

    // A block through the plug-in at its default settings leaves silence silent.
    std::vector<float> left(256, 1.0f), right(256, 1.0f);
    plugin.process(left, right, std::vector<float>(256, 0.0f), std::vector<float>(256, 0.0f));
    for (float sample : left) ASSERT_NEAR(sample, 0.0f, 1e-6f);
}

TEST(VstAbi, TimeInfoFlagsHaveThePublishedValues) {
    EXPECT_EQ(kVstTransportPlaying, 2);
    EXPECT_EQ(kVstNanosValid | kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstCyclePosValid | kVstTimeSigValid |
                  kVstSmpteValid | kVstClockValid,
              0xFF00);
}

} // namespace
