#include "Window/Contrast.h"

#include "Window/PaletteColours.h"

namespace Velotrix {

namespace {

constexpr int SmallestTextPercent = 100;
constexpr int LargestTextPercent = 225; // the slider's end in Windows' settings

// The system colour a palette colour stands for as a solid fill and as text or line.
struct Role {
    std::uint32_t fill;
    std::uint32_t ink;
    bool edged; // a solid fill that gets an outline in `edge`
    std::uint32_t edge;
};

Role RoleOf(std::uint32_t paletteRgb, const SystemColours& c) {
    switch (paletteRgb) {
    case Palette::Background:
        return {c.window, c.windowText, false, 0};
    case Palette::Card:
        return {c.window, c.windowText, true, c.windowText};
    case Palette::Control:
        return {c.buttonFace, c.buttonText, true, c.buttonText};
    case Palette::MutedText:
        return {c.grayText, c.grayText, false, 0};
    case Palette::Accent:
        // As text the accent is the web link; as a fill or a line it marks what is on or chosen.
        return {c.highlight, c.hotTrack, false, 0};
    case Palette::OnAccent:
        return {c.highlightText, c.highlightText, false, 0};
    default:
        // Text, and the two warning colours: the system has no red or amber, and the words say it.
        return {c.windowText, c.windowText, false, 0};
    }
}

} // namespace

ShownColour HighContrastColour(std::uint32_t paletteRgb, std::uint8_t alpha, PaintUse use,
                               const SystemColours& system) {
    if (paletteRgb == Palette::QrLight || paletteRgb == Palette::QrDark) return {paletteRgb, alpha, false, 0};
    const Role role = RoleOf(paletteRgb, system);
    switch (use) {
    case PaintUse::Text:
        return {role.ink, 255, false, 0};
    case PaintUse::Stroke:
        return {paletteRgb == Palette::Accent ? system.highlight : role.ink, 255, false, 0};
    case PaintUse::Fill:
        break;
    }
    if (alpha >= ShadeAlphaBelow) return {role.fill, 255, role.edged, role.edge};
    // A hovered row is shaded in the control colour: high contrast marks it as the system marks what
    // is under the pointer. Other shades keep the edge of their own colour.
    const std::uint32_t edge = paletteRgb == Palette::Control ? system.highlight : role.ink;
    return {role.fill, 0, true, edge};
}

float TextScaleOf(int percent) {
    if (percent < SmallestTextPercent || percent > LargestTextPercent) return 1.0f;
    return static_cast<float>(percent) / 100.0f;
}

} // namespace Velotrix
