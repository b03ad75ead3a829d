// The main window's keys, zones, pages and menus, offscreen, over the demo project.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <filesystem>

#include "DialogDriver.h"
#include "TestPaths.h"
#include "audio/TASIOHost.h"
#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "presets/PresetList.h"
#include "session/RackController.h"
#include "session/Session.h"
#include "support/TempFolder.h"
#include "ui/CommonDialogs.h"
#include "ui/ParameterPanel.h"
#include "ui/SlotListView.h"
#include "ui/StatusWindows.h"
#include "ui/TMainForm.h"
#include "ui/TdlgPrefs.h"
#include "ui/TfrmProperties.h"

namespace trelvo::test {
namespace {

using ::testing::HasSubstr;
using ui::TMainForm;

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

class MainFormTest : public ::testing::Test {
protected:
    MainFormTest() {
        setenv("TRELVO_HOME", home.path().c_str(), 1);
        setenv("VST_PATH", (folderOf(TrelvoSynth_PATH) + ":" + folderOf(TrelvoGain_PATH)).c_str(), 1);
        writeFile(home.file("Trelvo.ini"), "[General]\r\nWrLog=1\r\n[ASIO]\r\nDriver=Dummy\r\n");
    }
    ~MainFormTest() override {
        form.reset();
        session.reset();
        unsetenv("TRELVO_HOME");
        unsetenv("VST_PATH");
    }
    /// Opens the window on a project (the demo's copy when none is given) and waits until
    /// the rack runs.
    void open(const std::string& project = {}) {
        std::string file = project;
        if (file.empty()) {
            file = home.file("demo.vprj");
            writeFile(file, readFile(std::string(TRELVO_SOURCE_DIR) + "/share/demo/demo.vprj"));
        }
        session = std::make_unique<app::Session>(true);
        form = std::make_unique<TMainForm>(*session, file);
        form->show();
        ASSERT_TRUE(QTest::qWaitFor([this] { return form->stage() == TMainForm::Stage::Painted; }, 15000));
        form->activateWindow();
        form->slotList()->setFocus();
    }
    rack::RackController& controller() { return *session->controller; }
    void select(int slot) {
        controller().select(slot);
        form->idleTick();
        form->updateMenus();
    }
    void keypad(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(form->slotList(), Qt::Key(key), modifiers | Qt::KeypadModifier);
    }
    bool enabled(const char* name) { return form->command(name)->isEnabled(); }
    /// Idle ticks while the audio thread runs blocks, so that queued switches are applied
    /// and shown.
    void settle() {
        for (int i = 0; i < 10; ++i) {
            QTest::qWait(20);
            form->idleTick();
        }
    }

    TempFolder home;
    std::unique_ptr<app::Session> session;
    std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormTest, TheKeypadTypesProgramNumbersForTheSelectedSlot) {
    open();
    const int lead = 2; // the demo's synthesizer
    select(lead);
    host::TVstPlugIn& synth = controller().rack().slot(lead);
    ASSERT_TRUE(synth.PlugLoaded.load());

    // Three digits apply at once: 0, 0, 3 selects program 3.
    keypad(Qt::Key_0);
    EXPECT_THAT(form->presetHeader()->text().toStdString(), HasSubstr("0"));
    EXPECT_TRUE(form->programEntry().active());
    keypad(Qt::Key_0);
    keypad(Qt::Key_3);
    EXPECT_FALSE(form->programEntry().active());
    EXPECT_EQ(synth.GetProgram(), 3);

    // A point keeps the entry open: 1 . 0 1 Enter selects program 1.
    keypad(Qt::Key_1);
    keypad(Qt::Key_Period);
    keypad(Qt::Key_0);
    keypad(Qt::Key_1);
    EXPECT_TRUE(form->programEntry().active());
    keypad(Qt::Key_Enter);
    EXPECT_EQ(synth.GetProgram(), 1);

    // Esc discards an entry without any change.
    keypad(Qt::Key_2);
    QTest::keyClick(form->slotList(), Qt::Key_Escape);
    EXPECT_FALSE(form->programEntry().active());
    EXPECT_EQ(synth.GetProgram(), 1);
}

TEST_F(MainFormTest, PagesStopAtEightAndOneAndWrapBothWays) {
    open();
    for (int i = 0; i < 10; ++i) form->command("mnAddTab")->trigger();
    EXPECT_EQ(form->pageTabs()->count(), 8);
    EXPECT_EQ(form->pageTabs()->tabText(7).toStdString(), "Page 8");
    EXPECT_FALSE(enabled("mnAddTab"));

    form->pageTabs()->setCurrentIndex(7);
    controller().pages.current = 7;
    form->command("mnNextTab")->trigger();
    EXPECT_EQ(controller().pages.current, 0);
    form->command("mnPrevTab")->trigger();
    EXPECT_EQ(controller().pages.current, 7);
    EXPECT_EQ(form->pageTabs()->currentIndex(), 7);

    for (int i = 0; i < 10; ++i) form->command("mnDeleteTab")->trigger();
    EXPECT_EQ(form->pageTabs()->count(), 1);
    EXPECT_FALSE(enabled("mnDeleteTab"));
}

TEST_F(MainFormTest, TheFocusZoneShowsInTheMenuAndTheHeaders) {
    open();
    const auto selectedColour = QColor::fromRgb(form->colours().selectedPlugIn);
    const auto mixerColour = QColor::fromRgb(form->colours().mixer);
    const auto header = [this](TMainForm::Zone zone) {
        return form->zoneHeader(zone)->palette().color(QPalette::Window);
    };
    form->slotList()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(form->zoneText().toStdString(), "-1-LV");
    EXPECT_EQ(form->command("mnZone")->text().toStdString(), "-1-LV");
    EXPECT_EQ(header(TMainForm::Zone::SlotList), selectedColour);
    EXPECT_EQ(header(TMainForm::Zone::PresetList), mixerColour);

    form->presetList()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(form->command("mnZone")->text().toStdString(), "-1-LP");
    EXPECT_EQ(header(TMainForm::Zone::PresetList), selectedColour);
    EXPECT_EQ(header(TMainForm::Zone::SlotList), mixerColour);

    // Pause with no editor open leaves the focus where it is.
    QTest::keyClick(form->presetList(), Qt::Key_Pause);
    EXPECT_EQ(form->zone(), TMainForm::Zone::PresetList);
}

TEST_F(MainFormTest, MenusFollowTheSelectedSlot) {
    open();
    select(0); // the OUTPUT: never deleted
    EXPECT_FALSE(enabled("mnDelChannel"));
    EXPECT_FALSE(enabled("mnDelPlugin"));
    select(2); // a plug-in
    EXPECT_TRUE(enabled("mnDelPlugin"));
    EXPECT_TRUE(enabled("mnReplacePlugin"));
    EXPECT_FALSE(enabled("mnDelChannel"));
    EXPECT_TRUE(enabled("mnNextPreset"));
    EXPECT_TRUE(enabled("mnShowEditor")); // the synthesizer has an editor
    EXPECT_TRUE(enabled("mnSlotProperties"));
    select(3);
    EXPECT_FALSE(enabled("mnShowEditor")); // the gain has none
    select(1);
    EXPECT_FALSE(enabled("mnSlotProperties")) << "a channel has no MIDI routes";
    EXPECT_TRUE(enabled("mnVirtualPorts"));
    // Commands of windows still to come stay disabled whatever is selected.
    EXPECT_FALSE(enabled("mnRun"));
    EXPECT_FALSE(enabled("mnCapturePng")) << "no editor is open";
}

TEST_F(MainFormTest, AltEnterOpensTheSlotsPropertiesAndOkWithoutChangesSavesTheSameProject) {
    open();
    const std::string project = home.file("saved.vprj");
    select(3);
    ASSERT_TRUE(controller().saveProjectTo(project));
    const std::string before = readFile(project);
    for (const int slot : {2, 3}) {
        select(slot);
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        form->slotList()->setFocus();
        bool shown = false;
        onNextDialog<ui::TfrmProperties>([&](ui::TfrmProperties* dialog) {
            shown = true;
            EXPECT_EQ(dialog->editor().slot(), slot);
            dialog->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok)->click();
        });
        QTest::keyClick(form->slotList(), Qt::Key_Return, Qt::AltModifier);
        EXPECT_TRUE(shown) << "slot " << slot;
    }
    ASSERT_TRUE(controller().saveProjectTo(project));
    EXPECT_EQ(readFile(project), before);
}

TEST_F(MainFormTest, TheParameterListStandsInTheMixerPanelDockedOrNowhereAndTheProjectKeepsThePlace) {
    open();
    ui::ParameterPanel* panel = form->parameterList();
    EXPECT_FALSE(panel->isVisible()) << "hidden at first";
    select(2); // the synthesizer
    form->command("mnParamsMixer")->trigger();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(form->findChild<QSplitter*>("LTsplit")->isAncestorOf(panel));
    form->idleTick();
    EXPECT_EQ(panel->model()->rowCount(), 2);
    select(3); // the gain: the list follows the selection
    form->idleTick();
    EXPECT_TRUE(panel->model()->data(panel->model()->index(0, 0), Qt::DisplayRole).toString().startsWith("0:Gain="));
    // The list's keys reach it inside the window, past the window's own keys.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    panel->view()->setFocus();
    panel->view()->setCurrentIndex(panel->model()->index(0, 0));
    host::TVstPlugIn& gain = controller().rack().slot(3);
    gain.SetParameter(0, 0.5f);
    QTest::keyClick(panel->view(), Qt::Key_Comma);
    EXPECT_FLOAT_EQ(gain.GetParameter(0), 0.5f - 0.0787f);
    EXPECT_EQ(form->zone(), TMainForm::Zone::ParameterList);

    const std::string project = home.file("places.vprj");
    form->command("mnParamsDocked")->trigger();
    auto* dock = form->findChild<QDockWidget*>("LparamsDck");
    EXPECT_TRUE(dock->isVisible());
    EXPECT_TRUE(dock->isAncestorOf(panel));
    ASSERT_TRUE(controller().saveProjectTo(project));
    EXPECT_THAT(readFile(project), HasSubstr("LprmDock=D\r\n"));
    form->command("mnParamsHide")->trigger();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(dock->isVisible());
    ASSERT_TRUE(controller().saveProjectTo(project));
    EXPECT_THAT(readFile(project), HasSubstr("LprmDock=d\r\n")) << "hidden, and where it was";
}

TEST_F(MainFormTest, ExportParametersWritesTheSelectedPlugInsParametersWhereTheUserSaid) {
    open();
    select(3);
    const std::string file = home.file("gain.txt");
    onNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Export params");
        typeFileNames(dialog, QString::fromStdString(file));
        accept(dialog);
    });
    form->command("mnExportParams")->trigger();
    const std::string written = readFile(file);
    EXPECT_EQ(written, rack::ParameterList::exportText(&controller().rack().slot(3), false));
    EXPECT_THAT(written, HasSubstr("p-0=0,1,0.01,0.1,"));
}

TEST_F(MainFormTest, PresetListKeysMoveCopyPasteAndRenameTheProgramsTheyPointAt) {
    open();
    const int lead = 2; // the demo's synthesizer
    select(lead);
    QListWidget* list = form->presetList();
    const auto name = [this](int program) {
        return controller().presets().items[static_cast<std::size_t>(program)].name();
    };
    const std::string fifth = name(5), sixth = name(6), first = name(0);
    list->setFocus();

    list->setCurrentRow(5);
    QTest::keyClick(list, Qt::Key_Down, Qt::AltModifier); // the pointed-at program moves down
    EXPECT_EQ(controller().rack().slot(lead).GetProgram(), 6);
    EXPECT_EQ(list->currentRow(), 6);
    EXPECT_EQ(name(5), sixth);
    EXPECT_EQ(name(6), fifth);

    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(controller().rack().slot(lead).GetProgram(), 0);
    EXPECT_EQ(name(0), fifth);
    EXPECT_NE(name(0), first);

    QString title;
    onNextDialog<QInputDialog>([&](QInputDialog* dialog) {
        title = dialog->windowTitle();
        dialog->setTextValue("Warm Pad");
        accept(dialog);
    });
    QTest::keyClick(list, Qt::Key_F2);
    EXPECT_EQ(title, "Rename Preset");
    EXPECT_EQ(name(0), "Warm Pad");
    EXPECT_THAT(controller().rows[lead].preset, HasSubstr("Warm Pad"));
}

TEST_F(MainFormTest, ExportingAllPresetsAsksForAFolderAndNumbersAndTellsHowManyWereWritten) {
    open();
    select(2);
    const std::string folder = home.file("exported");
    std::filesystem::create_directory(folder);
    QString question, caption, told;
    onNextDialog<ui::FolderPickerDialog>([&](ui::FolderPickerDialog* picker) {
        onNextDialog<QMessageBox>([&](QMessageBox* box) {
            question = box->text();
            caption = box->windowTitle();
            onNextDialog<QMessageBox>([&](QMessageBox* message) {
                told = message->text();
                message->accept();
            });
            box->button(QMessageBox::Yes)->click();
        });
        picker->selectFolder(QString::fromStdString(folder));
        picker->accept();
    });
    form->command("mnExportPresets")->trigger();
    EXPECT_EQ(question, "Save Program Number with FXP ?");
    EXPECT_EQ(caption.toStdString(), controller().rack().slot(2).EffectName);
    EXPECT_EQ(told.toStdString(), "Exported: 256 presets in folder:\n" + folder + "/");
    EXPECT_TRUE(fileExists(folder + "/255-" + controller().presets().items[255].name() + ".fxp"));
}

TEST_F(MainFormTest, ListKeysActOnTheSelectedSlotOnlyWhileTheListHasTheFocus) {
    open();
    select(3); // the demo's gain plug-in
    form->slotList()->setFocus();
    QTest::keyClick(form->slotList(), Qt::Key_B);
    settle();
    EXPECT_EQ(controller().rows[3].icon, 9); // a bypassed plug-in

    // The same letter in the preset list is no command.
    form->presetList()->setFocus();
    QTest::keyClick(form->presetList(), Qt::Key_B);
    settle();
    EXPECT_EQ(controller().rows[3].icon, 9);

    // Ctrl+Ins adds a channel at the end of the rack.
    form->slotList()->setFocus();
    const int before = controller().rack().numSlots();
    QTest::keyClick(form->slotList(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(controller().rack().numSlots(), before + 1);
    EXPECT_EQ(controller().rack().slot(before).kind(), rack::SlotKind::Channel);
}

TEST_F(MainFormTest, ADarkPaletteGivesMixerRowsLighterThanTheList) {
    open();
    QPalette dark = form->palette();
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    form->setPalette(dark);
    QApplication::processEvents();
    EXPECT_EQ(form->colours().background, 0x131313u);
    EXPECT_EQ(form->colours().mixer, 0x464646u);
}

TEST_F(MainFormTest, PreferencesOkWithoutChangesRewritesNothingAndCancelChangesNothing) {
    open();
    persist::AppSettings& settings = controller().appSettings();
    ASSERT_TRUE(settings.writeAll());
    ASSERT_TRUE(settings.writeAll());
    const std::string before = readFile(settings.fileName());
    {
        ui::TdlgPrefs dialog(controller(), form.get());
        EXPECT_EQ(dialog.windowTitle(), ui::applicationTitle() + " - Preferences");
        dialog.accept();
        EXPECT_TRUE(dialog.problems().empty());
    }
    EXPECT_EQ(readFile(settings.fileName()), before);

    {
        ui::TdlgPrefs dialog(controller(), form.get());
        dialog.findChild<QCheckBox*>("cbUseAllCpus")->setChecked(true);
        dialog.findChild<QCheckBox*>("cbStatusBar")->setChecked(true);
        dialog.findChild<QSpinBox*>("seOutputVolume")->setValue(-20);
        dialog.findChild<QCheckBox*>("cbExtVprj")->click();
        dialog.reject();
    }
    EXPECT_EQ(readFile(settings.fileName()), before);
    EXPECT_FALSE(controller().engine().useAllCpus.load());
    EXPECT_FLOAT_EQ(controller().engine().outputVolume.load(), 1.0f);
    EXPECT_FALSE(form->statusBar()->isVisible());
}

TEST_F(MainFormTest, PreferencesOkAppliesTheControlPanelsBufferSizeAndTheSwitches) {
    open();
    QString panelTitle;
    onNextDialog<ui::TdlgPrefs>([&](ui::TdlgPrefs* dialog) {
        onNextDialog<QDialog>([&](QDialog* panel) {
            panelTitle = panel->windowTitle();
            auto* size = panel->findChild<QComboBox*>("cbBufferSize");
            ASSERT_NE(size, nullptr);
            size->setCurrentText("128");
            panel->accept();
        });
        dialog->showPage("ASIO");
        dialog->findChild<QPushButton*>("btnControlPanel")->click();
        dialog->findChild<QCheckBox*>("cbStatusBar")->setChecked(true);
        dialog->findChild<QSpinBox*>("seOutputVolume")->setValue(-6);
        dialog->accept();
    });
    form->command("mnPreferences")->trigger();
    EXPECT_EQ(panelTitle, "Dummy - Control Panel");
    EXPECT_EQ(controller().control().host()->bufferSize, 128);
    EXPECT_NEAR(controller().engine().outputVolume.load(), 0.501f, 0.001f);
    EXPECT_TRUE(form->statusBar()->isVisible());
    const std::string settingsText = readFile(controller().appSettings().fileName());
    EXPECT_THAT(settingsText, HasSubstr("Dummy BUFFER=128,"));
    EXPECT_THAT(settingsText, HasSubstr("Output Volume=-6"));
    EXPECT_THAT(settingsText, HasSubstr("StatusBar=1"));
}

TEST_F(MainFormTest, TheStatusWindowShowsTheLogAndNewStatusLinesInTwoRememberedLayouts) {
    open();
    form->command("mnStatus1")->trigger();
    auto* window = form->findChild<ui::TFrmSts*>();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(352, 44));
    // Opened, it shows the log so far: the start's lines are there.
    EXPECT_THAT(window->info()->toPlainText().toStdString(), HasSubstr(" painted: "));
    diag::theLog().Status("Preset 7 loaded");
    form->idleTick();
    EXPECT_TRUE(window->info()->toPlainText().endsWith("Preset 7 loaded"));

    window->findChild<QPushButton*>("btn2")->click();
    EXPECT_EQ(window->layoutNumber(), 2);
    EXPECT_EQ(window->size(), QSize(270, 87));
    window->findChild<QPushButton*>("btn2")->click(); // the current layout: nothing changes
    EXPECT_EQ(window->size(), QSize(270, 87));
    window->findChild<QPushButton*>("btnX")->click();
    EXPECT_TRUE(form->command("mnStatusHide")->isChecked());
    const std::string settingsText = readFile(controller().appSettings().fileName());
    EXPECT_THAT(settingsText, HasSubstr("[FrmSts]"));
    EXPECT_THAT(settingsText, HasSubstr("Width-2=270"));
    EXPECT_THAT(settingsText, HasSubstr("mMode=2"));

    // Opened again, it comes back in its last layout.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(form->findChild<ui::TFrmSts*>(), nullptr);
    form->command("mnStatus2")->trigger();
    window = form->findChild<ui::TFrmSts*>();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(270, 87));
    form->command("mnStatusHide")->trigger();

    form->command("mnMcu")->trigger();
    auto* surface = form->findChild<ui::TFrmMcuSts*>();
    ASSERT_NE(surface, nullptr);
    EXPECT_TRUE(form->command("mnMcu")->isChecked());
    EXPECT_EQ(surface->displayText(), "no surface");
    EXPECT_EQ(surface->assignmentText(), "-.-");
    EXPECT_GE(surface->width(), ui::TFrmMcuSts::kMinimumWidth);
    surface->resize(200, 40);
    EXPECT_EQ(surface->width(), ui::TFrmMcuSts::kMinimumWidth);
    form->command("mnMcu")->trigger();
    EXPECT_FALSE(form->command("mnMcu")->isChecked());
}

TEST_F(MainFormTest, StartAndCloseWriteTheirLogLinesInOrder) {
    open();
    form->close();
    EXPECT_EQ(form->stage(), TMainForm::Stage::Closed);
    form->close(); // a second request while closed changes nothing
    form.reset();
    session.reset();
    const std::string log = readFile(home.file("Trelvo.log"));
    const std::vector<std::string> order = {
        " created", " shown",      " painted",      "closeQuery-0",       "closeQuery-4",    " closing",
        " closed",  " destroying", " disable ASIO", " closing all slots", " releasing ASIO", " destroyed"};
    std::size_t at = 0;
    for (const std::string& wanted : order) {
        const std::size_t found = log.find(wanted, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: \"" << wanted << "\"\n" << log;
        at = found + wanted.size();
    }
}

} // namespace
} // namespace trelvo::test
