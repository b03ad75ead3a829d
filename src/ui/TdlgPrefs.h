#pragma once

#include <QDialog>
#include <array>
#include <memory>

#include "session/PreferencesEditor.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace trelvo::rack {
class RackController;
}

namespace trelvo::ui {

/// "Pre&ferences...": the settings the user may change while the program runs, on pages
/// chosen from a list. The dialog only shows and edits a PreferencesEditor; OK applies it,
/// Cancel drops it.
class TdlgPrefs : public QDialog {
    Q_OBJECT
public:
    TdlgPrefs(rack::RackController& controller, QWidget* owner);
    ~TdlgPrefs() override;

    rack::PreferencesEditor& editor() { return *prefs; }
    /// The problems OK met (shown to the user as well).
    const std::vector<std::string>& problems() const { return applyProblems; }

    /// Selects a page by its caption ("General", "Midi Inputs", ...).
    void showPage(const QString& caption);

    void accept() override;

private:
    QWidget* buildGeneral();
    QWidget* buildMidi(bool input);
    QWidget* buildDriver();
    QWidget* buildFolders();
    QWidget* buildDebug();
    void fillMidi(bool input);
    void fillMaps();
    void fillFolders();
    void fillDebug(bool host);
    void renamePort(bool input);
    void renameFolder();
    void editLevel(bool host);
    void editPortNumber(bool input);
    void controlPanel();
    void collect();

    rack::RackController& rack;
    std::unique_ptr<rack::PreferencesEditor> prefs;
    std::vector<std::string> applyProblems;

    QListWidget* pageList = nullptr;
    QStackedWidget* pages = nullptr;
    // General
    QCheckBox *statusBar = nullptr, *allCpus = nullptr, *isolateAfterFault = nullptr, *debug = nullptr,
              *writeLog = nullptr, *errorLog = nullptr;
    std::array<QCheckBox*, rack::PreferencesEditor::kAssociations> associations{};
    std::array<QLineEdit*, 6> folders{};
    // MIDI
    std::array<QTreeWidget*, 2> devices{}, absent{};
    QComboBox* defaultPort = nullptr;
    // Driver
    QComboBox *driver = nullptr, *outputChannel = nullptr, *inputChannel = nullptr;
    QSpinBox *outputVolume = nullptr, *inputVolume = nullptr;
    std::array<QTreeWidget*, 2> maps{};
    QLabel* information = nullptr;
    // VST folders
    QTreeWidget* vstFolders = nullptr;
    QCheckBox *linearKnobs = nullptr, *showEditor = nullptr;
    // Debug
    std::array<QTreeWidget*, 2> levels{};
    QCheckBox* verbose = nullptr;
};

} // namespace trelvo::ui
