#include "session/ParameterList.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestPaths.h"
#include "host/TVstPlugIn.h"
#include "session/RackController.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::rack {
namespace {

class ParameterListTest : public ::testing::Test {
protected:
    ParameterListTest() {
        controller.newRack();
        list.changed = [this](int slot, int parameter) { notices.emplace_back(slot, parameter); };
    }
    host::TVstPlugIn& load(const std::string& path) {
        const int index = controller.loadPlugin(path, 2);
        EXPECT_GE(index, 0) << path;
        return controller.rack().slot(std::max(index, 0));
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    RackController controller{settings};
    ParameterList list;
    std::vector<std::pair<int, int>> notices;
};

TEST_F(ParameterListTest, LinesShowNameValueAndUnitOrTheRawValue) {
    host::TVstPlugIn& gain = load(TrelvoGain_PATH);
    gain.SetParameter(0, 0.5f); // 0 dB
    gain.SetParameter(1, 0.75f);
    EXPECT_EQ(list.lines(gain), (std::vector<std::string>{"0:Gain=0.00 dB", "1:Balance=50 %"}));
    list.floatMode = true;
    EXPECT_EQ(list.lines(gain), (std::vector<std::string>{"0:Gain=0.50000", "1:Balance=0.75000"}));
    EXPECT_EQ(list.line(gain, 2), "2: - - -");

    EXPECT_EQ(ParameterList::rowDigits(9), 1);
    EXPECT_EQ(ParameterList::rowDigits(10), 1);
    EXPECT_EQ(ParameterList::rowDigits(11), 2);
    EXPECT_EQ(ParameterList::rowDigits(128), 3);
    EXPECT_EQ(ParameterList::rowDigits(100000), 5);
    EXPECT_EQ(list.lines(controller.rack().slot(1)), std::vector<std::string>{"-"}) << "a channel has none";
}

TEST_F(ParameterListTest, StepsStopAtTheLimitsAndAnUnchangedValueSendsNothing) {
    host::TVstPlugIn& gain = load(TrelvoGain_PATH);
    gain.SetParameter(0, 0.95f);
    EXPECT_TRUE(list.step(gain, 0, +1, false, false));
    EXPECT_EQ(gain.GetParameter(0), 1.0f) << "not 1.0287";
    EXPECT_FALSE(list.step(gain, 0, +1, false, true)) << "Ctrl+. at 1.0";
    gain.SetParameter(0, 0.05f);
    EXPECT_TRUE(list.step(gain, 0, -1, false, false));
    EXPECT_EQ(gain.GetParameter(0), 0.0f);
    gain.SetParameter(0, 0.5f);
    EXPECT_TRUE(list.step(gain, 0, +1, true, false));
    EXPECT_FLOAT_EQ(gain.GetParameter(0), 0.50787f);
    EXPECT_TRUE(list.step(gain, 0, -1, false, true));
    EXPECT_EQ(gain.GetParameter(0), 0.0f);
    EXPECT_FALSE(list.step(gain, 5, +1, false, false)) << "no such row";
    EXPECT_EQ(notices, (std::vector<std::pair<int, int>>{{2, 0}, {2, 0}, {2, 0}, {2, 0}}));
}

TEST_F(ParameterListTest, TypedValuesAreTakenAtAndPastTheLimitsAndNonsenseIsRefused) {
    host::TVstPlugIn& gain = load(TrelvoGain_PATH);
    list.floatMode = true;
    gain.SetParameter(1, 0.5f);
    EXPECT_EQ(list.offeredValue(gain, 1), "0.50000");
    EXPECT_TRUE(list.enterValue(gain, 1, " 0.25 "));
    EXPECT_EQ(gain.GetParameter(1), 0.25f);
    EXPECT_TRUE(list.enterValue(gain, 1, "7"));
    EXPECT_EQ(gain.GetParameter(1), 1.0f);
    EXPECT_TRUE(list.enterValue(gain, 1, "-3"));
    EXPECT_EQ(gain.GetParameter(1), 0.0f);
    EXPECT_TRUE(list.enterValue(gain, 1, "0"));
    EXPECT_EQ(notices.size(), 3u) << "a value typed again is no change";
    for (const char* nonsense : {"", "abc", "0.5x", "nan"})
        EXPECT_FALSE(list.enterValue(gain, 1, nonsense)) << nonsense;
    EXPECT_EQ(gain.GetParameter(1), 0.0f);
    EXPECT_FALSE(list.offeredValue(gain, 9).has_value());
}

TEST_F(ParameterListTest, TheMapChoosesOrdersAndNamesTheRowsAndTheProfileKeepsIt) {
    host::TVstPlugIn& gain = load(TrelvoGain_PATH);
    EXPECT_FALSE(ParameterList::setUseMap(gain, 2, false)) << "no map, and none created";
    ASSERT_TRUE(ParameterList::setUseMap(gain, 2, true));
    EXPECT_EQ(list.lines(gain), std::vector<std::string>{"-"}) << "a new map has no rows";
    EXPECT_EQ(ParameterList::unmappedParameters(gain), (std::vector<int>{0, 1}));
    ParameterList::appendRows(gain, {1});
    EXPECT_EQ(ParameterList::unmappedParameters(gain), std::vector<int>{0});
    EXPECT_EQ(ParameterList::rowOfParameter(gain, 1), 0);
    EXPECT_EQ(ParameterList::rowOfParameter(gain, 0), -1) << "no row shows it";
    gain.SetParameter(1, 0.5f);
    EXPECT_EQ(list.lines(gain), std::vector<std::string>{"0_1:Balance=0 %"});

    EXPECT_TRUE(ParameterList::renameRow(gain, 0, "Pan position left-right"));
    EXPECT_EQ(gain.ParamMap[0].name, "Pan positio") << "cut to 11 characters";
    EXPECT_EQ(list.line(gain, 0), "0_1:Pan positio=0 %");
    ParameterList::appendRows(gain, {0});
    std::filesystem::create_directories(home.file("VSTprofiles"));
    ASSERT_TRUE(controller.savePluginProfile(2));

    // The same library loaded again reads the map from its profile.
    ASSERT_TRUE(controller.deleteSlot(SlotKind::Plugin, 2));
    host::TVstPlugIn& again = load(TrelvoGain_PATH);
    EXPECT_TRUE(again.UsePrmMap);
    ASSERT_EQ(again.ParamMap.size(), 2u);
    EXPECT_EQ(list.line(again, 0).substr(0, 16), "0_1:Pan positio=");
    EXPECT_EQ(list.line(again, 1).substr(0, 9), "1_0:Gain=");
    EXPECT_EQ(ParameterList::rowOfParameter(again, 0), 1);

    EXPECT_TRUE(ParameterList::renameRow(again, 0, "Balance"));
    EXPECT_EQ(again.ParamMap[0].name, "") << "the plug-in's own name shows through again";
    EXPECT_FALSE(ParameterList::setUseMap(again, 2, false));
    EXPECT_EQ(list.line(again, 0).substr(0, 7), "0:Gain=") << "off: every parameter by its index";
}

TEST_F(ParameterListTest, MovingRowsTakesTheFirstRunOfTheSelectionAndStopsAtTheEnds) {
    host::TVstPlugIn& eq = load(TrelvoParams_PATH);
    ASSERT_GE(eq.effectNumParams(), 6);
    ASSERT_TRUE(ParameterList::setUseMap(eq, 1, true));
    ParameterList::appendRows(eq, {0, 1, 2, 3, 4, 5});
    const auto order = [&eq] {
        std::vector<int> parameters;
        for (const auto& entry : eq.ParamMap) parameters.push_back(entry.index);
        return parameters;
    };
    EXPECT_EQ(ParameterList::moveRows(eq, {0, 1}, -1), (std::vector<int>{0, 1}));
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(ParameterList::moveRows(eq, {5, 2, 3}, -1), (std::vector<int>{1, 2}));
    EXPECT_EQ(order(), (std::vector<int>{0, 2, 3, 1, 4, 5}));
    EXPECT_EQ(ParameterList::moveRows(eq, {4, 5}, +1), (std::vector<int>{4, 5}));
    EXPECT_EQ(ParameterList::moveRows(eq, {0}, +1), std::vector<int>{1});
    EXPECT_EQ(order(), (std::vector<int>{2, 0, 3, 1, 4, 5}));
    EXPECT_EQ(ParameterList::rowOfParameter(eq, 1), 3);
    ParameterList::removeRows(eq, {1, 3});
    EXPECT_EQ(order(), (std::vector<int>{2, 3, 4, 5}));
    const std::vector<int> unmapped = ParameterList::unmappedParameters(eq);
    ASSERT_EQ(unmapped.size(), 996u);
    EXPECT_EQ((std::vector<int>(unmapped.begin(), unmapped.begin() + 3)), (std::vector<int>{0, 1, 6}));
    EXPECT_EQ(ParameterList::rowOfParameter(eq, 4), 2);
    // Through the map: four rows, one digit.
    EXPECT_EQ(list.line(eq, 0), "0_2:Param 002=0.2 %");
}

TEST_F(ParameterListTest, TheExportsWriteEveryParameterAsDesigned) {
    host::TVstPlugIn& gain = load(TrelvoGain_PATH);
    gain.SetParameter(0, 1.0f);
    gain.SetParameter(1, 0.5f);
    const std::string file = home.file("gain.txt");
    std::string error;
    ASSERT_TRUE(ParameterList::exportParameters(&gain, file, false, error)) << error;
    EXPECT_EQ(test::readFile(file), "[Prms]\r\n"
                                    "p-0=0,1,0.01,0.1,1.00000,\"Gain\",\"dB\"\r\n"
                                    "p-1=0,1,0.01,0.1,0.50000,\"Balance\",\"%\"\r\n");
    ASSERT_TRUE(ParameterList::exportParameters(&gain, file, true, error)) << error;
    // 1.0 is 3F800000: its bytes in memory order, the two zero bytes as blanks.
    EXPECT_EQ(test::readFile(file), "1st Preset\r\n"
                                    "p-0=0,1,0.01,0.1,1.00000=  \x80?=$3F800000,\"Gain\",\"dB\"\r\n"
                                    "p-1=0,1,0.01,0.1,0.50000=   ?=$3F000000,\"Balance\",\"%\"\r\n");
    ASSERT_TRUE(ParameterList::exportParameters(nullptr, file, false, error));
    EXPECT_EQ(test::readFile(file), "[Prms]\r\n") << "no plug-in: the header alone";

    EXPECT_FALSE(ParameterList::exportParameters(&gain, home.file("no such folder/gain.txt"), false, error));
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace trelvo::rack
