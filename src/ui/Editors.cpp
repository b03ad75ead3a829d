// The plug-in editors of the main window: opening, closing, sizing, activation, pages.

#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "rack/PlugInFaults.h"
#include "session/RackController.h"
#include "ui/CommonDialogs.h"
#include "ui/SlotListModel.h"
#include "ui/SlotListView.h"
#include "ui/StatusIcons.h"
#include "ui/TMainForm.h"
#include "ui/TVstEdt.h"

namespace trelvo::ui {

namespace {

bool sameRect(const ERect& a, const ERect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

int rectWidth(const ERect& r) {
    return std::max(0, r.right - r.left);
}
int rectHeight(const ERect& r) {
    return std::max(0, r.bottom - r.top);
}

} // namespace

TVstEdt* TMainForm::editorOf(int slot) const {
    if (slot < 0 || slot >= rack.rack().numSlots()) return nullptr;
    const auto found = editorWindows.find(&rack.rack().slot(slot));
    return found == editorWindows.end() ? nullptr : found->second;
}

bool TMainForm::ShowEditor(int slot) {
    if (slot < 0 || slot >= rack.rack().numSlots()) return true;
    host::TVstPlugIn& plugIn = rack.rack().slot(slot);
    if (!plugIn.hasEffect() || !plugIn.hasEditor() || !plugIn.PlugLoaded.load() || plugIn.EditorOpen.load())
        return true;
    const ERect before = plugIn.EditGetRect();
    TVstEdt* window = editorOf(slot);
    if (window == nullptr) {
        const QPoint place(plugIn.EditorLeft, plugIn.EditorTop);
        window = new TVstEdt(nullptr, slot, place.x(), place.y(), rectWidth(before), rectHeight(before));
        window->setWindowTitle(QString::fromStdString(rack.slotTitle(slot)));
        window->setWindowIcon(QIcon(statusIcon(8)));
        clientArea->addSubWindow(window);
        editorWindows[&plugIn] = window;
        // Shown where it was last, before the client area's own placing is listened to.
        window->show();
        window->move(place);
        connect(window, &TVstEdt::moved, this, [&plugIn](int, const QPoint& at) {
            plugIn.EditorLeft = at.x();
            plugIn.EditorTop = at.y();
        });
        connect(window, &TVstEdt::closeRequested, this, [this](int windowSlot) {
            // The window's own close button: as "Show/hide Editor" for its slot.
            const int selected = rack.selected;
            rack.selected = windowSlot;
            ShowHideEditor(0);
            rack.selected = selected;
        });
        connect(window, &TVstEdt::touched, this, [this](int windowSlot) {
            activatingFromEditor = true;
            activateEditor(windowSlot);
            activatingFromEditor = false;
        });
    }
    // The plug-in's size request reaches the window, on this thread whatever thread asks.
    plugIn.OnSizeWindow = [this](int requester, int width, int height) {
        QMetaObject::invokeMethod(
            this,
            [this, requester, width, height] {
                if (TVstEdt* target = editorOf(requester);
                    target != nullptr && rack.rack().slot(requester).EditorOpen.load())
                    target->setClientSize(width, height);
            },
            Qt::AutoConnection);
    };
    if (plugIn.EditorOpen.load()) {
        diag::hookedLogError("EditOpen already open!");
        return true;
    }
    const VstIntPtr result = plugIn.EditOpen(reinterpret_cast<void*>(window->nativeHandle()));
    if (result < 0) {
        diag::hookedLogError("EditOpen " + std::to_string(result));
        return false;
    }
    // Plug-ins often tell their real size only once the editor is open.
    const ERect after = plugIn.EditGetRect();
    if (!sameRect(before, after)) window->setClientSize(rectWidth(after), rectHeight(after));
    plugIn.EditIdle();
    window->repaint();
    return true;
}

void TMainForm::HideEditor(int slot) {
    if (slot < 0 || slot >= rack.rack().numSlots()) return;
    host::TVstPlugIn& plugIn = rack.rack().slot(slot);
    if (plugIn.hasEffect() && plugIn.hasEditor() && plugIn.EditorOpen.load()) plugIn.EditClose();
    if (TVstEdt* window = editorOf(slot)) closeEditorWindow(window);
}

void TMainForm::closeEditorWindow(TVstEdt* window) {
    for (auto it = editorWindows.begin(); it != editorWindows.end(); ++it)
        if (it->second == window) {
            editorWindows.erase(it);
            break;
        }
    // Hidden now, deleted once the event loop is back: this may run inside the window's own
    // close handling. It stays the client area's child until then.
    window->closingFromHost = true;
    window->hide();
    window->deleteLater();
}

void TMainForm::ShowHideEditor(int op) {
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots() || !rack.rack().slot(slot).PlugLoaded.load()) return;
    host::TVstPlugIn& plugIn = rack.rack().slot(slot);
    EditorSlot = slot;
    const bool exists = editorOf(slot) != nullptr;
    if (exists && (op == 0 || op == 2)) {
        HideEditor(slot);
        plugIn.EditorShown = false;
        plugIn.EditorTab = -1;
        diag::hookedLog("HideEditor " + std::to_string(slot));
        refreshSlotList();
    } else if (!exists && (op == 1 || op == 2)) {
        const bool shown = ShowEditor(slot);
        plugIn.EditorTab = rack.pages.current;
        diag::hookedLog("ShowEditor " + std::to_string(slot) + (shown ? "" : " refused"));
        refreshSlotList();
        if (TVstEdt* window = editorOf(slot)) {
            clientArea->setActiveSubWindow(window);
            window->raise();
        }
    }
}

void TMainForm::activateEditor(int slot) {
    if (slot < 0 || slot >= rack.rack().numSlots()) return;
    const std::string library = rack.rack().slot(slot).DllPath;
    const std::size_t slash = library.rfind('/') + 1;
    const std::string name = library.substr(slash, library.rfind('.') == std::string::npos || library.rfind('.') < slash
                                                       ? std::string::npos
                                                       : library.rfind('.') - slash);
    // A simulated control surface keeps only its title bar active: the rack's selection
    // stays where the musician left it.
    if (name == "MCUsim") return;
    if (rack.selected != slot) {
        selectSlot(slot);
        lv->showSelected(slot);
    }
}

void TMainForm::closeAllEditors() {
    // The plug-ins close their editors while the windows they draw into still exist; the
    // editors stay marked as shown for the project.
    std::vector<int> slots;
    for (const auto& [object, window] : editorWindows) slots.push_back(window->SlotIndex);
    for (int slot : slots) HideEditor(slot);
}

std::vector<int> TMainForm::openEditorsFrontFirst() const {
    std::vector<int> slots;
    const QList<QMdiSubWindow*> backToFront = clientArea->subWindowList(QMdiArea::StackingOrder);
    for (auto it = backToFront.rbegin(); it != backToFront.rend(); ++it)
        if (auto* editor = qobject_cast<TVstEdt*>(*it); editor != nullptr && editor->isVisible())
            slots.push_back(editor->SlotIndex);
    return slots;
}

void TMainForm::changePage(int page) {
    const rack::PageChange change = rack.pages.change(rack.rack(), page, openEditorsFrontFirst());
    for (int slot : change.closeSlots) HideEditor(slot);
    for (int slot : change.showSlots) {
        ShowEditor(slot);
        if (TVstEdt* window = editorOf(slot)) {
            window->raise();
            clientArea->setActiveSubWindow(window);
        }
    }
    refreshTabs();
    if (change.frontSlot >= 0) {
        selectSlot(change.frontSlot);
        lv->showSelected(change.frontSlot);
    }
}

void TMainForm::reconcileEditors() {
    // Slots move in the rack and plug-ins close (deleted, replaced, a fault): each window
    // follows its plug-in's slot, and goes when its plug-in's editor is no longer open.
    std::vector<TVstEdt*> gone;
    for (auto& [object, window] : editorWindows) {
        int index = -1;
        for (int i = 0; i < rack.rack().numSlots(); ++i)
            if (&rack.rack().slot(i) == object) index = i;
        if (index < 0 || !rack.rack().slot(index).EditorOpen.load())
            gone.push_back(window);
        else
            window->SlotIndex = index;
    }
    for (TVstEdt* window : gone) closeEditorWindow(window);
}

void TMainForm::reportFaults() {
    // A plug-in that crashed or threw is out of the rack's way; the musician hears of it once.
    for (const std::string& fault : rack::takePlugInFaults(rack.rack())) {
        diag::hookedLogError(fault);
        // Not modal: the rack plays on and nothing waits for the musician to answer.
        auto* box = new QMessageBox(QMessageBox::Warning, applicationTitle(), QString::fromStdString(fault),
                                    QMessageBox::Ok, this);
        box->setObjectName("FaultMessage");
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
}

} // namespace trelvo::ui
