#include "Window/Page.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "Server/Protocol.h"
#include "Shell/AddressOrder.h"
#include "Shell/TextConversion.h"
#include "Version.h"
#include "Common/Links.h"
#include "Window/AccessPrimitives.h"
#include "Window/Palette.h"
#include "Window/PhoneRows.h"
#include "Window/Primitives.h"
#include "Window/WindowRules.h"

namespace Velotrix {

namespace {

constexpr wchar_t ShareGlyph[] = L"\uE72D";

struct StatusTexts {
    std::wstring title;
    std::wstring explanation;
    std::uint32_t dot = 0;
};

enum class ServerCondition { Failed, DriverLost, DriverMissing, Ready };

ServerCondition ConditionOf(const PageInput& input) {
    if (!input.startError.empty()) {
        return ServerCondition::Failed;
    }
    if (input.busLost) return ServerCondition::DriverLost;
    return input.busConnected ? ServerCondition::Ready : ServerCondition::DriverMissing;
}

StatusTexts TextsOf(ServerCondition condition, const PageInput& input) {
    switch (condition) {
    case ServerCondition::Failed:
        return {L"The server could not start", ToUtf16(input.startError), Palette::Danger};
    case ServerCondition::DriverMissing:
        return {L"Controller driver missing",
                L"Velotrix uses the ViGEmBus driver to add a virtual Xbox 360 controller to Windows. Install it "
                L"once, then connect your phone.",
                Palette::Danger};
    case ServerCondition::DriverLost:
        return {L"The controller driver went away",
                L"Windows took the ViGEmBus driver away (after sleep, an update, or in Device Manager). Your phones "
                L"stay connected, and Velotrix gives them their controllers back as soon as the driver returns.",
                Palette::Warning};
    case ServerCondition::Ready:
        break;
    }
    return {L"Ready for your phone",
            L"Open Velotrix on your iPhone on the same Wi-Fi as this PC and choose it from the list.", Palette::Accent};
}

void DrawHeader(PaintContext& context, float top, const PageFrame& frame) {
    const float s = context.scale;
    DrawSteeringIcon(context, 2 * frame.pad, top + 20 * s, 16 * s, 0);
    DrawTextAt(context, L"Velotrix", frame.pad + 54 * s, top + 2 * s, context.titleFormat, Palette::Text);
    DrawTextAt(context, L"PC server for the iPhone app", frame.pad + 55 * s, top + 29 * s, context.smallFormat,
               Palette::MutedText);
    float width = MeasureTextWidth(context, L"Share", context.buttonFormat) + 28 * s;
    if (context.iconFormat != nullptr) {
        width += 21 * s;
    }
    DrawButton(context, ClickRect{frame.right - width, top + 5 * s, width, 32 * s}, L"Share",
               ClickAction::ShareAppLinks, 0, Palette::Control, Palette::Text, ShareGlyph);
}

struct CardWarning {
    const wchar_t* line = nullptr; // null: nothing to say
    const wchar_t* button = nullptr;
    ClickAction action = ClickAction::AddFirewallRule;
};

CardWarning WarningOf(const PageInput& input) {
    // The crash comes first: it was this program's own failure, and the user may want to send it on.
    if (!input.crashNotice.empty())
        return {L"Velotrix stopped unexpectedly last time and wrote a crash report.", L"Open crash reports",
                ClickAction::OpenCrashReports};
    switch (input.firewall) {
    case FirewallVerdict::RuleMissing:
        return {L"Windows Firewall may be blocking your phone.", L"Allow phones", ClickAction::AddFirewallRule};
    case FirewallVerdict::PublicNetwork:
        return {L"Phones may be blocked on a Public network.", L"Network settings", ClickAction::OpenNetworkSettings};
    case FirewallVerdict::CannotTell:
    case FirewallVerdict::Open:
        break;
    }
    return {};
}

// Answers the card's bottom.
float DrawStatusCard(PaintContext& context, const PageInput& input, float y0, const PageFrame& frame) {
    const float s = context.scale;
    const ServerCondition condition = ConditionOf(input);
    const StatusTexts texts = TextsOf(condition, input);
    const bool driverMissing = condition == ServerCondition::DriverMissing;
    const CardWarning warning = condition == ServerCondition::Failed ? CardWarning{} : WarningOf(input);

    const float textWidth = frame.contentW - 32 * s;
    const float eh = MeasureWrappedHeight(context, texts.explanation, textWidth, context.bodyFormat);
    const std::size_t extraLines =
        input.addresses.size() >= 2 ? std::min<std::size_t>(input.addresses.size() - 1, 3) : 0;
    const float buttonSpace = driverMissing ? 42 * s : 0;
    const float warningHeight =
        warning.line != nullptr ? MeasureWrappedHeight(context, warning.line, textWidth, context.bodyFormat) : 0;
    const float warningSpace = warning.line != nullptr ? warningHeight + 52 * s : 0;
    const float height = 116 * s + eh + buttonSpace + warningSpace + 20 * s * static_cast<float>(extraLines);
    FillRounded(context, ClickRect{frame.pad, y0, frame.contentW, height}, 12 * s, Palette::Card);

    FillCircle(context, frame.pad + 21 * s, y0 + 26 * s, 5 * s, texts.dot);
    DrawTextAt(context, texts.title, frame.pad + 34 * s, y0 + 16 * s, context.headingFormat, Palette::Text);
    float yb = y0 + 42 * s +
               DrawWrappedText(context, texts.explanation, frame.pad + 16 * s, y0 + 42 * s, textWidth,
                               context.bodyFormat, Palette::MutedText);
    if (driverMissing) {
        DrawButton(context, ClickRect{frame.pad + 16 * s, yb + 10 * s, 140 * s, 32 * s}, L"Install driver",
                   ClickAction::InstallDriver, 0, Palette::Accent, Palette::OnAccent);
        yb += 42 * s;
    }
    if (warning.line != nullptr) {
        DrawWrappedText(context, warning.line, frame.pad + 16 * s, yb + 12 * s, textWidth, context.bodyFormat,
                        Palette::Warning);
        const float width = MeasureTextWidth(context, warning.button, context.buttonFormat) + 28 * s;
        DrawButton(context, ClickRect{frame.pad + 16 * s, yb + warningHeight + 20 * s, width, 32 * s}, warning.button,
                   warning.action, 0, Palette::Control, Palette::Text);
        yb += warningSpace;
    }

    const float labelX = frame.pad + 16 * s;
    const float valueX = frame.pad + 112 * s;
    const float y1 = yb + 14 * s;
    DrawTextAt(context, L"This PC", labelX, y1, context.bodyFormat, Palette::MutedText);
    DrawTextAt(context, input.computerName, valueX, y1, context.bodyFormat, Palette::Text);

    const float y2 = y1 + 22 * s;
    DrawTextAt(context, L"Address", labelX, y2, context.bodyFormat, Palette::MutedText);
    if (input.addresses.empty()) {
        DrawTextAt(context, L"No network", valueX, y2, context.bodyFormat, Palette::Warning);
    } else {
        const std::wstring first = ToUtf16(input.addresses.front().address);
        DrawTextAt(context, first, valueX, y2, context.headingFormat, Palette::Text);
        DrawTextAt(context, L"  port " + std::to_wstring(input.port),
                   valueX + MeasureTextWidth(context, first, context.headingFormat), y2 + 1 * s, context.bodyFormat,
                   Palette::MutedText);
        float line = y2;
        for (std::size_t i = 1; i <= extraLines; ++i) {
            line += 20 * s;
            const LocalAddress& address = input.addresses[i];
            DrawTextAt(context, ToUtf16(address.address) + L"   " + address.interfaceName, valueX, line,
                       context.smallFormat, Palette::MutedText);
        }
    }
    return y0 + height;
}

const wchar_t* const Steps[] = {
    L"Scan the code with your iPhone to get Velotrix from the App Store.",
    L"Join the same Wi-Fi network as this PC.",
    L"Open the app and pick this PC.",
};

// Answers the card's bottom.
float DrawEmptyState(PaintContext& context, float yc, const PageFrame& frame) {
    const float s = context.scale;
    const float m = std::max(std::floor(3 * s), 2.0f);
    const float q = 37 * m;
    const float tw = frame.contentW - 48 * s - q - 20 * s;
    float sh = 0;
    for (const wchar_t* step : Steps) {
        sh += MeasureWrappedHeight(context, step, tw, context.bodyFormat) + 5 * s;
    }
    const float inner = std::max(4 * s + q + 22 * s, 28 * s + sh + 10 * s + 30 * s);
    const float height = inner + 32 * s;
    FillRounded(context, ClickRect{frame.pad, yc, frame.contentW, height}, 12 * s, Palette::Card);

    DrawTextAt(context, L"No phone connected yet", frame.pad + 16 * s, yc + 16 * s, context.headingFormat,
               Palette::Text);
    float ys = yc + 44 * s;
    int number = 1;
    for (const wchar_t* step : Steps) {
        DrawTextAt(context, std::to_wstring(number++) + L".", frame.pad + 16 * s, ys, context.bodyFormat,
                   Palette::MutedText);
        ys +=
            DrawWrappedText(context, step, frame.pad + 36 * s, ys, tw, context.bodyFormat, Palette::MutedText) + 5 * s;
    }
    DrawButton(context, ClickRect{frame.pad + 16 * s, ys + 10 * s, 150 * s, 30 * s}, L"Open the App Store",
               ClickAction::OpenAppStore, 0, Palette::Accent, Palette::OnAccent);

    // Whole pixels, so that the aliased modules land on the pixel grid and scan cleanly.
    const float qx = std::round(frame.right - 16 * s - q);
    const float qy = std::round(yc + 20 * s);
    DrawQrCode(context, qx, qy, m);
    DrawCenteredText(context, L"iPhone app", ClickRect{qx, qy + q + 3 * s, q, 16 * s}, context.smallFormat,
                     Palette::MutedText);
    return yc + height;
}

// Answers the y where the footer starts.
float DrawOptions(PaintContext& context, const PageInput& input, float y4, const PageFrame& frame) {
    const float s = context.scale;
    DrawTextAt(context, L"OPTIONS", frame.pad + 2 * s, y4, context.buttonFormat, Palette::MutedText);
    const float yo = y4 + 22 * s;
    constexpr float RememberedRowHeight = 52;
    const float listHeight =
        input.remembered.empty() ? 0 : (30 + RememberedRowHeight * static_cast<float>(input.remembered.size())) * s;
    FillRounded(context, ClickRect{frame.pad, yo, frame.contentW, 148 * s + listHeight}, 12 * s, Palette::Card);
    float row = yo + 4 * s;
    row += DrawToggleRow(context, frame.pad, frame.contentW, row, L"Ask before a new phone connects", {},
                         input.askFirst, ClickAction::ToggleAskFirst);
    row += DrawToggleRow(context, frame.pad, frame.contentW, row, L"Start with Windows",
                         L"In the notification area, ready for the phone.", input.startWithWindows,
                         ClickAction::ToggleStartWithWindows);
    row += DrawToggleRow(context, frame.pad, frame.contentW, row, L"Keep running when the window closes",
                         L"Quit from the notification area icon.", input.keepInTray, ClickAction::ToggleKeepInTray);
    if (!input.remembered.empty()) {
        DrawTextAt(context, L"Phones that connect without asking", frame.pad + 12 * s, row + 10 * s,
                   context.smallFormat, Palette::MutedText);
        row += 30 * s;
        for (std::size_t i = 0; i < input.remembered.size(); ++i) {
            const RememberedRow& phone = input.remembered[i];
            const float bw = 84 * s;
            const float bx = frame.right - 12 * s - bw;
            const float tx = frame.pad + 12 * s;
            DrawTrimmedText(context, phone.name, tx, row + 6 * s, bx - 8 * s - tx, context.bodyFormat, Palette::Text);
            DrawTrimmedText(context, phone.seen, tx, row + 26 * s, bx - 8 * s - tx, context.smallFormat,
                            Palette::MutedText);
            DrawButton(context, ClickRect{bx, row + 10 * s, bw, 28 * s}, L"Forget", ClickAction::ForgetPhone,
                       static_cast<std::int32_t>(i), Palette::Control, Palette::Text);
            row += RememberedRowHeight * s;
        }
    }
    return row + 18 * s;
}

// A link is a region without a button shape: its text, underlined while hovered.
void DrawLink(PaintContext& context, const wchar_t* text, float x, float yf, ClickAction action) {
    const float s = context.scale;
    const float lw = MeasureTextWidth(context, text, context.smallFormat);
    DrawTextAt(context, text, x, yf, context.smallFormat, Palette::Accent);
    if (NextRegionHovered(context)) {
        FillRect(context, ClickRect{x, yf + 15.5f * s, lw, 1 * s}, Palette::Accent);
    }
    RecordRegion(context, ClickRect{x, yf - 3 * s, lw, 21 * s}, action, 0);
}

void DrawFooter(PaintContext& context, float yf, const PageFrame& frame) {
    const float s = context.scale;
    const wchar_t maker[] = L"Quillon  \u00B7  version " VELOTRIX_DISPLAY_VERSION;
    DrawTextAt(context, maker, frame.pad + 2 * s, yf, context.smallFormat, Palette::MutedText);
    DrawLink(context, L"Copy diagnostics",
             frame.pad + 2 * s + MeasureTextWidth(context, maker, context.smallFormat) + 16 * s, yf,
             ClickAction::CopyDiagnostics);
    DrawLink(context, WebLinkText, frame.right - MeasureTextWidth(context, WebLinkText, context.smallFormat), yf,
             ClickAction::OpenWebPage);
}

// Each of these names every field of what it compares, so a field added to a struct stops this file
// from compiling until it is either compared or left out on purpose (not drawn).

// The echo, the session and the vertical left stick are not drawn: a phone that sends the same
// controls again looks the same.
auto DrawnFields(const InputState& input) {
    const auto& [sessionId, leftX, leftY, rightX, rightY, leftTrigger, rightTrigger, buttons, echo] = input;
    return std::tie(leftX, rightX, rightY, leftTrigger, rightTrigger, buttons);
}

// A rumble is drawn as on or off, whatever its strength, and the Wi-Fi figures as their mark; the id
// is not drawn.
auto DrawnFields(const PhoneView& view) {
    const auto& [sessionId, idText, name, address, state, player, input, idle, inputRate, rumbleLarge, rumbleSmall,
                 lossPercent, jitterMs, longestGapMs] = view;
    return std::tuple_cat(
        std::tie(sessionId, name, address, state, player, idle, inputRate), DrawnFields(input),
        std::make_tuple(rumbleLarge != 0 || rumbleSmall != 0, SignalMarkOf(lossPercent, jitterMs, longestGapMs)));
}

// Which address is best only orders the list, and the order is compared anyway.
auto DrawnFields(const LocalAddress& local) {
    const auto& [address, interfaceName, best] = local;
    return std::tie(address, interfaceName);
}

template <typename T>
bool SameLists(const std::vector<T>& a, const std::vector<T>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const T& x, const T& y) { return DrawnFields(x) == DrawnFields(y); });
}

} // namespace

bool PaintsTheSame(const PageInput& a, const PageInput& b) {
    const auto fields = [](const PageInput& page) {
        const auto& [width, height, scrollOffset, startError, busConnected, busLost, port, computerName, addresses,
                     askFirst, keepInTray, startWithWindows, demo, phones, advised, firewall, crashNotice, remembered] =
            page;
        return std::tie(width, height, scrollOffset, startError, busConnected, busLost, port, computerName, askFirst,
                        keepInTray, startWithWindows, demo, advised, firewall, crashNotice, remembered);
    };
    return fields(a) == fields(b) && SameLists(a.addresses, b.addresses) && SameLists(a.phones, b.phones);
}

PageResult PaintPage(PaintContext& context, const PageInput& input) {
    PageResult result;
    const float s = context.scale;
    const float width = std::max(1.0f, input.width);
    PageFrame frame;
    frame.pad = 20 * s;
    frame.right = width - frame.pad;
    frame.contentW = width - 2 * frame.pad;
    const float top = frame.pad - input.scrollOffset;

    context.target->SetTransform(D2D1::Matrix3x2F::Identity());
    const ShownColour background = ShownColourOf(context, Palette::Background, 255, PaintUse::Fill);
    context.target->Clear(MakeColor(background.rgb));
    if (context.regions != nullptr) {
        context.regions->clear();
    }
    context.regionCounter = 0;
    if (context.texts != nullptr) {
        context.texts->clear();
    }
    if (context.groups != nullptr) {
        context.groups->clear();
    }

    DrawHeader(context, top, frame);
    const float statusBottom = DrawStatusCard(context, input, top + 62 * s, frame);

    const float y3 = statusBottom + 22 * s;
    int controllers = 0;
    for (const PhoneView& view : input.phones) {
        if (view.state == static_cast<std::uint8_t>(PhoneState::Active)) {
            ++controllers;
            result.animating = result.animating || !view.idle;
        }
    }
    DrawTextAt(context, L"PHONES", frame.pad + 2 * s, y3, context.buttonFormat, Palette::MutedText);
    const std::wstring count = std::to_wstring(controllers) + L" of 4 controllers";
    DrawTextAt(context, count, frame.right - MeasureTextWidth(context, count, context.smallFormat), y3 + 1 * s,
               context.smallFormat, Palette::MutedText);

    float y = y3 + 24 * s;
    if (input.phones.empty()) {
        y = DrawEmptyState(context, y, frame) + 12 * s;
    } else {
        for (const PhoneView& view : input.phones) {
            const bool advice =
                std::find(input.advised.begin(), input.advised.end(), view.sessionId) != input.advised.end();
            y = DrawPhoneCard(context, view, y, frame, input.demo, advice) + 10 * s;
        }
    }

    const float yf = DrawOptions(context, input, y + 10 * s, frame);
    DrawFooter(context, yf, frame);
    result.contentHeight = yf + input.scrollOffset + 40 * s;
    // Drawn last, over the page: without it nothing says that the options lie below the fold.
    const ScrollThumb thumb = ScrollThumbOf(input.scrollOffset, s, result.contentHeight, width, input.height);
    if (thumb.visible) {
        FillRounded(context, ClickRect{thumb.x, thumb.y, thumb.width, thumb.height}, thumb.width * 0.5f,
                    Palette::MutedText, 160);
    }
    return result;
}

} // namespace Velotrix
