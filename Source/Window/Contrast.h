#pragma once

// The page in high contrast: every palette colour a primitive paints with becomes one of the system's
// colours, by what the colour is used for. Portable: the choice needs no window, and the native tests
// pin it; the window reads the system's colours and hands them in.

#include <cstdint>

namespace Velotrix {

// The system colours high contrast draws with, each 0xRRGGBB.
struct SystemColours {
    std::uint32_t window = 0;
    std::uint32_t windowText = 0;
    std::uint32_t highlight = 0;
    std::uint32_t highlightText = 0;
    std::uint32_t buttonFace = 0;
    std::uint32_t buttonText = 0;
    std::uint32_t hotTrack = 0; // links
    std::uint32_t grayText = 0; // muted text
    bool operator==(const SystemColours&) const = default;
};

// What a colour paints.
enum class PaintUse : std::uint8_t {
    Fill,   // a shape's inside
    Text,   // glyphs
    Stroke, // lines and outlines
};

// What is painted instead: a colour and alpha, and for a fill, whether it also gets an outline (so
// that a card or a button keeps its edge on a page of one colour) and in which colour.
struct ShownColour {
    std::uint32_t rgb = 0;
    std::uint8_t alpha = 255;
    bool outline = false;
    std::uint32_t outlineRgb = 0;
    bool operator==(const ShownColour&) const = default;
};

// Below this alpha a fill is a shade over what lies under it (a pill, a hovered row, the scroll
// thumb); high contrast draws such a shade as an outline only. At or above it a fill is solid.
inline constexpr std::uint8_t ShadeAlphaBelow = 200;

// `paletteRgb` at `alpha` as high contrast paints it for `use`. The QR code's two colours stay as
// they are, so that the code still scans; a colour outside the palette is drawn as window text.
ShownColour HighContrastColour(std::uint32_t paletteRgb, std::uint8_t alpha, PaintUse use, const SystemColours& system);

// The text size factor of Windows' "Make text bigger" setting, as a scale: `percent` (100 to 225;
// anything else, or no setting, counts as 100) / 100.
float TextScaleOf(int percent);

} // namespace Velotrix
