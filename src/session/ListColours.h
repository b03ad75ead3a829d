#pragma once

#include <cstdint>

namespace trelvo::rack {

/// The slot list's colours, as 0xRRGGBB, derived from the system's button-face colour and
/// window-text colour. A dark button face gives mixer rows lighter than the list; a light
/// one gives them darker.
struct ListColours {
    std::uint32_t background = 0;     ///< list and window background
    std::uint32_t mixer = 0;          ///< mixer rows, also the header panels
    std::uint32_t selectedOther = 0;  ///< selected MIDI, input or failed plug-in row
    std::uint32_t other = 0;          ///< unselected MIDI, input or failed plug-in row
    std::uint32_t selectedPlugIn = 0; ///< selected open plug-in row, also the transport buttons
    std::uint32_t selectedMixer = 0;  ///< selected mixer row
    std::uint32_t lightGreen = 0;     ///< the status label
    std::uint32_t darkGreen = 0;
    std::uint32_t text = 0;     ///< the selected row's text: the window-text colour
    std::uint32_t softText = 0; ///< every other row's text
};

/// The colours for a button face and a window-text colour (both 0xRRGGBB).
ListColours listColoursFor(std::uint32_t buttonFace, std::uint32_t windowText) noexcept;

} // namespace trelvo::rack
