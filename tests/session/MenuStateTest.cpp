#include "session/MenuState.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "TestPaths.h"
#include "session/RackController.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::rack {
namespace {

class MenuStateTest : public ::testing::Test {
protected:
    /// 0 Master, 1 Channel 1, 2 Group 1, 3 Gain, 4 MIDI 1, 5 Input 1, 6 Channel 2, 7 Gain.
    static void build(RackController& controller) {
        controller.newRack();
        controller.addSlot(SlotKind::Group);
        controller.loadPlugin(TrelvoGain_PATH);
        controller.addSlot(SlotKind::Midi);
        controller.addSlot(SlotKind::Input);
        controller.addSlot(SlotKind::Channel);
        controller.loadPlugin(TrelvoGain_PATH);
    }
    static std::vector<int> order(RackController& controller) {
        std::vector<int> ids;
        for (int i = 0; i < controller.rack().numSlots(); ++i) ids.push_back(controller.rack().slot(i).SlotID);
        return ids;
    }
    /// Whether an operation on a freshly built rack changes it.
    bool changes(const std::function<void(RackController&)>& operation) {
        persist::AppSettings freshSettings{home.path()};
        RackController fresh{freshSettings};
        build(fresh);
        const std::vector<int> before = order(fresh);
        operation(fresh);
        return order(fresh) != before;
    }
    MenuState stateAt(int index) {
        controller.select(index);
        return menuStateOf(controller);
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    RackController controller{settings};
};

TEST_F(MenuStateTest, MovesAndDeletesAreEnabledExactlyWhereTheOperationActs) {
    build(controller);
    ASSERT_EQ(controller.rack().numSlots(), 8);
    for (int index = 0; index < 8; ++index) {
        SCOPED_TRACE("slot " + std::to_string(index));
        const MenuState state = stateAt(index);
        EXPECT_EQ(state.moveUp, changes([index](RackController& c) { c.moveUp(index); }));
        EXPECT_EQ(state.moveDown, changes([index](RackController& c) { c.moveDown(index); }));
        EXPECT_EQ(state.deleteMixer, changes([index](RackController& c) {
                      c.deleteSlot(SlotKind::Channel, index) || c.deleteSlot(SlotKind::Group, index);
                  }));
        EXPECT_EQ(state.deletePlugIn, changes([index](RackController& c) {
                      c.deleteSlot(SlotKind::Plugin, index) || c.deleteSlot(SlotKind::Midi, index);
                  }));
    }
}

TEST_F(MenuStateTest, TheFirstTwoSlotsNeverGoAndTheEndsDoNotMove) {
    build(controller);
    const MenuState master = stateAt(0);
    EXPECT_FALSE(master.deleteMixer);
    EXPECT_FALSE(master.moveUp);
    EXPECT_FALSE(master.moveDown);
    EXPECT_TRUE(master.muteSolo);
    const MenuState channel = stateAt(1);
    EXPECT_FALSE(channel.deleteMixer);
    EXPECT_TRUE(channel.moveDown);
    const MenuState last = stateAt(7); // a plug-in at the end of the rack
    EXPECT_TRUE(last.moveUp);
    EXPECT_FALSE(last.moveDown);
    const MenuState lastStrip = stateAt(6); // a channel with no mixer below it
    EXPECT_FALSE(lastStrip.moveDown);
    EXPECT_TRUE(lastStrip.deleteMixer);
}

TEST_F(MenuStateTest, APlugInSlotEnablesPlugInCommandsAndNotMixerOnes) {
    build(controller);
    const MenuState plugIn = stateAt(3);
    EXPECT_TRUE(plugIn.deletePlugIn);
    EXPECT_TRUE(plugIn.replacePlugIn);
    EXPECT_TRUE(plugIn.closePlugIn);
    EXPECT_TRUE(plugIn.plugInOpen);
    EXPECT_FALSE(plugIn.deleteMixer);
    EXPECT_FALSE(plugIn.muteSolo);
    EXPECT_FALSE(plugIn.showEditor); // TrelvoGain has no editor of its own
    EXPECT_TRUE(plugIn.previousNext);
    EXPECT_TRUE(plugIn.loadPreset);
    EXPECT_TRUE(plugIn.openBank);
    EXPECT_TRUE(plugIn.exportPresets);

    const MenuState midi = stateAt(4);
    EXPECT_TRUE(midi.deletePlugIn);
    EXPECT_FALSE(midi.replacePlugIn);
    EXPECT_FALSE(midi.closePlugIn);
    EXPECT_FALSE(midi.plugInOpen);
    EXPECT_FALSE(midi.previousNext);
    EXPECT_FALSE(midi.loadPreset); // the preset list's state is not taken without a plug-in

    const MenuState group = stateAt(2);
    EXPECT_TRUE(group.deleteMixer);
    EXPECT_FALSE(group.deletePlugIn);
    EXPECT_FALSE(group.replacePlugIn);
    EXPECT_TRUE(group.switches);
    EXPECT_TRUE(group.rename);

    const MenuState input = stateAt(5);
    EXPECT_FALSE(input.deleteMixer);
    EXPECT_FALSE(input.deletePlugIn);
    EXPECT_FALSE(input.muteSolo);
}

TEST_F(MenuStateTest, PresetItemsFollowTheProfileAndTheProgramMode) {
    build(controller);
    host::TVstPlugIn& gain = controller.rack().slot(3);
    gain.UseFxpFxb = 2; // banks only
    controller.presets().setProgramMode(3, 'p');
    const MenuState state = stateAt(3);
    EXPECT_FALSE(state.loadPreset);
    EXPECT_FALSE(state.savePreset);
    EXPECT_TRUE(state.openBank);
    EXPECT_TRUE(state.saveBankPrms);
    EXPECT_FALSE(state.exportPresets);
}

TEST_F(MenuStateTest, AFullRackRefusesSlotsAndPagesStopAtEight) {
    controller.newRack();
    EXPECT_TRUE(menuStateOf(controller).addSlot);
    EXPECT_TRUE(menuStateOf(controller).addPage);
    EXPECT_FALSE(menuStateOf(controller).deletePage);
    while (controller.rack().findFreeSlot() >= 0) controller.addSlot(SlotKind::Midi, false);
    EXPECT_FALSE(menuStateOf(controller).addSlot);

    for (int page = 2; page <= 8; ++page) controller.pages.add();
    EXPECT_FALSE(menuStateOf(controller).addPage);
    EXPECT_TRUE(menuStateOf(controller).deletePage);
}

} // namespace
} // namespace trelvo::rack
