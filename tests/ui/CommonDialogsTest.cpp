#include "ui/CommonDialogs.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>

#include "DialogDriver.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

using trelvo::test::NoDialogExpected;
using trelvo::test::onNextDialog;
using trelvo::test::TempFolder;
namespace ui = trelvo::ui;

namespace {

class CommonDialogs : public ::testing::Test {
protected:
    void SetUp() override { QCoreApplication::setApplicationName("Trelvo"); }

    QString tempPath() const { return QString::fromStdString(temp.path()); }
    void makeFolder(const QString& name) const { ASSERT_TRUE(QDir(tempPath()).mkdir(name)); }
    int numSubfolders() const {
        return static_cast<int>(QDir(tempPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    }

    TempFolder temp;
};

// ---- input box ----

TEST_F(CommonDialogs, InputBoxWithoutTitleIsInputAndTheApplicationTitleAndOkStoresAndLogs) {
    trelvo::test::LogCapture log;
    QString title, shownValue;
    bool editHasFocus = false;
    onNextDialog<QInputDialog>([&](QInputDialog* dialog) {
        title = dialog->windowTitle();
        shownValue = dialog->textValue();
        editHasFocus = qobject_cast<QLineEdit*>(dialog->focusWidget()) != nullptr;
        dialog->setTextValue(QString(1500, 'x'));
        trelvo::test::accept(dialog);
    });
    QString value = "Page 1";
    EXPECT_TRUE(ui::inputBox(nullptr, "", "Rename: ", value));
    EXPECT_EQ(title, "Input Trelvo");
    EXPECT_EQ(shownValue, "Page 1");
    EXPECT_TRUE(editHasFocus);
    EXPECT_EQ(value, QString(999, 'x'));
    EXPECT_TRUE(log.contains(" .OK. "));
}

TEST_F(CommonDialogs, InputBoxCancelLeavesTheValueAndLogsNothing) {
    trelvo::test::LogCapture log;
    QString title;
    onNextDialog<QInputDialog>([&](QInputDialog* dialog) {
        title = dialog->windowTitle();
        dialog->setTextValue("changed");
        dialog->reject();
    });
    QString value = "kept";
    EXPECT_FALSE(ui::inputBox(nullptr, "Rename Tab", "Rename: ", value));
    EXPECT_EQ(title, "Rename Tab");
    EXPECT_EQ(value, "kept");
    EXPECT_FALSE(log.contains(" .OK. "));
}

TEST_F(CommonDialogs, CentreWindowCentresOverTheOwnerButNeverAtNegativeCoordinates) {
    QWidget owner;
    owner.setGeometry(100, 100, 400, 300);
    QWidget small;
    small.resize(200, 100);
    ui::centreWindow(&owner, &small);
    EXPECT_EQ(small.pos(), QPoint(200, 200));

    owner.setGeometry(0, 0, 100, 100);
    QWidget large;
    large.resize(300, 500);
    ui::centreWindow(&owner, &large);
    EXPECT_EQ(large.pos(), QPoint(0, 0));
}

// ---- file dialog ----

TEST_F(CommonDialogs, SeveralFilesComeBackAsTheFolderAndTheirNamesJoinedByBars) {
    for (const char* name : {"a.fxp", "b.fxp", "c.fxp"}) trelvo::test::writeFile(temp.file(name), "x");
    QString startFolder;
    onNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        startFolder = dialog->directory().absolutePath();
        trelvo::test::typeFileNames(dialog, "\"a.fxp\" \"b.fxp\" \"c.fxp\"");
        trelvo::test::accept(dialog);
    });
    QString fileName = tempPath() + "/a.fxp";
    ASSERT_TRUE(ui::fileDialog(nullptr, fileName, "Load Presets", ui::kOpenSeveralFiles,
                               "preset (*.fxp)|*.fxp|all files (*.*)|*.*", "fxp"));
    EXPECT_EQ(startFolder, tempPath());
    EXPECT_EQ(fileName, tempPath() + "|a.fxp|b.fxp|c.fxp");

    // One file chosen is one full path, as in the single-file modes.
    onNextDialog<QFileDialog>([](QFileDialog* dialog) {
        trelvo::test::typeFileNames(dialog, "b.fxp");
        trelvo::test::accept(dialog);
    });
    QString single = tempPath() + "/a.fxp";
    ASSERT_TRUE(ui::fileDialog(nullptr, single, "Load Presets", ui::kOpenSeveralFiles, "", ""));
    EXPECT_EQ(single, tempPath() + "/b.fxp");
}

TEST_F(CommonDialogs, AnUnknownModeReturnsFalseAtOnce) {
    for (int mode : {0, 1, 32, 2048 + 16}) {
        NoDialogExpected guard;
        QString fileName = tempPath() + "/a.vprj";
        EXPECT_FALSE(ui::fileDialog(nullptr, fileName, "Open", mode, "", "")) << mode;
        EXPECT_FALSE(guard.dialogWasShown()) << mode;
        EXPECT_EQ(fileName, tempPath() + "/a.vprj");
    }
}

TEST_F(CommonDialogs, TheFilterWhosePatternEndsInTheFilesExtensionIsPreselected) {
    QStringList filters;
    QString selectedFilter;
    onNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        selectedFilter = dialog->selectedNameFilter();
        dialog->reject();
    });
    QString fileName = tempPath() + "/live.FXB";
    EXPECT_FALSE(ui::fileDialog(nullptr, fileName, "Open Bank", ui::kOpenExistingFile,
                                "preset (*.fxp)|*.fxp|bank files (*.fxb)|*.fxb|all files (*.*)|*.*", ""));
    EXPECT_EQ(fileName, tempPath() + "/live.FXB");
    EXPECT_EQ(filters, QStringList({"preset (*.fxp)", "bank files (*.fxb)", "all files (*)"}));
    EXPECT_EQ(selectedFilter, "bank files (*.fxb)");
}

TEST(NameFilters, ConvertBarSeparatedPairsAndLookAtFiftyPairsAtMost) {
    const ui::NameFilters several = ui::nameFiltersFrom("presets|*.fxp;*.fxb|projects|*.vprj", "/x/song.vprj");
    EXPECT_EQ(several.filters, QStringList({"presets (*.fxp *.fxb)", "projects (*.vprj)"}));
    EXPECT_EQ(several.selected, 1);

    EXPECT_EQ(ui::nameFiltersFrom("a|*.a|b|*.b", "/x/noextension").selected, 0);
    EXPECT_EQ(ui::nameFiltersFrom("a|*.a|b|*.b|", "/x.b/name").selected, 0) << "a dot in the folder is no extension";

    QString many;
    for (int i = 0; i < 50; ++i) many += QString("f%1|*.f%1|").arg(i);
    EXPECT_EQ(ui::nameFiltersFrom(many + "late|*.late", "/x/y.late").selected, 0);
    EXPECT_EQ(ui::nameFiltersFrom(many + "late|*.late", "/x/y.f49").selected, 49);
}

TEST_F(CommonDialogs, SavingNeedsAnExistingFolderAndAddsTheDefaultExtension) {
    QString refusal;
    onNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        onNextDialog<QMessageBox>([&](QMessageBox* box) {
            refusal = box->text();
            box->accept();
        });
        trelvo::test::typeFileNames(dialog, tempPath() + "/missing/song");
        trelvo::test::accept(dialog); // refused: the error box comes and goes, the dialog stays
        trelvo::test::typeFileNames(dialog, tempPath() + "/song");
        trelvo::test::accept(dialog);
    });
    QString fileName = tempPath() + "/old.vprj";
    ASSERT_TRUE(ui::fileDialog(nullptr, fileName, "Save Project As", ui::kSaveWithoutOverwriteAsk,
                               "project files (*.vprj)|*.vprj", ".vprj"));
    EXPECT_EQ(refusal, "Folder " + tempPath() + "/missing does not exist");
    EXPECT_EQ(fileName, tempPath() + "/song.vprj");
}

TEST_F(CommonDialogs, AFileNameWithoutFolderStartsInTheHomeFolder) {
    const char* before = std::getenv("TRELVO_HOME");
    const std::string saved = before != nullptr ? before : "";
    setenv("TRELVO_HOME", temp.path().c_str(), 1);
    QString startFolder;
    onNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        startFolder = dialog->directory().absolutePath();
        dialog->reject();
    });
    QString fileName = "*.vprj";
    EXPECT_FALSE(ui::fileDialog(nullptr, fileName, "Open Project", ui::kOpenExistingFile, "", ""));
    if (before != nullptr)
        setenv("TRELVO_HOME", saved.c_str(), 1);
    else
        unsetenv("TRELVO_HOME");
    EXPECT_EQ(startFolder, tempPath());
}

// ---- folder picker ----

TEST(FolderPickerPrompt, DefaultTildeAndOwnPrompts) {
    EXPECT_EQ(ui::folderPickerPrompt(""), "Select a folder from the list below:");
    EXPECT_EQ(ui::folderPickerPrompt("~Preset"), "Select the Preset folder from the list below:");
    EXPECT_EQ(ui::folderPickerPrompt("Where do the images go?"), "Where do the images go?");
}

TEST_F(CommonDialogs, CreatingAFolderThatExistsShowsTheMessageSelectsItAndCreatesNothing) {
    makeFolder("Banks");
    QString newFolderTitle, newFolderValue, message, messageTitle, selectedAfter;
    bool createEnabled = false;
    onNextDialog<ui::FolderPickerDialog>([&](ui::FolderPickerDialog* picker) {
        createEnabled = picker->createButton()->isEnabled();
        onNextDialog<QInputDialog>([&](QInputDialog* input) {
            newFolderTitle = input->windowTitle();
            newFolderValue = input->textValue();
            onNextDialog<QMessageBox>([&](QMessageBox* box) {
                message = box->text();
                messageTitle = box->windowTitle();
                box->accept();
            });
            input->setTextValue("Banks");
            input->accept();
        });
        picker->createButton()->click();
        selectedAfter = picker->selectedFolder();
        picker->reject();
    });
    QString result;
    EXPECT_FALSE(ui::folderPicker(nullptr, "~Preset", tempPath(), result));
    EXPECT_TRUE(createEnabled);
    EXPECT_EQ(newFolderTitle, "New Folder");
    EXPECT_EQ(newFolderValue, tempPath());
    EXPECT_EQ(message, "Folder " + tempPath() + "/Banks already exists");
    EXPECT_EQ(messageTitle, "Trelvo");
    EXPECT_EQ(selectedAfter, tempPath() + "/Banks");
    EXPECT_EQ(numSubfolders(), 1);
    EXPECT_EQ(result, tempPath());
}

TEST_F(CommonDialogs, CreatingANewFolderReopensThePickerAtItAndOkReturnsItWithASlash) {
    QString reopenedAt;
    onNextDialog<ui::FolderPickerDialog>([&](ui::FolderPickerDialog* picker) {
        onNextDialog<QInputDialog>([&](QInputDialog* input) {
            input->setTextValue("Live Set");
            input->accept();
        });
        onNextDialog<ui::FolderPickerDialog>([&](ui::FolderPickerDialog* reopened) {
            reopenedAt = reopened->selectedFolder();
            reopened->accept();
        });
        picker->createButton()->click();
    });
    QString result;
    EXPECT_TRUE(ui::folderPicker(nullptr, "", tempPath(), result));
    EXPECT_TRUE(QFileInfo(tempPath() + "/Live Set").isDir());
    EXPECT_EQ(reopenedAt, tempPath() + "/Live Set");
    EXPECT_EQ(result, tempPath() + "/Live Set/");
}

TEST_F(CommonDialogs, CancellingThePickerReturnsTheStartFolderUnchanged) {
    makeFolder("Other");
    onNextDialog<ui::FolderPickerDialog>([&](ui::FolderPickerDialog* picker) {
        picker->selectFolder(tempPath() + "/Other");
        picker->reject();
    });
    const QString start = tempPath() + "/";
    QString result = "something";
    EXPECT_FALSE(ui::folderPicker(nullptr, "", start, result));
    EXPECT_EQ(result, start);
}

TEST_F(CommonDialogs, WithoutASelectedFolderCreateAndOkAreDisabled) {
    bool createEnabled = true;
    QString selected = "unset";
    onNextDialog<ui::FolderPickerDialog>([&](ui::FolderPickerDialog* picker) {
        createEnabled = picker->createButton()->isEnabled();
        selected = picker->selectedFolder();
        picker->reject();
    });
    QString result;
    EXPECT_FALSE(ui::folderPicker(nullptr, "", tempPath() + "/does-not-exist", result));
    EXPECT_FALSE(createEnabled);
    EXPECT_TRUE(selected.isEmpty());
}

} // namespace
