#pragma once

// The primitives' share of accessibility: the colour each paint call shows (the system's in high
// contrast), and the ring around the control that has the keyboard focus.

#include <cstdint>

#include "Window/ClickRegion.h"
#include "Window/Contrast.h"
#include "Window/Page.h"

namespace Velotrix {

// `rgb` at `alpha` as the page shows it for `use`: itself, or in high contrast the system's colour.
ShownColour ShownColourOf(const PaintContext& context, std::uint32_t rgb, std::uint8_t alpha, PaintUse use);

// A rounded outline 2s wide, 3s outside `rect`, in the accent (the highlight in high contrast).
void DrawFocusRing(PaintContext& context, const ClickRect& rect);

} // namespace Velotrix
