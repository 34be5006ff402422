#include "Window/AccessPrimitives.h"

#include "Window/Palette.h"

namespace Velotrix {

namespace {

constexpr float RingGap = 3.0f;       // between the control's edge and the ring's inner edge
constexpr float RingWidth = 2.0f;     // the stroke
constexpr float ControlRadius = 8.0f; // the buttons' and rows' corners, which the ring follows

} // namespace

ShownColour ShownColourOf(const PaintContext& context, std::uint32_t rgb, std::uint8_t alpha, PaintUse use) {
    if (context.highContrast == nullptr) return {rgb, alpha, false, 0};
    return HighContrastColour(rgb, alpha, use, *context.highContrast);
}

void DrawFocusRing(PaintContext& context, const ClickRect& rect) {
    const float s = context.scale;
    // The stroke is centred on the path: half of it lies inside, so the path runs half a stroke out.
    const float out = (RingGap + RingWidth * 0.5f) * s;
    const D2D1_RECT_F ring =
        D2D1::RectF(rect.x - out, rect.y - out, rect.x + rect.width + out, rect.y + rect.height + out);
    const ShownColour colour = ShownColourOf(context, Palette::Accent, 255, PaintUse::Stroke);
    context.brush->SetColor(MakeColor(colour.rgb, colour.alpha));
    const float radius = ControlRadius * s + out;
    context.target->DrawRoundedRectangle(D2D1::RoundedRect(ring, radius, radius), context.brush, RingWidth * s);
}

} // namespace Velotrix
