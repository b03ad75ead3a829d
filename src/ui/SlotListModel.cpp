#include "ui/SlotListModel.h"

#include <QFont>
#include <algorithm>
#include <array>

namespace trelvo::ui {

namespace {

constexpr std::array<const char*, SlotListModel::ColumnCount> kCaptions{"Channel/VST", "Preset", "wt",
                                                                        "dy",          "pn",     "in"};
constexpr std::array<int, SlotListModel::ColumnCount> kPresetsWidths{80, 114, 0, 0, 0, 0};
constexpr std::array<int, SlotListModel::ColumnCount> kLevelsWidths{80, 0, 29, 29, 28, 28};

const std::string& textOf(const rack::RowView& row, int column) {
    switch (column) {
    case SlotListModel::NameColumn: return row.name;
    case SlotListModel::PresetColumn: return row.preset;
    case SlotListModel::WetColumn: return row.wet;
    case SlotListModel::DryColumn: return row.dry;
    case SlotListModel::PanColumn: return row.pan;
    default: return row.in;
    }
}

std::string& textOf(rack::RowView& row, int column) {
    return const_cast<std::string&>(textOf(static_cast<const rack::RowView&>(row), column));
}

} // namespace

SlotListModel::SlotListModel(rack::RackController& controller, QObject* parent)
    : QAbstractTableModel(parent), rackController(controller), shown(controller.rows) {}

void SlotListModel::refresh() {
    const std::vector<rack::RowView>& rows = rackController.rows;
    if (rows.size() != shown.size()) {
        beginResetModel();
        shown = rows;
        endResetModel();
        return;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) refreshRow(static_cast<int>(i), rows[i]);
}

void SlotListModel::refreshRow(int row, const rack::RowView& fresh) {
    rack::RowView& old = shown[static_cast<std::size_t>(row)];
    if (old.slot != fresh.slot || old.icon != fresh.icon || old.style != fresh.style) {
        // Background, font and icon of the whole row.
        old = fresh;
        Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
        Q_EMIT meterChanged(row);
        return;
    }
    for (int column = 0; column < ColumnCount; ++column) {
        std::string& text = textOf(old, column);
        const std::string& freshText = textOf(fresh, column);
        if (text == freshText) continue;
        text.assign(freshText); // keeps its buffer when the new text fits
        const QModelIndex cell = index(row, column);
        Q_EMIT dataChanged(cell, cell);
    }
    if (old.meterSegment != fresh.meterSegment) {
        old.meterSegment = fresh.meterSegment;
        Q_EMIT meterChanged(row);
    }
}

const rack::RowView* SlotListModel::rowView(int row) const {
    if (row < 0 || row >= static_cast<int>(shown.size())) return nullptr;
    return &shown[static_cast<std::size_t>(row)];
}

int SlotListModel::rowOfSlot(int slot) const {
    const auto found = std::find_if(shown.begin(), shown.end(), [slot](const auto& row) { return row.slot == slot; });
    return found == shown.end() ? -1 : static_cast<int>(found - shown.begin());
}

void SlotListModel::setColumnCursor(int column) {
    column = std::clamp(column, 1, static_cast<int>(InColumn));
    if (column == cursor) return;
    const bool wasLevels = levelsView();
    const int before = cursor;
    cursor = column;
    const bool viewChanged = wasLevels != levelsView();
    // The focused column's caption is bold.
    Q_EMIT headerDataChanged(Qt::Horizontal, std::min(before, cursor), std::max(before, cursor));
    Q_EMIT columnCursorChanged(cursor, viewChanged);
}

int SlotListModel::columnWidth(int column) const {
    return columnWidth(column, levelsView());
}

int SlotListModel::columnWidth(int column, bool levels) {
    if (column < 0 || column >= ColumnCount) return 0;
    return (levels ? kLevelsWidths : kPresetsWidths)[static_cast<std::size_t>(column)];
}

int SlotListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown.size());
}

int SlotListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SlotListModel::data(const QModelIndex& index, int role) const {
    const rack::RowView* row = rowView(index.row());
    if (!row || index.column() < 0 || index.column() >= ColumnCount) return {};
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(textOf(*row, index.column()));
    case Qt::EditRole: return index.column() == NameColumn ? QString::fromStdString(row->name) : QVariant();
    case kRowViewRole: return QVariant::fromValue(*row);
    default: return {};
    }
}

QVariant SlotListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kCaptions[static_cast<std::size_t>(section)]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(section <= PresetColumn ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    if (role == Qt::FontRole && levelsView() && section == cursor) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    return {};
}

Qt::ItemFlags SlotListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return index.column() == NameColumn ? flags | Qt::ItemIsEditable : flags;
}

bool SlotListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const rack::RowView* row = rowView(index.row());
    if (!row || index.column() != NameColumn || role != Qt::EditRole) return false;
    rackController.renameSlot(row->slot, value.toString().toStdString());
    refresh();
    return true;
}

} // namespace trelvo::ui
