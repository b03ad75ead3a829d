// The parameter-mapping dialog.

#include "ui/TfrmPrmMap.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <algorithm>

#include "host/TVstPlugIn.h"
#include "session/ParameterList.h"
#include "ui/CommonDialogs.h"

namespace trelvo::ui {

using rack::ParameterList;

namespace {

QString paddedNumber(int number, int digits) {
    return QString("%1").arg(number, digits, 10, QChar('0'));
}

} // namespace

TfrmPrmMap::TfrmPrmMap(host::TVstPlugIn& plugIn, QWidget* parent) : QDialog(parent), slot(plugIn) {
    setObjectName("frmPrmMap");
    setWindowTitle("Parameter mapping");
    setFixedSize(600, 450);

    lvL = new QListWidget(this);
    lvL->setObjectName("lvL");
    lvL->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* leftLabel = new QLabel("Available &Plugin parameters:", this);
    leftLabel->setBuddy(lvL);

    lvR = new QTreeWidget(this);
    lvR->setObjectName("lvR");
    lvR->setRootIsDecorated(false);
    lvR->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvR->setHeaderLabels({"Idx", "Parameter", "Caption"});
    lvR->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lvR->installEventFilter(this);
    auto* rightLabel = new QLabel("&Host parameters:", this);
    rightLabel->setBuddy(lvR);

    const auto button = [this](const char* name, const QString& text, const QKeySequence& key, auto action) {
        auto* pushed = new QPushButton(text, this);
        pushed->setObjectName(name);
        pushed->setAutoDefault(false);
        connect(pushed, &QPushButton::clicked, this, action);
        if (!key.isEmpty()) {
            auto* shortcut = new QShortcut(key, this);
            connect(shortcut, &QShortcut::activated, this, action);
        }
        return pushed;
    };
    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(
        button("btnAdd", ">>", QKeySequence(Qt::AltModifier | Qt::Key_Right), [this] { addSelected(); }));
    buttons->addWidget(
        button("btnRemove", "<<", QKeySequence(Qt::AltModifier | Qt::Key_Left), [this] { removeSelected(); }));
    buttons->addSpacing(16);
    buttons->addWidget(button("btnUp", "&Up", QKeySequence(Qt::AltModifier | Qt::Key_Up), [this] { move(-1); }));
    buttons->addWidget(button("btnDown", "&Dn", QKeySequence(Qt::AltModifier | Qt::Key_Down), [this] { move(1); }));
    buttons->addStretch(1);
    auto* close = button("btnClose", "&Close", {}, [this] { accept(); });
    close->setDefault(true);
    buttons->addWidget(close);

    auto* layout = new QGridLayout(this);
    layout->addWidget(leftLabel, 0, 0);
    layout->addWidget(rightLabel, 0, 2);
    layout->addWidget(lvL, 1, 0);
    layout->addLayout(buttons, 1, 1);
    layout->addWidget(lvR, 1, 2);
    layout->setColumnStretch(0, 2);
    layout->setColumnStretch(2, 3);

    fill({});
    centreWindow(parent, this);
}

void TfrmPrmMap::fill(const std::vector<int>& selectedRows) {
    const int parameters = std::max(slot.effectNumParams(), 0);
    const int digits = ParameterList::rowDigits(std::max(parameters, static_cast<int>(slot.ParamMap.size())));
    lvL->clear();
    for (const int parameter : ParameterList::unmappedParameters(slot)) {
        auto* item = new QListWidgetItem(paddedNumber(parameter, digits) + ": " +
                                         QString::fromStdString(slot.GetParamName(parameter)).trimmed());
        item->setData(Qt::UserRole, parameter);
        lvL->addItem(item);
    }
    lvR->clear();
    for (int row = 0; row < static_cast<int>(slot.ParamMap.size()); ++row) {
        const auto& entry = slot.ParamMap[static_cast<std::size_t>(row)];
        const bool valid = entry.index >= 0 && entry.index < parameters;
        const QString parameter = valid ? paddedNumber(entry.index, digits) + ": " +
                                              QString::fromStdString(slot.GetParamName(entry.index)).trimmed()
                                        : QString("- - -");
        auto* item =
            new QTreeWidgetItem(lvR, {paddedNumber(row, digits), parameter, QString::fromStdString(entry.name)});
        item->setData(0, Qt::UserRole, row);
    }
    for (const int row : selectedRows)
        if (QTreeWidgetItem* item = lvR->topLevelItem(row)) item->setSelected(true);
    if (!selectedRows.empty())
        lvR->setCurrentItem(lvR->topLevelItem(selectedRows.front()), 0, QItemSelectionModel::NoUpdate);
}

std::vector<int> TfrmPrmMap::selectedRows() const {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : lvR->selectedItems()) rows.push_back(item->data(0, Qt::UserRole).toInt());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TfrmPrmMap::addSelected() {
    std::vector<int> parameters;
    for (int i = 0; i < lvL->count(); ++i)
        if (lvL->item(i)->isSelected()) parameters.push_back(lvL->item(i)->data(Qt::UserRole).toInt());
    if (parameters.empty()) {
        if (lvL->count() > 0) lvL->item(0)->setSelected(true);
        return;
    }
    const int first = static_cast<int>(slot.ParamMap.size());
    ParameterList::appendRows(slot, parameters);
    std::vector<int> added;
    for (int row = first; row < static_cast<int>(slot.ParamMap.size()); ++row) added.push_back(row);
    fill(added);
}

void TfrmPrmMap::removeSelected() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) {
        if (lvR->topLevelItemCount() > 0) lvR->topLevelItem(0)->setSelected(true);
        return;
    }
    ParameterList::removeRows(slot, rows);
    const int next = std::min(rows.front(), static_cast<int>(slot.ParamMap.size()) - 1);
    fill(next >= 0 ? std::vector<int>{next} : std::vector<int>{});
}

void TfrmPrmMap::move(int direction) {
    fill(ParameterList::moveRows(slot, selectedRows(), direction));
}

void TfrmPrmMap::renameSelected() {
    QTreeWidgetItem* item = lvR->currentItem();
    if (item == nullptr) return;
    const int row = item->data(0, Qt::UserRole).toInt();
    QString name = QString::fromStdString(ParameterList::rowName(slot, row));
    if (!inputBox(this, "Rename Param", "New param name:", name)) return;
    ParameterList::renameRow(slot, row, name.toStdString());
    fill({row});
}

bool TfrmPrmMap::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvR && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F2) {
        renameSelected();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace trelvo::ui
