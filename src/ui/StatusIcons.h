#pragma once

#include <QPixmap>
#include <QString>
#include <array>

namespace trelvo::ui {

inline constexpr int kStatusIconCount = 12;
inline constexpr int kStatusIconSize = 16;

/// The slot list's status icons: 0..7 a mixer slot (+4 Off, +2 muted, +1 soloed), 8..11 any
/// other slot (+1 bypassed, +2 Off).
using StatusIconStrip = std::array<QPixmap, kStatusIconCount>;

/// Cuts a strip of 12 images, each 16 x 16, side by side, into its icons. A file that is
/// missing or too small gives blank icons and one error line in the log: the list still works.
StatusIconStrip loadStatusIcons(const QString& path);

/// The icon by index, from the strip in the shared files ("icons/slot-status.png"), loaded on
/// first use. An index outside 0..11 gives a blank icon. Thread: user interface.
const QPixmap& statusIcon(int index);

} // namespace trelvo::ui
