// The parameter list: its model, its keys and its popup menu.

#include "ui/ParameterPanel.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>

#include "host/TVstPlugIn.h"
#include "session/RackController.h"
#include "ui/CommonDialogs.h"
#include "ui/TfrmPrmMap.h"

namespace trelvo::ui {

using rack::ParameterList;

// ---- Model ----

ParameterListModel::ParameterListModel(rack::RackController& controller, ParameterList& parameters, QObject* parent)
    : QAbstractListModel(parent), rack(controller), list(parameters) {}

void ParameterListModel::showSlot(int slot) {
    beginResetModel();
    shownSlot = slot >= 0 && slot < rack.rack().numSlots() ? slot : -1;
    rows = 1; // "-"
    if (shownSlot >= 0) {
        host::TVstPlugIn& plugIn = rack.rack().slot(shownSlot);
        if (plugIn.PlugLoaded.load() && plugIn.hasEffect()) rows = std::max(ParameterList::rowCount(plugIn), 1);
    }
    endResetModel();
}

void ParameterListModel::refreshParameter(int parameter) {
    if (shownSlot < 0) return;
    const int row = ParameterList::rowOfParameter(rack.rack().slot(shownSlot), parameter);
    if (row < 0 || row >= rows) return;
    const QModelIndex changed = index(row, 0);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
}

int ParameterListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows;
}

QVariant ParameterListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    if (shownSlot < 0) return QString("-");
    host::TVstPlugIn& plugIn = rack.rack().slot(shownSlot);
    if (!plugIn.PlugLoaded.load() || !plugIn.hasEffect() || ParameterList::rowCount(plugIn) == 0) return QString("-");
    return QString::fromStdString(list.line(plugIn, index.row()));
}

// ---- Panel ----

ParameterPanel::ParameterPanel(rack::RackController& controller, QWidget* parent) : QWidget(parent), rack(controller) {
    setObjectName("ParameterPanel");
    rowsModel = new ParameterListModel(rack, list, this);
    header = new QLabel(" Parameters", this);
    header->setObjectName("ParameterCaption");
    listView = new QListView(this);
    listView->setObjectName("Lparams");
    listView->setModel(rowsModel);
    listView->setUniformItemSizes(true);
    listView->setSelectionMode(QAbstractItemView::SingleSelection);
    listView->installEventFilter(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(listView, 1);

    list.changed = [this](int slot, int parameter) {
        // The automation notice: the control surfaces hear it once they exist.
        refreshParameter(slot, parameter);
    };

    popup = new QMenu(this);
    popup->setObjectName("mnParams");
    const auto add = [this](const char* name, const QString& text, auto action) {
        QAction* item = popup->addAction(text);
        item->setObjectName(name);
        connect(item, &QAction::triggered, this, action);
        return item;
    };
    add("mnPrmMixer", "Params in &Mixer", [this] { Q_EMIT placeRequested('M'); });
    add("mnPrmDocked", "Params D&ocked", [this] { Q_EMIT placeRequested('D'); });
    popup->addSeparator();
    add("mnPrmFloat", "&Float/Descriptive\tBackspace", [this] { toggleFloat(); });
    useMap = add("mnPrmUseMap", "&Use Param Map\tCtrl+Backspace", [this] { toggleMap(); });
    useMap->setCheckable(true);
    rename = add("mnPrmRename", "&Rename Param\tF2", [this] { renameRow(); });
    properties = add("mnPrmProperties", "Param &Properties...\tAlt+Enter", [this] { openMap(); });
    listView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(listView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (loadedSlot() == nullptr) return;
        updateActions();
        popup->popup(listView->viewport()->mapToGlobal(at));
    });
}

host::TVstPlugIn* ParameterPanel::loadedSlot() const {
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots()) return nullptr;
    host::TVstPlugIn& plugIn = rack.rack().slot(slot);
    return plugIn.PlugLoaded.load() && plugIn.hasEffect() ? &plugIn : nullptr;
}

int ParameterPanel::currentRow() const {
    const QModelIndex current = listView->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void ParameterPanel::updateActions() {
    host::TVstPlugIn* slot = loadedSlot();
    useMap->setChecked(slot != nullptr && slot->UsePrmMap);
    rename->setEnabled(slot != nullptr && slot->UsePrmMap && !slot->ParamMap.empty());
    properties->setEnabled(slot != nullptr && slot->UsePrmMap);
}

void ParameterPanel::refresh() {
    const int row = currentRow();
    host::TVstPlugIn* slot = loadedSlot();
    rowsModel->showSlot(slot != nullptr ? rack.selected : -1);
    header->setText(slot != nullptr ? " Parameters: " + QString::fromStdString(slot->SlotName) : " Parameters");
    if (row >= 0 && row < rowsModel->rowCount()) listView->setCurrentIndex(rowsModel->index(row, 0));
    updateActions();
}

void ParameterPanel::followSelection() {
    if (!isVisible()) return;
    host::TVstPlugIn* slot = loadedSlot();
    const Shown now{slot != nullptr ? rack.selected : -1, slot != nullptr ? ParameterList::rowCount(*slot) : 0,
                    slot != nullptr ? slot->CurProgram : -1, slot != nullptr ? slot->PVstEffect.load() : nullptr,
                    slot != nullptr && slot->UsePrmMap};
    if (now.slot != shown.slot || now.rows != shown.rows || now.effect != shown.effect || now.mapped != shown.mapped)
        refresh();
    else if (now.program != shown.program)
        listView->viewport()->update();
    shown = now;
}

void ParameterPanel::refreshParameter(int slot, int parameter) {
    if (slot == rowsModel->slot()) rowsModel->refreshParameter(parameter);
}

void ParameterPanel::toggleFloat() {
    list.floatMode = !list.floatMode;
    refresh();
}

void ParameterPanel::toggleMap() {
    host::TVstPlugIn* slot = loadedSlot();
    if (slot == nullptr) return;
    bool create = false;
    if (!slot->UsePrmMap && slot->ParamMap.empty()) {
        QMessageBox box(QMessageBox::Question, QString::fromStdString("Create PrmMap for " + slot->SlotName + " ?"),
                        "Create a new PrmMap  ?", QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setObjectName("createPrmMap");
        create = box.exec() == QMessageBox::Ok;
    }
    ParameterList::setUseMap(*slot, 2, create);
    refresh();
}

void ParameterPanel::renameRow() {
    host::TVstPlugIn* slot = loadedSlot();
    const int row = currentRow();
    if (slot == nullptr || !slot->UsePrmMap || row < 0 || row >= static_cast<int>(slot->ParamMap.size())) return;
    QString name = QString::fromStdString(ParameterList::rowName(*slot, row));
    if (!inputBox(this, "Rename Param", "New param name:", name)) return;
    ParameterList::renameRow(*slot, row, name.toStdString());
    refresh();
}

void ParameterPanel::openMap() {
    host::TVstPlugIn* slot = loadedSlot();
    if (slot == nullptr || !slot->UsePrmMap) return;
    TfrmPrmMap dialog(*slot, window());
    dialog.exec();
    refresh();
}

void ParameterPanel::typeValue() {
    host::TVstPlugIn* slot = loadedSlot();
    const int row = currentRow();
    if (slot == nullptr || row < 0) return;
    const std::optional<std::string> offered = list.offeredValue(*slot, row);
    if (!offered) return;
    QString text = QString::fromStdString(*offered);
    if (!inputBox(this, "Enter Parameter Value", "New value:", text)) return;
    if (!list.enterValue(*slot, row, text.toStdString()))
        messageDialog(this, "\"" + text + "\" is no value for " +
                                QString::fromStdString(list.line(*slot, row)).section('=', 0, 0) +
                                (list.floatMode ? " (a number from 0 to 1)." : "."));
    rowsModel->refreshParameter(ParameterList::parameterOfRow(*slot, row));
}

void ParameterPanel::stepValue(int direction, Qt::KeyboardModifiers modifiers) {
    host::TVstPlugIn* slot = loadedSlot();
    const int row = currentRow();
    if (slot == nullptr || row < 0) return;
    list.step(*slot, row, direction, (modifiers & Qt::ShiftModifier) != 0, (modifiers & Qt::ControlModifier) != 0);
}

bool ParameterPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched != listView || event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (modifiers == Qt::AltModifier)
            openMap();
        else
            typeValue();
        return true;
    case Qt::Key_Comma:
    case Qt::Key_Less: stepValue(-1, modifiers); return true;
    case Qt::Key_Period:
    case Qt::Key_Greater: stepValue(1, modifiers); return true;
    case Qt::Key_Backspace:
        if (modifiers == Qt::ControlModifier)
            toggleMap();
        else
            toggleFloat();
        return true;
    case Qt::Key_F2: renameRow(); return true;
    default: return QWidget::eventFilter(watched, event);
    }
}

} // namespace trelvo::ui
