#pragma once

#include <QDialog>
#include <array>
#include <memory>

#include "session/PropertiesEditor.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QSpinBox;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace trelvo::rack {
class RackController;
}

namespace trelvo::ui {

/// "Properties": one slot's MIDI routes, output port, preset behaviour and plug-in details,
/// or the table of virtual MIDI ports. A view over the core's PropertiesEditor, which keeps
/// the private copy; OK writes it back, Cancel drops it. Thread: user interface.
class TfrmProperties : public QDialog {
    Q_OBJECT
public:
    TfrmProperties(rack::RackController& controller, int slot, rack::PropertiesEditor::Mode mode,
                   QWidget* parent = nullptr);
    ~TfrmProperties() override;

    rack::PropertiesEditor& editor() noexcept { return *model; }
    /// Shows the pages' current state again (after the model changed underneath).
    void refresh();

    /// OK: refused with a message while an entry is invalid.
    void accept() override;

private:
    QWidget* buildMidiPage();
    QWidget* buildDetailsPage();
    QWidget* buildInfoPage();
    void buildRouteMenu();
    void showPages();
    void showRoute();
    void showDetails();
    void storeDetails();
    void addVirtualPort(const char* kind);
    void renameVirtualPort();
    void deleteVirtualPort();
    void pickFolder(QLineEdit* field, const QString& prompt, const QString& start);
    void pickFile(QLineEdit* field, const QString& title, const QString& filter, const QString& extension);

    std::unique_ptr<rack::PropertiesEditor> model;
    rack::RackController& rack;
    QLabel* pagesHeading = nullptr;
    QListWidget* lvPages = nullptr;
    QStackedWidget* stack = nullptr;
    QTabBar* routeTabs = nullptr;
    QToolButton* routeButton = nullptr;
    QMenu* routeMenu = nullptr;
    QComboBox* cbMIDIin = nullptr;
    QLabel* offline = nullptr;
    QComboBox* cbMIDIout = nullptr;
    QCheckBox* ckIsVport = nullptr;
    QCheckBox* ckDefault = nullptr;
    std::array<QToolButton*, 16> rowButtons{};
    std::array<std::array<QSpinBox*, rack::PropertiesEditor::kNumColumns>, 16> spins{};
    std::array<QCheckBox*, midi::kNumMessageTypes> typeBoxes{};
    QListWidget* lbCC = nullptr;
    // Details
    QComboBox *cbPCkeys = nullptr, *cbPCmw = nullptr, *cbPresetMode = nullptr, *cbFXBPmode = nullptr,
              *cbMIDImode = nullptr, *cbMIDIchannels = nullptr, *cbUseFXBP = nullptr;
    QCheckBox *ckChgFXP_MidiPC = nullptr, *ckMIDI_1_16 = nullptr, *ckCheckVstId = nullptr, *ckIsMIDIplugin = nullptr;
    QLineEdit *edVstIds = nullptr, *edFXBfolder = nullptr, *edFXBfile = nullptr, *edFXPfolder = nullptr,
              *edFXPfile = nullptr, *edFXPbnk = nullptr, *edDLLtemplate = nullptr;
    QPlainTextEdit* infoText = nullptr;
    bool showing = false;
};

} // namespace trelvo::ui
