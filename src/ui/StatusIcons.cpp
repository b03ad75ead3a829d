#include "ui/StatusIcons.h"

#include <QImage>

#include "diag/DiagLog.h"
#include "ui/SharedFiles.h"

namespace trelvo::ui {

namespace {

QPixmap blankIcon() {
    QPixmap blank(kStatusIconSize, kStatusIconSize);
    blank.fill(Qt::transparent);
    return blank;
}

} // namespace

StatusIconStrip loadStatusIcons(const QString& path) {
    StatusIconStrip icons;
    const QImage strip(path);
    if (strip.width() < kStatusIconSize * kStatusIconCount || strip.height() < kStatusIconSize) {
        diag::hookedLogError("status icons: cannot read " + path.toStdString() +
                             (strip.isNull() ? std::string() : " (the strip is too small)"));
        icons.fill(blankIcon());
        return icons;
    }
    for (int i = 0; i < kStatusIconCount; ++i)
        icons[static_cast<std::size_t>(i)] =
            QPixmap::fromImage(strip.copy(i * kStatusIconSize, 0, kStatusIconSize, kStatusIconSize));
    return icons;
}

const QPixmap& statusIcon(int index) {
    static const StatusIconStrip icons = loadStatusIcons(sharedFile(QStringLiteral("icons/slot-status.png")));
    static const QPixmap blank = blankIcon();
    if (index < 0 || index >= kStatusIconCount) return blank;
    return icons[static_cast<std::size_t>(index)];
}

} // namespace trelvo::ui
