#pragma once

// The core's headers come before Qt's keywords reach them: a core header has a function
// named slots(), which Qt defines as a macro.
#pragma push_macro("slots")
#undef slots
#include "session/RackController.h"
#pragma pop_macro("slots")

#include <QAbstractTableModel>
#include <vector>

namespace trelvo::ui {

/// The slot list `LV` as a table: one row per used slot in rack order, the rack controller's
/// rows as the last refresh() saw them. Only the slot name (column 0) can be edited.
///
/// The list has two views chosen by the column cursor: 1 is the presets view (name and
/// preset), 2..5 the levels view (name, wet, dry, pan, input) with that value column focused.
class SlotListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn = 0, PresetColumn, WetColumn, DryColumn, PanColumn, InColumn, ColumnCount };
    /// The row's whole RowView (icon, style, meter segment, slot) as a QVariant.
    static constexpr int kRowViewRole = Qt::UserRole + 1;

    explicit SlotListModel(rack::RackController& controller, QObject* parent = nullptr);

    rack::RackController& controller() noexcept { return rackController; }

    /// Brings the table up to the controller's rows: dataChanged for the cells that changed,
    /// a reset only when the number of rows changed. Runs every idle tick, so it allocates
    /// nothing while the rows keep their size and their texts fit. Thread: user interface.
    void refresh();

    /// The row as shown; nullptr outside the table.
    const rack::RowView* rowView(int row) const;
    /// The row that shows a slot, or -1.
    int rowOfSlot(int slot) const;

    /// 1: presets view; 2..5: levels view with that value column focused.
    int columnCursor() const noexcept { return cursor; }
    /// Clamps to 1..5.
    void setColumnCursor(int column);
    bool levelsView() const noexcept { return cursor >= 2; }
    /// The column's width in pixels in the current view; 0 hides it.
    int columnWidth(int column) const;
    static int columnWidth(int column, bool levels);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Column 0, edit role: renames the slot.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

Q_SIGNALS:
    /// The cursor moved; viewChanged tells whether the view switched with it.
    void columnCursorChanged(int column, bool viewChanged);
    /// A mixer row's meter changed (its bar is drawn over the cells, not in one).
    void meterChanged(int row);

private:
    void refreshRow(int row, const rack::RowView& fresh);

    rack::RackController& rackController;
    std::vector<rack::RowView> shown;
    int cursor = 1;
};

} // namespace trelvo::ui

Q_DECLARE_METATYPE(trelvo::rack::RowView)
