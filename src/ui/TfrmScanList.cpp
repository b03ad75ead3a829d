#include "ui/TfrmScanList.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "persist/AppSettings.h"
#include "persist/IniFile.h"
#include "platform/TrelvoHome.h"
#include "session/RackController.h"
#include "ui/CommonDialogs.h"

namespace trelvo::ui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr const char* kSection = "frmScanList";

} // namespace

TfrmScanList::TfrmScanList(rack::RackController& controller, QWidget* owner)
    : QDialog(owner), rack(controller), tabs(new QTabWidget(this)), pluginsFolder(new QLineEdit(this)),
      imagesFolder(new QLineEdit(this)), scanButton(new QPushButton("qScan &VSTs", this)),
      captureButton(new QPushButton("C&apture PNGs", this)), progressLabel(new QLabel(this)), timer(new QTimer(this)) {
    setObjectName("frmScanList");
    setWindowTitle("Scan List");
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    const char* const captions[] = {"&1. VSTs",    "&2. PNGs",    "&3. Ignore",
                                    "&4. Invalid", "&5. GuiLess", "&6. UnknownErr"};
    for (std::size_t t = 0; t < lists.size(); ++t) {
        lists[t] = new QListWidget(tabs);
        lists[t]->setObjectName(QString("lbTab%1").arg(t + 1));
        tabs->addTab(lists[t], captions[t]);
    }
    // Ctrl+Tab and Ctrl+Shift+Tab cycle the tabs, wrapping.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this), &QShortcut::activated, this,
            [this] { tabs->setCurrentIndex((tabs->currentIndex() + 1) % tabs->count()); });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this), &QShortcut::activated, this,
            [this] { tabs->setCurrentIndex((tabs->currentIndex() + tabs->count() - 1) % tabs->count()); });
    layout->addWidget(tabs, 1);

    const persist::AppSettings& settings = rack.appSettings();
    auto* folders = new QGridLayout;
    const auto folderRow = [this, folders](int row, const char* caption, QLineEdit* edit, const char* browse,
                                           const char* prompt, const std::string& value) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(edit);
        edit->setText(qs(value));
        auto* button = new QPushButton(browse, this);
        connect(button, &QPushButton::clicked, this, [this, edit, prompt] {
            QString chosen;
            if (folderPicker(this, prompt, edit->text(), chosen)) {
                while (chosen.endsWith('/') && chosen.size() > 1) chosen.chop(1);
                edit->setText(chosen);
                makeScanner();
            }
        });
        folders->addWidget(label, row, 0);
        folders->addWidget(edit, row, 1);
        folders->addWidget(button, row, 2);
    };
    pluginsFolder->setObjectName("edPluginsFolder");
    imagesFolder->setObjectName("edImagesFolder");
    folderRow(0, "VST&plugins folder", pluginsFolder, "&Browse...",
              "Select VST plugins folder from list below:", settings.pluginFolder);
    folderRow(1, "VST&images folder", imagesFolder, "B&rowse...",
              "Select VST images folder from list below:", settings.vstImagesFolder);
    layout->addLayout(folders);

    progressLabel->setObjectName("lbProgress");
    layout->addWidget(progressLabel);
    auto* buttons = new QHBoxLayout;
    auto* close = new QPushButton("&Close", this);
    buttons->addWidget(scanButton);
    buttons->addWidget(captureButton);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(scanButton, &QPushButton::clicked, this, [this] { scanFolder(); });
    connect(captureButton, &QPushButton::clicked, this, [this] { capturePictures(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(imagesFolder, &QLineEdit::editingFinished, this, [this] { makeScanner(); });

    timer->setInterval(150);
    connect(timer, &QTimer::timeout, this, [this] { step(); });

    persist::IniHandle handle;
    persist::OpenIni(handle, settings.fileName(), kSection, persist::kIniRead);
    const int width = std::max(persist::IniInt(handle, "Width", 560), 360);
    const int height = std::max(persist::IniInt(handle, "Height", 420), 260);
    resize(width, height);
    if (persist::IniInt(handle, "Left", -1) >= 0)
        move(persist::IniInt(handle, "Left", 0), persist::IniInt(handle, "Top", 0));
    persist::CloseIni(handle);
    makeScanner();
}

TfrmScanList::~TfrmScanList() = default;

void TfrmScanList::makeScanner() {
    if (walking || (scan && scan->running())) return;
    rack::PluginScanner::Environment environment;
    environment.imagesFolder = imagesFolder->text().trimmed().toStdString();
    for (const auto& [folder, name] : rack.appSettings().vstFolders) environment.vstFolders.push_back(folder);
    // This very program, even when an upgrade has replaced its file since it started.
    environment.workerCommand = {workerProgram.empty() ? std::string("/proc/self/exe") : workerProgram,
                                 "--scan-worker"};
    scan = std::make_unique<rack::PluginScanner>(environment);
    fillLists();
}

void TfrmScanList::fillLists() {
    const std::vector<std::string>* sources[] = {&scan->dllList, &scan->gui,     &scan->ignore,
                                                 &scan->invalid, &scan->guiless, &scan->unknownError};
    for (std::size_t t = 0; t < lists.size(); ++t) {
        const std::vector<std::string>& source = *sources[t];
        bool same = lists[t]->count() == static_cast<int>(source.size());
        for (int i = 0; same && i < lists[t]->count(); ++i)
            same = lists[t]->item(i)->text() == qs(source[static_cast<std::size_t>(i)]);
        if (same) continue;
        lists[t]->clear();
        for (const std::string& line : *sources[t]) lists[t]->addItem(qs(line));
    }
}

void TfrmScanList::scanFolder() {
    if (scan->running()) return;
    progressLabel->setText("Press Esc key to cancel VST scan...");
    QApplication::processEvents();
    bool cancelRequested = false;
    QElapsedTimer checked;
    checked.start();
    const auto cancelled = [this, &cancelRequested, &checked] {
        // Esc is looked for at most every 100 ms; the window keeps painting meanwhile.
        if (checked.elapsed() < 100) return false;
        checked.restart();
        QApplication::processEvents();
        if (!cancelRequested) return false;
        cancelRequested = false;
        return QMessageBox::question(this, "Scan DLLs", "Cancel scan?", QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    };
    escapeHandler = [&cancelRequested] { cancelRequested = true; };
    // The walk lets the window paint: its own controls wait until it is done, and closing
    // the window asks the walk to stop instead.
    walking = true;
    for (QWidget* control : findChildren<QWidget*>())
        if (control != progressLabel && control != tabs && !tabs->isAncestorOf(control)) control->setEnabled(false);
    const QString folder = pluginsFolder->text().trimmed();
    const std::string result = scan->scan(folder.isEmpty() ? "*" : folder.toStdString(), cancelled);
    escapeHandler = nullptr;
    walking = false;
    for (QWidget* control : findChildren<QWidget*>()) control->setEnabled(true);
    progressLabel->setText(qs(result));
    fillLists();
    tabs->setCurrentIndex(0);
}

void TfrmScanList::capturePictures() {
    if (scan->running()) return;
    if (scan->dllList.empty()) scanFolder();
    if (scan->dllList.empty()) return;
    scan->startPictures();
    elapsed.start();
    scanButton->setEnabled(false);
    captureButton->setEnabled(false);
    timer->start();
}

void TfrmScanList::step() {
    const bool going = scan->tick();
    const qint64 seconds = elapsed.elapsed() / 1000;
    progressLabel->setText(going ? qs(scan->progressText()) + QString("  (%1 s)").arg(seconds)
                                 : qs(scan->summary) + QString(" in %1 s").arg(seconds));
    fillLists();
    if (going) return;
    timer->stop();
    scanButton->setEnabled(true);
    captureButton->setEnabled(true);
    tabs->setCurrentIndex(0);
}

void TfrmScanList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (escapeHandler) escapeHandler();
        if (scan->running()) scan->cancel();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmScanList::closeEvent(QCloseEvent* event) {
    if (walking) {
        if (escapeHandler) escapeHandler();
        event->ignore();
        return;
    }
    if (scan->running()) {
        scan->cancel();
        while (scan->tick()) {
        }
        timer->stop();
    }
    persist::IniHandle handle;
    persist::OpenIni(handle, rack.appSettings().fileName(), kSection, persist::kIniWrite);
    persist::IniInt(handle, "Left", x());
    persist::IniInt(handle, "Top", y());
    persist::IniInt(handle, "Width", width());
    persist::IniInt(handle, "Height", height());
    persist::CloseIni(handle);
    QDialog::closeEvent(event);
}

} // namespace trelvo::ui
