// The properties dialog driven as a user drives it, offscreen, over a rack on the Dummy
// driver with MIDI keyboards the test plays.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>

#include "DialogDriver.h"
#include "TestPaths.h"
#include "audio/DummyDriver.h"
#include "platform/Clock.h"
#include "session/RackController.h"
#include "support/DummyDrivers.h"
#include "support/FakeMidiBackend.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "ui/TfrmProperties.h"

namespace trelvo::test {
namespace {

using rack::PropertiesEditor;
using ui::TfrmProperties;

class PropertiesDialogTest : public ::testing::Test {
protected:
    PropertiesDialogTest() {
        settings.asioDriver = "Dummy";
        controller.startAudio(test::dummyDriverOnly());
        controller.newRack();
        controller.startMidi([this](std::vector<std::string>&) {
            std::vector<std::unique_ptr<midi::MidiBackend>> list;
            auto fake = std::make_unique<FakeBackend>(1, 1);
            backend = fake.get();
            list.push_back(std::move(fake));
            return list;
        });
        low = controller.loadPlugin(TrelvoSynth_PATH, 2);
        const int channel = controller.addSlot(rack::SlotKind::Channel, false);
        high = controller.loadPlugin(TrelvoSynth_PATH, channel + 1);
        controller.holdAudio();
        controller.releaseAudio();
    }

    QSpinBox* spin(TfrmProperties& dialog, const char* column, int row) {
        return dialog.findChild<QSpinBox*>(QString("%1%2").arg(column).arg(row));
    }
    /// Types a number into a spin box and leaves it, as a user does.
    void type(QSpinBox* box, int value) {
        box->selectAll();
        QTest::keyClicks(box, QString::number(value));
        box->interpretText();
    }
    void ok(TfrmProperties& dialog) {
        dialog.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok)->click();
    }
    void trigger(TfrmProperties& dialog, const char* name) {
        QAction* action = dialog.findChild<QAction*>(name);
        ASSERT_NE(action, nullptr) << name;
        action->trigger();
    }
    midi::MidiRoute& liveRoute(int slot) { return controller.rack().slot(slot).midi->routes.routes[0]; }

    LogCapture log;
    TempFolder home;
    persist::AppSettings settings{home.path()};
    rack::RackController controller{settings};
    FakeBackend* backend = nullptr;
    int low = -1, high = -1;
};

TEST_F(PropertiesDialogTest, ASplitAtKey60MadeInTheDialogPlaysLowNotesOnOneSynthesizerAndHighOnesOnTheOther) {
    {
        TfrmProperties dialog(controller, low, PropertiesEditor::kSlotMode);
        dialog.show();
        EXPECT_EQ(dialog.findChild<QComboBox*>("cbMIDIin")->currentText(), "DEFAULT");
        type(spin(dialog, "spE", 1), 59);
        ok(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    {
        TfrmProperties dialog(controller, high, PropertiesEditor::kSlotMode);
        dialog.show();
        type(spin(dialog, "spS", 1), 60);
        ok(dialog);
    }
    ASSERT_EQ(liveRoute(low).split[0].noteHi, 59);
    ASSERT_EQ(liveRoute(high).split[0].noteLo, 60);
    controller.setRunning();

    rack::SlotRecord& lowChannel = controller.rack().slot(controller.rack().slot(low).OwnerIndex);
    rack::SlotRecord& highChannel = controller.rack().slot(controller.rack().slot(high).OwnerIndex);
    const auto peaksOf = [&](std::uint8_t key) {
        for (int wait = 0; wait < 60; ++wait) { // a note before has died away
            lowChannel.PeakL.store(0.0f);
            highChannel.PeakL.store(0.0f);
            platform::sleepMs(50);
            if (lowChannel.PeakL.load() == 0.0f && highChannel.PeakL.load() == 0.0f) break;
        }
        backend->sink->shortMessage(0, 0x90, key, 100, {true, 0});
        platform::sleepMs(300);
        const std::pair peaks{lowChannel.PeakL.load(), highChannel.PeakL.load()};
        backend->sink->shortMessage(0, 0x80, key, 0, {true, 0});
        return peaks;
    };
    const auto [lowOf40, highOf40] = peaksOf(40);
    EXPECT_GT(lowOf40, 0.0f);
    EXPECT_EQ(highOf40, 0.0f);
    const auto [lowOf84, highOf84] = peaksOf(84);
    EXPECT_EQ(lowOf84, 0.0f);
    EXPECT_GT(highOf84, 0.0f);
}

TEST_F(PropertiesDialogTest, CancelAfterEditsLeavesTheSlotExactlyAsItWas) {
    const midi::RouteBlock before = controller.rack().slot(low).midi->routes;
    TfrmProperties dialog(controller, low, PropertiesEditor::kSlotMode);
    dialog.show();
    type(spin(dialog, "spT", 3), 12);
    dialog.findChild<QCheckBox*>("ckType0")->click();
    trigger(dialog, "mnAddInPort");
    EXPECT_EQ(dialog.findChild<QTabBar*>("tsMIDIin")->count(), 2);
    dialog.findChild<QCheckBox*>("ckIsVport")->click();
    dialog.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(controller.rack().slot(low).midi->routes, before);
    EXPECT_FALSE(controller.rack().slot(low).isMidiVport);
}

TEST_F(PropertiesDialogTest, AnEmptyNoteWindowIsRefusedWithAMessageAndTheDialogStaysOpen) {
    TfrmProperties dialog(controller, low, PropertiesEditor::kSlotMode);
    dialog.show();
    type(spin(dialog, "spS", 2), 80);
    type(spin(dialog, "spE", 2), 20);
    QString told;
    onNextDialog<QMessageBox>([&](QMessageBox* box) {
        told = box->text();
        box->accept();
    });
    ok(dialog);
    EXPECT_EQ(told, "MIDI 1, row 2: the lowest note (80) is above the highest (20), so no note would pass.");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(liveRoute(low).split[1].noteLo, 0) << "nothing was applied";

    dialog.findChild<QLineEdit*>("edVstIds")->setText("toolong");
    dialog.findChild<QCheckBox*>("ckCheckVstId")->setChecked(true);
    type(spin(dialog, "spE", 2), 100);
    onNextDialog<QMessageBox>([&](QMessageBox* box) {
        told = box->text();
        box->accept();
    });
    ok(dialog);
    EXPECT_TRUE(told.startsWith("check VstID: \"toolong\" is not a plug-in id"));
    dialog.findChild<QLineEdit*>("edVstIds")->setText("abcd");
    ok(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(liveRoute(low).split[1].noteLo, 80);
    EXPECT_EQ(liveRoute(low).split[1].noteHi, 100);
}

TEST_F(PropertiesDialogTest, PickingAPortForAnUnsetRouteTakesThePortPickedAndANewRouteNoPlaceholder) {
    TfrmProperties dialog(controller, low, PropertiesEditor::kVirtualPortMode);
    dialog.show();
    trigger(dialog, "mnAddStdVport");
    auto* in = dialog.findChild<QComboBox*>("cbMIDIin");
    ASSERT_EQ(in->count(), 2);
    EXPECT_EQ(in->itemText(0), PropertiesEditor::kNoPortsSelected);
    EXPECT_EQ(in->itemText(1), "Keys 0");
    trigger(dialog, "mnAddInPort");
    EXPECT_EQ(dialog.editor().route().portName, "") << "not the placeholder's text";
    dialog.editor().selectRoute(0);
    dialog.refresh();
    in->setCurrentIndex(1);
    Q_EMIT in->activated(1);
    EXPECT_EQ(dialog.editor().route().portName, "Keys 0");
    EXPECT_EQ(in->currentText(), "Keys 0");
    ok(dialog);
    const auto& added = controller.midi().virtualPorts()[1];
    EXPECT_EQ(added.name, "new");
    ASSERT_EQ(added.routes.count, 1) << "the route without a port went";
    EXPECT_EQ(added.routes.routes[0].portName, "Keys 0");
}

TEST_F(PropertiesDialogTest, RenamingAVirtualPortInTheDialogRenamesItInEveryRouteThatNamesIt) {
    liveRoute(low).portName = "MAIN";
    controller.resolveSlotRoutes();
    TfrmProperties dialog(controller, low, PropertiesEditor::kVirtualPortMode);
    dialog.show();
    auto* pages = dialog.findChild<QListWidget*>("lvPages");
    ASSERT_EQ(pages->count(), 1);
    EXPECT_EQ(pages->item(0)->text(), "MAIN");
    EXPECT_EQ(dialog.findChild<QComboBox*>("cbMIDIin")->currentText(), "Keys 0");

    onNextDialog<QInputDialog>([](QInputDialog* input) {
        EXPECT_EQ(input->windowTitle(), "Rename Virtual Port");
        EXPECT_EQ(input->labelText(), "New port-name:");
        input->setTextValue("Stage");
        input->accept();
    });
    trigger(dialog, "mnRenameVport");
    EXPECT_EQ(pages->item(0)->text(), "Stage");

    // A second port, a surface, and a second surface that is refused.
    trigger(dialog, "mnAddStdVport");
    trigger(dialog, "mnAddMcuVport");
    QString told;
    onNextDialog<QMessageBox>([&](QMessageBox* box) {
        told = box->windowTitle() + ": " + box->text();
        box->accept();
    });
    trigger(dialog, "mnAddLcuVport");
    EXPECT_EQ(told, "Add vPort: MCU already exists ...");
    ASSERT_EQ(pages->count(), 3);
    pages->setCurrentRow(2);
    onNextDialog<QMessageBox>([&](QMessageBox* box) {
        told = box->windowTitle() + ": " + box->text();
        box->button(QMessageBox::Ok)->click();
    });
    trigger(dialog, "mnDelVport");
    EXPECT_EQ(told, "Delete Virtual port ?: Delete Virtual port: \"MCU\"");
    EXPECT_EQ(pages->count(), 2);
    pages->setCurrentRow(1);
    auto* isDefault = dialog.findChild<QCheckBox*>("ckDefault");
    EXPECT_FALSE(isDefault->isChecked());
    isDefault->click();
    EXPECT_TRUE(isDefault->isChecked());
    ok(dialog);
    EXPECT_EQ(controller.midi().defaultPortName, "new");
    EXPECT_EQ(settings.defaultPort, "new");
    EXPECT_EQ(controller.midi().resolvePort("DEFAULT"), controller.midi().resolvePort("new"));

    EXPECT_EQ(controller.midi().virtualPorts()[0].name, "Stage");
    EXPECT_EQ(controller.midi().virtualPorts()[1].name, "new");
    EXPECT_EQ(liveRoute(low).portName, "Stage");
    EXPECT_GE(liveRoute(low).portIndex, 0);
}

} // namespace
} // namespace trelvo::test
