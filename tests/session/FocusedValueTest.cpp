// The keys that change the selected slot's values: "." and "," on the focused column, and
// program numbers typed on the numeric keypad.
#include <gtest/gtest.h>

#include <string>

#include "TestPaths.h"
#include "audio/DummyDriver.h"
#include "platform/Clock.h"
#include "session/ProgramEntry.h"
#include "session/RackController.h"
#include "support/DummyDrivers.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::rack {
namespace {

class FocusedValueTest : public ::testing::Test {
protected:
    FocusedValueTest() {
        settings.asioDriver = "Dummy";
        controller.startAudio(test::dummyDriverOnly());
        controller.newRack();
        controller.setRunning();
        controller.select(1);
    }

    /// Runs idle ticks until the audio thread has applied every queued command and the
    /// list shows the results.
    void settle() {
        const std::uint32_t began = platform::tickCountMs();
        while (controller.rack().commands().count() > 0 && platform::tickCountMs() - began < 5000) {
            platform::sleepMs(2);
            controller.idleTick();
        }
        ASSERT_EQ(controller.rack().commands().count(), 0);
    }
    /// Steps a column and returns what the list shows afterwards.
    std::string step(int column, int direction, std::string RowView::*text) {
        controller.stepFocusedValue(column, direction);
        settle();
        return row().*text;
    }
    const RowView& row() { return controller.rows[static_cast<std::size_t>(controller.selected)]; }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    RackController controller{settings};
};

TEST_F(FocusedValueTest, VolumesStepByOneDecibelBetweenOffAndTheTop) {
    EXPECT_EQ(row().dry, "~");
    EXPECT_EQ(step(3, +1, &RowView::dry), "-48"); // up from off
    EXPECT_EQ(step(3, +1, &RowView::dry), "-47");
    EXPECT_EQ(step(3, -1, &RowView::dry), "-48");
    EXPECT_EQ(step(3, -1, &RowView::dry), "~"); // down past -48
    EXPECT_EQ(step(3, -1, &RowView::dry), "~");

    EXPECT_EQ(row().wet, "0");
    EXPECT_EQ(step(2, +1, &RowView::wet), "1");
    controller.setVolume(SlotCommandCode::WetVol, 1, 12);
    settle();
    EXPECT_EQ(step(2, +1, &RowView::wet), "12"); // the codec's top
    EXPECT_EQ(controller.rack().slot(1).WetVol.getDb(), 12);

    EXPECT_EQ(step(5, -1, &RowView::in), "~");
    EXPECT_EQ(step(5, +1, &RowView::in), "-48");
    EXPECT_EQ(controller.rack().slot(1).InpVol.getDb(), -48);
}

TEST_F(FocusedValueTest, PanStepsOneStepAndStopsAtTheSides) {
    EXPECT_EQ(row().pan, "[C]");
    EXPECT_EQ(step(4, +1, &RowView::pan), "1");
    EXPECT_EQ(step(4, -1, &RowView::pan), "[C]");
    EXPECT_EQ(step(4, -1, &RowView::pan), "-1");
    controller.setVolume(SlotCommandCode::Pan, 1, -12);
    settle();
    EXPECT_EQ(step(4, -1, &RowView::pan), "-12");
    EXPECT_EQ(controller.rack().slot(1).pan.getStep(), -12);
}

TEST_F(FocusedValueTest, ThePresetColumnStepsThePlugInsPrograms) {
    const int gain = controller.loadPlugin(TrelvoGain_PATH);
    controller.select(gain);
    host::TVstPlugIn& slot = controller.rack().slot(gain);
    controller.stepFocusedValue(1, +1);
    EXPECT_EQ(slot.GetProgram(), 1);
    controller.stepFocusedValue(1, -1);
    controller.stepFocusedValue(1, -1);
    EXPECT_EQ(slot.GetProgram(), 0);
    controller.stepFocusedValue(6, +1); // no such column
    controller.stepFocusedValue(2, 0);
    EXPECT_EQ(controller.rack().commands().count(), 0);
}

TEST_F(FocusedValueTest, TypedNumbersSelectProgramsCountedAsTheSlotShowsThem) {
    const int gain = controller.loadPlugin(TrelvoGain_PATH); // four programs
    controller.select(gain);
    host::TVstPlugIn& slot = controller.rack().slot(gain);
    ProgramEntry entry;
    entry.digit(2, false);
    ASSERT_EQ(entry.enter(), ProgramEntry::Result::Apply);
    controller.applyTypedProgram(gain, entry.number(), entry.midiMode());
    EXPECT_EQ(slot.GetProgram(), 2);

    slot.presetMode = "sPs"; // program numbers shown from 1
    controller.applyTypedProgram(gain, 2, false);
    EXPECT_EQ(slot.GetProgram(), 1);
    controller.applyTypedProgram(gain, 0, false); // no program 0 when counting from 1
    EXPECT_EQ(slot.GetProgram(), 1);
}

} // namespace
} // namespace trelvo::rack
