// How often the window paints, how the keys scroll and where the indicator and the window itself go:
// the rules as plain functions, then the timer and the notification menu of a real window.

#include "Window/MainWindow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "Platform/SimulatedBus.h"
#include "RegistrySandbox.h"
#include "Server/Server.h"
#include "Shell/Settings.h"
#include "Window/WindowRules.h"

namespace Velotrix {
namespace {

constexpr std::int64_t Ms = 1'000'000;

TEST(WindowPacingTest, PeriodGivesAboutThirtyPaintsASecondOnWindowsTimerTick) {
    // Windows rounds a periodic timer up to its 15.625 ms tick.
    const double tick = 15.625;
    const double fired = std::ceil(RepaintPeriodMs / tick) * tick;
    EXPECT_GE(1000.0 / fired, 29.0);
    EXPECT_LE(1000.0 / fired, 33.0);
    int idleTicks = 0;
    int ticks = 1;
    while (!TimerTickRepaints(true, false, false, idleTicks)) ++ticks;
    EXPECT_NEAR(ticks * fired, 1000.0, 100.0) << "an idle window still repaints about once a second";
}

TEST(WindowPacingTest, APaintCostingMoreThanAQuarterOfThePeriodStretchesItToFourTimesItsCost) {
    struct Case {
        const char* what;
        PaintPacing pacing;
        std::int64_t now;
        bool due;
    };
    const Case cases[] = {
        {"nothing painted yet", {}, 0, true},
        {"a cheap paint, one period later", {1000 * Ms, 2 * Ms, true}, 1031 * Ms, true},
        {"a cheap paint, 1 ns short of the period", {1000 * Ms, 2 * Ms, true}, 1031 * Ms - 1, false},
        {"a quarter of the period costs no stretch", {1000 * Ms, 7'750'000, true}, 1031 * Ms, true},
        {"a 100 ms paint, 399 ms later", {1000 * Ms, 100 * Ms, true}, 1399 * Ms, false},
        {"a 100 ms paint, 400 ms later", {1000 * Ms, 100 * Ms, true}, 1400 * Ms, true},
    };
    for (const Case& c : cases) EXPECT_EQ(PaintDue(c.pacing, c.now), c.due) << c.what;
}

TEST(WindowPacingTest, KeysScrollByLinesPagesAndToTheEndsWithinTheContent) {
    struct Case {
        ScrollKey key;
        float from, scale, content, client, to;
    };
    const Case cases[] = {
        {ScrollKey::LineDown, 0, 1, 1000, 600, 48},  {ScrollKey::LineDown, 0, 2, 1000, 600, 96},
        {ScrollKey::LineUp, 100, 1, 1000, 600, 52},  {ScrollKey::LineUp, 20, 1, 1000, 600, 0},
        {ScrollKey::PageDown, 0, 1, 2000, 600, 552}, {ScrollKey::PageDown, 0, 1, 1000, 600, 400},
        {ScrollKey::PageUp, 600, 1, 2000, 600, 48},  {ScrollKey::Home, 300, 1, 1000, 600, 0},
        {ScrollKey::End, 0, 1, 1000, 600, 400},      {ScrollKey::End, 0, 1, 500, 600, 0},
        {ScrollKey::LineDown, 0, 1, 500, 600, 0},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(ScrollAfterKey(c.key, c.from, c.scale, c.content, c.client), c.to)
            << static_cast<int>(c.key) << " from " << c.from << " of " << c.content;
}

TEST(WindowPacingTest, ScrollIndicatorShowsOnlyForATallPageAndFollowsTheViewInsideTheRightEdge) {
    EXPECT_FALSE(ScrollThumbOf(0, 1, 600, 460, 600).visible);
    EXPECT_FALSE(ScrollThumbOf(0, 1, 300, 460, 600).visible);

    const ScrollThumb top = ScrollThumbOf(0, 1, 1200, 460, 600);
    const ScrollThumb bottom = ScrollThumbOf(600, 1, 1200, 460, 600);
    ASSERT_TRUE(top.visible);
    for (const ScrollThumb& thumb : {top, bottom}) {
        EXPECT_GT(thumb.x, 460 - 12);
        EXPECT_LE(thumb.x + thumb.width, 460);
        EXPECT_GE(thumb.y, 0);
        EXPECT_LE(thumb.y + thumb.height, 600);
        EXPECT_NEAR(thumb.height, 300, 5) << "half the page in view, half the track";
    }
    EXPECT_LT(top.y, 5);
    EXPECT_GT(bottom.y + bottom.height, 595);
    EXPECT_FLOAT_EQ(ScrollThumbOf(900, 1, 1200, 460, 600).y, bottom.y) << "an offset beyond the end";
    EXPECT_GE(ScrollThumbOf(0, 1, 100000, 460, 600).height, 20) << "a very tall page keeps a visible thumb";
}

TEST(WindowPacingTest, WindowOpensWhollyInsideItsMonitorsWorkArea) {
    struct Case {
        const char* what;
        UINT dpi;
        RECT opened;
        RECT work;
    };
    const Case cases[] = {
        {"a small screen", 96, {26, 26, 526, 826}, {0, 0, 1024, 560}},
        {"beyond the right edge", 96, {900, 10, 1400, 700}, {0, 0, 1280, 1024}},
        {"a monitor to the left, at 144 DPI", 144, {-1500, 300, -800, 1400}, {-1920, 0, 0, 1040}},
        {"a 96 DPI monitor under a 192 DPI system", 96, {100, 100, 1000, 1500}, {0, 0, 1920, 1040}},
    };
    for (const Case& c : cases) {
        const RECT placed = PlacedWindowRect(c.dpi, c.opened, c.work);
        const RECT size = InitialWindowRect(c.dpi, &c.work);
        EXPECT_EQ(placed.right - placed.left, size.right) << c.what;
        EXPECT_EQ(placed.bottom - placed.top, size.bottom) << c.what;
        EXPECT_GE(placed.left, c.work.left) << c.what;
        EXPECT_GE(placed.top, c.work.top) << c.what;
        EXPECT_LE(placed.right, c.work.right) << c.what;
        EXPECT_LE(placed.bottom, c.work.bottom) << c.what;
    }
    const RECT inside{100, 100, 700, 900};
    const RECT kept = PlacedWindowRect(96, inside, RECT{0, 0, 1920, 1040});
    EXPECT_EQ(kept.left, 100);
    EXPECT_EQ(kept.top, 100);
}

class WindowPacingWindowTest : public testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        ASSERT_TRUE(sandbox.Ready());
        window = std::make_unique<MainWindow>(server, settings);
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
    }
    void TearDown() override {
        server.SetOnRequest(nullptr);
        server.SetOnChanged(nullptr);
        if (IsWindow(window->hwnd)) DestroyWindow(window->hwnd);
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        window.reset();
        SimulatedBus::Reset();
    }
    bool TickRepaints() {
        ValidateRect(window->hwnd, nullptr);
        window->page.pacing = PaintPacing{};
        window->page.animating = true;
        SendMessageW(window->hwnd, WM_TIMER, RepaintTimerId, 0);
        return GetUpdateRect(window->hwnd, nullptr, FALSE) != FALSE;
    }

    RegistrySandbox sandbox;
    Server server;
    Settings settings;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowPacingWindowTest, TimerSkipsAPaintThatWouldRepeatTheLastOne) {
    InvalidateRect(window->hwnd, nullptr, FALSE);
    UpdateWindow(window->hwnd);
    EXPECT_FALSE(TickRepaints()) << "nothing changed since the last paint";
    settings.askFirst = !settings.askFirst;
    EXPECT_TRUE(TickRepaints()) << "an option changed";
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

TEST_F(WindowPacingWindowTest, KeyboardOpenedTrayMenuAppearsAtTheIconsAnchorNotThePointer) {
    SetCursorPos(900, 700);
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &NoteMenuAndClose);
    // Shift+F10 on the icon: the event in lParam's low word, the icon's anchor in wParam.
    SendMessageW(window->hwnd, WM_APP_TRAY, MAKEWPARAM(300, 200), MAKELPARAM(WM_CONTEXTMENU, TrayIconId));
    KillTimer(nullptr, timer);
    EXPECT_EQ(menuAt.x, 300);
    EXPECT_EQ(menuAt.y, 200);
}

} // namespace
} // namespace Velotrix
