// The main window's menus, popup menus and the commands behind them.

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QToolButton>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "platform/TrelvoHome.h"
#include "presets/PresetList.h"
#include "session/MenuState.h"
#include "session/RackController.h"
#include "ui/CommonDialogs.h"
#include "ui/HelpFiles.h"
#include "ui/SlotListModel.h"
#include "ui/SlotListView.h"
#include "ui/TMainForm.h"
#include "ui/TfrmProperties.h"

namespace trelvo::ui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

const char* const kPluginFilter = "VST plug-ins (*.so)|*.so|all files (*.*)|*.*";
const char* const kProjectFilter = "project files (*.vprj)|*.vprj|all files (*.*)|*.*";

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

QAction* TMainForm::addCommand(QMenu* menu, const QString& name, const QString& text, std::function<void()> run,
                               const QKeySequence& shortcut) {
    auto* action = new QAction(text, this);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    if (run) connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
    menu->addAction(action);
    commands[name] = action;
    return action;
}

QAction* TMainForm::addShown(QMenu* menu, const QString& name, const QString& text, const QString& keyText,
                             std::function<void()> run) {
    // The key is shown beside the item; the window's key handling carries it out, so that a
    // popup menu's key acts only while its list has the focus.
    return addCommand(menu, name, keyText.isEmpty() ? text : text + "\t" + keyText, std::move(run));
}

QAction* TMainForm::command(const QString& name) const {
    const auto found = commands.find(name);
    return found == commands.end() ? nullptr : found->second;
}

void TMainForm::notBuiltYet(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (QAction* action = command(name)) {
            action->setEnabled(false);
            action->setProperty("notBuilt", true);
        }
}

void TMainForm::buildMenus() {
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu("&File");
    addCommand(
        file, "mnNewProject", "&New Project", [this] { newProject(); }, QKeySequence("Ctrl+N"));
    addCommand(
        file, "mnOpenProject", "&Open Project ...", [this] { openProject(); }, QKeySequence("Ctrl+O"));
    addCommand(file, "mnSaveProjectAs", "Save Project &As ...", [this] { saveProject(true); });
    addCommand(
        file, "mnSaveProject", "&Save Project", [this] { saveProject(false); }, QKeySequence("Ctrl+S"));
    QAction* autoLoad = addCommand(file, "mnAutoLoad", "AutoLoad Pro&ject",
                                   [this] { rack.appSettings().autoLoadProject = command("mnAutoLoad")->isChecked(); });
    autoLoad->setCheckable(true);
    file->addSeparator();
    addCommand(file, "mnExportParams", "&Export parameters...", [this] { exportParameters(false); });
    addCommand(file, "mnExport1stPreset", "Export 1st preset...", [this] { exportParameters(true); });
    addCommand(file, "mnPreferences", "Pre&ferences...", [this] { openPreferences(); });
    addCommand(file, "mnRun", "&Run", {});
    addCommand(
        file, "mnExit", "E&xit", [this] { close(); }, QKeySequence("Alt+X"));
    file->addSeparator();
    addShown(file, "mnFocusList", "Focus &List", "Pause", [this] { toggleFocus(); });
    addCommand(
        file, "mnRefreshList", "RefreshList",
        [this] {
            rack.refreshList();
            refreshSlotList();
            refreshPresets();
        },
        QKeySequence("F5"));
    addCommand(file, "mnIniFile", "&IniFile...",
               [this] { openSettingsFile(this, rack.appSettings().fileName(), rack.appSettings().textEditor); });
    file->addSeparator();
    // The capture commands follow the editors opened and closed since the last refresh.
    connect(file, &QMenu::aboutToShow, this, [this] { updateMenus(); });
    addCommand(file, "mnCaptureBmp", "&Capture VST-GUI to BMP", [this] { captureEditor("ClpBrdBMP"); });
    addCommand(file, "mnCapturePng", "Capt&ure VST-GUI to PNG", [this] { captureEditor("ClpBrdPNG"); });
    addCommand(file, "mnSaveBmp", "Save VST-GUI to &BMP-file...", [this] { captureEditor(".bmp"); });
    addCommand(file, "mnSavePng", "Save VST-GUI to &PNG-file...", [this] { captureEditor(".png"); });
    addCommand(file, "mnScanPngs", "Scan + Save &VST-GUI PNGs...", [this] { openScanList(); });
    addCommand(file, "mnQuickScan", "&Quick scan VST folders", [this] { quickScan(); });

    QMenu* vst = bar->addMenu("&VST");
    addCommand(vst, "mnLoadPlugin", "&Load VST Plugin ...", [this] { loadPlugin(false); });
    addCommand(vst, "mnReplacePlugin", "&Replace Plugin ...", [this] { loadPlugin(true); });
    addCommand(vst, "mnClosePlugin", "&Close Plugin", [this] { deleteSelected(false); });
    vst->addSeparator();
    QAction* isolated = addCommand(vst, "mnIsolated", "Run in its own &process", [this] {
        const int index = rack.selected;
        // The editor shows the plug-in of the process it runs in now: it closes first.
        if (TVstEdt* editor = editorOf(index)) closeEditorWindow(editor);
        rack.setIsolated(index, command("mnIsolated")->isChecked());
        refreshSlotList();
        updateMenus();
    });
    isolated->setCheckable(true);
    connect(vst, &QMenu::aboutToShow, this, [this] { updateMenus(); });
    isolated->setToolTip("A crash of the plug-in ends only its own process; Trelvo restarts it with its state");

    QMenu* midi = bar->addMenu("&MIDI");
    addCommand(midi, "mnPanic", "Panic!", [this] { rack.midi().cmdPanic(); });
    addCommand(midi, "mnVirtualPorts", "&Virtual Ports...", [this] { openVirtualPorts(); });
    addCommand(midi, "mnInitMidi", "initMIDI", [this] {
        rack.midi().setMIDI(midi::iClose);
        rack.startMidi();
    });

    QMenu* presets = bar->addMenu("&Presets");
    const auto select = [this](int code) {
        return [this, code] {
            rack.presets().SelectPreset(rack.selected, code, true);
            refreshPresets();
            refreshSlotList();
        };
    };
    addCommand(presets, "mnPreviousPreset", "&Previous Preset", select(presets::kPreviousPreset));
    addCommand(presets, "mnNextPreset", "&Next Preset", select(presets::kNextPreset));
    addCommand(presets, "mnFirstPreset", "&First Preset", select(presets::kFirstPreset));
    addCommand(presets, "mnLastPreset", "&Last Preset", select(presets::kLastPreset));
    addCommand(presets, "mnRenamePreset", "Rena&me Preset", [this] { renamePreset(); });
    presets->addSeparator();
    addCommand(presets, "mnOpenBank", "&Open Bank (*.fxb) ...", [this] { openBankFile(); });
    addCommand(presets, "mnSaveBank", "Save Bank &As (*.fxb) ...", [this] { saveBankFile(false); });
    addCommand(presets, "mnSaveBankPrms", "Save Bank Prms As (*.fxb) ...", [this] { saveBankFile(true); });
    addCommand(presets, "mnLoadPreset", "Loa&d Preset (*.fxp) ...", [this] { loadPresetFiles(false, false); });
    addCommand(presets, "mnSavePreset", "Sa&ve Preset As (*.fxp) ...", [this] { savePresetFile(false); });
    addCommand(presets, "mnSavePresetPrms", "Save Preset Prms As (*.fxp) ...", [this] { savePresetFile(true); });
    addCommand(presets, "mnExportPresets", "&Export all presets to Folder...", [this] { exportPresets(); });

    QMenu* window = bar->addMenu("&Window");
    addCommand(window, "mnAddTab", "&Add Tab", [this] {
        if (rack.pages.add()) refreshTabs();
    });
    addCommand(window, "mnDeleteTab", "&Delete Tab", [this] {
        if (rack.pages.remove(&rack.rack())) {
            refreshTabs();
            changePage(rack.pages.current);
        }
    });
    addCommand(window, "mnRenameTab", "&Rename Tab", [this] { renameTab(); });
    addCommand(
        window, "mnNextTab", "NextTab", [this] { changePage(rack.pages.next()); }, QKeySequence("Ctrl+PgUp"));
    addCommand(
        window, "mnPrevTab", "PrevTab", [this] { changePage(rack.pages.previous()); }, QKeySequence("Ctrl+PgDown"));
    window->addSeparator();
    auto* parameterPlaces = new QActionGroup(this);
    for (const auto& [name, text] :
         {std::pair{"mnParamsMixer", "Show Params in &Mixer"}, std::pair{"mnParamsDocked", "Show Params D&ocked"},
          std::pair{"mnParamsHide", "&Hide params"}}) {
        const char place = std::string_view(name) == "mnParamsMixer"    ? 'M'
                           : std::string_view(name) == "mnParamsDocked" ? 'D'
                                                                        : 'h';
        QAction* action = addCommand(window, name, text, [this, place] {
            // Hiding remembers the place: the small letter of the current one.
            const char now = rack.layout.parameterDock;
            setParameterPlace(place != 'h' ? place : static_cast<char>(now == 'M' ? 'm' : now == 'D' ? 'd' : now));
        });
        action->setCheckable(true);
        parameterPlaces->addAction(action);
    }
    command("mnParamsHide")->setChecked(true);
    window->addSeparator();
    auto* statusPlaces = new QActionGroup(this);
    for (const auto& [name, text] : {std::pair{"mnStatus1", "Show Status &1"}, std::pair{"mnStatus2", "Show Status &2"},
                                     std::pair{"mnStatusHide", "H&ide Status"}}) {
        QAction* action = addCommand(window, name, text, [this, name = std::string(name)] {
            if (name == "mnStatusHide")
                hideStatus();
            else
                showStatus(name == "mnStatus1" ? 1 : 2);
        });
        action->setCheckable(true);
        statusPlaces->addAction(action);
    }
    command("mnStatusHide")->setChecked(true);
    addCommand(window, "mnMcu", "MC&U", [this] { toggleSurfaceWindow(); })->setCheckable(true);

    QMenu* help = bar->addMenu("&Help");
    addCommand(
        help, "mnHelp", "Trelvo &Help", [this] { openHelp(); }, QKeySequence("F1"));
    addCommand(help, "mnAbout", "&About...", [this] { showAbout(this); });

    zoneItem = bar->addAction("-1-LV");
    zoneItem->setObjectName("mnZone");
    zoneItem->setEnabled(false);
    commands["mnZone"] = zoneItem;

    buildListMenu();
    buildPresetMenu();
    buildTabMenu();
    programModeMenu = new QMenu(this);
    programModeMenu->setObjectName("mnPgmMode");
    buildProgramModeMenu(programModeMenu);
    runButton->setMenu(programModeMenu);

    // Commands of windows that are not part of the program yet.
    notBuiltYet({"mnRun"});
    updateMenus();
}

void TMainForm::buildListMenu() {
    listMenu = new QMenu(this);
    listMenu->setObjectName("mnList");
    const auto key = [this](QAction* action, QKeyCombination combination) {
        popupKeys.push_back(PopupKey{lv, combination, action});
    };
    const auto add = [this](rack::SlotKind kind) {
        return [this, kind] {
            rack.addSlot(kind);
            refreshSlotList();
            updateMenus();
        };
    };
    key(addShown(listMenu, "mnAddChannel", "Add &Channel", "Ctrl+Ins", add(rack::SlotKind::Channel)),
        QKeyCombination(Qt::ControlModifier, Qt::Key_Insert));
    key(addShown(listMenu, "mnAddGroup", "Add &Group", "Shift+Ctrl+Ins", add(rack::SlotKind::Group)),
        QKeyCombination(Qt::ShiftModifier | Qt::ControlModifier, Qt::Key_Insert));
    key(addShown(listMenu, "mnDelChannel", "D&el Channel/Group", "Ctrl+Del", [this] { deleteSelected(true); }),
        QKeyCombination(Qt::ControlModifier, Qt::Key_Delete));
    addShown(listMenu, "mnAddMidiSlot", "Add &MIDI Slot", {}, add(rack::SlotKind::Midi));
    addShown(listMenu, "mnAddInputSlot", "Add &Input Slot", {}, add(rack::SlotKind::Input));
    addShown(listMenu, "mnAddOutputSlot", "Add &Output Slot", {}, add(rack::SlotKind::Output));
    listMenu->addSeparator();
    key(addShown(listMenu, "mnRenameSlot", "Rename Slot...", "F2", [this] { renameSlot(); }),
        QKeyCombination(Qt::Key_F2));
    addShown(listMenu, "mnSaveProfile", "Save &VSTprofile", {}, [this] { rack.savePluginProfile(rack.selected); });
    key(addShown(listMenu, "mnAddPlugin", "&Add Plugin...", "Ins", [this] { loadPlugin(false); }),
        QKeyCombination(Qt::Key_Insert));
    key(addShown(listMenu, "mnDelPlugin", "&Del MIDI/Plugin", "Del", [this] { deleteSelected(false); }),
        QKeyCombination(Qt::Key_Delete));
    key(addShown(listMenu, "mnLVreplacePlugin", "&Replace Plugin", "R", [this] { loadPlugin(true); }),
        QKeyCombination(Qt::Key_R));
    key(addShown(listMenu, "mnPluginHelp", "Plugin &Help...", "Shift+Num Lock", [this] { pluginHelp(); }),
        QKeyCombination(Qt::ShiftModifier, Qt::Key_NumLock));
    key(addShown(listMenu, "mnShowLevels", "Show Levels/presets", "Backspace",
                 [this] { model->setColumnCursor(model->levelsView() ? 1 : 2); }),
        QKeyCombination(Qt::Key_Backspace));
    listMenu->addSeparator();
    const auto moved = [this](bool up) {
        return [this, up] {
            if (up)
                rack.moveUp(rack.selected);
            else
                rack.moveDown(rack.selected);
            refreshSlotList();
            updateMenus();
        };
    };
    key(addShown(listMenu, "mnLVmoveUp", "Move &Up", "Alt+Up", moved(true)),
        QKeyCombination(Qt::AltModifier, Qt::Key_Up));
    key(addShown(listMenu, "mnLVmoveDown", "Move D&own", "Alt+Down", moved(false)),
        QKeyCombination(Qt::AltModifier, Qt::Key_Down));
    addShown(listMenu, "mnShowEditor", "Show/hide Editor", "Ctrl+W", [this] { ShowHideEditor(2); });
    listMenu->addSeparator();
    const auto switched = [this](int which) {
        return [this, which] {
            const int slot = rack.selected;
            if (slot < 0 || slot >= rack.rack().numSlots()) return;
            switch (which) {
            case 0: rack.switchOn(slot); break;
            case 1: rack.toggleBypass(slot); break;
            case 2: rack.toggleMute(slot); break;
            default: rack.toggleSolo(slot); break;
            }
            refreshSlotList();
        };
    };
    key(addShown(listMenu, "mnOn", "On/Off", "O", switched(0)), QKeyCombination(Qt::Key_O));
    key(addShown(listMenu, "mnBypass", "Bypass", "B", switched(1)), QKeyCombination(Qt::Key_B));
    key(addShown(listMenu, "mnMute", "Mute", "M", switched(2)), QKeyCombination(Qt::Key_M));
    key(addShown(listMenu, "mnSolo", "Solo", "S", switched(3)), QKeyCombination(Qt::Key_S));
    listMenu->addSeparator();
    addShown(listMenu, "mnLooseFocus", "Loose focus", "Pause", [this] { toggleFocus(); });
    addShown(listMenu, "mnIncreaseValue", "Increase Value", ".",
             [this] { rack.stepFocusedValue(model->columnCursor(), 1); });
    addShown(listMenu, "mnDecreaseValue", "Decrease Value", ",",
             [this] { rack.stepFocusedValue(model->columnCursor(), -1); });
    QMenu* modes = listMenu->addMenu("&/ Preset Dispay + Set Mode");
    modes->setObjectName("mnPresetDisplay");
    buildProgramModeMenu(modes);
    listMenu->addSeparator();
    key(addShown(listMenu, "mnSlotProperties", "Slot &Properties...", "Alt+Enter", [this] { openProperties(); }),
        QKeyCombination(Qt::AltModifier, Qt::Key_Return));
    addShown(listMenu, "mnGenerateIns", "generate INS file", {}, [this] { generateInsFile(); });

    lv->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lv, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        updateMenus();
        listMenu->popup(lv->viewport()->mapToGlobal(at));
    });
}

void TMainForm::buildPresetMenu() {
    presetMenu = new QMenu(this);
    presetMenu->setObjectName("mnLP");
    const auto listKey = [this](QAction* action, QKeyCombination key) {
        popupKeys.push_back(PopupKey{lp, key, action});
    };
    listKey(addShown(presetMenu, "mnLPmoveUp", "Move &Up", "Alt+Up", [this] { movePreset(true); }),
            QKeyCombination(Qt::AltModifier, Qt::Key_Up));
    listKey(addShown(presetMenu, "mnLPmoveDown", "Move D&own", "Alt+Down", [this] { movePreset(false); }),
            QKeyCombination(Qt::AltModifier, Qt::Key_Down));
    listKey(addShown(presetMenu, "mnCopyPreset", "&Copy Preset", "Ctrl+C", [this] { copyPreset(); }),
            QKeyCombination(Qt::ControlModifier, Qt::Key_C));
    listKey(addShown(presetMenu, "mnPastePreset", "&Paste Preset", "Ctrl+V", [this] { pastePreset(); }),
            QKeyCombination(Qt::ControlModifier, Qt::Key_V));
    listKey(addShown(presetMenu, "mnLPrenamePreset", "Rena&me Preset", "F2",
                     [this] {
                         takeListItem();
                         renamePreset();
                     }),
            QKeyCombination(Qt::Key_F2));
    listKey(addShown(presetMenu, "mnLPloadPreset", "&Load Preset(s)...", "Ins",
                     [this] {
                         takeListItem();
                         loadPresetFiles(true, false);
                     }),
            QKeyCombination(Qt::Key_Insert));
    listKey(addShown(presetMenu, "mnLPloadFileName", "Load &Preset(s) + use FileName", "Ctrl+Ins",
                     [this] {
                         takeListItem();
                         loadPresetFiles(true, true);
                     }),
            QKeyCombination(Qt::ControlModifier, Qt::Key_Insert));
    listKey(addShown(presetMenu, "mnLPsavePreset", "Save Preset &As...", "Ctrl+S",
                     [this] {
                         takeListItem();
                         savePresetFile(false);
                     }),
            QKeyCombination(Qt::ControlModifier, Qt::Key_S));
    addShown(presetMenu, "mnLPexport", "&Export Presets...", {}, [this] {
        takeListItem();
        exportPresets();
    });
    lp->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lp, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QListWidgetItem* item = lp->itemAt(at)) lp->setCurrentItem(item);
        updateMenus();
        presetMenu->popup(lp->viewport()->mapToGlobal(at));
    });
}

void TMainForm::buildTabMenu() {
    tabMenu = new QMenu(this);
    tabMenu->setObjectName("mnTabs");
    tabMenu->addAction("&Add", this, [this] { command("mnAddTab")->trigger(); });
    tabMenu->addAction("&Delete", this, [this] { command("mnDeleteTab")->trigger(); });
    tabMenu->addAction("&Rename...", this, [this] { renameTab(); });
    tabs->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabs, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QList<QAction*> items = tabMenu->actions();
        items[0]->setEnabled(command("mnAddTab")->isEnabled());
        items[1]->setEnabled(command("mnDeleteTab")->isEnabled());
        tabMenu->popup(tabs->mapToGlobal(at));
    });
}

void TMainForm::buildProgramModeMenu(QMenu* menu) {
    auto* group = new QActionGroup(menu);
    for (const auto& [mode, text] : {std::pair{'s', "s.Std-FXB"}, std::pair{'p', "p.FXP-Banks"},
                                     std::pair{'x', "x.Std-FXP"}, std::pair{'m', "m.MIDI"}}) {
        QAction* action = menu->addAction(text);
        action->setCheckable(true);
        action->setData(QChar(mode));
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, mode = mode] { setProgramMode(mode); });
    }
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        const int slot = rack.selected;
        const bool open = slot >= 0 && slot < rack.rack().numSlots() && rack.rack().slot(slot).PlugLoaded.load();
        const char mode = open ? rack.rack().slot(slot).ProgramMode() : ' ';
        for (QAction* action : menu->actions()) {
            action->setEnabled(open);
            action->setChecked(action->data().toChar() == QChar(mode));
        }
    });
}

void TMainForm::showProgramModeMenu(const QPoint& at) {
    programModeMenu->popup(at);
}

void TMainForm::setProgramMode(char mode) {
    rack.presets().setProgramMode(rack.selected, mode);
    refreshPresets();
    refreshSlotList();
}

void TMainForm::updateMenus() {
    const rack::MenuState state = rack::menuStateOf(rack);
    const auto enable = [this](const char* name, bool on) {
        QAction* action = command(name);
        if (action != nullptr && !action->property("notBuilt").toBool()) action->setEnabled(on);
    };
    for (const char* name : {"mnAddChannel", "mnAddGroup", "mnAddMidiSlot", "mnAddInputSlot", "mnAddOutputSlot",
                             "mnAddPlugin", "mnLoadPlugin"})
        enable(name, state.addSlot);
    enable("mnDelChannel", state.deleteMixer);
    enable("mnDelPlugin", state.deletePlugIn);
    enable("mnClosePlugin", state.closePlugIn);
    enable("mnReplacePlugin", state.replacePlugIn);
    enable("mnLVreplacePlugin", state.replacePlugIn);
    enable("mnSaveProfile", state.plugInOpen);
    enable("mnIsolated", state.plugInOpen);
    if (QAction* isolated = command("mnIsolated"))
        isolated->setChecked(state.plugInOpen && rack.rack().slot(rack.selected).Isolated.load());
    enable("mnShowEditor", state.showEditor);
    const bool editorOpen = rack.selected >= 0 && editorOf(rack.selected) != nullptr;
    for (const char* name : {"mnCaptureBmp", "mnCapturePng", "mnSaveBmp", "mnSavePng"}) enable(name, editorOpen);
    enable("mnSlotProperties", state.properties);
    enable("mnPluginHelp", state.plugInOpen);
    enable("mnLVmoveUp", state.moveUp);
    enable("mnLVmoveDown", state.moveDown);
    enable("mnOn", state.switches);
    enable("mnBypass", state.switches);
    enable("mnMute", state.muteSolo);
    enable("mnSolo", state.muteSolo);
    enable("mnRenameSlot", state.rename);
    enable("mnAddTab", state.addPage);
    enable("mnDeleteTab", state.deletePage);
    for (const char* name : {"mnPreviousPreset", "mnNextPreset", "mnFirstPreset", "mnLastPreset"})
        enable(name, state.previousNext);
    enable("mnRenamePreset", state.renamePreset);
    enable("mnOpenBank", state.openBank);
    enable("mnSaveBank", state.saveBank);
    enable("mnSaveBankPrms", state.saveBankPrms);
    enable("mnLoadPreset", state.loadPreset);
    enable("mnSavePreset", state.savePreset);
    enable("mnSavePresetPrms", state.savePresetPrms);
    enable("mnExportPresets", state.exportPresets);
    enable("mnGenerateIns", state.generateIns);
    // The list's popup menu.
    for (const char* name : {"mnCopyPreset", "mnPastePreset", "mnLPrenamePreset"}) enable(name, state.listMenu);
    enable("mnLPloadPreset", state.listMenu && state.loadPreset);
    enable("mnLPloadFileName", state.listMenu && state.loadPreset);
    enable("mnLPsavePreset", state.listMenu && state.savePreset);
    for (const char* name : {"mnLPmoveUp", "mnLPmoveDown", "mnLPexport"}) enable(name, state.listMoveAndExport);
}

// ---- Commands ----

void TMainForm::openProperties() {
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots()) return;
    TfrmProperties dialog(rack, slot, rack::PropertiesEditor::kSlotMode, this);
    centreWindow(this, &dialog);
    if (dialog.exec() == QDialog::Accepted) {
        refreshSlotList();
        refreshPresets();
    }
}

void TMainForm::openVirtualPorts() {
    // Notes held now would hang while the ports change under them.
    rack.midi().cmdPanic();
    TfrmProperties dialog(rack, rack.selected, rack::PropertiesEditor::kVirtualPortMode, this);
    centreWindow(this, &dialog);
    dialog.exec();
}

void TMainForm::newProject() {
    rack.newProject();
    reconcileEditors();
    refreshTabs();
    refreshSlotList();
    refreshPresets();
}

void TMainForm::openProject() {
    QString path = qs(rack.appSettings().lastProject);
    if (!fileDialog(this, path, "Open Project", 16, kProjectFilter, ".vprj")) return;
    openProjectFile(path.toStdString());
}

bool TMainForm::openProjectFile(const std::string& path) {
    const bool opened = rack.openProject(path);
    // The editors of plug-ins that closed go, whatever came of the new project.
    reconcileEditors();
    if (!opened) return false;
    applyWindowPlacement(true);
    refreshTabs();
    refreshSlotList();
    refreshPresets();
    changePage(rack.pages.current);
    return true;
}

bool TMainForm::saveProjectFile(const std::string& path) {
    keepWindowPlacement();
    return rack.saveProjectTo(path);
}

void TMainForm::bringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void TMainForm::openHandedFile(const std::string& file) {
    bringToFront();
    if (file.empty() || lifeStage != Stage::Painted) return;
    diag::hookedLog("handed over: " + file);
    const rack::RackController::Handed handed = rack.openHandedFile(file);
    reconcileEditors();
    if (handed.project && handed.opened) {
        applyWindowPlacement(true);
        changePage(rack.pages.current);
    }
    refreshTabs();
    refreshSlotList();
    refreshPresets();
    if (handed.slot >= 0 && handed.opened) {
        selectSlot(handed.slot);
        ShowEditor(handed.slot);
    }
    updateMenus();
}

void TMainForm::saveProject(bool askPath) {
    keepWindowPlacement();
    if (askPath)
        rack.saveProjectAs();
    else
        rack.saveProject();
}

void TMainForm::loadPlugin(bool replace) {
    const int slot = rack.selected;
    if (replace &&
        (slot < 0 || slot >= rack.rack().numSlots() || rack.rack().slot(slot).kind() != rack::SlotKind::Plugin))
        return;
    QString path = qs(replace && !rack.rack().slot(slot).DllPath.empty() ? rack.rack().slot(slot).DllPath
                                                                         : rack.appSettings().pluginFolder + "/");
    if (!fileDialog(this, path, replace ? "Replace Plugin" : "Load VST Plugin", 16, kPluginFilter, ".so")) return;
    rack.loadPlugin(path.toStdString(), replace ? slot : -1);
    reconcileEditors();
    refreshSlotList();
    refreshPresets();
    updateMenus();
}

void TMainForm::deleteSelected(bool mixer) {
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots()) return;
    const rack::SlotKind kind = rack.rack().slot(slot).kind();
    if (mixer) {
        if (kind == rack::SlotKind::Channel || kind == rack::SlotKind::Group) rack.deleteSlot(kind, slot);
    } else if (kind == rack::SlotKind::Plugin || kind == rack::SlotKind::Midi) {
        rack.deleteSlot(kind, slot);
    }
    reconcileEditors();
    refreshSlotList();
    refreshPresets();
    updateMenus();
}

void TMainForm::renameSlot() {
    lv->startRename();
}

void TMainForm::renameTab() {
    const int page = rack.pages.current;
    QString name = qs(rack.pages.names[static_cast<std::size_t>(page)]);
    if (!inputBox(this, "Rename Tab", "Rename: ", name)) return;
    rack.pages.rename(name.toStdString());
    refreshTabs();
}

void TMainForm::pluginHelp() {
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots() || !rack.rack().slot(slot).PlugLoaded.load()) return;
    host::TVstPlugIn& plugIn = rack.rack().slot(slot);
    std::string helpFile = plugIn.HelpFile;
    if (openPluginHelp(this, helpFile, folderOf(plugIn.DllPath))) plugIn.HelpFile = helpFile;
}

void TMainForm::openHelp() {
    ui::openHelp(this);
}

} // namespace trelvo::ui
