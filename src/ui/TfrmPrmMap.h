#pragma once

#include <QDialog>
#include <vector>

class QListWidget;
class QTreeWidget;

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::ui {

/// "Parameter mapping": the plug-in's parameters no row shows on the left, the map's rows on
/// the right; ">>" adds, "<<" removes, "&Up" and "&Dn" move, F2 renames a row. Every
/// change goes to the slot's map at once. Thread: user interface.
class TfrmPrmMap : public QDialog {
    Q_OBJECT
public:
    TfrmPrmMap(host::TVstPlugIn& slot, QWidget* parent);

    QListWidget* available() const noexcept { return lvL; }
    QTreeWidget* rows() const noexcept { return lvR; }

    void addSelected();
    void removeSelected();
    void move(int direction);
    void renameSelected();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Both lists again; the given rows (or the first item) selected on the right.
    void fill(const std::vector<int>& selectedRows);
    std::vector<int> selectedRows() const;

    host::TVstPlugIn& slot;
    QListWidget* lvL = nullptr;
    QTreeWidget* lvR = nullptr;
};

} // namespace trelvo::ui
