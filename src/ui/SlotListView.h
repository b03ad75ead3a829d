#pragma once

#include <QTableView>

#include "session/ListColours.h"

namespace trelvo::ui {

class SlotListModel;
class SlotListDelegate;

/// The slot list `LV`: one row per used slot, grid lines, one row selected at a time, the
/// slot name renamed in place. Its own keys (while no name is being edited): Left and Right
/// move the value-column cursor, Backspace switches between the presets and the levels view,
/// PgUp and PgDn jump to the nearest mixer slot; "," ".", Space and "/" are handed to the
/// window as signals. Colours follow the palette (and the system theme).
class SlotListView : public QTableView {
    Q_OBJECT
public:
    /// Row height: an 8 point line and the 16-pixel status icon.
    static constexpr int kRowHeight = 18;

    explicit SlotListView(QWidget* parent = nullptr);

    /// The list shows a SlotListModel; any other model is shown as a plain table.
    void setModel(QAbstractItemModel* model) override;
    SlotListModel* listModel() const noexcept { return slotModel; }
    SlotListDelegate& delegate() noexcept { return *cellDelegate; }

    /// Selects the row of a slot without reporting it as the user's choice (slotSelected);
    /// nothing while a name is being edited.
    void showSelected(int slot);
    /// Every idle tick: the model follows the controller's rows, the selection its selected
    /// slot. Thread: user interface.
    void refresh();

    /// Starts editing the selected slot's name ("Rename Slot...", F2); Enter keeps the new
    /// name, Esc drops it.
    void startRename();
    /// True while a slot name is being edited: the window's own keys keep out of it.
    bool isRenaming() const { return state() == QAbstractItemView::EditingState; }

    /// Recomputes the colours from the palette and repaints.
    void applyColours();
    /// The widths of the current view.
    void applyColumnWidths();

Q_SIGNALS:
    /// The user selected a slot's row.
    void slotSelected(int slot);
    /// "," (direction -1) or "." (+1) on the focused value column (the column cursor).
    void stepValue(int column, int direction);
    /// Space, with the modifiers held: start/pause, or with Shift/Ctrl restart or stop.
    void transportKey(Qt::KeyboardModifiers modifiers);
    /// "/": the program-mode popup, at the selected row.
    void programModeMenuRequested(QPoint globalPosition);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void goToRow(int row);
    /// The nearest mixer row from row in direction (-1 up, +1 down), or -1.
    int nearestMixerRow(int row, int direction) const;
    void updateMeter(int row);

    SlotListModel* slotModel = nullptr;
    SlotListDelegate* cellDelegate;
    rack::ListColours colours;
    bool following = false; // the selection follows the controller: no slotSelected
};

} // namespace trelvo::ui
