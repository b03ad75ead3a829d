// The scan window over the main window, under an X server: the inventory and the picture
// pass of a folder, with the window answering while a library hangs in its worker.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "TestPaths.h"
#include "session/Session.h"
#include "support/TempFolder.h"
#include "ui/TMainForm.h"
#include "ui/TfrmScanList.h"

namespace trelvo::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::vector<std::string> rows(QListWidget* list) {
    std::vector<std::string> texts;
    for (int i = 0; i < list->count(); ++i) texts.push_back(list->item(i)->text().toStdString());
    return texts;
}

/// The test's environment: its own Trelvo home, and the slow faulty plug-in hanging.
struct Environment {
    explicit Environment(const std::string& home) {
        setenv("TRELVO_HOME", home.c_str(), 1);
        setenv("TRELVO_FAULTY_SLOW_MS", "600000", 1);
    }
    ~Environment() {
        unsetenv("TRELVO_FAULTY_SLOW_MS");
        unsetenv("TRELVO_HOME");
    }
};

TEST(ScanListX11, APassSortsTheFolderWhileTheMainWindowKeepsAnswering) {
    TempFolder home, plugins, images;
    Environment environment(home.path());
    writeFile(home.file("Trelvo.ini"), "[ASIO]\r\nDriver=Dummy\r\n");
    for (const char* library : {TrelvoSynth_PATH, TrelvoGain_PATH, TrelvoFaulty_SlowOpen_PATH})
        fs::copy_file(library, plugins.file(fs::path(library).filename().string()));
    app::Session session(true);
    ui::TMainForm form(session, std::string());
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.stage() == ui::TMainForm::Stage::Painted; }, 15000));

    ui::TfrmScanList::workerProgram = TRELVO_EXECUTABLE_PATH;
    form.command("mnScanPngs")->trigger();
    auto* window = form.findChild<ui::TfrmScanList*>();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Scan List");
    window->findChild<QLineEdit*>("edImagesFolder")->setText(QString::fromStdString(images.path()));
    Q_EMIT window->findChild<QLineEdit*>("edImagesFolder")->editingFinished();
    window->findChild<QLineEdit*>("edPluginsFolder")->setText(QString::fromStdString(plugins.path()));
    // The scan's clock moves only when the test says: no library runs out of time on a slow
    // machine, and the hanging one does once the window has been seen answering.
    std::uint32_t now = 0;
    window->scanner().setClock([&now] { return now; });
    window->scanner().setTimeLimit(1000);
    window->scanFolder();
    EXPECT_EQ(window->progress()->text().toStdString(), "scanVSTs done: " + plugins.path() + ", 3 DLLs");
    EXPECT_EQ(window->list(0)->count(), 3);

    window->capturePictures();
    // While the slow library hangs in its worker, the main window's events still run.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->progress()->text().contains("TrelvoFaulty-SlowOpen.so"); }, 30000));
    int answers = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &form, [&] {
        if (window->scanner().workerRunning()) ++answers;
    });
    ticker.start(20);
    EXPECT_TRUE(QTest::qWaitFor([&] { return answers >= 10; }, 30000));
    ticker.stop();
    EXPECT_TRUE(window->progress()->text().contains("TrelvoFaulty-SlowOpen.so"));
    now += 5000; // only now does the hanging library run out of time
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->scanner().running(); }, 60000));

    EXPECT_THAT(window->progress()->text().toStdString(), HasSubstr("PNG scan done: 3 DLLs, 1 imgs"));
    EXPECT_THAT(rows(window->list(1)), ::testing::ElementsAre("TrelvoSynth.so"));
    EXPECT_THAT(rows(window->list(3)),
                ::testing::ElementsAre(HasSubstr("TrelvoFaulty-SlowOpen.so did not answer within 1 s (open)")));
    EXPECT_THAT(rows(window->list(4)), ::testing::ElementsAre("TrelvoGain.so has no editor"));
    EXPECT_TRUE(fs::exists(images.file("TrelvoSynth.png")));
    window->close();
    form.close();
}

} // namespace
} // namespace trelvo::test
