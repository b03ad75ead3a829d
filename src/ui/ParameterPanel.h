#pragma once

#include <QAbstractListModel>
#include <QWidget>

#include "session/ParameterList.h"

class QAction;
class QLabel;
class QListView;
class QMenu;

namespace trelvo::rack {
class RackController;
}

namespace trelvo::ui {

/// The selected slot's parameters, one line per row. Lines are made when the view asks for
/// them, so that only the rows on screen call into the plug-in, whatever its size.
class ParameterListModel : public QAbstractListModel {
    Q_OBJECT
public:
    ParameterListModel(rack::RackController& controller, rack::ParameterList& parameters, QObject* parent);

    int slot() const noexcept { return shownSlot; }
    /// Shows a slot's parameters (-1: none), rebuilt from scratch.
    void showSlot(int slot);
    /// One parameter's row again (automation), without a rebuild.
    void refreshParameter(int parameter);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    rack::RackController& rack;
    rack::ParameterList& list;
    int shownSlot = -1;
    int rows = 0;
};

/// The parameter list with its header and popup menu, shown in the mixer panel or docked.
/// Its keys: Enter types a value, "," and "." step (Shift fine, Ctrl to the limit),
/// Backspace switches float and descriptive display, Ctrl+Backspace the parameter map, F2
/// renames a map row, Alt+Enter opens the map. Thread: user interface.
class ParameterPanel : public QWidget {
    Q_OBJECT
public:
    ParameterPanel(rack::RackController& controller, QWidget* parent);

    QListView* view() const noexcept { return listView; }
    ParameterListModel* model() const noexcept { return rowsModel; }
    rack::ParameterList& parameters() noexcept { return list; }
    QMenu* menu() const noexcept { return popup; }

    /// The selected slot's parameters (a new slot, a new map, another display mode).
    void refresh();
    /// Each idle tick: another slot selected, a plug-in loaded or gone, or the map's rows
    /// changed rebuild the list; another program repaints the rows on screen.
    void followSelection();
    /// A slot's parameter changed (command 10 of the slot command queue).
    void refreshParameter(int slot, int parameter);

    /// The commands of the popup menu.
    void toggleFloat();
    void toggleMap();
    void renameRow();
    void openMap();
    void typeValue();
    void stepValue(int direction, Qt::KeyboardModifiers modifiers);

Q_SIGNALS:
    /// "Params in &Mixer" ('M') or "Params D&ocked" ('D').
    void placeRequested(char place);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    host::TVstPlugIn* loadedSlot() const;
    int currentRow() const;
    void updateActions();

    rack::RackController& rack;
    rack::ParameterList list;
    ParameterListModel* rowsModel = nullptr;
    QLabel* header = nullptr;
    QListView* listView = nullptr;
    QMenu* popup = nullptr;
    QAction *useMap = nullptr, *rename = nullptr, *properties = nullptr;
    struct Shown {
        int slot = -2, rows = -1, program = -1;
        const void* effect = nullptr; ///< the plug-in itself: a replaced one rebuilds
        bool mapped = false;
        bool operator==(const Shown&) const = default;
    } shown;
};

} // namespace trelvo::ui
