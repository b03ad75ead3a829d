#include "ui/HelpFiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>
#include <vector>

#include "DialogDriver.h"
#include "Version.h"
#include "support/TempFolder.h"
#include "ui/SharedFiles.h"

using trelvo::test::NoDialogExpected;
using trelvo::test::onNextDialog;
namespace ui = trelvo::ui;

namespace {

/// Records what would have been opened or started, and answers with the next planned
/// outcome (true once the plan runs out).
class HelpFiles : public ::testing::Test {
protected:
    void SetUp() override {
        QCoreApplication::setApplicationName("Trelvo");
        ui::setUrlOpener([this](const QUrl& url) {
            opened.push_back(url.toLocalFile());
            return nextOutcome();
        });
        ui::setProgramStarter([this](const QString& program, const QStringList& arguments) {
            started.push_back(QStringList{program} + arguments);
            return nextOutcome();
        });
    }
    void TearDown() override {
        ui::setUrlOpener({});
        ui::setProgramStarter({});
    }

    bool nextOutcome() {
        if (plan.empty()) return true;
        const bool outcome = plan.front();
        plan.erase(plan.begin());
        return outcome;
    }
    QString tempPath() const { return QString::fromStdString(temp.path()); }

    std::vector<bool> plan;
    std::vector<QString> opened;
    std::vector<QStringList> started;
    trelvo::test::TempFolder temp;
};

TEST_F(HelpFiles, AMissingHelpFileIsReportedWithItsPathAndNothingIsOpened) {
    const QString path = tempPath() + "/help/Trelvo.html";
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    onNextDialog<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    ui::openHelpFile(nullptr, path);
    EXPECT_EQ(text, "Help File\n" + path + "\nfile not found ...");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(opened.empty());
}

TEST_F(HelpFiles, HelpOpensTheUserGuideOfTheSharedFolder) {
    NoDialogExpected guard;
    ui::openHelp(nullptr);
    EXPECT_FALSE(guard.dialogWasShown());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], ui::sharedFile("help/Trelvo.html"));
    EXPECT_TRUE(QFileInfo(opened[0]).isFile());
}

TEST_F(HelpFiles, TheSettingsFileGoesToTheTextEditorWithItsArgumentsOrToTheDesktop) {
    ui::openSettingsFile(nullptr, "/home/me/.config/Trelvo/Trelvo.ini", "gedit --new-window");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], QStringList({"gedit", "--new-window", "/home/me/.config/Trelvo/Trelvo.ini"}));

    ui::openSettingsFile(nullptr, "/home/me/.config/Trelvo/Trelvo.ini", "");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], "/home/me/.config/Trelvo/Trelvo.ini");
}

TEST_F(HelpFiles, AnEditorThatDoesNotStartIsNamed) {
    plan = {false};
    QString text;
    onNextDialog<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        box->accept();
    });
    ui::openSettingsFile(nullptr, "/tmp/Trelvo.ini", "no-such-editor");
    EXPECT_TRUE(text.startsWith("Cannot start the text editor no-such-editor\n")) << text.toStdString();
}

TEST_F(HelpFiles, PluginHelpAsksAgainAfterAFailedOpenAndKeepsTheFileThatOpened) {
    trelvo::test::writeFile(temp.file("manual.pdf"), "%PDF");
    trelvo::test::writeFile(temp.file("readme.txt"), "read me");
    plan = {false, true};
    QString title, startFolder, failure;
    onNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        startFolder = dialog->directory().absolutePath();
        onNextDialog<QMessageBox>([&](QMessageBox* box) {
            failure = box->text();
            onNextDialog<QFileDialog>([](QFileDialog* again) {
                trelvo::test::typeFileNames(again, "readme.txt");
                trelvo::test::accept(again);
            });
            box->accept();
        });
        trelvo::test::typeFileNames(dialog, "manual.pdf");
        trelvo::test::accept(dialog);
    });
    std::string helpFile;
    EXPECT_TRUE(ui::openPluginHelp(nullptr, helpFile, temp.path()));
    EXPECT_EQ(title, "Open Help File");
    EXPECT_EQ(startFolder, tempPath());
    EXPECT_TRUE(failure.contains(tempPath() + "/manual.pdf")) << failure.toStdString();
    EXPECT_EQ(opened, std::vector<QString>({tempPath() + "/manual.pdf", tempPath() + "/readme.txt"}));
    EXPECT_EQ(helpFile, temp.file("readme.txt"));
}

TEST_F(HelpFiles, PluginHelpStopsWhenTheUserCancelsAfterAFailure) {
    trelvo::test::writeFile(temp.file("manual.pdf"), "%PDF");
    plan = {false};
    int numDialogs = 0;
    onNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        ++numDialogs;
        onNextDialog<QMessageBox>([&](QMessageBox* box) {
            onNextDialog<QFileDialog>([&](QFileDialog* again) {
                ++numDialogs;
                again->reject();
            });
            box->accept();
        });
        trelvo::test::typeFileNames(dialog, "manual.pdf");
        trelvo::test::accept(dialog);
    });
    std::string helpFile;
    EXPECT_FALSE(ui::openPluginHelp(nullptr, helpFile, temp.path()));
    EXPECT_EQ(numDialogs, 2);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(helpFile, "");
}

TEST_F(HelpFiles, PluginHelpOpensTheProfilesHelpFileWithoutAsking) {
    const std::string manual = temp.file("manual.pdf");
    trelvo::test::writeFile(manual, "%PDF");
    NoDialogExpected guard;
    std::string helpFile = manual;
    EXPECT_TRUE(ui::openPluginHelp(nullptr, helpFile, "/usr/lib/vst"));
    EXPECT_FALSE(guard.dialogWasShown());
    EXPECT_EQ(opened, std::vector<QString>({QString::fromStdString(manual)}));
    EXPECT_EQ(helpFile, manual);
}

TEST_F(HelpFiles, TheAboutBoxNamesTheVersionAndQt) {
    QString title, text;
    onNextDialog<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    ui::showAbout(nullptr);
    EXPECT_EQ(title, "About Trelvo");
    EXPECT_TRUE(text.startsWith(QString("Trelvo ") + trelvo::kFileVersion + "\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("running on Qt ") + qVersion()));
}

} // namespace
