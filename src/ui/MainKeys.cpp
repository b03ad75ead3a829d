// The main window's keys, in the order a key is examined: the application-wide hook
// first, then the window's preview of keys before the focused control, then the popup
// menus' keys of the focused list.

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QTimer>
#include <QWheelEvent>

#include "host/TVstPlugIn.h"
#include "presets/PresetList.h"
#include "session/RackController.h"
#include "ui/ListPalette.h"
#include "ui/SlotListModel.h"
#include "ui/SlotListView.h"
#include "ui/TMainForm.h"
#include "ui/VstKeys.h"

namespace trelvo::ui {

namespace {

bool isKeypad(const QKeyEvent* key) {
    return (key->modifiers() & Qt::KeypadModifier) != 0;
}

/// The modifiers that count for a key: the keypad flag says where the key is, not how.
Qt::KeyboardModifiers plainModifiers(const QKeyEvent* key) {
    return key->modifiers() & ~Qt::KeypadModifier;
}

} // namespace

bool TMainForm::eventFilter(QObject* watched, QEvent* happening) {
    const QEvent::Type type = happening->type();
    if (type == QEvent::Resize && watched == leftDock) {
        // The slot list's header stands above the list, as wide as it.
        listHeader->setFixedWidth(leftDock->width());
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride &&
        type != QEvent::Wheel)
        return QMainWindow::eventFilter(watched, happening);
    // Only the events of this window's own controls, once, at the control that has them
    // first; a dialog of its own keeps its keys.
    QWidget* focus = QApplication::focusWidget();
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this || QApplication::activeModalWidget() != nullptr ||
        lifeStage != Stage::Painted)
        return QMainWindow::eventFilter(watched, happening);

    if (type == QEvent::Wheel) {
        // The wheel steps a focused number field by one, wherever the mouse is.
        auto* field = qobject_cast<QSpinBox*>(focus);
        if (field == nullptr || watched == field) return false;
        const int delta = static_cast<QWheelEvent*>(happening)->angleDelta().y();
        field->stepBy(delta > 0 ? 1 : delta < 0 ? -1 : 0);
        return true;
    }

    if (watched != focus && !(focus == nullptr && watched == this)) return false;
    auto* key = static_cast<QKeyEvent*>(happening);
    if (type == QEvent::KeyRelease) return passToEditor(key, "pre") || passToEditor(key, "post");
    if (type == QEvent::ShortcutOverride) {
        // Keys the window handles itself go to it before any menu shortcut takes them.
        if (hookKey(watched, key) || previewKey(watched, key) || popupKey(watched, key)) {
            key->accept();
            return true;
        }
        return false;
    }
    return hookKey(watched, key) || previewKey(watched, key) || popupKey(watched, key);
}

// The hook: keys that act whatever control has the focus. A key that only the window
// handles answers true on ShortcutOverride too, so these functions must not act twice:
// they act on KeyPress only.
bool TMainForm::hookKey(QObject* watched, QKeyEvent* key) {
    const bool press = key->type() == QEvent::KeyPress;
    const Qt::KeyboardModifiers modifiers = plainModifiers(key);
    if (lv->isRenaming()) return false;
    switch (key->key()) {
    case Qt::Key_Pause:
        if (press) {
            if (modifiers == Qt::ShiftModifier)
                pluginHelp();
            else if (modifiers == Qt::NoModifier)
                toggleFocus();
            else if (modifiers == Qt::AltModifier)
                rack.surface().redraw();
        }
        return true;
    case Qt::Key_W:
        if (modifiers != Qt::ControlModifier) break;
        // Show or hide the selected slot's editor, whichever window has the focus.
        if (press) ShowHideEditor(2);
        return true;
    default: break;
    }
    // Any other key goes to the plug-in's editor first when its profile says "pre". It is
    // offered when it is first seen (before the menus' shortcuts), once.
    if (key->type() == QEvent::ShortcutOverride) {
        offeredKey = key->key();
        editorTookKey = passToEditor(key, "pre");
        return editorTookKey;
    }
    if (!press) return false;
    if (offeredKey == key->key()) {
        offeredKey = 0;
        const bool taken = editorTookKey;
        editorTookKey = false;
        return taken;
    }
    return passToEditor(key, "pre");
}

bool TMainForm::passToEditor(QKeyEvent* key, const char* when) {
    // Keys go to the plug-in's editor first ("pre") or before the window's own handling of
    // keys ("post"), as its profile says, while the editor zone has the focus.
    if (focusZone != Zone::Editor) return false;
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots()) return false;
    host::TVstPlugIn& plugIn = rack.rack().slot(slot);
    if (!plugIn.PlugLoaded.load() || !plugIn.EditorOpen.load() || plugIn.PcKeys != when) return false;
    const VstKey code = vstKeyOf(*key);
    if (!code.known) return false;
    return key->type() == QEvent::KeyRelease ? plugIn.EditKeyUp(code.character, code.virtualKey, code.modifiers)
                                             : plugIn.EditKeyDown(code.character, code.virtualKey, code.modifiers);
}

bool TMainForm::previewKey(QObject* watched, QKeyEvent* key) {
    const bool press = key->type() == QEvent::KeyPress;
    if (press && passToEditor(key, "post")) return true;
    const Qt::KeyboardModifiers modifiers = plainModifiers(key);
    auto* field = qobject_cast<QSpinBox*>(watched);
    if (field != nullptr) {
        // Number fields take digits, Up and Down step them, Enter goes back to the list.
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (press) {
                field->interpretText();
                lv->setFocus();
            }
            return true;
        }
        return false;
    }
    if (lv->isRenaming()) return false;

    // The numeric keypad types program numbers for the selected slot.
    if (isKeypad(key) && key->key() >= Qt::Key_0 && key->key() <= Qt::Key_9) {
        if (press) showEntry(entry.digit(key->key() - Qt::Key_0, (modifiers & Qt::ControlModifier) != 0));
        return true;
    }
    if (isKeypad(key) &&
        (key->key() == Qt::Key_Period || key->key() == Qt::Key_Comma || key->key() == Qt::Key_Delete)) {
        if (key->key() == Qt::Key_Delete && entry.active() == false) return false;
        if (press) {
            const rack::ProgramEntry::Result result = entry.point();
            if (result == rack::ProgramEntry::Result::Ignored) {
                // Without an entry the point cycles the preset display.
                rack.presets().cyclePresetView();
                refreshPresets();
            } else {
                showEntry(result);
            }
        }
        return true;
    }
    if (isKeypad(key) && key->key() == Qt::Key_Slash && modifiers == Qt::NoModifier) {
        if (press)
            showProgramModeMenu(lv->viewport()->mapToGlobal(lv->visualRect(model->index(rack.selected, 0)).center()));
        return true;
    }
    if (entry.active()) {
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (press) showEntry(entry.enter());
            return true;
        case Qt::Key_Backspace:
            if (press) showEntry(entry.backspace());
            return true;
        case Qt::Key_Escape:
            if (press) showEntry(entry.escape());
            return true;
        default: break;
        }
    }
    // In the editor zone the list's paging keys would move the selection unseen.
    if (focusZone == Zone::Editor) {
        switch (key->key()) {
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_End:
        case Qt::Key_Home:
        case Qt::Key_Up:
        case Qt::Key_Down: return true;
        default: break;
        }
    }
    return false;
}

bool TMainForm::popupKey(QObject* watched, QKeyEvent* key) {
    const bool press = key->type() == QEvent::KeyPress;
    const QKeyCombination combination(plainModifiers(key), Qt::Key(key->key()));
    for (const PopupKey& popup : popupKeys) {
        if (popup.owner != watched || popup.key != combination) continue;
        if (press) {
            updateMenus();
            if (popup.action->isEnabled()) popup.action->trigger();
        }
        return true;
    }
    // The preset list: Enter or Space loads the selected preset, "," and "." step.
    if (watched == lp && combination.keyboardModifiers() == Qt::NoModifier) {
        const int slot = rack.selected;
        const bool open = slot >= 0 && slot < rack.rack().numSlots() && rack.rack().slot(slot).PlugLoaded.load();
        int request = 0;
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space: request = lp->currentRow(); break;
        case Qt::Key_Comma: request = presets::kPreviousPreset; break;
        case Qt::Key_Period: request = presets::kNextPreset; break;
        default: return false;
        }
        if (press && open && (request >= 0 || request < -1)) {
            rack.presets().SelectPreset(slot, request, true);
            refreshPresets();
            refreshSlotList();
        }
        return true;
    }
    // Letters and digits mean nothing to the lists: no jumping to a row by its name.
    if ((watched == lv || watched == lp) && combination.keyboardModifiers() == Qt::NoModifier &&
        !key->text().isEmpty() && key->text().at(0).isLetterOrNumber())
        return true;
    return false;
}

void TMainForm::showEntry(rack::ProgramEntry::Result result) {
    using Result = rack::ProgramEntry::Result;
    const int slot = rack.selected;
    const QString prefix = QString::fromStdString(rack.presets().typedNumberPrefix(slot, entry.midiMode()));
    switch (result) {
    case Result::Ignored: return;
    case Result::Typing:
        entryShown = true;
        presetCaption->setStyleSheet(QString());
        presetCaption->setText(prefix + QString::fromStdString(entry.text()));
        return;
    case Result::Apply:
        if (slot >= 0 && slot < rack.rack().numSlots() && entry.number() >= 0)
            rack.applyTypedProgram(slot, entry.number(), entry.midiMode());
        // The applied number stays in the header, in green, until the next change.
        entryShown = true;
        presetCaption->setStyleSheet(QString("color: #%1;").arg(colours().darkGreen & 0xFFFFFFu, 6, 16, QChar('0')));
        presetCaption->setText(prefix + QString::number(entry.number()));
        refreshPresets();
        refreshSlotList();
        QTimer::singleShot(1500, this, [this] {
            if (entry.active()) return;
            entryShown = false;
            presetCaption->setStyleSheet(QString());
            refreshPresets();
        });
        return;
    case Result::Ended:
        entryShown = false;
        presetCaption->setStyleSheet(QString());
        refreshPresets();
        return;
    }
}

} // namespace trelvo::ui
