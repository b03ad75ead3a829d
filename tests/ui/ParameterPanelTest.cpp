// The parameter list and the parameter-mapping dialog driven by keys, offscreen, over a rack
// with the project's own plug-ins and a third-party one.
#include "ui/ParameterPanel.h"

#include <gtest/gtest.h>

#include <QInputDialog>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "DialogDriver.h"
#include "TestPaths.h"
#include "host/TVstPlugIn.h"
#include "session/RackController.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/ThirdPartyPlugins.h"
#include "ui/TfrmPrmMap.h"

namespace trelvo::test {
namespace {

using ui::ParameterPanel;

class ParameterPanelTest : public ::testing::Test {
protected:
    ParameterPanelTest() {
        controller.newRack();
        panel.resize(300, 400);
        panel.show();
    }
    host::TVstPlugIn& load(const std::string& path) {
        const int index = controller.loadPlugin(path, 2);
        EXPECT_GE(index, 0);
        controller.select(std::max(index, 0));
        panel.followSelection();
        return controller.rack().slot(std::max(index, 0));
    }
    QStringList lines() {
        QStringList all;
        for (int row = 0; row < panel.model()->rowCount(); ++row)
            all << panel.model()->data(panel.model()->index(row, 0), Qt::DisplayRole).toString();
        return all;
    }
    void key(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(panel.view(), Qt::Key(code), modifiers);
    }
    void selectRow(int row) { panel.view()->setCurrentIndex(panel.model()->index(row, 0)); }

    LogCapture log;
    TempFolder home;
    persist::AppSettings settings{home.path()};
    rack::RackController controller{settings};
    ParameterPanel panel{controller, nullptr};
};

TEST_F(ParameterPanelTest, KeysStepTypeAndSwitchTheDisplayOfTheSelectedRow) {
    host::TVstPlugIn& gain = load(TrelvoGain_PATH);
    gain.SetParameter(0, 0.5f);
    gain.SetParameter(1, 0.5f);
    panel.refresh();
    EXPECT_EQ(lines(), (QStringList{"0:Gain=0.00 dB", "1:Balance=0 %"}));
    selectRow(1);
    key(Qt::Key_Backspace);
    EXPECT_EQ(lines(), (QStringList{"0:Gain=0.50000", "1:Balance=0.50000"}));
    key(Qt::Key_Period);
    EXPECT_FLOAT_EQ(gain.GetParameter(1), 0.5787f);
    key(Qt::Key_Comma, Qt::ShiftModifier);
    EXPECT_FLOAT_EQ(gain.GetParameter(1), 0.57083f);
    key(Qt::Key_Period, Qt::ControlModifier);
    EXPECT_EQ(gain.GetParameter(1), 1.0f);
    EXPECT_EQ(lines()[1], "1:Balance=1.00000") << "the row shows the new value";

    onNextDialog<QInputDialog>([](QInputDialog* input) {
        EXPECT_EQ(input->windowTitle(), "Enter Parameter Value");
        EXPECT_EQ(input->labelText(), "New value:");
        EXPECT_EQ(input->textValue(), "1.00000");
        input->setTextValue("0.25");
        input->accept();
    });
    key(Qt::Key_Return);
    EXPECT_EQ(gain.GetParameter(1), 0.25f);
    onNextDialog<QInputDialog>([](QInputDialog* input) {
        input->setTextValue("1.5");
        input->accept();
    });
    key(Qt::Key_Return);
    EXPECT_EQ(gain.GetParameter(1), 1.0f) << "past the top: the top";

    // A text that is no number is refused with a message; the value stays.
    onNextDialog<QInputDialog>([](QInputDialog* input) {
        input->setTextValue("loud");
        input->accept();
    });
    QString told;
    onNextDialog<QMessageBox>([&told](QMessageBox* box) {
        told = box->text();
        box->accept();
    });
    key(Qt::Key_Return);
    EXPECT_EQ(told, "\"loud\" is no value for 1:Balance (a number from 0 to 1).");
    EXPECT_EQ(gain.GetParameter(1), 1.0f);
}

TEST_F(ParameterPanelTest, TheMapIsCreatedFilledOrderedAndRenamedFromTheList) {
    host::TVstPlugIn& synth = load(TrelvoSynth_PATH);
    ASSERT_EQ(synth.effectNumParams(), 2);
    bool asked = false;
    onNextDialog<QMessageBox>([&asked](QMessageBox* box) {
        asked = true;
        EXPECT_EQ(box->windowTitle(), "Create PrmMap for " + QString::fromStdString("Synth") + " ?");
        EXPECT_EQ(box->text(), "Create a new PrmMap  ?");
        box->button(QMessageBox::Ok)->click();
    });
    synth.SlotName = "Synth";
    selectRow(0);
    key(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(synth.UsePrmMap);
    EXPECT_EQ(lines(), QStringList{"-"}) << "a new map has no rows";

    onNextDialog<ui::TfrmPrmMap>([](ui::TfrmPrmMap* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Parameter mapping");
        EXPECT_EQ(dialog->size(), QSize(600, 450));
        ASSERT_EQ(dialog->available()->count(), 2);
        EXPECT_EQ(dialog->available()->item(0)->text(), "0: Volume");
        dialog->available()->item(1)->setSelected(true);
        dialog->available()->item(0)->setSelected(true);
        dialog->addSelected();
        EXPECT_EQ(dialog->available()->count(), 0);
        ASSERT_EQ(dialog->rows()->topLevelItemCount(), 2);
        EXPECT_EQ(dialog->rows()->topLevelItem(1)->text(1), "1: Wave");
        dialog->rows()->clearSelection();
        dialog->rows()->topLevelItem(1)->setSelected(true);
        dialog->move(-1);
        EXPECT_EQ(dialog->rows()->topLevelItem(0)->text(1), "1: Wave");
        EXPECT_TRUE(dialog->rows()->topLevelItem(0)->isSelected()) << "the moved row stays selected";
        dialog->findChild<QPushButton*>("btnClose")->click();
    });
    key(Qt::Key_Return, Qt::AltModifier);
    ASSERT_EQ(lines().size(), 2);
    EXPECT_TRUE(lines()[0].startsWith("0_1:Wave=")) << lines()[0].toStdString();
    EXPECT_TRUE(lines()[1].startsWith("1_0:Volume=")) << lines()[1].toStdString();

    selectRow(0);
    onNextDialog<QInputDialog>([](QInputDialog* input) {
        EXPECT_EQ(input->windowTitle(), "Rename Param");
        EXPECT_EQ(input->labelText(), "New param name:");
        EXPECT_EQ(input->textValue(), "Wave");
        input->setTextValue("Oscillator shape");
        input->accept();
    });
    key(Qt::Key_F2);
    EXPECT_TRUE(lines()[0].startsWith("0_1:Oscillator =")) << lines()[0].toStdString();

    // The synthesizer's own knob moves a mapped parameter: only that row is told.
    QSignalSpy changed(panel.model(), &QAbstractItemModel::dataChanged);
    panel.refreshParameter(2, 0);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), 1);
}

TEST_F(ParameterPanelTest, AThousandParametersAreListedAndOneChangeRepaintsOneRowWithoutARebuild) {
    load(TrelvoParams_PATH);
    ASSERT_EQ(panel.model()->rowCount(), 1000);
    const auto text = [this](int row) { return panel.model()->data(panel.model()->index(row, 0), Qt::DisplayRole); };
    EXPECT_EQ(text(0), "000:Param 000=0.0 %");
    EXPECT_EQ(text(999), "999:Param 999=100.0 %");
    QSignalSpy rebuilt(panel.model(), &QAbstractItemModel::modelReset);
    QSignalSpy changed(panel.model(), &QAbstractItemModel::dataChanged);
    selectRow(999);
    panel.view()->scrollTo(panel.model()->index(999, 0));
    key(Qt::Key_Comma);
    EXPECT_EQ(text(999), "999:Param 999=92.1 %");
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), 999);
    panel.followSelection();
    EXPECT_EQ(rebuilt.count(), 0) << "the same slot and rows: no rebuild";
}

TEST_F(ParameterPanelTest, AThirdPartyPlugInShowsItsOwnTextsAndUnits) {
    const std::vector<std::string> plugins = thirdPartyPlugins();
    const auto found = std::find_if(plugins.begin(), plugins.end(),
                                    [](const std::string& path) { return path.ends_with("/3BandEQ-vst.so"); });
    if (found == plugins.end()) GTEST_SKIP() << "dpf-plugins-vst is not installed";
    host::TVstPlugIn& eq = load(*found);
    const QStringList shown = lines();
    ASSERT_EQ(shown.size(), eq.effectNumParams());
    EXPECT_TRUE(shown[0].startsWith("0:Low=")) << shown[0].toStdString();
    EXPECT_TRUE(shown[0].endsWith(" dB")) << shown[0].toStdString();
    selectRow(0);
    const float before = eq.GetParameter(0);
    key(Qt::Key_Period);
    EXPECT_NE(eq.GetParameter(0), before);
    EXPECT_NE(lines()[0], shown[0]) << "the plug-in's display follows";
}

} // namespace
} // namespace trelvo::test
