#pragma once

// One card per phone in the phones section of the page.

#include <cstdint>
#include <string>

#include "Server/Server.h"
#include "Window/Page.h"
#include "Window/WindowRules.h"

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
// In design units: 156 for Active, 96 for the others; an Active card showing its advice grows by the
// advice's lines.
float CardHeightOf(std::uint8_t state);
// The explanation under a phone that was turned away; empty for Active and Waiting.
std::wstring ExplanationOf(std::uint8_t state);

// An Active phone's status line: the address and the rate or "paused" before the signal mark, the
// rumble note after it. In demo mode every phone shows the same made-up address so that screenshots
// give away no real network.
struct StatusLine {
    std::wstring lead;
    std::wstring tail;
};
StatusLine StatusLineOf(const PhoneView& view, bool demo);

// The signal mark: bars lit of three and a word, in the mark's colour.
struct SignalLook {
    int bars = 0;
    std::wstring word;
    std::uint32_t rgb = 0;
};
SignalLook SignalLookOf(SignalMark mark);
SignalMark SignalMarkOf(const PhoneView& view);
// What to try, under a phone whose Wi-Fi has been poor for a while.
std::wstring WifiAdvice();

// Draws the card with its top at `y` and answers its bottom; `advice` adds the Wi-Fi advice to an
// Active card.
float DrawPhoneCard(PaintContext& context, const PhoneView& view, float y, const PageFrame& frame, bool demo,
                    bool advice);

} // namespace Velotrix
