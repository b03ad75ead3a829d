#include "ui/ListPalette.h"

namespace trelvo::ui {

namespace {

std::uint32_t rgbOf(const QColor& colour) {
    return static_cast<std::uint32_t>(colour.rgb()) & 0xFFFFFFu;
}

} // namespace

rack::ListColours listColoursOf(const QPalette& palette) {
    return rack::listColoursFor(rgbOf(palette.color(QPalette::Button)), rgbOf(palette.color(QPalette::WindowText)));
}

QColor toQColor(std::uint32_t rgb) {
    return QColor::fromRgb(static_cast<QRgb>(0xFF000000u | (rgb & 0xFFFFFFu)));
}

} // namespace trelvo::ui
