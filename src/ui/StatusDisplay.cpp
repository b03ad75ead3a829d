// The main window's Preferences command, its status bar, the xrun note in the list's
// header and the two status windows.

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include "diag/DiagLog.h"
#include "persist/IniFile.h"
#include "session/RackController.h"
#include "ui/CommonDialogs.h"
#include "ui/SlotListView.h"
#include "ui/StatusWindows.h"
#include "ui/TMainForm.h"
#include "ui/TdlgPrefs.h"

namespace trelvo::ui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

bool wasOpen(const std::string& file, const char* section) {
    persist::IniHandle handle;
    persist::OpenIni(handle, file, section, persist::kIniRead);
    const bool open = persist::IniBool(handle, "isOpen", false);
    persist::CloseIni(handle);
    return open;
}

} // namespace

void TMainForm::openPreferences() {
    TdlgPrefs dialog(rack, this);
    centreWindow(this, &dialog);
    if (dialog.exec() != QDialog::Accepted) return;
    statusBar()->setVisible(rack.appSettings().statusBar);
    refreshSlotList();
    refreshPresets();
    updateMenus();
}

// ---- The load display ----

void TMainForm::buildStatusBar() {
    const char* const names[] = {"StatusText1", "StatusText2", "StatusXruns", "StatusLoads"};
    for (std::size_t i = 0; i < statusTexts.size(); ++i) {
        statusTexts[i] = new QLabel(statusBar());
        statusTexts[i]->setObjectName(names[i]);
        statusBar()->addWidget(statusTexts[i], i == 3 ? 1 : 0);
    }
    statusTexts[3]->setToolTip("The plug-ins that take most of each audio block");
    statusBar()->setVisible(rack.appSettings().statusBar);
}

void TMainForm::refreshLoadDisplay() {
    const auto set = [](QLabel* label, const std::string& text) {
        if (label->text() != qs(text)) label->setText(qs(text));
    };
    set(statusTexts[0], rack.stateLabel1);
    set(statusTexts[1], rack.stateLabel2);
    set(statusTexts[2], rack.xrunText);
    set(statusTexts[3], rack.loadsText);
    // An xrun is a gap the audience heard: it shows in the header without a status bar.
    xrunLabel->setVisible(rack.xrunCount > 0);
    if (rack.xrunCount > 0) {
        set(xrunLabel, " " + rack.xrunText + " ");
        xrunLabel->setToolTip(qs(rack.loadsText.empty() ? rack.xrunText : rack.xrunText + "; " + rack.loadsText));
    }
    // The status window's pending lines.
    if (statusWindow) {
        for (const std::string& line : diag::theLog().takeStatusLines()) statusWindow->statusLine(line);
    }
}

// ---- The status windows ----

void TMainForm::showStatus(int layout) {
    if (!statusWindow) {
        statusWindow = new TFrmSts(this, rack.appSettings().fileName());
        connect(statusWindow, &CompanionWindow::closed, this, [this] {
            statusWindow = nullptr;
            command("mnStatusHide")->setChecked(true);
        });
    }
    statusWindow->showLayout(layout);
    command(statusWindow->layoutNumber() == 1 ? "mnStatus1" : "mnStatus2")->setChecked(true);
}

void TMainForm::hideStatus() {
    if (statusWindow) statusWindow->close();
    command("mnStatusHide")->setChecked(true);
}

void TMainForm::toggleSurfaceWindow() {
    if (surfaceWindow) {
        surfaceWindow->close();
        command("mnMcu")->setChecked(false);
        return;
    }
    surfaceWindow = new TFrmMcuSts(this, rack.appSettings().fileName());
    connect(surfaceWindow, &CompanionWindow::closed, this, [this] {
        surfaceWindow = nullptr;
        command("mnMcu")->setChecked(false);
    });
    surfaceWindow->follow();
    surfaceWindow->show();
    command("mnMcu")->setChecked(true);
}

void TMainForm::refreshSurfaceWindow() {
    if (!surfaceWindow) return;
    const rack::SurfaceState& surface = rack.midi().surface();
    if (!surface.present()) {
        surfaceWindow->setDisplay("no surface");
        surfaceWindow->setAssignment("-.-");
        return;
    }
    if (!surface.isActive()) {
        surfaceWindow->setDisplay(qs("\"" + surface.name() + "\" not connected"));
        return;
    }
    surfaceWindow->setDisplay(qs(surface.lcdLine(1) + "\n" + surface.lcdLine(2)));
    surfaceWindow->setAssignment(qs(surface.assignmentText()));
}

void TMainForm::connectSurface() {
    rack::SurfaceControl& surface = rack.surface();
    surface.selectSlot = [this](int slot) {
        selectSlot(slot);
        lv->showSelected(slot);
    };
    // The dialog runs after the idle tick that carried the button, not inside it.
    surface.saveProjectAs = [this] { QTimer::singleShot(0, this, [this] { command("mnSaveProjectAs")->trigger(); }); };
    surface.statusChanged = [this] { refreshSurfaceWindow(); };
    surface.toggleEditor = [this](int slot) {
        if (editorOf(slot) != nullptr)
            HideEditor(slot);
        else
            ShowEditor(slot);
    };
    surface.dialogKey = [this](bool confirm) {
        // The dialogs the main window has open: Cancel closes every one, Enter confirms the
        // first.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog == nullptr || !dialog->isVisible() || dialog->parentWidget() != this) continue;
            if (confirm) {
                dialog->accept();
                return;
            }
            dialog->reject();
        }
    };
}

void TMainForm::restoreCompanions() {
    const std::string& file = rack.appSettings().fileName();
    if (wasOpen(file, "FrmSts")) showStatus(0);
    if (wasOpen(file, "FrmMcuSts") && !surfaceWindow) toggleSurfaceWindow();
}

void TMainForm::keepCompanions() {
    // Open at exit: open again at the next start.
    if (statusWindow) statusWindow->keepOpen();
    if (surfaceWindow) surfaceWindow->keepOpen();
}

} // namespace trelvo::ui
