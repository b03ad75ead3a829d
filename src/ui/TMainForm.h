#pragma once

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "session/ListColours.h"
#include "session/ProgramEntry.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QFrame;
class QLabel;
class QListWidget;
class QMdiArea;
class QMenu;
class QSpinBox;
class QSplitter;
class QTabBar;
class QTimer;
class QToolButton;

namespace trelvo::app {
class Session;
}
namespace trelvo::host {
class TVstPlugIn;
}
namespace trelvo::rack {
class RackController;
}

namespace trelvo::ui {

class TFrmMcuSts;
class TFrmSts;
class TfrmScanList;

class ParameterPanel;
class SlotListModel;
class SlotListView;
class TVstEdt;

/// The main window: the slot list, the presets panel, the page tabs and the transport over
/// the rack controller, the menus and keys, and the program's start-up and shut-down.
/// Thread: user interface.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    /// Where the window stands in its life.
    enum class Stage { Created, Shown, Painted, Closing, Closed };
    /// The keyboard focus zones, shown by the last item of the main menu.
    enum class Zone { SlotList, PresetList, ParameterList, Editor };

    /// startFile is the command line's file (a project, a plug-in library or a profile);
    /// driver, when given, replaces the settings' driver for this run.
    TMainForm(app::Session& session, std::string startFile, std::string driver = {});
    ~TMainForm() override;

    Stage stage() const noexcept { return lifeStage; }
    /// Opens a project as "Open Project" does, without asking for it (remote control,
    /// session managers); the editors, tabs and placement follow.
    bool openProjectFile(const std::string& path);
    /// Saves to path with the window's placement, as "Save Project As" does, unasked.
    bool saveProjectFile(const std::string& path);
    /// A session manager names the project: the start opens a new rack, not the
    /// command line's file or "Last Project".
    bool managedSession = false;
    /// "New Project": a new rack with the editors and tabs following.
    void startNewProject() { newProject(); }
    Zone zone() const noexcept { return focusZone; }
    /// The text of the focus-zone menu item ("-1-LV").
    QString zoneText() const;
    const rack::ListColours& colours() const noexcept { return listColours; }
    rack::RackController& controller() noexcept { return rack; }
    /// The command behind a menu item, by its object name ("mnAddChannel").
    QAction* command(const QString& name) const;
    SlotListView* slotList() const noexcept { return lv; }
    QListWidget* presetList() const noexcept { return lp; }
    QTabBar* pageTabs() const noexcept { return tabs; }
    QLabel* presetHeader() const noexcept { return presetCaption; }
    /// The header panel of a zone: its colour tells where the focus is.
    QWidget* zoneHeader(Zone zone) const;
    const rack::ProgramEntry& programEntry() const noexcept { return entry; }
    ParameterPanel* parameterList() const noexcept { return parameters; }

    /// Where the parameter list stands: 'M' in the mixer panel, 'D' docked; the small
    /// letters hide it and remember where it was.
    void setParameterPlace(char place);
    /// Restores the window and brings it in front of the others.
    void bringToFront();
    /// Opens a file another start of the program handed over, in front.
    void openHandedFile(const std::string& file);
    /// "&Export parameters..." and "Export 1st preset..." for the selected slot.
    void exportParameters(bool firstPreset);

    // ---- Plug-in editors ----
    /// Opens the slot's editor in a window of the client area; false only when the plug-in
    /// refuses to open it.
    bool ShowEditor(int slot);
    /// Closes the slot's editor and its window.
    void HideEditor(int slot);
    /// For the selected slot: 0 hides, 1 shows, 2 toggles its editor.
    void ShowHideEditor(int op);
    /// The editor window of a slot, or null.
    TVstEdt* editorOf(int slot) const;
    /// The slots of the open editor windows, the front one first.
    std::vector<int> openEditorsFrontFirst() const;
    /// Shows the page's editors and closes the others.
    void changePage(int page);
    /// The slot of the editor last shown or hidden.
    int EditorSlot = -1;

    /// One idle tick: the controller's duties, then what the window shows. The idle timer
    /// calls it; tests may call it directly.
    void idleTick();
    /// Enables the menu items for the selected slot.
    void updateMenus();
    /// Recomputes the colours from the palette and repaints.
    void applyColours();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Layout and life
    void buildLayout();
    QWidget* buildTopBar();
    QWidget* buildTransportPanel();
    QWidget* buildPresetPanel();
    void firstPaint();
    void applyWindowPlacement(bool fromProject);
    void keepWindowPlacement();
    bool closeQuery();
    void closeSequence();

    // Menus and commands
    void buildMenus();
    QAction* addCommand(QMenu* menu, const QString& name, const QString& text, std::function<void()> run,
                        const QKeySequence& shortcut = {});
    QAction* addShown(QMenu* menu, const QString& name, const QString& text, const QString& keyText,
                      std::function<void()> run);
    void buildListMenu();
    void buildPresetMenu();
    void buildTabMenu();
    void buildProgramModeMenu(QMenu* menu);
    void showProgramModeMenu(const QPoint& at);
    void notBuiltYet(std::initializer_list<const char*> names);

    void newProject();
    void openProject();
    void saveProject(bool askPath);
    void loadPlugin(bool replace);
    /// "Slot &Properties..." for the selected slot, and "&Virtual Ports...".
    void openProperties();
    void openVirtualPorts();
    void deleteSelected(bool mixer);
    void renameSlot();
    void renameTab();
    void reconcileEditors();
    void closeAllEditors();
    void activateEditor(int slot);
    void closeEditorWindow(TVstEdt* window);
    void reportFaults();
    void setProgramMode(char mode);
    // ---- The scanner and editor pictures ----
    void openScanList();
    void quickScan();
    /// "ClpBrdBMP", "ClpBrdPNG", or ".bmp"/".png" for a file chosen in a dialog.
    void captureEditor(const QString& target);
    // ---- Preferences, status windows and the load display ----
    void openPreferences();
    void showStatus(int layout);
    void hideStatus();
    void toggleSurfaceWindow();
    /// The surface's window follows what the surface shows.
    void refreshSurfaceWindow();
    /// Lends the control surface the window's selection, save dialog and dialog keys.
    void connectSurface();
    void buildStatusBar();
    void refreshLoadDisplay();
    void restoreCompanions();
    void keepCompanions();
    // ---- Preset file commands ----
    host::TVstPlugIn* presetSlot();
    std::string presetDialogFolder(const std::string& slotFolder) const;
    void rememberPresetFolder(const std::string& file);
    void presetsChanged();
    void takeListItem();
    void openBankFile();
    void saveBankFile(bool parameters);
    void loadPresetFiles(bool several, bool useFileName);
    void savePresetFile(bool parameters);
    void exportPresets();
    void renamePreset();
    void copyPreset();
    void pastePreset();
    void movePreset(bool up);
    void generateInsFile();
    void pluginHelp();
    void openHelp();

    // Keys
    bool hookKey(QObject* watched, QKeyEvent* key);
    bool previewKey(QObject* watched, QKeyEvent* key);
    bool popupKey(QObject* watched, QKeyEvent* key);
    bool passToEditor(QKeyEvent* key, const char* when);
    void showEntry(rack::ProgramEntry::Result result);
    void toggleFocus();
    void updateZone();

    // Showing the controller's state
    void refreshSlotList();
    void refreshPresets();
    void refreshTransport();
    void refreshTabs();
    void selectSlot(int slot);
    void transportKey(Qt::KeyboardModifiers modifiers);

    app::Session& session;
    rack::RackController& rack;
    std::string startFile;
    std::string driverName;
    Stage lifeStage = Stage::Created;
    bool painted = false;
    Zone focusZone = Zone::SlotList;
    Zone lastListZone = Zone::SlotList;
    rack::ListColours listColours;
    rack::ProgramEntry entry;
    bool entryShown = false;

    QTimer* idleTimer = nullptr;
    QTimer* beatTimer = nullptr;
    SlotListModel* model = nullptr;
    SlotListView* lv = nullptr;
    QListWidget* lp = nullptr;
    ParameterPanel* parameters = nullptr;
    QString exportFolder; ///< where the last parameter export went
    QDockWidget* leftDock = nullptr;
    QDockWidget* parameterDock = nullptr;
    QSplitter* leftSplit = nullptr;
    QMdiArea* clientArea = nullptr;
    QTabBar* tabs = nullptr;
    QToolButton* runButton = nullptr;
    QLabel* slotLabel = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* xrunLabel = nullptr;          ///< in the list's header, once an xrun happened
    std::array<QLabel*, 4> statusTexts{}; ///< the status bar: block times, shares, xruns, strips
    QPointer<TFrmSts> statusWindow;
    QPointer<TfrmScanList> scanList;
    QPointer<TFrmMcuSts> surfaceWindow;
    QWidget* listHeader = nullptr;
    QWidget* presetHeaderPanel = nullptr;
    QWidget* parameterHeader = nullptr;
    QLabel* presetCaption = nullptr;
    QToolButton* presetModeButton = nullptr;
    QLabel* transportLabel = nullptr;
    QSpinBox* tempoField = nullptr;
    QSpinBox* numeratorField = nullptr;
    QSpinBox* denominatorField = nullptr;
    QToolButton* startButton = nullptr;
    QToolButton* stopButton = nullptr;
    QLabel* beatIndicator = nullptr;
    QAction* zoneItem = nullptr;
    QMenu* listMenu = nullptr;
    QMenu* presetMenu = nullptr;
    QMenu* tabMenu = nullptr;
    QMenu* programModeMenu = nullptr;
    std::map<QString, QAction*> commands;
    /// Popup-menu keys: the widget that owns the menu, the key, and the command.
    struct PopupKey {
        QWidget* owner;
        QKeyCombination key;
        QAction* action;
    };
    std::vector<PopupKey> popupKeys;
    std::string lastCaption;
    /// The editor windows, by the plug-in slot object they show (slots move in the rack;
    /// the objects stay the same).
    std::map<const void*, TVstEdt*> editorWindows;
    bool activatingFromEditor = false;
    int offeredKey = 0;         ///< the key last offered to an editor before the shortcuts
    bool editorTookKey = false; ///< and whether the editor took it
    // What the window shows now, so that an idle tick changes only what changed.
    std::vector<std::string> shownPresets;
    std::string shownState, shownStateText;
};

} // namespace trelvo::ui
