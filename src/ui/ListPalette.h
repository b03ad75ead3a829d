#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

#include "session/ListColours.h"

namespace trelvo::ui {

/// The slot list's colours for a palette: its button colour stands for the system's button
/// face, its window-text colour for the window text.
rack::ListColours listColoursOf(const QPalette& palette);

/// A 0xRRGGBB colour as Qt's (opaque).
QColor toQColor(std::uint32_t rgb);

} // namespace trelvo::ui
