#pragma once

#include <QStyledItemDelegate>

#include "session/ListColours.h"

namespace trelvo::ui {

/// Paints the slot list's cells: the row's background and font style by its kind (mixer
/// bold, open plug-in normal, any other slot italic), the status icon and the name in
/// column 0, the value texts, and a frame around the focused value column of the selected
/// row. The meter bar lies across cells, so the view draws it with paintMeter().
/// Editing (the slot name) is the standard line edit.
class SlotListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    /// Left edge of the meter bar from the row's left edge, its length (one pixel per
    /// segment) and its height.
    static constexpr int kMeterLeft = 81;
    static constexpr int kMeterLength = 28;
    static constexpr int kMeterHeight = 2;
    /// Where the name starts after the icon; non-mixer rows are indented further.
    static constexpr int kMixerIconIndent = 2;
    static constexpr int kOtherIconIndent = 9;

    /// Paints the cells of a SlotListModel; the colours are the light theme's until set.
    explicit SlotListDelegate(QObject* parent = nullptr);

    void setColours(const rack::ListColours& colours) { listColours = colours; }
    const rack::ListColours& colours() const noexcept { return listColours; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// Draws a meter: segments 1..12 green, 13..21 yellow, 22 and up red, the rest of the
    /// track purple; rowLeft is the row's left edge and bottom the last pixel row of the bar.
    static void paintMeter(QPainter& painter, int rowLeft, int bottom, int segment);
    /// The colour of a meter pixel: 1-based segment number against the shown segment.
    static QColor meterColour(int pixel, int segment);

private:
    rack::ListColours listColours;
};

} // namespace trelvo::ui
