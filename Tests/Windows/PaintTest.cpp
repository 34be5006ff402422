#include "PaintHarness.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Server/Protocol.h"
#include "Shell/HostIdentity.h"
#include "Window/Palette.h"
#include "Window/PhoneRows.h"

// The made-up pages and phones name only the fields that matter; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace Velotrix {
namespace {

using Action = ClickAction;
using Regions = std::vector<std::pair<Action, std::int32_t>>;

// Every page starts with the share button and ends with the options and the web link.
Regions Page(Regions middle) {
    middle.insert(middle.begin(), {Action::ShareAppLinks, 0});
    for (const Action action :
         {Action::ToggleAskFirst, Action::ToggleStartWithWindows, Action::ToggleKeepInTray, Action::OpenWebPage})
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

// The first is the best; the status card has room for three more, so the fifth is never shown.
const std::vector<LocalAddress> FiveAddresses = {{"192.168.1.20", L"Wi-Fi", true},
                                                 {"10.0.0.8", L"Ethernet", false},
                                                 {"172.20.1.5", L"vEthernet (WSL)", false},
                                                 {"10.8.0.2", L"VPN", false},
                                                 {"10.9.9.9", L"never shown", false}};

const std::string Maya = "Maya\xE2\x80\x99s iPhone";
const std::string Leo = "Leo\xE2\x80\x99s iPhone";

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
        cases.push_back(
            {file, 1, page, Page(page.busConnected ? Regions{} : Regions{{Action::InstallDriver, 0}}), false});
    }
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
        ASSERT_EQ(harness.regions.size(), 6u);
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
    ASSERT_TRUE(waiting.size() == 8 && scrolled.size() == 8 && admitted.size() == 7) << admitted.size();
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

int Channel(std::uint32_t rgb, int shift) { return static_cast<int>((rgb >> shift) & 0xFF); }

// `over` at `alpha` of 255 on top of `under`, within one step per channel: blending rounds either way.
void ExpectColour(std::uint32_t actual, std::uint32_t over, int alpha = 255, std::uint32_t under = 0) {
    for (const int shift : {16, 8, 0}) {
        const double expected = (Channel(over, shift) * alpha + Channel(under, shift) * (255 - alpha)) / 255.0;
        EXPECT_NEAR(Channel(actual, shift), expected, 1.0) << std::hex << actual << " at shift " << std::dec << shift;
    }
}

TEST_F(PaintTest, HoverMakesButtonsOpaqueShadesRowsAndUnderlinesTheLink) {
    const float s = 2;
    const PageInput page = BasePage(s);
    PaintAt(page, s, -1, true);
    const std::vector<ClickRegion> regions = harness.regions;
    ASSERT_EQ(regions.size(), 6u);
    const ClickRect share = regions[0].rect, row = regions[2].rect, link = regions[5].rect;
    // Spots inside each shape that no text covers; the link's underline lies below its text.
    const int shareX = static_cast<int>(share.x + share.width / 2), shareY = static_cast<int>(share.y + 3 * s);
    const int rowX = static_cast<int>(row.x + row.width * 0.6f), rowY = static_cast<int>(row.y + 3 * s);
    const int lineX = static_cast<int>(link.x + link.width / 2);
    const int lineY = static_cast<int>(std::floor(link.y + 3 * s + 15.5f * s)) + 1;

    ExpectColour(harness.Pixel(shareX, shareY), Palette::Control, 225, Palette::Background);
    ExpectColour(harness.Pixel(rowX, rowY), Palette::Card);
    ExpectColour(harness.Pixel(lineX, lineY), Palette::Background);
    PaintAt(page, s, 0, true);
    ExpectColour(harness.Pixel(shareX, shareY), Palette::Control);
    PaintAt(page, s, 2, true);
    ExpectColour(harness.Pixel(rowX, rowY), Palette::Control, 140, Palette::Card);
    PaintAt(page, s, 5, true);
    ExpectColour(harness.Pixel(lineX, lineY), Palette::Accent);
}

TEST_F(PaintTest, LiveViewDrawsSteeringPedalsAndStick) {
    // The card is found from its Disconnect button.
    constexpr float s = 2;
    const PageInput page = BasePage(s, {LivePhone(9, Maya, 1)});
    PaintAt(page, s, -1, true);
    ASSERT_EQ(harness.regions.size(), 6u);
    const float y = harness.regions[1].rect.y - 118 * s, pad = 20 * s;
    const float bw = (page.width - 2 * pad - 52 * s) / 3, x1 = pad + 14 * s, x2 = x1 + bw + 12 * s,
                x3 = x2 + bw + 12 * s, track = std::floor(y + 66 * s);
    auto at = [&](float x, float row) { return harness.Pixel(static_cast<int>(x), static_cast<int>(row)); };

    // Steering fills from the centre to the left end only; gas fills its whole track; brake nothing.
    for (const auto& [x, colour] : {std::pair{x1 + bw * 0.1f, Palette::Text},
                                    {x1 + bw * 0.4f, Palette::Text},
                                    {x1 + bw * 0.6f, Palette::Control},
                                    {x1 + bw * 0.9f, Palette::Control},
                                    {x2 + 6 * s, Palette::Accent},
                                    {x2 + bw - 6 * s, Palette::Accent},
                                    {x3 + 6 * s, Palette::Control},
                                    {x3 + bw - 6 * s, Palette::Control}})
        ExpectColour(at(x, track), colour);
    // The stick's dot leaves the ring's centre for its upper right.
    const float stickX = page.width - pad - 27 * s, stickY = y + 95 * s;
    ExpectColour(at(stickX + 9 * s, stickY - 9 * s), Palette::Text);
    ExpectColour(at(stickX, stickY), Palette::Card);
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

TEST(PaintPhoneTextsTest, StatusLineTellsAddressRateAndRumble) {
    struct Case {
        PhoneView view;
        bool demo;
        const wchar_t* line;
    };
    const std::vector<Case> cases = {
        {{.address = "192.168.1.57"}, false, L"192.168.1.57  \u00B7  paused"},
        {{.address = "192.168.1.57", .idle = false, .inputRate = 250}, false, L"192.168.1.57  \u00B7  250 updates/s"},
        {{.address = "192.168.1.57", .idle = false, .inputRate = 249, .rumbleSmall = 1},
         false,
         L"192.168.1.57  \u00B7  249 updates/s  \u00B7  rumble"},
        {{.address = "fe80::1c2a:3bff:fe4d:5e6f", .rumbleLarge = 200},
         false,
         L"fe80::1c2a:3bff:fe4d:5e6f  \u00B7  paused  \u00B7  rumble"},
        {{.address = "10.0.0.99", .idle = false, .inputRate = 60}, true, L"192.168.1.34  \u00B7  60 updates/s"},
        {{.address = ""}, true, L"192.168.1.34  \u00B7  paused"},
    };
    for (const Case& c : cases) EXPECT_EQ(StatusLineOf(c.view, c.demo), c.line) << c.view.address;
}

// Not a test: a figure for docs/PERFORMANCE.md. Run with --gtest_also_run_disabled_tests.
TEST_F(PaintTest, DISABLED_MeasurePaintTimeWithFourActivePhones) {
    for (const float s : {1.0f, 1.5f}) {
        PageInput page = BasePage(s);
        for (std::int32_t i = 1; i <= 4; ++i) page.phones.push_back(LivePhone(i, Maya, i));
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
