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
    const float lineX = frame.pad + 14 * s;
    DrawTrimmedText(context, StatusLineOf(view, demo), lineX, y + 122 * s, disconnectX - 8 * s - lineX,
                    context.smallFormat, Palette::MutedText);
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

std::wstring StatusLineOf(const PhoneView& view, bool demo) {
    std::wstring line = demo ? std::wstring(DemoPhoneAddress) : ToUtf16(view.address);
    line += L"  \u00B7  ";
    line += view.idle ? std::wstring(L"paused") : std::to_wstring(view.inputRate) + L" updates/s";
    if (view.rumbleLarge != 0 || view.rumbleSmall != 0) {
        line += L"  \u00B7  rumble";
    }
    return line;
}

float DrawPhoneCard(PaintContext& context, const PhoneView& view, float y, const PageFrame& frame, bool demo) {
    const float s = context.scale;
    const float h = CardHeightOf(view.state) * s;
    FillRounded(context, ClickRect{frame.pad, y, frame.contentW, h}, 12 * s, Palette::Card);
    RecordGroup(context, ClickRect{frame.pad, y, frame.contentW, h}, static_cast<std::int32_t>(view.sessionId));

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
