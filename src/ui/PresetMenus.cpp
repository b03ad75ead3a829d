// The preset file commands of the main window: the dialogs around the preset list's
// commands, which do the work.

#include <QListWidget>
#include <QMessageBox>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "persist/AppSettings.h"
#include "platform/TrelvoHome.h"
#include "presets/InstrumentDefinition.h"
#include "presets/PresetList.h"
#include "session/RackController.h"
#include "ui/CommonDialogs.h"
#include "ui/TMainForm.h"

namespace trelvo::ui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

const char* const kPresetFilter = "preset files (*.fxp)|*.fxp";
const char* const kBankFilter = "Bank files (*.fxb)|*.fxb";
const QString kQuote = QStringLiteral("\"");

std::string folderPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string nameAfterFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// A file dialog's answer as paths: one, or several of one folder ("folder|a|b").
std::vector<std::string> chosenFiles(const QString& answer) {
    const QStringList parts = answer.split('|');
    std::vector<std::string> files;
    if (parts.size() == 1) {
        files.push_back(answer.toStdString());
        return files;
    }
    for (qsizetype i = 1; i < parts.size(); ++i) files.push_back((parts[0] + "/" + parts[i]).toStdString());
    return files;
}

} // namespace

host::TVstPlugIn* TMainForm::presetSlot() {
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots()) return nullptr;
    host::TVstPlugIn& entry = rack.rack().slot(slot);
    return entry.PlugLoaded.load() && entry.Active.load() ? &entry : nullptr;
}

std::string TMainForm::presetDialogFolder(const std::string& slotFolder) const {
    const persist::AppSettings& settings = rack.appSettings();
    const std::string folder = settings.usePresetDir && !slotFolder.empty() ? slotFolder : settings.presetFolder;
    return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

void TMainForm::rememberPresetFolder(const std::string& file) {
    rack.appSettings().presetFolder = folderPart(file);
}

void TMainForm::presetsChanged() {
    refreshPresets();
    refreshSlotList();
    updateMenus();
}

void TMainForm::takeListItem() {
    // A popup command acts on the clicked item, made the current preset as a double click
    // makes it; an item that already is stays as it plays (unsaved changes kept).
    presets::PresetList& list = rack.presets();
    const int row = lp->currentRow();
    if (presetSlot() == nullptr || row < 0 || row == list.selectedItem) return;
    list.SelectPreset(rack.selected, row, true);
    presetsChanged();
}

void TMainForm::openBankFile() {
    host::TVstPlugIn* entry = presetSlot();
    if (entry == nullptr) return;
    QString path = qs(presetDialogFolder(entry->FXBfolder) + "*.fxb");
    if (!fileDialog(this, path, "Open bank", kOpenExistingFile, kBankFilter, ".fxb")) return;
    const std::string file = path.toStdString();
    rememberPresetFolder(file);
    if (!rack.presets().openBank(rack.selected, file))
        errorBox(this, "Cannot open the bank " + path + ":\n" + qs(host::TVstPlugIn::lastPresetFailure()));
    presetsChanged();
}

void TMainForm::saveBankFile(bool parameters) {
    host::TVstPlugIn* entry = presetSlot();
    if (entry == nullptr) return;
    std::string start = presetDialogFolder(entry->FXBfolder);
    start += parameters && !entry->FXBfile.empty() ? nameAfterFolder(entry->FXBfile) : std::string("*.fxb");
    QString path = qs(start);
    if (!fileDialog(this, path, parameters ? "Save bank Parameters as" : "Save bank as", kSaveAskOverwrite, kBankFilter,
                    ".fxb"))
        return;
    const std::string file = path.toStdString();
    rememberPresetFolder(file);
    if (!rack.presets().saveBank(rack.selected, file, parameters))
        errorBox(this, "Cannot save the bank " + path + ":\n" + qs(host::TVstPlugIn::lastPresetFailure()));
    presetsChanged();
}

void TMainForm::loadPresetFiles(bool several, bool useFileName) {
    host::TVstPlugIn* entry = presetSlot();
    if (entry == nullptr) return;
    QString path = qs(presetDialogFolder(presets::currentFxpFolder(*entry)) + "*.fxp");
    if (!fileDialog(this, path, "Load preset", several ? kOpenSeveralFiles : kOpenExistingFile, kPresetFilter, ".fxp"))
        return;
    const std::vector<std::string> files = chosenFiles(path);
    rememberPresetFolder(files.front());
    const int loaded = rack.presets().loadPresetFiles(rack.selected, files, useFileName);
    if (loaded < static_cast<int>(files.size()))
        errorBox(this, QString("Loaded %1 of %2 presets.\n").arg(loaded).arg(files.size()) +
                           qs(host::TVstPlugIn::lastPresetFailure()));
    presetsChanged();
}

void TMainForm::savePresetFile(bool parameters) {
    host::TVstPlugIn* entry = presetSlot();
    if (entry == nullptr) return;
    const std::string proposal = rack.presets().proposedPresetFile(rack.selected, parameters);
    QString path = qs(presetDialogFolder(folderPart(proposal)) + nameAfterFolder(proposal));
    const QString title = parameters ? QStringLiteral("Save Preset Prms as")
                                     : "Save Preset " + kQuote + qs(entry->CurProgramName) + kQuote + " as";
    if (!fileDialog(this, path, title, kSaveAskOverwrite, kPresetFilter, ".fxp")) return;
    const std::string file = path.toStdString();
    rememberPresetFolder(file);
    if (!rack.presets().savePresetAs(rack.selected, file, parameters))
        errorBox(this, "Cannot save the preset " + path + ":\n" + qs(host::TVstPlugIn::lastPresetFailure()));
    presetsChanged();
}

void TMainForm::exportPresets() {
    host::TVstPlugIn* entry = presetSlot();
    if (entry == nullptr || !rack.presets().exportAllowed(rack.selected)) return;
    QString folder;
    if (!folderPicker(this, "~Export Presets", qs(presetDialogFolder(presets::currentFxpFolder(*entry))), folder))
        return;
    QMessageBox ask(QMessageBox::Question, qs(entry->EffectName), "Save Program Number with FXP ?",
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    ask.setDefaultButton(QMessageBox::No);
    const int answer = ask.exec();
    if (answer == QMessageBox::Cancel) return;
    rack.appSettings().presetFolder = platform::withoutTrailingSlash(folder.toStdString());
    const presets::PresetList::ExportResult result =
        rack.presets().exportPresets(rack.selected, folder.toStdString(), answer == QMessageBox::Yes);
    presetsChanged();
    messageDialog(this, qs(result.message));
}

void TMainForm::renamePreset() {
    host::TVstPlugIn* entry = presetSlot();
    if (entry == nullptr) return;
    presets::PresetList& list = rack.presets();
    const char mode = entry->ProgramMode();
    if (mode == 's') {
        QString name = qs(entry->GetProgramName());
        if (!inputBox(this, "Rename Preset", "New name:", name)) return;
        list.renameProgram(rack.selected, name.toStdString());
    } else if (mode == 'p') {
        const std::string from = list.renameFileProposal(rack.selected);
        if (from.empty()) return;
        QString answer = qs(from);
        if (!inputBox(this, "Rename Preset (FXP)", "New name:", answer)) return;
        const std::string to = presets::PresetList::renamedFileName(answer.toStdString());
        if (to.empty() || to == from) return;
        const QString folder = qs(presets::currentFxpFolder(*entry));
        const QString names = kQuote + qs(from) + kQuote + " to " + kQuote + qs(to) + kQuote;
        QMessageBox confirm(QMessageBox::Question, "Rename Preset FXP ?",
                            "Rename: " + names + " ?\n\nFile path: " + folder, QMessageBox::Ok | QMessageBox::Cancel,
                            this);
        if (confirm.exec() != QMessageBox::Ok) return;
        if (!list.renamePresetFile(rack.selected, from, to)) {
            QMessageBox failed(QMessageBox::Critical, "Rename Preset FXP Failed",
                               "Cannot rename: " + names + "\n\nFile path: " + folder, QMessageBox::Ok, this);
            failed.setInformativeText(qs(list.failure));
            failed.exec();
        }
    } else {
        return;
    }
    presetsChanged();
}

void TMainForm::copyPreset() {
    takeListItem();
    if (!rack.presets().copyPreset(rack.selected) && presetSlot() != nullptr)
        errorBox(this, "Cannot copy the preset:\n" + qs(host::TVstPlugIn::lastPresetFailure()));
}

void TMainForm::pastePreset() {
    takeListItem();
    const bool clipboardFilled = rack.presets().hasCopiedPreset();
    if (rack.presets().pastePreset(rack.selected))
        presetsChanged();
    else if (clipboardFilled && presetSlot() != nullptr)
        errorBox(this, "Cannot paste the preset:\n" + qs(host::TVstPlugIn::lastPresetFailure()));
}

void TMainForm::movePreset(bool up) {
    takeListItem();
    presets::PresetList& list = rack.presets();
    const int before = presetSlot() != nullptr ? presetSlot()->GetProgram() : -1;
    if (list.movePreset(rack.selected, up)) {
        presetsChanged();
        return;
    }
    // Nothing to do at either end; anything else that failed is said.
    if (presetSlot() == nullptr || presetSlot()->GetProgram() != before) return;
    const bool atEnd = up ? before <= 0 : before + 1 >= presetSlot()->NumPrograms;
    if (atEnd) return;
    presetsChanged();
    errorBox(this, "Cannot move the preset:\n" +
                       qs(list.failure.empty() ? host::TVstPlugIn::lastPresetFailure() : list.failure));
}

void TMainForm::generateInsFile() {
    host::TVstPlugIn* entry = presetSlot();
    if (entry == nullptr) return;
    std::string file, error;
    switch (presets::generateInsFile(*entry, rack.appSettings().instrDefFolder, file, error)) {
    case presets::InsOutcome::Written:
        diag::hookedLog("INS file written: " + file);
        messageDialog(this, "Instrument definition written:\n" + qs(file));
        break;
    case presets::InsOutcome::NoSetting:
        diag::hookedLog("generate INS file: \"MidiIns\" of " + entry->SlotName + " names no definition file");
        break;
    case presets::InsOutcome::Failed: errorBox(this, "Cannot write " + qs(file) + ":\n" + qs(error)); break;
    case presets::InsOutcome::NotOffered: break;
    }
    presetsChanged();
}

} // namespace trelvo::ui
