#include "Window/PhoneRows.h"

#include <algorithm>
#include <array>

#include "Server/Protocol.h"
#include "Shell/TextConversion.h"
#include "Window/Palette.h"
#include "Window/Primitives.h"

namespace Velotrix {

namespace {

constexpr wchar_t DemoPhoneAddress[] = L"192.168.1.34";

struct ButtonIndicator {
    std::uint16_t mask;
    const wchar_t* label;
};

// The phone's own button bits, untranslated; the stick presses and the guide have no indicator.
constexpr std::array<ButtonIndicator, 12> Indicators = {{
    {PhoneButtonA, L"A"},
    {PhoneButtonB, L"B"},
    {PhoneButtonX, L"X"},
    {PhoneButtonY, L"Y"},
    {PhoneButtonLeftShoulder, L"LB"},
    {PhoneButtonRightShoulder, L"RB"},
    {PhoneButtonView, L"View"},
    {PhoneButtonMenu, L"Menu"},
    {PhoneButtonDpadUp, L"\u25B2"},
    {PhoneButtonDpadDown, L"\u25BC"},
    {PhoneButtonDpadLeft, L"\u25C0"},
    {PhoneButtonDpadRight, L"\u25B6"},
}};

PhoneState Shown(std::uint8_t state) {
    return state > static_cast<std::uint8_t>(PhoneState::OtherVersion) ? PhoneState::OtherVersion
                                                                       : static_cast<PhoneState>(state);
}

// Three bars rising to the height of the small text's capitals, the first `bars` of them lit; the
// others stay faintly there, so that one lit bar reads as one of three.
constexpr float BarWidth = 3, BarGap = 1.5f, LowestBar = 4, BarStep = 3;
constexpr float MarkGap = 5, WordGap = 5;
constexpr std::uint8_t UnlitAlpha = 80;

// The line from `x` to `right`. When it does not fit, the mark's word goes first (its bars and colour
// still tell), then what leads up to the mark is cut.
void DrawStatusLine(PaintContext& context, const PhoneView& view, float x, float y, float right, bool demo) {
    const float s = context.scale;
    const StatusLine line = StatusLineOf(view, demo);
    SignalLook look = SignalLookOf(SignalMarkOf(view));
    const float fullLead = MeasureTextWidth(context, line.lead, context.smallFormat);
    const float tailWidth = MeasureTextWidth(context, line.tail, context.smallFormat);
    const float barsWidth = (MarkGap + 3 * BarWidth + 2 * BarGap) * s;
    float wordWidth = (WordGap * s) + MeasureTextWidth(context, look.word, context.smallFormat);
    if (fullLead + barsWidth + wordWidth + tailWidth > right - x) {
        look.word.clear();
        wordWidth = 0;
    }
    const float leadWidth = std::max(0.0f, std::min(fullLead, right - x - barsWidth - wordWidth - tailWidth));
    DrawTrimmedText(context, line.lead, x, y, leadWidth, context.smallFormat, Palette::MutedText);
    float mx = x + leadWidth + MarkGap * s;
    // The bars stand on the text's baseline, about four fifths of the way down its line.
    const float base = y + 12 * s;
    for (int bar = 0; bar < 3; ++bar) {
        const float height = (LowestBar + BarStep * static_cast<float>(bar)) * s;
        const bool lit = bar < look.bars;
        FillRect(context, ClickRect{mx, base - height, BarWidth * s, height}, lit ? look.rgb : Palette::MutedText,
                 lit ? 255 : UnlitAlpha);
        mx += (BarWidth + BarGap) * s;
    }
    mx -= BarGap * s;
    DrawTextAt(context, look.word, mx + WordGap * s, y, context.smallFormat, look.rgb);
    DrawTextAt(context, line.tail, mx + wordWidth, y, context.smallFormat, Palette::MutedText);
}

void DrawLiveView(PaintContext& context, const PhoneView& view, float y, const PageFrame& frame, bool demo) {
    const float s = context.scale;
    const float cy = y + 42 * s;
    const float bw = (frame.contentW - 28 * s - 24 * s) / 3;
    const float x1 = frame.pad + 14 * s;
    const float x2 = x1 + bw + 12 * s;
    const float x3 = x1 + 2 * (bw + 12 * s);
    const InputState& input = view.input;
    DrawLevelBar(context, x1, cy, bw, L"Steering", static_cast<float>(input.leftX / 32767.0), true, Palette::Text);
    DrawLevelBar(context, x2, cy, bw, L"Gas", static_cast<float>(input.rightTrigger / 65535.0), false, Palette::Accent);
    DrawLevelBar(context, x3, cy, bw, L"Brake", static_cast<float>(input.leftTrigger / 65535.0), false,
                 Palette::Danger);

    const float yb = cy + 42 * s;
    float x = frame.pad + 14 * s;
    for (const ButtonIndicator& indicator : Indicators) {
        const float cw = std::max(MeasureTextWidth(context, indicator.label, context.labelFormat) + 12 * s, 22 * s);
        const bool pressed = (input.buttons & indicator.mask) != 0;
        const ClickRect chip{x, yb, cw, 22 * s};
        FillRounded(context, chip, 6 * s, pressed ? Palette::Accent : Palette::Control);
        DrawCenteredText(context, indicator.label, chip, context.labelFormat,
                         pressed ? Palette::OnAccent : Palette::MutedText);
        x += cw + 4 * s;
    }

    const float stickX = frame.right - 14 * s - 13 * s;
    const float stickY = yb + 11 * s;
    context.brush->SetColor(MakeColor(Palette::Control));
    context.target->DrawEllipse(D2D1::Ellipse(D2D1::Point2F(stickX, stickY), 13 * s, 13 * s), context.brush, 2 * s);
    FillCircle(context, stickX + 9 * s * static_cast<float>(input.rightX / 32767.0),
               stickY - 9 * s * static_cast<float>(input.rightY / 32767.0), 4 * s, Palette::Text);

    const float disconnectX = frame.right - 14 * s - 104 * s;
    DrawStatusLine(context, view, frame.pad + 14 * s, y + 122 * s, disconnectX - 6 * s, demo);
    DrawButton(context, ClickRect{disconnectX, y + 118 * s, 104 * s, 26 * s}, L"Disconnect",
               ClickAction::DisconnectPhone, static_cast<std::int32_t>(view.sessionId), Palette::Control,
               Palette::Text);
}

} // namespace

PhonePill PillOf(const PhoneView& view) {
    switch (Shown(view.state)) {
    case PhoneState::Active:
        return {view.player != 0 ? L"Player " + std::to_wstring(view.player) : L"Controller", Palette::Accent};
    case PhoneState::Waiting:
        return {L"Waiting for you", Palette::Warning};
    case PhoneState::Refused:
        return {L"Refused", Palette::MutedText};
    case PhoneState::NoRoom:
        return {L"No room", Palette::Warning};
    case PhoneState::NoDriver:
        return {L"No driver", Palette::Danger};
    case PhoneState::OtherVersion:
        break;
    }
    return {L"Other version", Palette::Danger};
}

float CardHeightOf(std::uint8_t state) { return Shown(state) == PhoneState::Active ? 156.0f : 96.0f; }

std::wstring ExplanationOf(std::uint8_t state) {
    switch (Shown(state)) {
    case PhoneState::Active:
    case PhoneState::Waiting:
        return {};
    case PhoneState::Refused:
        return L"Not allowed on this PC.";
    case PhoneState::NoRoom:
        return L"Four phones are connected: Windows has room for four controllers.";
    case PhoneState::NoDriver:
        return L"Gets its controller as soon as the driver above is there.";
    case PhoneState::OtherVersion:
        break;
    }
    return L"Update the app or this server so both are the same version.";
}

StatusLine StatusLineOf(const PhoneView& view, bool demo) {
    StatusLine line;
    line.lead = demo ? std::wstring(DemoPhoneAddress) : ToUtf16(view.address);
    line.lead += L"  \u00B7  ";
    line.lead += view.idle ? std::wstring(L"paused") : std::to_wstring(view.inputRate) + L" updates/s";
    if (view.rumbleLarge != 0 || view.rumbleSmall != 0) {
        line.tail = L"  \u00B7  rumble";
    }
    return line;
}

SignalLook SignalLookOf(SignalMark mark) {
    switch (mark) {
    case SignalMark::Good:
        break;
    case SignalMark::Uneven:
        return {2, L"uneven", Palette::Warning};
    case SignalMark::Poor:
        return {1, L"poor", Palette::Danger};
    }
    return {3, L"good", Palette::Accent};
}

SignalMark SignalMarkOf(const PhoneView& view) {
    return SignalMarkOf(view.lossPercent, view.jitterMs, view.longestGapMs);
}

std::wstring WifiAdvice() { return L"Turn off Low Power Mode, move nearer the router, or use 5 GHz."; }

float DrawPhoneCard(PaintContext& context, const PhoneView& view, float y, const PageFrame& frame, bool demo,
                    bool advice) {
    const float s = context.scale;
    const bool advised = advice && Shown(view.state) == PhoneState::Active;
    const float textWidth = frame.contentW - 28 * s;
    const float adviceHeight =
        advised ? MeasureWrappedHeight(context, WifiAdvice(), textWidth, context.smallFormat) + 10 * s : 0;
    const float h = CardHeightOf(view.state) * s + adviceHeight;
    FillRounded(context, ClickRect{frame.pad, y, frame.contentW, h}, 12 * s, Palette::Card);
    RecordGroup(context, ClickRect{frame.pad, y, frame.contentW, h}, static_cast<std::int32_t>(view.sessionId));
    if (advised)
        DrawWrappedText(context, WifiAdvice(), frame.pad + 14 * s, y + CardHeightOf(view.state) * s - 2 * s, textWidth,
                        context.smallFormat, Palette::Warning);

    const PhonePill pill = PillOf(view);
    const float pw = MeasureTextWidth(context, pill.text, context.labelFormat) + 18 * s;
    const ClickRect pillRect{frame.right - 14 * s - pw, y + 13 * s, pw, 20 * s};
    const float nameX = frame.pad + 14 * s;
    DrawTrimmedText(context, view.name.empty() ? std::wstring(L"iPhone") : ToUtf16(view.name), nameX, y + 13 * s,
                    pillRect.x - 8 * s - nameX, context.headingFormat, Palette::Text);
    FillRounded(context, pillRect, 10 * s, pill.rgb, 40);
    DrawCenteredText(context, pill.text, pillRect, context.labelFormat, pill.rgb);

    switch (Shown(view.state)) {
    case PhoneState::Active:
        DrawLiveView(context, view, y, frame, demo);
        break;
    case PhoneState::Waiting: {
        DrawTextAt(context, L"wants to use this PC as a controller.", frame.pad + 14 * s, y + 40 * s,
                   context.bodyFormat, Palette::MutedText);
        const auto session = static_cast<std::int32_t>(view.sessionId);
        DrawButton(context, ClickRect{frame.right - 14 * s - 196 * s, y + 60 * s, 94 * s, 30 * s}, L"Allow",
                   ClickAction::AllowPhone, session, Palette::Accent, Palette::OnAccent);
        DrawButton(context, ClickRect{frame.right - 14 * s - 94 * s, y + 60 * s, 94 * s, 30 * s}, L"Deny",
                   ClickAction::DenyPhone, session, Palette::Control, Palette::Text);
        break;
    }
    case PhoneState::Refused: {
        // The user's "no" holds for the run, but they may change their mind while it keeps asking.
        const float bx = frame.right - 14 * s - 94 * s;
        DrawWrappedText(context, ExplanationOf(view.state), frame.pad + 14 * s, y + 40 * s,
                        bx - 8 * s - frame.pad - 14 * s, context.bodyFormat, Palette::MutedText);
        DrawButton(context, ClickRect{bx, y + 52 * s, 94 * s, 30 * s}, L"Allow", ClickAction::AllowPhone,
                   static_cast<std::int32_t>(view.sessionId), Palette::Accent, Palette::OnAccent);
        break;
    }
    default:
        DrawWrappedText(context, ExplanationOf(view.state), frame.pad + 14 * s, y + 40 * s, frame.contentW - 28 * s,
                        context.bodyFormat, Palette::MutedText);
        break;
    }
    return y + h;
}

} // namespace Velotrix
