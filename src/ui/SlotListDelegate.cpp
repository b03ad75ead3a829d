#include "ui/SlotListDelegate.h"

#include <QPainter>

#include "ui/ListPalette.h"
#include "ui/SlotListModel.h"
#include "ui/StatusIcons.h"

namespace trelvo::ui {

namespace {

constexpr int kTextPadding = 3;
constexpr int kIconGap = 3;

} // namespace

SlotListDelegate::SlotListDelegate(QObject* parent)
    : QStyledItemDelegate(parent), listColours(rack::listColoursFor(0xF0F0F0, 0x000000)) {}

void SlotListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto* model = qobject_cast<const SlotListModel*>(index.model());
    const rack::RowView* row = model ? model->rowView(index.row()) : nullptr;
    if (!row) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    std::uint32_t background = 0;
    QFont font = option.font;
    switch (row->style) {
    case 'b':
        background = selected ? listColours.selectedMixer : listColours.mixer;
        font.setBold(true);
        break;
    case 'n': background = selected ? listColours.selectedPlugIn : listColours.background; break;
    default:
        background = selected ? listColours.selectedOther : listColours.other;
        font.setItalic(true);
        break;
    }

    painter->save();
    painter->fillRect(option.rect, toQColor(background));
    painter->setFont(font);
    painter->setPen(toQColor(selected ? listColours.text : listColours.softText));

    QRect textRect = option.rect.adjusted(kTextPadding, 0, -kTextPadding, 0);
    Qt::Alignment alignment = Qt::AlignVCenter | Qt::AlignLeft;
    if (index.column() == SlotListModel::NameColumn) {
        const int indent = row->style == 'b' ? kMixerIconIndent : kOtherIconIndent;
        const QPixmap& icon = statusIcon(row->icon);
        const int iconTop = option.rect.top() + (option.rect.height() - kStatusIconSize) / 2;
        painter->drawPixmap(option.rect.left() + indent, iconTop, icon);
        textRect.setLeft(option.rect.left() + indent + kStatusIconSize + kIconGap);
    } else if (index.column() != SlotListModel::PresetColumn) {
        // The value columns are narrow: "-48", "~", "[C]" read best centred.
        textRect = option.rect.adjusted(1, 0, -1, 0);
        alignment = Qt::AlignCenter;
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    const QString shownText = QFontMetrics(font).elidedText(text, Qt::ElideRight, textRect.width());
    painter->drawText(textRect, static_cast<int>(alignment), shownText);

    if (selected && model->levelsView() && index.column() == model->columnCursor()) {
        // The value that "," and "." change.
        painter->setPen(toQColor(listColours.text));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

QSize SlotListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), kStatusIconSize + 2));
    return size;
}

QColor SlotListDelegate::meterColour(int pixel, int segment) {
    if (pixel > segment) return {128, 0, 160}; // the unlit track
    if (pixel <= 12) return {0, 200, 0};
    if (pixel <= 21) return {255, 220, 0};
    return {235, 0, 0};
}

void SlotListDelegate::paintMeter(QPainter& painter, int rowLeft, int bottom, int segment) {
    const int top = bottom - kMeterHeight + 1;
    for (int pixel = 1; pixel <= kMeterLength; ++pixel) {
        // One run per colour rather than one call per pixel.
        int last = pixel;
        const QColor colour = meterColour(pixel, segment);
        while (last < kMeterLength && meterColour(last + 1, segment) == colour) ++last;
        painter.fillRect(rowLeft + kMeterLeft + pixel - 1, top, last - pixel + 1, kMeterHeight, colour);
        pixel = last;
    }
}

} // namespace trelvo::ui
