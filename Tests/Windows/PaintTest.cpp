#include "PaintHarness.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Server/Protocol.h"
#include "Shell/AddressOrder.h"
#include "Shell/ModulePath.h"
#include "Shell/TextConversion.h"
#include "Window/DemoPage.h"
#include "Window/Palette.h"
#include "Window/PhoneRows.h"

// The made-up pages and phones name only the fields that matter; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace Velotrix {
namespace {

using Action = ClickAction;
using Regions = std::vector<std::pair<Action, std::int32_t>>;

// Every page starts with the share button and ends with the options and the footer's two links.
Regions Page(Regions middle) {
    middle.insert(middle.begin(), {Action::ShareAppLinks, 0});
    for (const Action action : {Action::ToggleAskFirst, Action::ToggleStartWithWindows, Action::ToggleKeepInTray,
                                Action::CopyDiagnostics, Action::OpenWebPage})
        middle.emplace_back(action, 0);
    return middle;
}

PageInput BasePage(float scale, std::vector<PhoneView> phones = {}) {
    return {.width = std::floor(460 * scale),
            .height = std::floor(700 * scale),
            .busConnected = true,
            .port = 47821,
            .computerName = L"DESKTOP-4K7Q2M",
            .addresses = {{"192.168.1.20", L"Wi-Fi", true}},
            .askFirst = true,
            .keepInTray = true,
            .phones = std::move(phones)};
}

PhoneView Phone(std::uint32_t session, std::string name, PhoneState state) {
    return {.sessionId = session, .name = std::move(name), .address = "192.168.1.57", .state = std::uint8_t(state)};
}

// Full left steering, full gas, no brake, the right stick pushed right and up, and some rumble.
PhoneView LivePhone(std::uint32_t session, std::string name, std::int32_t player) {
    PhoneView view = Phone(session, std::move(name), PhoneState::Active);
    view.player = player;
    view.input = {.leftX = -32767, .rightX = 32767, .rightY = 32767, .rightTrigger = 65535, .buttons = 0x0101};
    view.idle = false;
    view.inputRate = 250;
    view.rumbleLarge = 140;
    return view;
}

struct WifiFigures {
    double lossPercent, jitterMs, longestGapMs;
};
PhoneView WithWifi(PhoneView view, const WifiFigures& figures) {
    view.lossPercent = figures.lossPercent;
    view.jitterMs = figures.jitterMs;
    view.longestGapMs = figures.longestGapMs;
    return view;
}

// The first is the best; the status card has room for three more, so the fifth is never shown.
const std::vector<LocalAddress> FiveAddresses = {{"192.168.1.20", L"Wi-Fi", true},
                                                 {"10.0.0.8", L"Ethernet", false},
                                                 {"172.20.1.5", L"vEthernet (WSL)", false},
                                                 {"10.8.0.2", L"VPN", false},
                                                 {"10.9.9.9", L"never shown", false}};

const std::string Maya = "Maya\xE2\x80\x99s iPhone";
const std::string Leo = "Leo\xE2\x80\x99s iPhone";

int Channel(std::uint32_t rgb, int shift) { return static_cast<int>((rgb >> shift) & 0xFF); }

// Within one step per channel: blending rounds either way.
bool Near(std::uint32_t actual, std::uint32_t expected) {
    for (const int shift : {16, 8, 0})
        if (std::abs(Channel(actual, shift) - Channel(expected, shift)) > 1) return false;
    return true;
}

// Strictly between two colours: a blend of the two, neither itself.
bool Between(std::uint32_t actual, std::uint32_t a, std::uint32_t b) {
    bool mixed = false;
    for (const int shift : {16, 8, 0}) {
        const int low = std::min(Channel(a, shift), Channel(b, shift));
        const int high = std::max(Channel(a, shift), Channel(b, shift));
        if (Channel(actual, shift) < low || Channel(actual, shift) > high) return false;
        mixed = mixed || (Channel(actual, shift) > low + 1 && Channel(actual, shift) < high - 1);
    }
    return mixed;
}

// The pixels that differ between two pictures of one size: how many, and their bounding box.
struct Change {
    int count = 0;
    int left = 0, top = 0, right = -1, bottom = -1; // inclusive
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
    int MiddleX() const { return (left + right) / 2; }
    int MiddleY() const { return (top + bottom) / 2; }
};

Change Difference(const Picture& a, const Picture& b) {
    Change change;
    EXPECT_TRUE(a.width == b.width && a.height == b.height);
    for (int y = 0; y < std::min(a.height, b.height); ++y) {
        for (int x = 0; x < std::min(a.width, b.width); ++x) {
            if (a.At(x, y) == b.At(x, y)) continue;
            if (change.count++ == 0) change = {1, x, y, x, y};
            change.left = std::min(change.left, x);
            change.right = std::max(change.right, x);
            change.bottom = y;
        }
    }
    return change;
}

// Within `rect` as drawn, give or take the pixel that antialiasing touches at each edge.
bool Inside(const Change& change, const ClickRect& rect) {
    return change.count > 0 && change.left >= std::floor(rect.x) - 1 && change.top >= std::floor(rect.y) - 1 &&
           change.right <= std::ceil(rect.x + rect.width) && change.bottom <= std::ceil(rect.y + rect.height);
}

// How far the picture goes on beside each edge of `rect` before the page's background shows, along the
// lines through its middle. A region inside a card has card above and below it, and on both sides
// unless it spans the card's whole width (the option rows do).
struct Margins {
    int left, right, top, bottom;
    bool InACard() const { return top >= 2 && bottom >= 2 && ((left >= 2 && right >= 2) || (left <= 1 && right <= 1)); }
    bool OnTheBackground() const { return left <= 1 && right <= 1 && top <= 1 && bottom <= 1; }
};

Margins MarginsAround(const Picture& picture, const ClickRect& rect) {
    const int middleX = static_cast<int>(rect.x + rect.width / 2);
    const int middleY = static_cast<int>(rect.y + rect.height / 2);
    const auto walk = [&picture](int x, int y, int dx, int dy) {
        int steps = 0;
        for (; x >= 0 && y >= 0 && x < picture.width && y < picture.height; x += dx, y += dy, ++steps)
            if (picture.At(x, y) == Palette::Background) break;
        return steps;
    };
    const int left = static_cast<int>(std::floor(rect.x)) - 1;
    const int right = static_cast<int>(std::ceil(rect.x + rect.width));
    const int top = static_cast<int>(std::floor(rect.y)) - 1;
    const int bottom = static_cast<int>(std::ceil(rect.y + rect.height));
    return {walk(left, middleY, -1, 0), walk(right, middleY, 1, 0), walk(middleX, top, 0, -1),
            walk(middleX, bottom, 0, 1)};
}

// The run of pixels of `colour` through (x, y) along its row, as its first and last column.
std::pair<int, int> RunAlongRow(const Picture& picture, int x, int y, std::uint32_t colour) {
    int first = x, last = x;
    while (picture.At(first - 1, y) == colour) --first;
    while (picture.At(last + 1, y) == colour) ++last;
    return {first, last};
}

class PaintTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(harness.Open()) << "no WIC, Direct2D or DirectWrite"; }

    // Regions and heights do not depend on the bitmap's size, so only pixel tests paint the whole page
    // (each paint costs about a second under Wine).
    PageResult PaintAt(const PageInput& page, float scale, int hoverIndex = -1, bool wholePage = false) {
        PageResult result;
        EXPECT_TRUE(harness.SetScale(scale));
        if (!(wholePage ? harness.PaintWholePage(page, hoverIndex, result)
                        : harness.Paint(page, static_cast<int>(page.width), 16, hoverIndex, result))) {
            ADD_FAILURE() << "paint failed: " << harness.failure;
            harness.regions.clear();
        }
        return result;
    }

    PaintHarness harness;
};

// Every screen the window can show, kept as a picture, with its regions in drawing order, on the page
// and apart from each other.
TEST_F(PaintTest, PicturesOfEveryStateHaveTheirRegionsInDrawingOrder) {
    struct Case {
        const wchar_t* file;
        float scale;
        PageInput page;
        Regions regions;
        bool animating;
    };
    std::vector<Case> cases;
    cases.push_back({L"empty-state", 1, BasePage(1), Page({{Action::OpenAppStore, 0}}), false});
    PageInput missing = BasePage(1);
    missing.busConnected = false;
    missing.addresses = FiveAddresses;
    cases.push_back(
        {L"driver-missing", 1, missing, Page({{Action::InstallDriver, 0}, {Action::OpenAppStore, 0}}), false});
    PageInput failed = BasePage(1);
    failed.busConnected = false;
    failed.port = 0;
    failed.startError = "Port 47821 is in use by another program. Close it or choose another port, then start "
                        "Velotrix again.";
    cases.push_back({L"server-failed", 1, failed, Page({{Action::OpenAppStore, 0}}), false});
    // All 32 bits of a session travel in the region's argument.
    const auto high = static_cast<std::int32_t>(0xF0000001u);
    cases.push_back({L"waiting", 1, BasePage(1, {Phone(0xF0000001u, Leo, PhoneState::Waiting)}),
                     Page({{Action::AllowPhone, high}, {Action::DenyPhone, high}}), false});
    const PhoneView fresh = Phone(0x2222, "", PhoneState::Active); // just admitted: idle, no player yet
    cases.push_back({L"active", 1, BasePage(1, {LivePhone(0x1111, Maya, 1), fresh}),
                     Page({{Action::DisconnectPhone, 0x1111}, {Action::DisconnectPhone, 0x2222}}), true});
    cases.push_back({L"active-idle", 1, BasePage(1, {fresh}), Page({{Action::DisconnectPhone, 0x2222}}), false});
    for (const auto& [file, state] : {std::pair{L"refused", PhoneState::Refused},
                                      {L"no-room", PhoneState::NoRoom},
                                      {L"no-driver", PhoneState::NoDriver},
                                      {L"other-version", PhoneState::OtherVersion}}) {
        PageInput page = BasePage(1, {Phone(0x3333, Leo, state)});
        page.busConnected = state != PhoneState::NoDriver;
        // A refused phone that keeps asking can be allowed after all.
        Regions middle = state == PhoneState::Refused ? Regions{{Action::AllowPhone, 0x3333}} : Regions{};
        if (!page.busConnected) middle = {{Action::InstallDriver, 0}};
        cases.push_back({file, 1, page, Page(middle), false});
    }
    PageInput remembered = BasePage(1);
    remembered.remembered = {
        {"0a112233445566778899aabbccddeeff", L"Maya\u2019s iPhone", L"Last seen 07/12/2026, 13:20"},
        {"f000112233445566778899aabbccddee", L"iPhone", L"Approved before this version kept names"}};
    Regions forget = Page({{Action::OpenAppStore, 0}});
    forget.insert(forget.end() - 2, {{Action::ForgetPhone, 0}, {Action::ForgetPhone, 1}});
    cases.push_back({L"remembered", 1, remembered, forget, false});
    // The driver went away under two playing phones: they stay listed, and no install button is offered.
    PageInput lost = BasePage(1, {Phone(0x1111, Maya, PhoneState::NoDriver), Phone(0x2222, Leo, PhoneState::NoDriver)});
    lost.busConnected = false;
    lost.busLost = true;
    cases.push_back({L"driver-lost", 1, lost, Page({}), false});
    PageInput crashed = BasePage(1);
    crashed.crashNotice = L"Velotrix-20261207-101500-042.dmp";
    cases.push_back(
        {L"crash-notice", 1, crashed, Page({{Action::OpenCrashReports, 0}, {Action::OpenAppStore, 0}}), false});
    PageInput demo =
        BasePage(1, {LivePhone(0x4444, Maya, 1), LivePhone(0x5555, "Sam", 2), Phone(0x6666, Leo, PhoneState::Waiting)});
    demo.demo = true;
    demo.computerName = L"RACING-PC";
    cases.push_back({L"demo", 1, demo,
                     Page({{Action::DisconnectPhone, 0x4444},
                           {Action::DisconnectPhone, 0x5555},
                           {Action::AllowPhone, 0x6666},
                           {Action::DenyPhone, 0x6666}}),
                     true});
    cases.push_back(
        {L"scale-1.5", 1.5f, BasePage(1.5f, {LivePhone(0x7777, Maya, 3), Phone(0x8888, Leo, PhoneState::Waiting)}),
         Page({{Action::DisconnectPhone, 0x7777}, {Action::AllowPhone, 0x8888}, {Action::DenyPhone, 0x8888}}), true});
    // The signal mark's three states; a phone poor for a while shows the advice under its row.
    for (const auto& [file, figures] : {std::pair{L"signal-good", WifiFigures{0, 1.2, 23}},
                                        {L"signal-uneven", WifiFigures{2.4, 11.5, 90}},
                                        {L"signal-poor", WifiFigures{0, 30.2, 410}}}) {
        PhoneView phone = WithWifi(LivePhone(0x9999, Maya, 1), figures);
        phone.rumbleLarge = 0; // the whole line, word and all, at the narrowest window
        PageInput page = BasePage(1, {phone});
        if (figures.longestGapMs > 250) page.advised = {0x9999};
        cases.push_back({file, 1, page, Page({{Action::DisconnectPhone, 0x9999}}), true});
    }

    // The pictures go to VELOTRIX_PICTURES (a Unix path is reached through Wine's Z: drive), or beside Tests.
    wchar_t value[1024], folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"VELOTRIX_PICTURES", value, 1024);
    std::wstring wanted = length > 0 && length < 1024 ? std::wstring(value) : ModuleFolder() + L"\\..\\pictures";
    if (wanted[0] == L'/') wanted = L"Z:" + wanted;
    ASSERT_NE(GetFullPathNameW(wanted.c_str(), MAX_PATH, folder, nullptr), 0u);
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.file));
        const PageResult result = PaintAt(c.page, c.scale, -1, true);
        const std::vector<ClickRegion>& r = harness.regions;
        Regions actions;
        for (const ClickRegion& region : r) actions.emplace_back(static_cast<Action>(region.action), region.arg);
        EXPECT_EQ(actions, c.regions);
        EXPECT_EQ(result.animating, c.animating);
        for (std::size_t i = 0; i < r.size(); ++i) {
            EXPECT_TRUE(r[i].rect.x >= 0 && r[i].rect.x + r[i].rect.width <= c.page.width && r[i].rect.y >= 0 &&
                        r[i].rect.y + r[i].rect.height <= result.contentHeight)
                << "region " << i << " is off the page";
            // Share and the footer's links stand on the page itself; everything else lies inside its card.
            const Margins margins = MarginsAround(harness.Last(), r[i].rect);
            const bool onPage = i == 0 || i + 2 >= r.size();
            EXPECT_TRUE(onPage ? margins.OnTheBackground() : margins.InACard())
                << "region " << i << " has " << margins.left << ", " << margins.right << ", " << margins.top << " and "
                << margins.bottom << " pixels around it before the page's background";
            for (std::size_t j = i + 1; j < r.size(); ++j)
                EXPECT_TRUE(
                    r[i].rect.x + r[i].rect.width <= r[j].rect.x || r[j].rect.x + r[j].rect.width <= r[i].rect.x ||
                    r[i].rect.y + r[i].rect.height <= r[j].rect.y || r[j].rect.y + r[j].rect.height <= r[i].rect.y)
                    << "regions " << i << " and " << j << " overlap";
        }
        EXPECT_TRUE(harness.SavePng(std::wstring(folder) + L"\\" + c.file + L".png"));
    }
}

TEST_F(PaintTest, FurtherAddressesGrowTheStatusCardByAtMostThreeLines) {
    std::vector<float> storeButtonY;
    for (std::size_t count = 0; count <= FiveAddresses.size(); ++count) {
        PageInput page = BasePage(1);
        page.addresses.assign(FiveAddresses.begin(), FiveAddresses.begin() + static_cast<std::ptrdiff_t>(count));
        PaintAt(page, 1);
        ASSERT_EQ(harness.regions.size(), 7u);
        storeButtonY.push_back(harness.regions[1].rect.y);
    }
    EXPECT_FLOAT_EQ(storeButtonY[0], storeButtonY[1]);
    EXPECT_LT(storeButtonY[1], storeButtonY[2]);
    EXPECT_LT(storeButtonY[3], storeButtonY[4]);
    EXPECT_FLOAT_EQ(storeButtonY[4], storeButtonY[5]);
}

// An admitted phone's taller card and a scroll each move every later region by one amount, sizes kept.
TEST_F(PaintTest, TallerCardsAndScrollingMoveLaterRegionsAlike) {
    PageInput page = BasePage(1, {Phone(1, Leo, PhoneState::Waiting), LivePhone(2, Maya, 1)});
    const PageResult still = PaintAt(page, 1);
    const std::vector<ClickRegion> waiting = harness.regions;
    page.scrollOffset = 137;
    EXPECT_FLOAT_EQ(PaintAt(page, 1).contentHeight, still.contentHeight);
    const std::vector<ClickRegion> scrolled = harness.regions;
    page.scrollOffset = 0;
    page.phones[0] = LivePhone(1, Leo, 2);
    PaintAt(page, 1);
    const std::vector<ClickRegion>& admitted = harness.regions;
    // Allow and Deny became one Disconnect.
    ASSERT_TRUE(waiting.size() == 9 && scrolled.size() == 9 && admitted.size() == 8) << admitted.size();
    const float grown = admitted[2].rect.y - waiting[3].rect.y;
    EXPECT_GT(grown, 0);
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        EXPECT_FLOAT_EQ(scrolled[i].rect.y, waiting[i].rect.y - 137) << i;
        EXPECT_FLOAT_EQ(scrolled[i].rect.x, waiting[i].rect.x) << i;
        EXPECT_FLOAT_EQ(scrolled[i].rect.height, waiting[i].rect.height) << i;
        if (i < 3) continue;
        EXPECT_FLOAT_EQ(admitted[i - 1].rect.y, waiting[i].rect.y + grown) << i;
        EXPECT_FLOAT_EQ(admitted[i - 1].rect.height, waiting[i].rect.height) << i;
    }
}

// Hovered in turn, the Share button, an option row and a footer link each change the picture only
// inside their own region, each in its own way.
TEST_F(PaintTest, HoverMakesButtonsOpaqueShadesRowsAndUnderlinesTheLink) {
    const float s = 2;
    const PageInput page = BasePage(s);
    PaintAt(page, s, -1, true);
    const std::vector<ClickRegion> regions = harness.regions;
    const Picture plain = harness.Last();
    ASSERT_EQ(regions.size(), 7u);
    const auto hover = [&](int index) {
        PaintAt(page, s, index, true);
        const Change change = Difference(plain, harness.Last());
        EXPECT_TRUE(Inside(change, regions[static_cast<std::size_t>(index)].rect))
            << "hovering region " << index << " changed " << change.count << " pixels in " << change.left << ","
            << change.top << " to " << change.right << "," << change.bottom;
        return change;
    };

    // Above the text, the button's own colour: a blend with the page when plain, the colour itself hovered.
    const ClickRect share = regions[0].rect;
    const int shareX = static_cast<int>(share.x + share.width / 2), shareY = static_cast<int>(share.y) + 2;
    hover(0);
    EXPECT_TRUE(Between(plain.At(shareX, shareY), Palette::Background, Palette::Control));
    EXPECT_TRUE(Near(harness.Last().At(shareX, shareY), Palette::Control));

    // The whole row is shaded, with the card showing through.
    const ClickRect row = regions[2].rect;
    const Change shaded = hover(2);
    EXPECT_GE(shaded.Width(), 0.9f * row.width);
    EXPECT_GE(shaded.Height(), 0.9f * row.height);
    const int rowX = static_cast<int>(row.x) + 2, rowY = static_cast<int>(row.y + row.height / 2);
    EXPECT_TRUE(Near(plain.At(rowX, rowY), Palette::Card));
    EXPECT_TRUE(Between(harness.Last().At(rowX, rowY), Palette::Card, Palette::Control));

    // A thin line in the link's colour, as wide as the link ("Copy diagnostics"), under its text.
    const ClickRect link = regions[5].rect;
    const Change underline = hover(5);
    EXPECT_GE(underline.Width(), 0.9f * link.width);
    EXPECT_LE(underline.Height(), 1 + static_cast<int>(std::ceil(s)));
    EXPECT_GT(underline.top, link.y + link.height / 2);
    bool accent = false;
    for (int y = underline.top; y <= underline.bottom; ++y)
        accent = accent || Near(harness.Last().At(underline.MiddleX(), y), Palette::Accent);
    EXPECT_TRUE(accent);
}

// The live view from outside: each control changes only its own part of the phone's card, and a bar's
// fill grows with its value from where a user expects it to start.
TEST_F(PaintTest, LiveViewDrawsSteeringPedalsAndStick) {
    constexpr float s = 2;
    PhoneView phone = LivePhone(9, Maya, 1);
    phone.input = {};
    const auto paint = [&](const InputState& input) {
        PhoneView shown = phone;
        shown.input = input;
        PaintAt(BasePage(s, {shown}), s, -1, true);
        return harness.Last();
    };
    const Picture centred = paint({});
    ASSERT_EQ(harness.regions.size(), 7u);
    const ClickRect disconnect = harness.regions[1].rect;
    // The card, as far as it reaches around its Disconnect button.
    const Margins around = MarginsAround(centred, disconnect);
    ASSERT_TRUE(around.InACard());
    const ClickRect card{disconnect.x - static_cast<float>(around.left), disconnect.y - static_cast<float>(around.top),
                         disconnect.width + static_cast<float>(around.left + around.right),
                         disconnect.height + static_cast<float>(around.top + around.bottom)};
    const auto change = [&](const InputState& input, std::uint32_t colour, const char* what) {
        const Picture moved = paint(input);
        const Change changed = Difference(centred, moved);
        EXPECT_TRUE(Inside(changed, card)) << what << " drew outside its card";
        bool coloured = false;
        for (int x = changed.left; x <= changed.right && changed.count > 0; ++x)
            coloured = coloured || Near(moved.At(x, changed.MiddleY()), colour);
        EXPECT_TRUE(coloured) << what << " is not drawn in its colour";
        return changed;
    };
    const Change fullLeft = change({.leftX = -32767}, Palette::Text, "steering left");
    const Change halfLeft = change({.leftX = -16384}, Palette::Text, "steering half left");
    const Change fullRight = change({.leftX = 32767}, Palette::Text, "steering right");
    const Change fullGas = change({.rightTrigger = 65535}, Palette::Accent, "gas");
    const Change halfGas = change({.rightTrigger = 32768}, Palette::Accent, "half gas");
    const Change fullBrake = change({.leftTrigger = 65535}, Palette::Danger, "brake");

    // Steering, then gas, then brake, side by side on one line.
    EXPECT_LT(fullLeft.MiddleX(), fullRight.MiddleX()) << "steering left fills left of the centre";
    EXPECT_LE(fullLeft.right, fullRight.left + 2) << "and steering right fills right of it";
    EXPECT_LT(fullRight.right, fullGas.left);
    EXPECT_LT(fullGas.right, fullBrake.left);
    EXPECT_TRUE(fullLeft.MiddleY() == fullGas.MiddleY() && fullGas.MiddleY() == fullBrake.MiddleY());
    // A full value fills its track to the end and no further; half fills half of it.
    const int y = fullGas.MiddleY();
    const auto [steeringStart, steeringLeftHalfEnd] = RunAlongRow(centred, fullLeft.left + 2, y, Palette::Control);
    const auto [steeringRightHalfStart, steeringEnd] = RunAlongRow(centred, fullRight.right - 2, y, Palette::Control);
    EXPECT_NEAR(fullLeft.left, steeringStart, 1);
    EXPECT_NEAR(fullRight.right, steeringEnd, 1);
    EXPECT_EQ(halfLeft.right, fullLeft.right) << "both grow from the centre";
    EXPECT_NEAR(halfLeft.left, steeringStart + (steeringEnd - steeringStart) / 4.0, 2);
    for (const Change& pedal : {fullGas, fullBrake}) {
        const auto [start, end] = RunAlongRow(centred, pedal.left + 2, y, Palette::Control);
        EXPECT_NEAR(pedal.left, start, 1);
        EXPECT_NEAR(pedal.right, end, 1);
    }
    EXPECT_NEAR(halfGas.left, fullGas.left, 1);
    EXPECT_NEAR(halfGas.Width(), fullGas.Width() / 2.0, 2);

    // The stick's dot leaves the ring's centre for its upper right, below the bars.
    const Picture pushed = paint({.rightX = 32767, .rightY = 32767});
    const Change stick = Difference(centred, pushed);
    EXPECT_TRUE(Inside(stick, card));
    EXPECT_GT(stick.top, fullGas.bottom);
    const auto dot = [&stick](const Picture& picture) {
        double x = 0, y = 0, n = 0;
        for (int row = stick.top; row <= stick.bottom; ++row)
            for (int column = stick.left; column <= stick.right; ++column)
                if (picture.At(column, row) == Palette::Text) x += column, y += row, ++n;
        EXPECT_GT(n, 0);
        return std::pair{x / std::max(n, 1.0), y / std::max(n, 1.0)};
    };
    const auto [restX, restY] = dot(centred);
    const auto [pushedX, pushedY] = dot(pushed);
    EXPECT_GT(pushedX, restX + 2 * s);
    EXPECT_LT(pushedY, restY - 2 * s);
}

// The mark changes the status line only, in its colour; the row grows only for the advice, and what
// lies below it moves down by as much.
TEST_F(PaintTest, SignalMarkTakesItsColourAndOnlyTheAdviceGrowsTheRow) {
    const auto page = [](const WifiFigures& figures, bool advice) {
        PageInput input = BasePage(1, {WithWifi(LivePhone(1, Maya, 1), figures), Phone(2, Leo, PhoneState::Waiting)});
        if (advice) input.advised = {1};
        return input;
    };
    const PageResult good = PaintAt(page({0, 1, 20}, false), 1, -1, true);
    const std::vector<ClickRegion> goodRegions = harness.regions;
    const Picture goodPicture = harness.Last();
    ASSERT_EQ(goodRegions.size(), 9u);
    const ClickRect disconnect = goodRegions[1].rect;

    const PageResult poor = PaintAt(page({0, 1, 400}, false), 1, -1, true);
    EXPECT_FLOAT_EQ(poor.contentHeight, good.contentHeight);
    for (std::size_t i = 0; i < goodRegions.size(); ++i)
        EXPECT_FLOAT_EQ(harness.regions[i].rect.y, goodRegions[i].rect.y);
    const Change mark = Difference(goodPicture, harness.Last());
    EXPECT_TRUE(Inside(mark, {0, disconnect.y, disconnect.x, disconnect.height}))
        << "beside the rate, left of Disconnect";
    bool danger = false;
    for (int x = mark.left; x <= mark.right && mark.count > 0; ++x)
        for (int y = mark.top; y <= mark.bottom; ++y) danger = danger || Near(harness.Last().At(x, y), Palette::Danger);
    EXPECT_TRUE(danger) << "a poor mark is drawn in the danger colour";

    const PageResult advised = PaintAt(page({0, 1, 400}, true), 1, -1, true);
    const float grown = advised.contentHeight - good.contentHeight;
    EXPECT_GT(grown, 10);
    EXPECT_LT(grown, 60) << "a line or two";
    EXPECT_FLOAT_EQ(harness.regions[1].rect.y, disconnect.y) << "the row itself keeps its place";
    for (std::size_t i = 2; i < goodRegions.size(); ++i)
        EXPECT_FLOAT_EQ(harness.regions[i].rect.y, goodRegions[i].rect.y + grown) << i;
    // An advice for a phone that is not Active, or not on the page, changes nothing.
    PageInput waitingOnly = page({0, 1, 400}, false);
    waitingOnly.advised = {2, 99};
    EXPECT_FLOAT_EQ(PaintAt(waitingOnly, 1).contentHeight, good.contentHeight);
}

TEST(PaintPhoneTextsTest, PillAndExplanationFollowTheState) {
    struct Case {
        std::uint8_t state;
        std::int32_t player;
        const wchar_t* pill;
        std::uint32_t colour;
        const wchar_t* explanation;
    };
    const std::vector<Case> cases = {
        {0, 2, L"Player 2", Palette::Accent, L""},
        {0, 0, L"Controller", Palette::Accent, L""},
        {1, 0, L"Waiting for you", Palette::Warning, L""},
        {2, 0, L"Refused", Palette::MutedText, L"Not allowed on this PC."},
        {3, 0, L"No room", Palette::Warning, L"Four phones are connected: Windows has room for four controllers."},
        {4, 0, L"No driver", Palette::Danger, L"Gets its controller as soon as the driver above is there."},
        {5, 0, L"Other version", Palette::Danger, L"Update the app or this server so both are the same version."},
        {9, 0, L"Other version", Palette::Danger, L"Update the app or this server so both are the same version."},
    };
    for (const Case& c : cases) {
        const PhonePill pill = PillOf({.state = c.state, .player = c.player});
        EXPECT_EQ(pill.text, c.pill) << int(c.state);
        EXPECT_EQ(pill.rgb, c.colour) << int(c.state);
        EXPECT_EQ(ExplanationOf(c.state), c.explanation) << int(c.state);
    }
}

TEST(PaintPhoneTextsTest, StatusLineTellsAddressRateAndRumbleAroundTheSignalMark) {
    struct Case {
        PhoneView view;
        bool demo;
        const wchar_t* lead;
        const wchar_t* tail;
    };
    const std::vector<Case> cases = {
        {{.address = "192.168.1.57"}, false, L"192.168.1.57  \u00B7  paused", L""},
        {{.address = "192.168.1.57", .idle = false, .inputRate = 250},
         false,
         L"192.168.1.57  \u00B7  250 updates/s",
         L""},
        {{.address = "192.168.1.57", .idle = false, .inputRate = 249, .rumbleSmall = 1},
         false,
         L"192.168.1.57  \u00B7  249 updates/s",
         L"  \u00B7  rumble"},
        {{.address = "fe80::1c2a:3bff:fe4d:5e6f", .rumbleLarge = 200},
         false,
         L"fe80::1c2a:3bff:fe4d:5e6f  \u00B7  paused",
         L"  \u00B7  rumble"},
        {{.address = "10.0.0.99", .idle = false, .inputRate = 60}, true, L"192.168.1.34  \u00B7  60 updates/s", L""},
        {{.address = ""}, true, L"192.168.1.34  \u00B7  paused", L""},
    };
    for (const Case& c : cases) {
        const StatusLine line = StatusLineOf(c.view, c.demo);
        EXPECT_EQ(line.lead, c.lead) << c.view.address;
        EXPECT_EQ(line.tail, c.tail) << c.view.address;
    }
    // The mark: lit bars, word and colour per state, from the view's figures.
    struct Mark {
        PhoneView view;
        int bars;
        const wchar_t* word;
        std::uint32_t rgb;
    };
    for (const Mark& m : std::vector<Mark>{{{.jitterMs = 2, .longestGapMs = 40}, 3, L"good", Palette::Accent},
                                           {{.lossPercent = 3}, 2, L"uneven", Palette::Warning},
                                           {{.longestGapMs = 410}, 1, L"poor", Palette::Danger}}) {
        const SignalLook look = SignalLookOf(SignalMarkOf(m.view));
        EXPECT_EQ(look.bars, m.bars) << m.word;
        EXPECT_EQ(look.word, m.word);
        EXPECT_EQ(look.rgb, m.rgb) << m.word;
    }
}

// Not a test: a figure for docs/PERFORMANCE.md. Run with --gtest_also_run_disabled_tests.
TEST_F(PaintTest, DISABLED_MeasurePaintTimeWithFourActivePhones) {
    for (const float s : {1.0f, 1.5f}) {
        const PageInput page = DemoPageWithFourPhones(s);
        const int width = static_cast<int>(page.width), height = static_cast<int>(page.height);
        PageResult result;
        ASSERT_TRUE(harness.SetScale(s));
        ASSERT_TRUE(harness.Paint(page, width, height, -1, result, 10)); // warm-up
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        ASSERT_TRUE(harness.Paint(page, width, height, -1, result, 200));
        QueryPerformanceCounter(&end);
        std::printf("scale %.1f, %dx%d, four active phones: %.3f ms per paint (average of 200)\n", s, width, height,
                    static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart / 200);
    }
}

} // namespace
} // namespace Velotrix
