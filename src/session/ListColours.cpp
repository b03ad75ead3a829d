#include "session/ListColours.h"

#include <algorithm>

namespace trelvo::rack {

namespace {

int channel(std::uint32_t colour, int shift) {
    return static_cast<int>((colour >> shift) & 0xFFu);
}

std::uint32_t rgb(int r, int g, int b) {
    return static_cast<std::uint32_t>(std::clamp(r, 0, 255) << 16 | std::clamp(g, 0, 255) << 8 | std::clamp(b, 0, 255));
}

/// colour + step x 0x010101, channel by channel: a plain 24-bit sum would carry (or
/// borrow) from one channel into the next when a channel runs past 0 or 255.
std::uint32_t shifted(std::uint32_t colour, int step) {
    return rgb(channel(colour, 16) + step, channel(colour, 8) + step, channel(colour, 0) + step);
}

} // namespace

ListColours listColoursFor(std::uint32_t buttonFace, std::uint32_t windowText) noexcept {
    const std::uint32_t face = buttonFace & 0xFFFFFFu;
    const std::uint32_t text = windowText & 0xFFFFFFu;
    const bool darkFace = face < 0x808080u;
    const int halfMean = (channel(face, 16) + channel(face, 8) + channel(face, 0)) / 3 / 2;
    const auto tint = [halfMean](int r, int g, int b) { return rgb(r + halfMean, g + halfMean, b + halfMean); };

    ListColours colours;
    colours.background = shifted(face, darkFace ? -0x22 : -0x11);
    colours.mixer = shifted(face, darkFace ? 0x11 : -0x22);
    colours.selectedOther = tint(255, 51, 51);
    colours.other = tint(136, 0, 0);
    colours.selectedPlugIn = tint(51, 102, 255);
    colours.selectedMixer = tint(0, 0, 136);
    colours.lightGreen = tint(51, 255, 102);
    colours.darkGreen = tint(0, 136, 0);
    colours.text = text;
    colours.softText = shifted(text, text < 0x808080u ? 0x33 : -0x33);
    return colours;
}

} // namespace trelvo::rack
