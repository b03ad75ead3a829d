#include "ui/SlotListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>

#include "ui/ListPalette.h"
#include "ui/SlotListDelegate.h"
#include "ui/SlotListModel.h"

namespace trelvo::ui {

SlotListView::SlotListView(QWidget* parent) : QTableView(parent), cellDelegate(new SlotListDelegate(this)) {
    setItemDelegate(cellDelegate);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Read-only but for the name, which only startRename() edits.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(kRowHeight);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The background is the list colour, painted with the rows.
    viewport()->setAutoFillBackground(false);
    applyColours();
}

void SlotListView::setModel(QAbstractItemModel* model) {
    if (slotModel) disconnect(slotModel, nullptr, this, nullptr);
    QTableView::setModel(model);
    slotModel = qobject_cast<SlotListModel*>(model);
    if (!slotModel) return;
    connect(slotModel, &SlotListModel::meterChanged, this, &SlotListView::updateMeter);
    connect(slotModel, &SlotListModel::columnCursorChanged, this, [this](int, bool viewChanged) {
        if (viewChanged) applyColumnWidths();
        viewport()->update();
    });
    // A reset rebuilds the header's sections.
    connect(slotModel, &QAbstractItemModel::modelReset, this, &SlotListView::applyColumnWidths);
    applyColumnWidths();
    refresh();
}

void SlotListView::showSelected(int slot) {
    if (!slotModel || isRenaming()) return;
    const int row = slotModel->rowOfSlot(slot);
    if (row < 0 || currentIndex().row() == row) return;
    following = true;
    goToRow(row);
    following = false;
}

void SlotListView::refresh() {
    if (!slotModel) return;
    slotModel->refresh();
    showSelected(slotModel->controller().selected);
}

void SlotListView::startRename() {
    if (!slotModel) return;
    const QModelIndex name = slotModel->index(currentIndex().row(), SlotListModel::NameColumn);
    if (!name.isValid()) return;
    scrollTo(name);
    edit(name);
}

void SlotListView::applyColours() {
    colours = listColoursOf(palette());
    cellDelegate->setColours(colours);
    viewport()->update();
}

void SlotListView::applyColumnWidths() {
    if (!slotModel) return;
    for (int column = 0; column < SlotListModel::ColumnCount; ++column) {
        const int width = slotModel->columnWidth(column);
        setColumnHidden(column, width == 0);
        if (width > 0) setColumnWidth(column, width);
    }
}

void SlotListView::keyPressEvent(QKeyEvent* event) {
    if (!slotModel || isRenaming()) {
        QTableView::keyPressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    const bool plain = (modifiers & ~Qt::KeypadModifier) == Qt::NoModifier;
    const int cursor = slotModel->columnCursor();
    switch (event->key()) {
    case Qt::Key_Left:
        if (plain) {
            if (cursor > 2) slotModel->setColumnCursor(cursor - 1);
            return;
        }
        break;
    case Qt::Key_Right:
        if (plain) {
            if (cursor >= 2 && cursor < 5) slotModel->setColumnCursor(cursor + 1);
            return;
        }
        break;
    case Qt::Key_Backspace:
        if (modifiers == Qt::NoModifier) {
            slotModel->setColumnCursor(slotModel->levelsView() ? 1 : 2);
            return;
        }
        break;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (plain) {
            const int row = nearestMixerRow(currentIndex().row(), event->key() == Qt::Key_PageUp ? -1 : +1);
            if (row >= 0) goToRow(row);
            return;
        }
        break;
    case Qt::Key_Comma:
    case Qt::Key_Period:
        // The keypad's point belongs to the program number entry.
        if (!keypad) {
            Q_EMIT stepValue(cursor, event->key() == Qt::Key_Period ? +1 : -1);
            return;
        }
        break;
    case Qt::Key_Space: Q_EMIT transportKey(modifiers & ~Qt::KeypadModifier); return;
    case Qt::Key_Slash:
        if (plain) {
            const QModelIndex name = slotModel->index(currentIndex().row(), SlotListModel::NameColumn);
            const QPoint at = name.isValid() ? visualRect(name).bottomLeft() : QPoint(0, 0);
            Q_EMIT programModeMenuRequested(viewport()->mapToGlobal(at));
            return;
        }
        break;
    default: break;
    }
    QTableView::keyPressEvent(event);
}

void SlotListView::paintEvent(QPaintEvent* event) {
    {
        QPainter background(viewport());
        background.fillRect(event->rect(), toQColor(colours.background));
    }
    QTableView::paintEvent(event);
    if (!slotModel) return;

    // The meters of the mixer rows: along the bottom of the row, 81 pixels from its left
    // edge, so the bar shows under the preset in the presets view and under "wt" in the
    // levels view; drawn over the cells and the grid so that no segment is hidden.
    QPainter painter(viewport());
    painter.setClipRect(event->rect());
    const int rowLeft = columnViewportPosition(SlotListModel::NameColumn);
    const int first = std::max(0, rowAt(event->rect().top()));
    int last = rowAt(event->rect().bottom());
    if (last < 0) last = slotModel->rowCount() - 1;
    for (int row = first; row <= last; ++row) {
        const rack::RowView* view = slotModel->rowView(row);
        if (!view || view->style != 'b' || isRowHidden(row)) continue;
        const int bottom = rowViewportPosition(row) + rowHeight(row) - 2; // above the grid line
        SlotListDelegate::paintMeter(painter, rowLeft, bottom, view->meterSegment);
    }
}

bool SlotListView::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::ThemeChange: {
        const bool handled = QTableView::event(event);
        applyColours();
        return handled;
    }
    default: return QTableView::event(event);
    }
}

void SlotListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (following || !slotModel || !current.isValid() || current.row() == previous.row()) return;
    if (const rack::RowView* row = slotModel->rowView(current.row())) Q_EMIT slotSelected(row->slot);
}

void SlotListView::goToRow(int row) {
    const QModelIndex cell = slotModel->index(row, std::max(0, currentIndex().column()));
    if (!cell.isValid()) return;
    selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(cell);
}

int SlotListView::nearestMixerRow(int row, int direction) const {
    for (int candidate = row + direction; candidate >= 0 && candidate < slotModel->rowCount(); candidate += direction)
        if (const rack::RowView* view = slotModel->rowView(candidate); view && view->style == 'b') return candidate;
    return -1;
}

void SlotListView::updateMeter(int row) {
    if (isRowHidden(row)) return;
    const int top = rowViewportPosition(row) + rowHeight(row) - 1 - SlotListDelegate::kMeterHeight;
    viewport()->update(columnViewportPosition(SlotListModel::NameColumn) + SlotListDelegate::kMeterLeft, top,
                       SlotListDelegate::kMeterLength, SlotListDelegate::kMeterHeight);
}

} // namespace trelvo::ui
