// The main window: its size, hit-testing, scrolling, pacing and placement rules as plain functions,
// then a real window (under Wine and Xvfb) driven with the messages Windows would send it.

#include "Window/MainWindow.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CommandsHarness.h"
#include "SimulatedBus/SimulatedBus.h"
#include "RegistrySandbox.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/CommandLine.h"
#include "Shell/TextConversion.h"
#include "Shell/Settings.h"
#include "TestPhone.h"
#include "Window/WindowRules.h"

namespace Velotrix {
namespace {

using namespace std::string_literals;
constexpr std::int64_t Ms = 1'000'000;
constexpr std::int64_t Second = 1000 * Ms;

TEST(WindowRulesTest, SizesAreTheDesignSizesTimesTheScaleTruncatedPlusTheFrame) {
    struct Case {
        unsigned dpi;
        int width, height, minimum;
    };
    // 110 DPI: 527.08 × 802.08 and 481.25; 191 DPI: 915.2 × 1392.7 and 835.6, truncated, not rounded.
    for (const Case& c :
         {Case{96, 460, 700, 420}, {110, 527, 802, 481}, {144, 690, 1050, 630}, {191, 915, 1392, 835}}) {
        EXPECT_EQ(InitialClientSize(c.dpi).width, c.width) << c.dpi;
        EXPECT_EQ(InitialClientSize(c.dpi).height, c.height) << c.dpi;
        EXPECT_EQ(MinimumTrackSize(static_cast<float>(c.dpi) / 96.0f), c.minimum) << c.dpi;
        // A frame on both sides and a caption on top, but not a second window's worth.
        const RECT outer = InitialWindowRect(c.dpi, nullptr);
        EXPECT_TRUE(outer.left == 0 && outer.top == 0 && outer.right > c.width && outer.right < c.width + 100 &&
                    outer.bottom > c.height + 10 && outer.bottom < c.height + 150)
            << c.dpi;
    }
    // Only the height is capped by the work area: 1050 client pixels at 144 DPI in a 1000-pixel one.
    const RECT workArea{0, 40, 1920, 1040};
    EXPECT_EQ(InitialWindowRect(144, &workArea).bottom - InitialWindowRect(144, &workArea).top, 1000);
    EXPECT_EQ(InitialWindowRect(144, &workArea).right, InitialWindowRect(144, nullptr).right);
    const LONG full = InitialWindowRect(96, nullptr).bottom;
    const RECT exact{0, 0, 800, full}, oneShort{0, 0, 800, full - 1};
    EXPECT_EQ(InitialWindowRect(96, &exact).bottom, full);
    EXPECT_EQ(InitialWindowRect(96, &oneShort).bottom, full - 1);
}

TEST(WindowRulesTest, WindowOpensWhollyInsideItsMonitorsWorkArea) {
    struct Case {
        UINT dpi;
        RECT opened, work;
    };
    const Case cases[] = {
        {96, {26, 26, 526, 826}, {0, 0, 1024, 560}},          // a small screen
        {96, {900, 10, 1400, 700}, {0, 0, 1280, 1024}},       // beyond the right edge
        {144, {-1500, 300, -800, 1400}, {-1920, 0, 0, 1040}}, // a monitor to the left
        {96, {100, 100, 1000, 1500}, {0, 0, 1920, 1040}},     // a 96 DPI monitor under a 192 DPI system
    };
    for (const Case& c : cases) {
        const RECT placed = PlacedWindowRect(c.dpi, c.opened, c.work), size = InitialWindowRect(c.dpi, &c.work);
        EXPECT_EQ(placed.right - placed.left, size.right) << c.opened.left;
        EXPECT_EQ(placed.bottom - placed.top, size.bottom) << c.opened.left;
        EXPECT_TRUE(placed.left >= c.work.left && placed.top >= c.work.top && placed.right <= c.work.right &&
                    placed.bottom <= c.work.bottom)
            << c.opened.left;
    }
    const RECT kept = PlacedWindowRect(96, RECT{100, 100, 700, 900}, RECT{0, 0, 1920, 1040});
    EXPECT_EQ(kept.left, 100);
    EXPECT_EQ(kept.top, 100);
}

TEST(WindowRulesTest, ClicksTakeTheFirstRegionAndHoverTheLastRightAndBottomEdgesOutside) {
    // Two regions overlap, so that the first-hit and the last-hit rules can be told apart.
    const std::vector<ClickRegion> regions = {
        {{10, 10, 100, 20}, 5, 0}, {{60, 10, 100, 20}, 6, 0}, {{0, -30, 50, 40}, 4, 9}}; // the last scrolled up
    struct Case {
        float x, y;
        int first, last;
    };
    const Case cases[] = {
        {10, 10, 0, 0},  {9.99f, 15, -1, -1}, {60, 15, 0, 1}, {109.99f, 29.99f, 0, 1},
        {110, 15, 1, 1}, {80, 30, -1, -1},    {5, -5, 2, 2},  {5, 10, -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FirstRegionAt(regions, c.x, c.y), c.first) << c.x << "," << c.y;
        EXPECT_EQ(LastRegionAt(regions, c.x, c.y), c.last) << c.x << "," << c.y;
    }
    EXPECT_EQ(FirstRegionAt({}, 10, 10), -1);
}

TEST(WindowRulesTest, WheelAndKeysScrollWithinTheContent) {
    struct Wheel {
        float offset;
        int delta;
        float scale, content, client, expected;
    };
    const Wheel wheels[] = {
        {0, -120, 1, 1000, 700, 48}, {100, 120, 1, 1000, 700, 52},   {0, -120, 1.5f, 1000, 700, 72},
        {0, -60, 1, 1000, 700, 24},  {280, -120, 1, 1000, 700, 300}, {20, 120, 1, 1000, 700, 0},
        {0, -120, 1, 500, 700, 0},   {400, 0, 1, 1000, 700, 300},    {0, -480, 1, 700, 700, 0},
    };
    for (const Wheel& c : wheels)
        EXPECT_FLOAT_EQ(ScrollAfterWheel(c.offset, c.delta, c.scale, c.content, c.client), c.expected)
            << c.offset << " by " << c.delta;
    struct Key {
        ScrollKey key;
        float from, scale, content, client, to;
    };
    const Key keys[] = {
        {ScrollKey::LineDown, 0, 1, 1000, 600, 48},  {ScrollKey::LineDown, 0, 2, 1000, 600, 96},
        {ScrollKey::LineUp, 100, 1, 1000, 600, 52},  {ScrollKey::LineUp, 20, 1, 1000, 600, 0},
        {ScrollKey::PageDown, 0, 1, 2000, 600, 552}, {ScrollKey::PageDown, 0, 1, 1000, 600, 400},
        {ScrollKey::PageUp, 600, 1, 2000, 600, 48},  {ScrollKey::Home, 300, 1, 1000, 600, 0},
        {ScrollKey::End, 0, 1, 1000, 600, 400},      {ScrollKey::End, 0, 1, 500, 600, 0},
        {ScrollKey::LineDown, 0, 1, 500, 600, 0},
    };
    for (const Key& c : keys)
        EXPECT_FLOAT_EQ(ScrollAfterKey(c.key, c.from, c.scale, c.content, c.client), c.to)
            << static_cast<int>(c.key) << " from " << c.from << " of " << c.content;
}

TEST(WindowRulesTest, ScrollIndicatorShowsOnlyForATallPageAndFollowsTheViewInsideTheRightEdge) {
    EXPECT_FALSE(ScrollThumbOf(0, 1, 600, 460, 600).visible);
    const ScrollThumb top = ScrollThumbOf(0, 1, 1200, 460, 600), bottom = ScrollThumbOf(600, 1, 1200, 460, 600);
    ASSERT_TRUE(top.visible);
    for (const ScrollThumb& thumb : {top, bottom}) {
        EXPECT_TRUE(thumb.x > 448 && thumb.x + thumb.width <= 460 && thumb.y >= 0 && thumb.y + thumb.height <= 600);
        EXPECT_NEAR(thumb.height, 300, 5) << "half the page in view, half the track";
    }
    EXPECT_LT(top.y, 5);
    EXPECT_GT(bottom.y + bottom.height, 595);
    EXPECT_FLOAT_EQ(ScrollThumbOf(900, 1, 1200, 460, 600).y, bottom.y) << "an offset beyond the end";
    EXPECT_GE(ScrollThumbOf(0, 1, 100000, 460, 600).height, 20) << "a very tall page keeps a visible thumb";
}

TEST(WindowRulesTest, TheTimerRunsAboutThirtyTimesASecondForLiveInputOnceASecondForRatesAndNeverWhenNothingMoves) {
    // Windows rounds a periodic timer up to its 15.625 ms tick.
    const double fired = std::ceil(RepaintPeriodMs / 15.625) * 15.625;
    EXPECT_TRUE(1000.0 / fired >= 29.0 && 1000.0 / fired <= 33.0) << fired;
    struct Case {
        bool visible, minimized, animating, phones;
        unsigned period;
    };
    const Case cases[] = {
        {true, false, true, true, RepaintPeriodMs},
        {true, false, false, true, 1000},
        {true, false, false, false, 0},
        {false, false, true, true, 0},
        {true, true, true, true, 0},
        {false, true, false, true, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RepaintTimerPeriod(c.visible, c.minimized, c.animating, c.phones), c.period)
            << c.visible << c.minimized << c.animating << c.phones;
}

TEST(WindowRulesTest, APaintCostingMoreThanAQuarterOfThePeriodStretchesItToFourTimesItsCost) {
    struct Case {
        PaintPacing pacing;
        std::int64_t now;
        bool due;
    };
    const Case cases[] = {
        {{}, 0, true},                                // nothing painted yet
        {{1000 * Ms, 2 * Ms, true}, 1031 * Ms, true}, // a cheap paint, one period later
        {{1000 * Ms, 2 * Ms, true}, 1031 * Ms - 1, false},
        {{1000 * Ms, 7'750'000, true}, 1031 * Ms, true}, // a quarter of the period: no stretch
        {{1000 * Ms, 100 * Ms, true}, 1399 * Ms, false},
        {{1000 * Ms, 100 * Ms, true}, 1400 * Ms, true},
    };
    for (const Case& c : cases) EXPECT_EQ(PaintDue(c.pacing, c.now), c.due) << c.now;
}

TEST(WindowRulesTest, SignalMarkIsTheWorstFigureAgainstItsThresholds) {
    using enum SignalMark;
    struct Case {
        double loss, jitter, gap;
        SignalMark mark;
    };
    const Case cases[] = {
        {0, 0, 0, Good},      {1, 8, 100, Good}, // at each threshold: not yet past it
        {1.01, 0, 0, Uneven}, {0, 8.01, 0, Uneven}, {0, 0, 100.01, Uneven}, {5, 20, 250, Uneven}, {5.01, 0, 0, Poor},
        {0, 20.01, 0, Poor},  {0, 0, 250.01, Poor}, {2, 10, 400, Poor}, // the worst figure decides
        {100, 0, 0, Poor},    {0, 0, 10000, Poor},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SignalMarkOf(c.loss, c.jitter, c.gap), c.mark) << c.loss << " " << c.jitter << " " << c.gap;
}

TEST(WindowRulesTest, AdviceShowsOncePoorAtEveryLookForThreeSeconds) {
    using enum SignalMark;
    AdviceTimer timer;
    using Looks = std::vector<AdviceTimer::Look>;
    using Shown = std::vector<std::uint32_t>;
    const std::int64_t s = 1'000'000'000;
    EXPECT_EQ(timer.Note({{1, Poor}, {2, Uneven}, {3, Poor}}, 10 * s), Shown{});
    EXPECT_EQ(timer.Note({{1, Poor}, {2, Poor}, {3, Poor}}, 13 * s - 1), Shown{});
    EXPECT_EQ(timer.Note({{1, Poor}, {2, Poor}, {3, Poor}}, 13 * s), (Shown{1, 3}));
    // Phone 1 better for one look, phone 3 off the page: each starts again.
    EXPECT_EQ(timer.Note(Looks{{1, Uneven}, {2, Poor}}, 14 * s), Shown{});
    EXPECT_EQ(timer.Note(Looks{{1, Poor}, {2, Poor}, {3, Poor}}, 16 * s - 1), Shown{2});
    EXPECT_EQ(timer.Note(Looks{{3, Poor}, {1, Poor}, {2, Good}}, 19 * s - 1), (Shown{3, 1}));
    EXPECT_EQ(timer.Note(Looks{}, 30 * s), Shown{});
}

TEST(WindowRulesTest, BalloonFieldsAreCutToFitAndAlwaysTerminated) {
    wchar_t field[8];
    std::wmemset(field, L'x', 8);
    CopyToField(field, 8, L"Velotrix is still running");
    EXPECT_EQ(std::wstring(field), L"Velotri");
    CopyToField(field, 8, L"");
    EXPECT_EQ(std::wstring(field), L"");
}

TEST(WindowRulesTest, QuitAndAddFirewallRuleAreWholeCaseSensitiveOptions) {
    // A copy that missed either option would only wake the running one and exit 0.
    struct Case {
        std::vector<std::wstring> arguments;
        bool quit, addRule;
    };
    const Case cases[] = {
        {{L"Velotrix.exe", L"--tray", L"--quit"}, true, false},
        {{L"Velotrix.exe", L"--Quit", L"-quit", L"--quit=1", L"/quit", L"--add-firewall"}, false, false},
        {{L"Velotrix.exe", L"--port", L"--quit"}, false, false},
        {{L"Velotrix.exe", AddFirewallRuleOption}, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseCommandLine(c.arguments).quit, c.quit) << ToUtf8(c.arguments.back());
        EXPECT_EQ(ParseCommandLine(c.arguments).addFirewallRule, c.addRule) << ToUtf8(c.arguments.back());
    }
}

class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        ASSERT_TRUE(sandbox.Ready());
        ASSERT_TRUE(tray.Ready());
        server = std::make_unique<Server>();
        settings.keepInTray = true;
    }
    void TearDown() override {
        DropWindowAndServer(window, server); // and WM_QUIT with the rest: it must not reach the next test
        SimulatedBus::Reset();
    }

    MainWindow& MakeWindow(bool hidden) {
        window = std::make_unique<MainWindow>(
            MainWindowSetup{.server = *server, .settings = settings, .steadyNow = [this] { return now; }});
        EXPECT_TRUE(window->Create(GetModuleHandleW(nullptr), hidden));
        return *window;
    }
    HWND Hwnd() const { return window->Handle(); }
    void Validate() { ValidateRect(Hwnd(), nullptr); }
    bool Invalidated() { return GetUpdateRect(Hwnd(), nullptr, FALSE) != FALSE; }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageW(Hwnd(), message, wParam, lParam);
    }
    // Dispatches what is posted to this thread (the approval messages among them).
    void Pump() {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                quitPosted = true;
            else
                DispatchMessageW(&message);
        }
    }
    static LPARAM Point(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }
    static LPARAM Middle(const ClickRegion& region) {
        return PointAt(region.rect.x + region.rect.width / 2, region.rect.y + region.rect.height / 2);
    }
    int IndexOf(ClickAction action) const {
        const ClickRegion* region = RegionOf(*window, action);
        return region == nullptr ? -1 : static_cast<int>(region - window->Page().regions.data());
    }
    // Cuts the client area well below the page's height, so that there is something to scroll.
    void MakeShort() {
        SetWindowPos(Hwnd(), nullptr, 0, 0, 460, 300, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
        PaintNow(*window);
        RECT client{};
        GetClientRect(Hwnd(), &client);
        ASSERT_GT(window->Page().contentHeight, client.bottom + 100.0f) << "nothing to scroll";
    }
    // One timer tick at the window's clock plus `step`.
    bool TickRepaints(std::int64_t step) {
        now += step;
        Validate();
        Send(WM_TIMER, RepaintTimerId);
        return Invalidated();
    }

    RegistrySandbox sandbox;
    TrayRecorder tray; // stands in for the notification area in every test
    std::unique_ptr<Server> server;
    Settings settings;
    std::unique_ptr<MainWindow> window;
    bool quitPosted = false;
    std::int64_t now = 1000 * Second; // the window's steady clock, stepped by the tests
};

TEST_F(WindowTest, OpensAsAResizableVelotrixWindowWithTheRequestedClientAreaAndReadsTheStartWithWindowsValue) {
    ASSERT_TRUE(WriteRaw(sandbox.Root(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Velotrix",
                         Utf16Value(REG_SZ, L"\"C:\\Velotrix.exe\" --tray\0"s)));
    const MainWindow& main = MakeWindow(false);
    EXPECT_TRUE(IsWindowVisible(Hwnd()));
    EXPECT_FALSE(main.Page().regions.empty()) << "shown means painted";
    EXPECT_TRUE(main.Page().lastPainted.startWithWindows);
    EXPECT_EQ(FindWindowW(L"VelotrixServer", L"Velotrix"), Hwnd());
    EXPECT_EQ(GetWindowLongPtrW(Hwnd(), GWL_STYLE) &
                  (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX);
    // This process runs at the system DPI, and Xvfb's screen is high enough for the whole window.
    const UINT dpi = GetDpiForWindow(Hwnd());
    RECT client{};
    GetClientRect(Hwnd(), &client);
    EXPECT_EQ(client.right, InitialClientSize(dpi).width);
    EXPECT_EQ(client.bottom, InitialClientSize(dpi).height);
    MINMAXINFO info{};
    Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, MinimumTrackSize(static_cast<float>(dpi) / 96.0f)) << "scaled for its own DPI";
}

TEST_F(WindowTest, DpiChangeRedrawsEverythingAtTheNewScaleMovesTheWindowAndSetsTheMinimum) {
    MakeWindow(false);
    const std::vector<ClickRegion> before = window->Page().regions;
    const float grown = 1.5f * 96.0f / static_cast<float>(GetDpiForWindow(Hwnd()));
    RECT suggested{100, 50, 800, 950};
    Send(WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    PaintNow(*window);
    const std::vector<ClickRegion>& after = window->Page().regions;
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_NEAR(after[i].rect.height, before[i].rect.height * grown, 0.01f) << i;
        // Share and the web link are as wide as their texts: only new text formats make them grow alike.
        if (i == 0 || i + 1 == after.size()) {
            EXPECT_NEAR(after[i].rect.width, before[i].rect.width * grown, 2.0f) << i;
        }
    }
    RECT placed{};
    GetWindowRect(Hwnd(), &placed);
    EXPECT_TRUE(EqualRect(&placed, &suggested));
    MINMAXINFO info{};
    info.ptMaxTrackSize = {12345, 6789};
    EXPECT_EQ(Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.ptMinTrackSize.x, MinimumTrackSize(1.5f));
    EXPECT_EQ(info.ptMinTrackSize.y, MinimumTrackSize(1.5f));
    EXPECT_EQ(info.ptMaxTrackSize.x, 12345) << "the maximum stays as proposed";
}

// The rules are tested above; these prove each message reaches them on the painted page.
TEST_F(WindowTest, PointerMessagesReachTheHoverClickAndCursorRules) {
    const MainWindow& main = MakeWindow(false);
    const int keepInTray = IndexOf(ClickAction::ToggleKeepInTray);
    ASSERT_GE(keepInTray, 0);
    const ClickRegion row = main.Page().regions[static_cast<std::size_t>(keepInTray)];
    Validate();
    Send(WM_MOUSEMOVE, 0, Middle(row));
    EXPECT_EQ(main.Page().hoverIndex, keepInTray);
    EXPECT_TRUE(Invalidated());
    EXPECT_EQ(Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(Hwnd()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    Validate();
    Send(WM_MOUSEMOVE, 0, PointAt(row.rect.x + 1, row.rect.y + 1));
    EXPECT_FALSE(Invalidated()) << "same region: no repaint";
    Send(WM_MOUSEMOVE, 0, Point(1, 1)); // the page's margin
    EXPECT_EQ(main.Page().hoverIndex, -1);
    Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(Hwnd()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    Send(WM_MOUSEMOVE, 0, Middle(row));
    Validate();
    Send(WM_MOUSELEAVE);
    EXPECT_EQ(main.Page().hoverIndex, -1);
    EXPECT_TRUE(Invalidated());

    // Scrolled one notch by the wheel, the Share button reaches above the client area: a pointer just
    // above the top edge (a captured or dragged mouse reports one) is on it only if read with its sign.
    MakeShort();
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), Point(10, 10));
    PaintNow(main);
    const ClickRegion share = main.Page().regions.front();
    ASSERT_TRUE(share.rect.y < -2 && share.rect.y + share.rect.height > 0) << share.rect.y;
    Send(WM_MOUSEMOVE, 0, PointAt(share.rect.x + share.rect.width / 2, -1));
    EXPECT_EQ(main.Page().hoverIndex, 0) << "negative coordinates are not huge ones";

    settings.keepInTray = settings.askFirst = true;
    EXPECT_TRUE(ClickOn(main, ClickAction::ToggleKeepInTray));
    EXPECT_FALSE(settings.keepInTray);
    EXPECT_TRUE(settings.askFirst);
}

TEST_F(WindowTest, TheTimerRepaintsOnlyAChangedPage) {
    const MainWindow& main = MakeWindow(false);
    ASSERT_FALSE(main.Page().animating);
    constexpr std::int64_t Period = Second; // far longer than any paint's pacing
    for (int tick = 0; tick < 5; ++tick) ASSERT_FALSE(TickRepaints(Period)) << "nothing changed: tick " << tick;
    PaintNow(main);
    settings.askFirst = !settings.askFirst; // a change the last paint did not draw
    ASSERT_FALSE(TickRepaints(0)) << "no time passed since the last paint";
    EXPECT_TRUE(TickRepaints(Period));
}

// Whether the window has its repaint timer running; the timer is gone afterwards.
bool RepaintTimerRan(HWND window) { return KillTimer(window, RepaintTimerId) != FALSE; }

TEST_F(WindowTest, TheRepaintTimerRunsOnlyWhileShownWithPhonesListed) {
    std::string error;
    ASSERT_TRUE(server->Start(0, error)) << error;
    MakeWindow(false);
    EXPECT_FALSE(RepaintTimerRan(Hwnd())) << "a page without phones waits for messages";
    TestPhone anna("Anna", 1);
    ASSERT_EQ(SayHello(anna, *server).state, State(PhoneState::Waiting));
    ASSERT_TRUE(PumpUntil([&] { return !window->Page().lastPainted.phones.empty(); }, std::chrono::seconds(5)));
    EXPECT_TRUE(RepaintTimerRan(Hwnd())) << "its rate is counted every second";
    ShowWindow(Hwnd(), SW_HIDE);
    EXPECT_FALSE(RepaintTimerRan(Hwnd())) << "hidden";
    ShowWindow(Hwnd(), SW_SHOW);
    EXPECT_TRUE(RepaintTimerRan(Hwnd())) << "shown again";
    ShowWindow(Hwnd(), SW_MINIMIZE);
    EXPECT_FALSE(RepaintTimerRan(Hwnd())) << "minimized";
}

POINT menuAt{-1, -1};

void CALLBACK NoteMenuAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
    if (HWND menu = FindWindowW(L"#32768", nullptr); menu != nullptr && IsWindowVisible(menu)) {
        RECT rect{};
        GetWindowRect(menu, &rect);
        menuAt = POINT{rect.left, rect.top};
        KillTimer(nullptr, timer);
        EndMenu();
    }
}

TEST_F(WindowTest, KeyboardOpenedTrayMenuAppearsAtTheIconsAnchorNotThePointer) {
    MakeWindow(false);
    SetCursorPos(900, 700);
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &NoteMenuAndClose);
    // Shift+F10 on the icon: the event in lParam's low word, the icon's anchor in wParam.
    Send(WM_APP_TRAY, MAKEWPARAM(300, 200), MAKELPARAM(WM_CONTEXTMENU, TrayIconId));
    KillTimer(nullptr, timer);
    EXPECT_EQ(menuAt.x, 300);
    EXPECT_EQ(menuAt.y, 200);
}

TEST_F(WindowTest, ClosingWithKeepInTrayHidesAndShowsTheBalloonOnce) {
    MakeWindow(false);
    EXPECT_EQ(tray.Count(NIM_ADD, L"Velotrix"), 1) << "the icon with its tip";
    for (int close = 0; close < 2; ++close) {
        Send(WM_APP_TRAY, 1, MAKELPARAM(NIN_SELECT, 1));
        Send(WM_CLOSE);
        EXPECT_TRUE(IsWindow(Hwnd()));
        EXPECT_FALSE(IsWindowVisible(Hwnd()));
    }
    EXPECT_EQ(
        tray.Balloons(L"Velotrix is still running", L"Phones can keep connecting. Quit from this icon\u2019s menu."),
        1);
    Pump();
    EXPECT_FALSE(quitPosted);
}

TEST_F(WindowTest, ClosingWithoutKeepInTrayOrAQuitRequestEndsTheProgramAndRemovesTheIcon) {
    for (const UINT message : {UINT(WM_CLOSE), UINT(WM_APP_QUIT)}) {
        tray.calls.clear();
        settings.keepInTray = message == WM_APP_QUIT; // a quit request must not only hide the window
        quitPosted = false;
        MakeWindow(false);
        PostMessageW(Hwnd(), message, 0, 0);
        Pump();
        EXPECT_FALSE(IsWindow(Hwnd())) << message;
        EXPECT_EQ(tray.Count(NIM_MODIFY, L"Velotrix is still running"), 0) << message;
        EXPECT_TRUE(!tray.calls.empty() && tray.calls.back().code == NIM_DELETE) << message;
        EXPECT_TRUE(quitPosted) << message;
    }
}

TEST_F(WindowTest, TwoApprovalRequestsAtOnceArePostedOnceAndShowOneBalloonNamingTheLaterPhoneWithoutTakingTheFocus) {
    std::string error;
    ASSERT_TRUE(server->Start(0, error)) << error;
    server->SetAskFirst(true);
    MakeWindow(true);
    // The user is busy in another window.
    const HWND other = CreateWindowExW(0, L"STATIC", L"Other program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 200,
                                       nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(other, nullptr);
    SetForegroundWindow(other);
    const HWND foreground = GetForegroundWindow();
    // Both phones ask before the window handles the first request.
    TestPhone anna("Anna\u2019s iPhone", 1), ben("Ben", 2);
    EXPECT_EQ(SayHello(anna, *server).state, State(PhoneState::Waiting));
    EXPECT_EQ(SayHello(ben, *server).state, State(PhoneState::Waiting));
    // One message each, however often the server calls, until the window has taken it: a flood cannot
    // fill the queue.
    const std::vector<MSG> requests = TakePosted(Hwnd(), WM_APP_APPROVAL_REQUEST, 2, std::chrono::seconds(2));
    ASSERT_EQ(requests.size(), 1u);
    std::vector<MSG> refreshes = TakePosted(Hwnd(), WM_APP_REFRESH, 2, std::chrono::milliseconds(500));
    ASSERT_EQ(refreshes.size(), 1u);
    for (const MSG& request : requests) DispatchMessageW(&request);
    DispatchMessageW(refreshes.data());
    TestPhone cleo("Cleo", 3);
    EXPECT_EQ(SayHello(cleo, *server).state, State(PhoneState::Waiting));
    refreshes = TakePosted(Hwnd(), WM_APP_REFRESH, 2, std::chrono::milliseconds(500));
    EXPECT_EQ(refreshes.size(), 1u) << "once taken, the next change posts again";
    for (const MSG& refresh : refreshes) DispatchMessageW(&refresh);
    for (const MSG& request : TakePosted(Hwnd(), WM_APP_APPROVAL_REQUEST, 1, std::chrono::seconds(2)))
        DispatchMessageW(&request);

    // Prompts are spaced: the second request within seconds repaints but shows no second balloon.
    const std::wstring benAsks = L"\u201CBen\u201D is asking to become a controller. Open Velotrix to allow it.";
    const std::wstring cleoAsks = L"\u201CCleo\u201D is asking to become a controller. Open Velotrix to allow it.";
    EXPECT_EQ(tray.Balloons(L"A phone wants to connect", benAsks), 1);
    EXPECT_EQ(tray.Count(NIM_MODIFY, L"A phone wants to connect"), 1);
    EXPECT_TRUE(IsWindowVisible(Hwnd()));
    EXPECT_EQ(GetForegroundWindow(), foreground);
    PaintNow(*window);
    int allowButtons = 0; // both phones painted, waiting
    for (const ClickRegion& region : window->Page().regions)
        allowButtons += region.action == static_cast<std::int32_t>(ClickAction::AllowPhone) ? 1 : 0;
    EXPECT_EQ(allowButtons, 3);
    DestroyWindow(other);

    ShowWindow(Hwnd(), SW_MINIMIZE);
    now += 6 * Second; // past the spacing, so that this request is prompted in full
    Send(WM_APP_APPROVAL_REQUEST);
    EXPECT_EQ(tray.Balloons(L"A phone wants to connect", cleoAsks), 1);
    EXPECT_TRUE(IsIconic(Hwnd())) << "a minimized window stays minimized when a phone asks";
}

TEST_F(WindowTest, SecondCopyAndTrayClicksBringTheWindowBack) {
    MakeWindow(true);
    struct Case {
        UINT message;
        LPARAM lParam;
        bool shows;
    };
    const Case cases[] = {
        {WM_APP_TRAY, MAKELPARAM(WM_LBUTTONUP, 1), true},  {WM_APP_TRAY, MAKELPARAM(NIN_SELECT, 1), true},
        {WM_APP_TRAY, MAKELPARAM(NIN_KEYSELECT, 1), true}, {WM_APP_TRAY, MAKELPARAM(NIN_BALLOONUSERCLICK, 1), true},
        {WM_APP_TRAY, MAKELPARAM(WM_MOUSEMOVE, 1), false}, {WM_APP_TRAY, MAKELPARAM(NIN_BALLOONSHOW, 1), false},
    };
    for (const Case& c : cases) {
        ShowWindow(Hwnd(), SW_HIDE);
        Send(c.message, 0, c.lParam);
        EXPECT_EQ(IsWindowVisible(Hwnd()) != FALSE, c.shows) << c.message << " " << LOWORD(c.lParam);
    }
    ShowWindow(Hwnd(), SW_MINIMIZE);
    Send(WM_APP_ACTIVATE); // a second copy
    EXPECT_FALSE(IsIconic(Hwnd())) << "a minimized window is restored";
}

TEST_F(WindowTest, TaskbarCreatedAddsTheIconAgain) {
    MakeWindow(true);
    EXPECT_FALSE(KillTimer(Hwnd(), RepaintTimerId)) << "a window that starts hidden has no timer";
    tray.calls.clear();
    Send(RegisterWindowMessageW(L"TaskbarCreated"));
    ASSERT_EQ(tray.calls.size(), 2u);
    EXPECT_EQ(tray.calls[0].code, static_cast<ULONG_PTR>(NIM_ADD));
    EXPECT_EQ(tray.calls[1].code, static_cast<ULONG_PTR>(NIM_SETVERSION));
}

// Connecting once the installer ended is the driver-install test's; a failed connect repaints too.
TEST_F(WindowTest, DriverInstalledRepaintsEvenWhenTheBusIsStillMissing) {
    SimulatedBus::SetFaults({.noBus = true});
    server = std::make_unique<Server>();
    MakeWindow(false);
    Validate();
    Send(WM_APP_DRIVER_INSTALLED);
    EXPECT_FALSE(server->BusConnected());
    EXPECT_TRUE(Invalidated());
}

} // namespace
} // namespace Velotrix
