#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <array>
#include <functional>
#include <memory>

#include "session/PluginScanner.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTimer;

namespace trelvo::rack {
class RackController;
}

namespace trelvo::ui {

/// "Scan List": the inventory of the VST folders and the picture pass, driven by a timer so
/// that the main window plays on while plug-ins load in their workers. Esc stops a pass.
class TfrmScanList : public QDialog {
    Q_OBJECT
public:
    TfrmScanList(rack::RackController& controller, QWidget* owner);
    ~TfrmScanList() override;

    rack::PluginScanner& scanner() { return *scan; }
    /// The program whose "--scan-worker" pictures the libraries; empty: this program.
    /// Tests, whose program is not Trelvo, name Trelvo's.
    static inline std::string workerProgram;
    /// "qScan &VSTs": the folder of the plug-ins field ("*" for every VST folder).
    void scanFolder();
    /// "C&apture PNGs".
    void capturePictures();
    QLabel* progress() const { return progressLabel; }
    QListWidget* list(int tab) const { return lists[static_cast<std::size_t>(tab)]; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void step();
    void fillLists();
    void makeScanner();

    rack::RackController& rack;
    std::unique_ptr<rack::PluginScanner> scan;
    QTabWidget* tabs;
    std::array<QListWidget*, 6> lists{};
    QLineEdit *pluginsFolder, *imagesFolder;
    QPushButton *scanButton, *captureButton;
    QLabel* progressLabel;
    QTimer* timer;
    QElapsedTimer elapsed;
    std::function<void()> escapeHandler; ///< set while a folder walk runs
    bool walking = false;
};

} // namespace trelvo::ui
