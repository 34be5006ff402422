// High contrast: what each palette colour becomes, by its use, in the system's colours; and the text
// size setting read as a scale.

#include "Window/Contrast.h"

#include <gtest/gtest.h>

#include "Window/PaletteColours.h"

namespace Velotrix {
namespace {

TEST(ContrastTest, EveryPaletteColourBecomesTheSystemColourOfItsUse) {
    // Every system colour distinct, so that a wrong pick shows.
    const SystemColours system{.window = 0x000001,
                               .windowText = 0x000002,
                               .highlight = 0x000003,
                               .highlightText = 0x000004,
                               .buttonFace = 0x000005,
                               .buttonText = 0x000006,
                               .hotTrack = 0x000007,
                               .grayText = 0x000008};
    constexpr auto Fill = PaintUse::Fill, Text = PaintUse::Text, Stroke = PaintUse::Stroke;
    struct Case {
        const char* what;
        std::uint32_t palette;
        std::uint8_t alpha;
        PaintUse use;
        ShownColour expected;
    };
    const Case cases[] = {
        {"the page's background", Palette::Background, 255, Fill, {0x000001, 255, false, 0}},
        {"a card keeps its edge on the window colour", Palette::Card, 255, Fill, {0x000001, 255, true, 0x000002}},
        {"a grey button, not hovered, is solid in the button face",
         Palette::Control,
         225,
         Fill,
         {0x000005, 255, true, 0x000006}},
        {"a hovered option row is outlined in the highlight",
         Palette::Control,
         140,
         Fill,
         {0x000005, 0, true, 0x000003}},
        {"a green button, a switch that is on, the ready dot", Palette::Accent, 255, Fill, {0x000003, 255, false, 0}},
        {"the web link", Palette::Accent, 255, Text, {0x000007, 255, false, 0}},
        {"the focus ring and the wheel's top mark", Palette::Accent, 255, Stroke, {0x000003, 255, false, 0}},
        {"text on a green button", Palette::OnAccent, 255, Text, {0x000004, 255, false, 0}},
        {"plain text", Palette::Text, 255, Text, {0x000002, 255, false, 0}},
        {"muted text", Palette::MutedText, 255, Text, {0x000008, 255, false, 0}},
        {"a warning's pill is an outline in window text", Palette::Warning, 40, Fill, {0x000002, 0, true, 0x000002}},
        {"a danger's words are window text", Palette::Danger, 255, Text, {0x000002, 255, false, 0}},
        {"the QR code's modules stay black", Palette::QrDark, 255, Fill, {Palette::QrDark, 255, false, 0}},
        {"the QR code's ground stays white", Palette::QrLight, 255, Fill, {Palette::QrLight, 255, false, 0}},
        {"a colour outside the palette", 0x123456, 255, Text, {0x000002, 255, false, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(HighContrastColour(c.palette, c.alpha, c.use, system), c.expected) << c.what;
}

TEST(ContrastTest, TextSizeIsTheSettingsPercentBetweenItsEndsElseOne) {
    struct Case {
        int percent;
        float scale;
    };
    for (const Case& c : {Case{100, 1.0f}, {150, 1.5f}, {225, 2.25f}, {99, 1.0f}, {226, 1.0f}, {0, 1.0f}})
        EXPECT_FLOAT_EQ(TextScaleOf(c.percent), c.scale) << c.percent;
}

} // namespace
} // namespace Velotrix
