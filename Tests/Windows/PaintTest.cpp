#include "PaintHarness.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Server/Protocol.h"
#include "Shell/HostIdentity.h"
#include "Window/Links.h"
#include "Window/Palette.h"
#include "Window/PhoneRows.h"

namespace Velotrix {
namespace {

using Action = ClickAction;

struct ExpectedRegion {
    Action action;
    std::int32_t arg;
    bool operator==(const ExpectedRegion&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ExpectedRegion& region) {
    return out << "{action " << static_cast<int>(region.action) << ", arg " << region.arg << "}";
}

std::vector<ExpectedRegion> ActionsOf(const std::vector<ClickRegion>& regions) {
    std::vector<ExpectedRegion> actions;
    for (const ClickRegion& region : regions) actions.push_back({static_cast<Action>(region.action), region.arg});
    return actions;
}

// Every page starts with the share button and ends with the options and the web link.
std::vector<ExpectedRegion> Page(std::vector<ExpectedRegion> middle) {
    middle.insert(middle.begin(), {Action::ShareAppLinks, 0});
    for (const Action action : {Action::ToggleAskFirst, Action::ToggleStartWithWindows, Action::ToggleKeepInTray,
                                Action::OpenWebPage}) {
        middle.push_back({action, 0});
    }
    return middle;
}

// The pictures go where VELOTRIX_PICTURES says (a Unix path is reached through Wine's Z: drive), or
// beside the build's Tests folder, into "pictures".
std::wstring PicturesFolder() {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(L"VELOTRIX_PICTURES", value, 1024);
    std::wstring folder = length > 0 && length < 1024 ? std::wstring(value) : ModuleFolder() + L"\\..\\pictures";
    if (folder[0] == L'/') folder = L"Z:" + folder;
    wchar_t full[MAX_PATH];
    if (GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr) == 0) return folder;
    SHCreateDirectoryExW(nullptr, full, nullptr);
    return full;
}

constexpr float PageWidth = 460;

PageInput BasePage(float scale) {
    PageInput page;
    page.width = std::floor(PageWidth * scale);
    page.height = std::floor(700 * scale);
    page.busConnected = true;
    page.port = 47821;
    page.computerName = L"DESKTOP-4K7Q2M";
    page.addresses = {{"192.168.1.20", L"Wi-Fi", true}};
    page.askFirst = true;
    page.keepInTray = true;
    page.startWithWindows = false;
    return page;
}

PhoneView Phone(std::uint32_t session, std::string name, PhoneState state) {
    PhoneView view;
    view.sessionId = session;
    view.name = std::move(name);
    view.address = "192.168.1.57";
    view.state = static_cast<std::uint8_t>(state);
    return view;
}

PhoneView LivePhone(std::uint32_t session, std::string name, std::int32_t player) {
    PhoneView view = Phone(session, std::move(name), PhoneState::Active);
    view.player = player;
    view.idle = false;
    view.inputRate = 250;
    view.input.leftX = -12000;
    view.input.rightTrigger = 52000;
    view.input.leftTrigger = 9000;
    view.input.buttons = 0x0001 | 0x0010 | 0x0100;
    view.input.rightX = 20000;
    view.input.rightY = 12000;
    view.rumbleLarge = 140;
    return view;
}

PageInput WithPhones(std::vector<PhoneView> phones, float scale = 1) {
    PageInput page = BasePage(scale);
    page.phones = std::move(phones);
    return page;
}

const std::string MayasPhone = "Maya\xE2\x80\x99s iPhone";
const std::string LeosPhone = "Leo\xE2\x80\x99s iPhone";

class PaintTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(harness.Open()) << "no WIC, Direct2D or DirectWrite";
        ASSERT_TRUE(harness.MakeFormats(1.0f));
    }

    // Paints, leaving the regions in harness.regions; fails the test when the paint fails. Regions
    // and heights do not depend on the bitmap's size, so only a test that reads pixels below the
    // first rows asks for the whole page (each paint costs about a second under Wine).
    PageResult PaintAt(const PageInput& page, float scale, int hoverIndex = -1,
                       IconFont iconFont = IconFont::Lookup, bool wholePage = false) {
        PageResult result;
        EXPECT_TRUE(harness.MakeFormats(scale, iconFont));
        const bool painted = wholePage ? harness.PaintWholePage(page, hoverIndex, result)
                                       : harness.Paint(page, static_cast<int>(page.width), 16, hoverIndex, result);
        if (!painted) {
            ADD_FAILURE() << "paint failed: " << harness.failure;
            harness.regions.clear();
        }
        return result;
    }

    // One active phone's card at scale 2: its top, the left edge of its page content, the three bars
    // (steering, gas, brake) and the row through their tracks, found from its Disconnect button.
    struct LiveCard {
        float y, pad, bw, x1, x2, x3, track;
    };
    static constexpr float LiveScale = 2;
    LiveCard PaintLiveCard(const PhoneView& phone) {
        constexpr float s = LiveScale;
        const PageInput page = WithPhones({phone}, s);
        PaintAt(page, s, -1, IconFont::Lookup, true);
        EXPECT_EQ(harness.regions.size(), 6u);
        const float y = harness.regions.size() == 6 ? harness.regions[1].rect.y - 118 * s : 0;
        const float pad = 20 * s, bw = (page.width - 2 * pad - 52 * s) / 3, x1 = pad + 14 * s;
        return {y, pad, bw, x1, x1 + bw + 12 * s, x1 + 2 * (bw + 12 * s), std::floor(y + 42 * s + 24 * s)};
    }

    PaintHarness harness;
};

// Every screen the window can show, kept as a picture, with its regions in drawing order.
TEST_F(PaintTest, PicturesOfEveryStateHaveTheirRegionsInDrawingOrder) {
    struct Case {
        const wchar_t* file;
        float scale;
        PageInput page;
        std::vector<ExpectedRegion> regions;
        bool animating;
    };
    std::vector<Case> cases;

    cases.push_back({L"empty-state", 1, BasePage(1), Page({{Action::OpenAppStore, 0}}), false});

    PageInput missing = BasePage(1);
    missing.busConnected = false;
    missing.addresses.insert(missing.addresses.end(), {{"10.0.0.8", L"Ethernet", false},
                                                       {"172.20.1.5", L"vEthernet (WSL)", false},
                                                       {"10.8.0.2", L"VPN", false},
                                                       {"10.9.9.9", L"never shown", false}});
    cases.push_back({L"driver-missing", 1, missing, Page({{Action::InstallDriver, 0}, {Action::OpenAppStore, 0}}),
                     false});

    PageInput failed = BasePage(1);
    failed.busConnected = false;
    failed.port = 0;
    failed.startError = "Port 47821 is in use by another program. Close it or choose another port, then start "
                        "Velotrix again.";
    cases.push_back({L"server-failed", 1, failed, Page({{Action::OpenAppStore, 0}}), false});

    cases.push_back({L"waiting", 1, WithPhones({Phone(0x5A17, LeosPhone, PhoneState::Waiting)}),
                     Page({{Action::AllowPhone, 0x5A17}, {Action::DenyPhone, 0x5A17}}), false});
    const PhoneView fresh = Phone(0x2222, "", PhoneState::Active); // just admitted: idle, no player yet
    cases.push_back({L"active", 1, WithPhones({LivePhone(0x1111, MayasPhone, 1), fresh}),
                     Page({{Action::DisconnectPhone, 0x1111}, {Action::DisconnectPhone, 0x2222}}), true});
    cases.push_back({L"active-idle", 1, WithPhones({fresh}), Page({{Action::DisconnectPhone, 0x2222}}), false});

    const std::pair<const wchar_t*, PhoneState> turnedAway[] = {
        {L"refused", PhoneState::Refused},
        {L"no-room", PhoneState::NoRoom},
        {L"no-driver", PhoneState::NoDriver},
        {L"other-version", PhoneState::OtherVersion},
    };
    for (const auto& [file, state] : turnedAway) {
        PageInput page = WithPhones({Phone(0x3333, LeosPhone, state)});
        std::vector<ExpectedRegion> head;
        if (state == PhoneState::NoDriver) {
            page.busConnected = false;
            head.push_back({Action::InstallDriver, 0});
        }
        cases.push_back({file, 1, page, Page(head), false});
    }

    // What the window holds after EnableDemo: made-up name and address, real phones.
    PageInput demo = WithPhones({LivePhone(0x4444, MayasPhone, 1), LivePhone(0x5555, "Sam", 2),
                                 Phone(0x6666, LeosPhone, PhoneState::Waiting)});
    demo.demo = true;
    demo.computerName = L"RACING-PC";
    cases.push_back({L"demo", 1, demo,
                     Page({{Action::DisconnectPhone, 0x4444},
                           {Action::DisconnectPhone, 0x5555},
                           {Action::AllowPhone, 0x6666},
                           {Action::DenyPhone, 0x6666}}),
                     true});

    cases.push_back({L"scale-1.5", 1.5f,
                     WithPhones({LivePhone(0x7777, MayasPhone, 3), Phone(0x8888, LeosPhone, PhoneState::Waiting)},
                                1.5f),
                     Page({{Action::DisconnectPhone, 0x7777},
                           {Action::AllowPhone, 0x8888},
                           {Action::DenyPhone, 0x8888}}),
                     true});

    const std::wstring folder = PicturesFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.file));
        const PageResult result = PaintAt(c.page, c.scale, -1, IconFont::Lookup, true);
        EXPECT_EQ(ActionsOf(harness.regions), c.regions);
        EXPECT_EQ(result.animating, c.animating);
        for (const ClickRegion& region : harness.regions) {
            EXPECT_GE(region.rect.x, 0);
            EXPECT_LE(region.rect.x + region.rect.width, c.page.width);
            EXPECT_GE(region.rect.y, 0);
            EXPECT_LE(region.rect.y + region.rect.height, result.contentHeight);
        }
        EXPECT_TRUE(harness.SavePng(folder + L"\\" + c.file + L".png"));
    }
}

TEST_F(PaintTest, RegionsNeverOverlap) {
    PageInput page = WithPhones({LivePhone(1, MayasPhone, 1), Phone(2, LeosPhone, PhoneState::Waiting)});
    page.busConnected = false;
    PaintAt(page, 1.5f);
    const std::vector<ClickRegion>& r = harness.regions;
    for (std::size_t i = 0; i < r.size(); ++i) {
        for (std::size_t j = i + 1; j < r.size(); ++j) {
            const bool apart = r[i].rect.x + r[i].rect.width <= r[j].rect.x ||
                               r[j].rect.x + r[j].rect.width <= r[i].rect.x ||
                               r[i].rect.y + r[i].rect.height <= r[j].rect.y ||
                               r[j].rect.y + r[j].rect.height <= r[i].rect.y;
            EXPECT_TRUE(apart) << "regions " << i << " and " << j;
        }
    }
}

TEST_F(PaintTest, FurtherAddressesGrowTheStatusCardByAtMostThreeLines) {
    const std::vector<LocalAddress> all = {{"192.168.1.20", L"Wi-Fi", true}, {"10.0.0.8", L"Ethernet", false},
                                           {"172.20.1.5", L"WSL", false},    {"10.8.0.2", L"VPN", false},
                                           {"10.9.9.9", L"Other", false}};
    std::vector<float> storeButtonY;
    for (std::size_t count = 0; count <= all.size(); ++count) {
        PageInput page = BasePage(1);
        page.addresses.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count));
        PaintAt(page, 1);
        ASSERT_EQ(harness.regions.size(), 6u);
        storeButtonY.push_back(harness.regions[1].rect.y);
    }
    EXPECT_FLOAT_EQ(storeButtonY[0], storeButtonY[1]);
    EXPECT_LT(storeButtonY[1], storeButtonY[2]);
    EXPECT_LT(storeButtonY[3], storeButtonY[4]);
    EXPECT_FLOAT_EQ(storeButtonY[4], storeButtonY[5]);
}

TEST_F(PaintTest, AdmittedPhoneGrowsItsCardAndShiftsEveryLaterRegionAlike) {
    const std::uint32_t first = 0xF0000001; // all 32 bits travel in the argument
    PageInput page = WithPhones({Phone(first, LeosPhone, PhoneState::Waiting), LivePhone(2, MayasPhone, 1)});
    PaintAt(page, 1);
    const std::vector<ClickRegion> waiting = harness.regions;
    page.phones[0] = LivePhone(first, LeosPhone, 2);
    PaintAt(page, 1);
    const std::vector<ClickRegion>& admitted = harness.regions;
    const auto arg = static_cast<std::int32_t>(first);
    ASSERT_EQ(ActionsOf(waiting), Page({{Action::AllowPhone, arg}, {Action::DenyPhone, arg}, {Action::DisconnectPhone, 2}}));
    ASSERT_EQ(ActionsOf(admitted), Page({{Action::DisconnectPhone, arg}, {Action::DisconnectPhone, 2}}));
    const float shift = admitted[2].rect.y - waiting[3].rect.y;
    EXPECT_GT(shift, 0);
    for (std::size_t i = 2; i < admitted.size(); ++i) {
        EXPECT_FLOAT_EQ(admitted[i].rect.y, waiting[i + 1].rect.y + shift) << i;
        EXPECT_FLOAT_EQ(admitted[i].rect.height, waiting[i + 1].rect.height) << i;
    }
}

TEST_F(PaintTest, ScrollingMovesRegionsButNotTheContentHeight) {
    PageInput page = WithPhones({LivePhone(1, MayasPhone, 1), Phone(2, LeosPhone, PhoneState::Waiting)});
    const PageResult still = PaintAt(page, 1);
    const std::vector<ClickRegion> unscrolled = harness.regions;
    page.scrollOffset = 137;
    const PageResult scrolled = PaintAt(page, 1);
    EXPECT_FLOAT_EQ(scrolled.contentHeight, still.contentHeight);
    ASSERT_EQ(harness.regions.size(), unscrolled.size());
    for (std::size_t i = 0; i < unscrolled.size(); ++i) {
        const ClickRect& old = unscrolled[i].rect;
        const ClickRect& now = harness.regions[i].rect;
        EXPECT_FLOAT_EQ(now.y, old.y - 137) << i;
        EXPECT_FLOAT_EQ(now.x, old.x) << i;
        EXPECT_FLOAT_EQ(now.height, old.height) << i;
    }
}

int Channel(std::uint32_t rgb, int shift) {
    return static_cast<int>((rgb >> shift) & 0xFF);
}

// Within one step per channel: blending rounds either way.
void ExpectColour(std::uint32_t actual, double r, double g, double b) {
    EXPECT_NEAR(Channel(actual, 16), r, 1.0) << std::hex << actual;
    EXPECT_NEAR(Channel(actual, 8), g, 1.0) << std::hex << actual;
    EXPECT_NEAR(Channel(actual, 0), b, 1.0) << std::hex << actual;
}

void ExpectColour(std::uint32_t actual, std::uint32_t rgb) {
    ExpectColour(actual, Channel(rgb, 16), Channel(rgb, 8), Channel(rgb, 0));
}

// `over` at `alpha` of 255 on top of `under`.
void ExpectBlend(std::uint32_t actual, std::uint32_t over, int alpha, std::uint32_t under) {
    const double a = alpha / 255.0;
    auto mix = [&](int shift) { return Channel(over, shift) * a + Channel(under, shift) * (1 - a); };
    ExpectColour(actual, mix(16), mix(8), mix(0));
}

TEST_F(PaintTest, HoverMakesButtonsOpaqueShadesRowsAndUnderlinesTheLink) {
    const float s = 2;
    const PageInput page = BasePage(s);
    PaintAt(page, s, -1, IconFont::Lookup, true);
    const std::vector<ClickRegion> regions = harness.regions;
    ASSERT_EQ(regions.size(), 6u);
    const ClickRect share = regions[0].rect;
    const ClickRect row = regions[2].rect;
    const ClickRect link = regions[5].rect;
    // Spots inside each shape that no text covers.
    const int shareX = static_cast<int>(share.x + share.width / 2);
    const int shareY = static_cast<int>(share.y + 3 * s);
    const int rowX = static_cast<int>(row.x + row.width * 0.6f);
    const int rowY = static_cast<int>(row.y + 3 * s);
    const float yf = link.y + 3 * s;
    const int lineX = static_cast<int>(link.x + link.width / 2);
    const int lineY = static_cast<int>(std::floor(yf + 15.5f * s)) + 1;

    ExpectBlend(harness.Pixel(shareX, shareY), Palette::Control, 225, Palette::Background);
    ExpectColour(harness.Pixel(rowX, rowY), Palette::Card);
    ExpectColour(harness.Pixel(lineX, lineY), Palette::Background);

    PaintAt(page, s, 0, IconFont::Lookup, true);
    ExpectColour(harness.Pixel(shareX, shareY), Palette::Control);
    PaintAt(page, s, 2, IconFont::Lookup, true);
    ExpectBlend(harness.Pixel(rowX, rowY), Palette::Control, 140, Palette::Card);
    PaintAt(page, s, 5, IconFont::Lookup, true);
    ExpectColour(harness.Pixel(lineX, lineY), Palette::Accent);
}

TEST_F(PaintTest, LiveViewDrawsSteeringPedalsAndStick) {
    PhoneView phone = LivePhone(9, MayasPhone, 1);
    phone.input.leftX = -32767;
    phone.input.rightTrigger = 65535;
    phone.input.leftTrigger = 0;
    phone.input.buttons = 0x0101;
    phone.input.rightX = 32767;
    phone.input.rightY = 32767;
    const LiveCard card = PaintLiveCard(phone);
    ASSERT_FALSE(HasFailure());
    constexpr float s = LiveScale;
    const auto [y, pad, bw, x1, x2, x3, track] = card;
    auto at = [&](float x, float row) { return harness.Pixel(static_cast<int>(x), static_cast<int>(row)); };

    // Full left steering fills from the centre to the left end, and nothing right of the centre.
    ExpectColour(at(x1 + bw * 0.1f, track), Palette::Text);
    ExpectColour(at(x1 + bw * 0.4f, track), Palette::Text);
    ExpectColour(at(x1 + bw * 0.6f, track), Palette::Control);
    ExpectColour(at(x1 + bw * 0.9f, track), Palette::Control);
    // Full gas fills its whole track; no brake draws no fill.
    ExpectColour(at(x2 + 6 * s, track), Palette::Accent);
    ExpectColour(at(x2 + bw - 6 * s, track), Palette::Accent);
    ExpectColour(at(x3 + 6 * s, track), Palette::Control);
    ExpectColour(at(x3 + bw - 6 * s, track), Palette::Control);

    // Right stick pushed right and up: the dot leaves the ring's centre for its upper right.
    const float stickX = BasePage(s).width - pad - 27 * s;
    const float stickY = y + 84 * s + 11 * s;
    ExpectColour(at(stickX + 9 * s, stickY - 9 * s), Palette::Text);
    ExpectColour(at(stickX, stickY), Palette::Card);
}

TEST(PaintPhoneTextsTest, PillHeightAndExplanationFollowTheState) {
    struct Case {
        std::uint8_t state;
        std::int32_t player;
        const wchar_t* pill;
        std::uint32_t colour;
        float height;
        const wchar_t* explanation;
    };
    const std::vector<Case> cases = {
        {0, 2, L"Player 2", Palette::Accent, 156, L""},
        {0, 0, L"Controller", Palette::Accent, 156, L""},
        {1, 0, L"Waiting for you", Palette::Warning, 96, L""},
        {2, 0, L"Refused", Palette::MutedText, 96, L"Not allowed on this PC."},
        {3, 0, L"No room", Palette::Warning, 96, L"Four phones are connected: Windows has room for four controllers."},
        {4, 0, L"No driver", Palette::Danger, 96, L"Install the controller driver above, then reconnect."},
        {5, 0, L"Other version", Palette::Danger, 96, L"Update the app or this server so both are the same version."},
        {9, 0, L"Other version", Palette::Danger, 96, L"Update the app or this server so both are the same version."},
    };
    for (const Case& c : cases) {
        PhoneView view;
        view.state = c.state;
        view.player = c.player;
        const PhonePill pill = PillOf(view);
        EXPECT_EQ(pill.text, c.pill) << int(c.state);
        EXPECT_EQ(pill.rgb, c.colour) << int(c.state);
        EXPECT_EQ(CardHeightOf(c.state), c.height) << int(c.state);
        EXPECT_EQ(ExplanationOf(c.state), c.explanation) << int(c.state);
    }
}

TEST(PaintPhoneTextsTest, StatusLineTellsAddressRateAndRumble) {
    struct Case {
        const char* address;
        bool idle;
        std::int32_t rate;
        std::uint8_t large, small;
        bool demo;
        const wchar_t* line;
    };
    const std::vector<Case> cases = {
        {"192.168.1.57", true, 0, 0, 0, false, L"192.168.1.57  \u00B7  paused"},
        {"192.168.1.57", false, 250, 0, 0, false, L"192.168.1.57  \u00B7  250 updates/s"},
        {"192.168.1.57", false, 249, 0, 1, false, L"192.168.1.57  \u00B7  249 updates/s  \u00B7  rumble"},
        {"fe80::1c2a:3bff:fe4d:5e6f", true, 0, 200, 0, false, L"fe80::1c2a:3bff:fe4d:5e6f  \u00B7  paused  \u00B7  rumble"},
        {"10.0.0.99", false, 60, 0, 0, true, L"192.168.1.34  \u00B7  60 updates/s"},
        {"", true, 0, 0, 0, true, L"192.168.1.34  \u00B7  paused"},
    };
    for (const Case& c : cases) {
        PhoneView view;
        view.address = c.address;
        view.idle = c.idle;
        view.inputRate = c.rate;
        view.rumbleLarge = c.large;
        view.rumbleSmall = c.small;
        EXPECT_EQ(StatusLineOf(view, c.demo), c.line);
    }
}

// Not a test: a figure for docs/PERFORMANCE.md. Run with --gtest_also_run_disabled_tests.
TEST_F(PaintTest, DISABLED_MeasurePaintTimeWithFourActivePhones) {
    for (const float s : {1.0f, 1.5f}) {
        PageInput page = BasePage(s);
        for (std::uint32_t i = 1; i <= 4; ++i) {
            PhoneView phone = LivePhone(i, MayasPhone, static_cast<std::int32_t>(i));
            phone.input.leftX = static_cast<std::int16_t>(i * 7000);
            page.phones.push_back(phone);
        }
        PageResult result;
        ASSERT_TRUE(harness.MakeFormats(s));
        ASSERT_TRUE(harness.PaintWholePage(page, -1, result));
        const int height = static_cast<int>(std::floor(700 * s));
        harness.TimePaints(page, static_cast<int>(page.width), height, 10); // warm-up
        const double average = harness.TimePaints(page, static_cast<int>(page.width), height, 200);
        ASSERT_GT(average, 0);
        std::printf("scale %.1f, %dx%d, four active phones: %.3f ms per paint (average of 200)\n", s,
                    static_cast<int>(page.width), height, average);
    }
}

} // namespace
} // namespace Velotrix