// Every plug-in of Debian's dpf-plugins-vst package through the real loader: it loads,
// opens, answers its facts, processes a block, closes and unloads (and, under the
// sanitizer build, leaks nothing).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "host/TVstPlugIn.h"
#include "rack/Rack.h"
#include "support/LogCapture.h"
#include "support/ThirdPartyPlugins.h"

namespace trelvo::host {
namespace {

TEST(ThirdPartyPlugins, ThePackageIsInstalled) {
    EXPECT_GE(test::thirdPartyPlugins().size(), 10u) << "install dpf-plugins-vst";
}

class ThirdPartyPlugin : public ::testing::TestWithParam<std::string> {};

TEST_P(ThirdPartyPlugin, LoadsOpensProcessesClosesAndUnloads) {
    test::LogCapture log;
    rack::Rack rack;
    rack.addSlot(rack::SlotKind::Output);
    rack.addSlot(rack::SlotKind::Channel);
    TVstPlugIn& plugIn = rack.slot(2);
    plugIn.DllPath = GetParam();
    plugIn.SlotName = "third party";
    plugIn.Open();
    ASSERT_TRUE(plugIn.Active.load()) << ::testing::PrintToString(log.errors());
    rack.setNumSlots(3);

    EXPECT_FALSE(plugIn.GetEffectName().empty());
    EXPECT_EQ(plugIn.VstVersion, 2400);
    EXPECT_EQ(plugIn.UniqueIdText.size(), 4u);
    EXPECT_GT(plugIn.effectNumOutputs(), 0);
    EXPECT_TRUE(plugIn.canReplacing());
    for (int i = 0; i < plugIn.effectNumParams(); ++i) EXPECT_FALSE(plugIn.GetParamName(i).empty()) << i;

    // A block with as many channels as the plug-in declares, as the engine lends them.
    constexpr int kFrames = 256;
    const auto numIn = static_cast<std::size_t>(std::max(plugIn.effectNumInputs(), 1));
    const auto numOut = static_cast<std::size_t>(std::max(plugIn.effectNumOutputs(), 1));
    std::vector<std::vector<float>> inputs(numIn, std::vector<float>(kFrames, 0.25f));
    std::vector<std::vector<float>> outputs(numOut, std::vector<float>(kFrames, 0.0f));
    std::vector<float*> in, out;
    for (auto& channel : inputs) in.push_back(channel.data());
    for (auto& channel : outputs) out.push_back(channel.data());
    plugIn.MainsChanged(true);
    EXPECT_TRUE(plugIn.ProcessReplacing(in.data(), out.data(), kFrames));
    plugIn.MainsChanged(false);
    EXPECT_FALSE(plugIn.isQuarantined());
    EXPECT_TRUE(log.errors().empty()) << ::testing::PrintToString(log.errors());

    rack.clearSlot(2);
    EXPECT_FALSE(plugIn.PlugLoaded.load());
    EXPECT_FALSE(plugIn.FDLLHandle.isOpen());
}

INSTANTIATE_TEST_SUITE_P(Dpf, ThirdPartyPlugin, ::testing::ValuesIn(test::thirdPartyPlugins()), test::pluginTestName);

} // namespace
} // namespace trelvo::host
