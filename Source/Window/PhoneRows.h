#pragma once

// One card per phone in the phones section of the page.

#include <cstdint>
#include <string>

#include "Server/Server.h"
#include "Window/Page.h"

namespace Velotrix {

// The page's horizontal frame, in pixels: cards run from `pad` to `right`, `contentW` wide.
struct PageFrame {
    float pad = 0;
    float right = 0;
    float contentW = 0;
};

struct PhonePill {
    std::wstring text;
    std::uint32_t rgb = 0;
};

// The state's pill: "Player N" or "Controller" for Active, and one text per other state; values
// above OtherVersion read as OtherVersion.
PhonePill PillOf(const PhoneView& view);
// In design units: 156 for Active, 96 for the others.
float CardHeightOf(std::uint8_t state);
// The explanation under a phone that was turned away; empty for Active and Waiting.
std::wstring ExplanationOf(std::uint8_t state);
// Address, rate or "paused", and the rumble note; in demo mode every phone shows the same made-up
// address so that screenshots give away no real network.
std::wstring StatusLineOf(const PhoneView& view, bool demo);

// Draws the card with its top at `y` and answers its bottom.
float DrawPhoneCard(PaintContext& context, const PhoneView& view, float y, const PageFrame& frame, bool demo);

} // namespace Velotrix
