// The main window: its size rules, hit-testing, wheel and timer rules as plain functions, and then a
// real window (under Wine and Xvfb) driven with the messages Windows would send it.

#include "Window/MainWindow.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "CommandsHarness.h"
#include "Platform/SimulatedBus.h"
#include "RegistrySandbox.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/HostIdentity.h"
#include "Shell/Settings.h"
#include "TestPhone.h"
#include "Window/WindowRules.h"

namespace Velotrix {
namespace {

using namespace std::string_literals;

// ---- The rules, without a window -------------------------------------------------------------

TEST(WindowRulesTest, ClientSizeIsTheDesignSizeTimesTheScaleTruncated) {
    struct Case {
        unsigned dpi;
        int width;
        int height;
    };
    const std::vector<Case> cases = {
        {96, 460, 700},
        {110, 527, 802},  // 527.08 and 802.08
        {120, 575, 875},
        {144, 690, 1050},
        {168, 805, 1225},
        {191, 915, 1392}, // 915.2 and 1392.7: truncated, not rounded
    };
    for (const Case& c : cases) {
        const PixelSize size = InitialClientSize(c.dpi);
        EXPECT_EQ(size.width, c.width) << c.dpi;
        EXPECT_EQ(size.height, c.height) << c.dpi;
    }
}

TEST(WindowRulesTest, OuterRectAddsTheFrameAndOnlyItsHeightIsCappedByTheWorkArea) {
    const RECT roomy{0, 0, 4000, 4000};
    for (UINT dpi : {96u, 110u, 144u}) {
        const PixelSize client = InitialClientSize(dpi);
        const RECT outer = InitialWindowRect(dpi, &roomy);
        EXPECT_EQ(outer.left, 0);
        EXPECT_EQ(outer.top, 0);
        // A frame on both sides and a caption on top, but not a second window's worth.
        EXPECT_GT(outer.right, client.width) << dpi;
        EXPECT_LT(outer.right, client.width + 100) << dpi;
        EXPECT_GT(outer.bottom, client.height + 10) << dpi;
        EXPECT_LT(outer.bottom, client.height + 150) << dpi;
        const RECT uncapped = InitialWindowRect(dpi, nullptr);
        EXPECT_EQ(uncapped.right, outer.right);
        EXPECT_EQ(uncapped.bottom, outer.bottom);
    }

    // 144 DPI asks for 1050 client pixels; a 1000-pixel work area cuts the whole window to 1000.
    const RECT workArea{0, 40, 1920, 1040};
    const RECT capped = InitialWindowRect(144, &workArea);
    EXPECT_EQ(capped.bottom - capped.top, 1000);
    EXPECT_EQ(capped.right, InitialWindowRect(144, nullptr).right);

    // Exactly as high as the window: nothing to cut.
    const RECT uncapped = InitialWindowRect(96, nullptr);
    const RECT exact{0, 0, 800, uncapped.bottom};
    EXPECT_EQ(InitialWindowRect(96, &exact).bottom, uncapped.bottom);
    const RECT oneShort{0, 0, 800, uncapped.bottom - 1};
    EXPECT_EQ(InitialWindowRect(96, &oneShort).bottom, uncapped.bottom - 1);
}

TEST(WindowRulesTest, MinimumTrackSizeIs420TimesTheScaleTruncated) {
    struct Case {
        float scale;
        int side;
    };
    const std::vector<Case> cases = {{1.0f, 420}, {1.25f, 525}, {1.5f, 630}, {110.0f / 96.0f, 481}, {2.0f, 840}};
    for (const Case& c : cases) EXPECT_EQ(MinimumTrackSize(c.scale), c.side) << c.scale;
}

TEST(WindowRulesTest, ClicksTakeTheFirstRegionAndHoverTheLastRightAndBottomEdgesOutside) {
    // Two regions overlap on purpose, so that the first-hit and the last-hit rules can be told apart.
    const std::vector<ClickRegion> regions = {
        {{10, 10, 100, 20}, 5, 0},
        {{60, 10, 100, 20}, 6, 0},
        {{200, 10, 50, 20}, 7, 0},
        {{0, -30, 50, 40}, 4, 9}, // scrolled partly above the top
    };
    struct Case {
        const char* what;
        float x;
        float y;
        int first;
        int last;
    };
    const std::vector<Case> cases = {
        {"top-left corner of the first", 10, 10, 0, 0},
        {"just left of the first", 9.99f, 15, -1, -1},
        {"overlap", 60, 15, 0, 1},
        {"last pixel inside both", 109.99f, 29.99f, 0, 1},
        {"right edge of the first is outside it", 110, 15, 1, 1},
        {"bottom edge is outside", 80, 30, -1, -1},
        {"right edge of the third is outside", 250, 15, -1, -1},
        {"inside the third", 249.5f, 10, 2, 2},
        {"negative y reaches the scrolled region", 5, -5, 3, 3},
        {"bottom edge of the scrolled region", 5, 10, -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FirstRegionAt(regions, c.x, c.y), c.first) << c.what;
        EXPECT_EQ(LastRegionAt(regions, c.x, c.y), c.last) << c.what;
    }
    EXPECT_EQ(FirstRegionAt({}, 10, 10), -1);
    EXPECT_EQ(LastRegionAt({}, 10, 10), -1);
}

TEST(WindowRulesTest, WheelMoves48PixelsANotchWithinTheContent) {
    struct Case {
        const char* what;
        float offset;
        int delta;
        float scale;
        float content;
        float client;
        float expected;
    };
    const std::vector<Case> cases = {
        {"one notch toward the user scrolls down", 0, -120, 1.0f, 1000, 700, 48},
        {"one notch away scrolls up", 100, 120, 1.0f, 1000, 700, 52},
        {"scaled", 0, -120, 1.5f, 1000, 700, 72},
        {"half a notch of a fine wheel", 0, -60, 1.0f, 1000, 700, 24},
        {"stops at the bottom of the content", 280, -120, 1.0f, 1000, 700, 300},
        {"stops at the top", 20, 120, 1.0f, 1000, 700, 0},
        {"content shorter than the window", 0, -120, 1.0f, 500, 700, 0},
        {"an offset beyond a shrunk content is clamped back", 400, 0, 1.0f, 1000, 700, 300},
        {"content exactly the window's height", 0, -480, 1.0f, 700, 700, 0},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(ScrollAfterWheel(c.offset, c.delta, c.scale, c.content, c.client), c.expected) << c.what;
}

TEST(WindowRulesTest, TimerRepaintsEveryTickWhileAnimatingEveryThirtiethOtherwiseAndNeverHidden) {
    struct Case {
        const char* what;
        bool visible;
        bool minimized;
        bool animating;
        int ticks;
        int repaints;
        int idleTicksAfter;
    };
    const std::vector<Case> cases = {
        {"idle: 29 ticks are quiet", true, false, false, 29, 0, 29},
        {"idle: the 30th repaints", true, false, false, 30, 1, 0},
        {"idle: a second of ticks and a few", true, false, false, 65, 2, 5},
        {"animating: every tick", true, false, true, 10, 10, 0},
        {"hidden", false, false, false, 100, 0, 0},
        {"hidden and animating", false, false, true, 100, 0, 0},
        {"minimized", true, true, true, 100, 0, 0},
    };
    for (const Case& c : cases) {
        int idleTicks = 0;
        int repaints = 0;
        for (int i = 0; i < c.ticks; ++i) repaints += TimerTickRepaints(c.visible, c.minimized, c.animating, idleTicks);
        EXPECT_EQ(repaints, c.repaints) << c.what;
        EXPECT_EQ(idleTicks, c.idleTicksAfter) << c.what;
    }
    // Live input ends the idle count at once.
    int idleTicks = 17;
    EXPECT_TRUE(TimerTickRepaints(true, false, true, idleTicks));
    EXPECT_EQ(idleTicks, 0);
}

TEST(WindowRulesTest, BalloonFieldsAreCutToFitAndAlwaysTerminated) {
    wchar_t field[8];
    std::wmemset(field, L'x', 8);
    CopyToField(field, 8, L"Velotrix is still running");
    EXPECT_EQ(std::wstring(field), L"Velotri");
    CopyToField(field, 8, L"abc");
    EXPECT_EQ(std::wstring(field), L"abc");
    CopyToField(field, 8, L"");
    EXPECT_EQ(std::wstring(field), L"");
}

// Counts releases like a COM object would; ComPtr needs nothing else of it.
struct CountedInterface {
    int* releases;
    void Release() { ++*releases; }
};

TEST(WindowComPtrTest, ReleasesEachReferenceExactlyOnceAndOnlyMoves) {
    static_assert(!std::is_copy_constructible_v<ComPtr<CountedInterface>>);
    static_assert(!std::is_copy_assignable_v<ComPtr<CountedInterface>>);
    int firstReleases = 0;
    int secondReleases = 0;
    CountedInterface first{&firstReleases};
    CountedInterface second{&secondReleases};
    {
        ComPtr<CountedInterface> owner(&first);
        ComPtr<CountedInterface> moved(std::move(owner));
        EXPECT_FALSE(owner);
        EXPECT_EQ(moved.get(), &first);
        EXPECT_EQ(firstReleases, 0);

        // Put() gives the old reference back before a creation function writes a new one.
        *moved.Put() = &second;
        EXPECT_EQ(firstReleases, 1);
        EXPECT_EQ(moved.get(), &second);

        ComPtr<CountedInterface> target(&first);
        target = std::move(moved);
        EXPECT_EQ(firstReleases, 2);
        EXPECT_EQ(secondReleases, 0);
    }
    EXPECT_EQ(firstReleases, 2);
    EXPECT_EQ(secondReleases, 1);
}

// ---- A real window ---------------------------------------------------------------------------

const std::wstring StillRunningTitle = L"Velotrix is still running";
const std::wstring StillRunningText = L"Phones can keep connecting. Quit from this icon\u2019s menu.";

class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        ASSERT_TRUE(sandbox.Ready());
        server = std::make_unique<Server>();
        settings.keepInTray = true;
    }

    void TearDown() override {
        server->SetOnRequest(nullptr);
        server->SetOnChanged(nullptr);
        if (window && window->hwnd != nullptr && IsWindow(window->hwnd)) DestroyWindow(window->hwnd);
        // The window's WM_DESTROY posts WM_QUIT to this thread; it must not reach the next test.
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        window.reset();
        server.reset();
        SimulatedBus::Reset();
    }

    MainWindow& MakeWindow(bool hidden) {
        window = std::make_unique<MainWindow>(*server, settings);
        EXPECT_TRUE(window->Create(GetModuleHandleW(nullptr), hidden));
        return *window;
    }

    HWND Hwnd() const { return window->hwnd; }
    void Validate() { ValidateRect(Hwnd(), nullptr); }
    bool Invalidated() { return GetUpdateRect(Hwnd(), nullptr, FALSE) != FALSE; }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageW(Hwnd(), message, wParam, lParam);
    }
    // Dispatches what is posted to this thread (the approval messages among them).
    void Pump() {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitPosted = true;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    static LPARAM Point(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

    RegistrySandbox sandbox;
    std::unique_ptr<Server> server;
    Settings settings;
    std::unique_ptr<MainWindow> window;
    bool quitPosted = false;
};

TEST_F(WindowTest, OpensAsAResizableVelotrixWindowWithTheRequestedClientArea) {
    MainWindow& main = MakeWindow(false);
    ASSERT_NE(Hwnd(), nullptr);
    EXPECT_TRUE(IsWindowVisible(Hwnd()));
    wchar_t text[64] = {};
    GetClassNameW(Hwnd(), text, 64);
    EXPECT_EQ(std::wstring(text), L"VelotrixServer");
    GetWindowTextW(Hwnd(), text, 64);
    EXPECT_EQ(std::wstring(text), L"Velotrix");
    EXPECT_EQ(FindWindowW(L"VelotrixServer", nullptr), Hwnd());

    const auto style = static_cast<DWORD>(GetWindowLongPtrW(Hwnd(), GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX));

    // This process runs at the system DPI, and Xvfb's screen is high enough for the whole window.
    const UINT dpi = GetDpiForWindow(Hwnd());
    EXPECT_FLOAT_EQ(main.scale, static_cast<float>(dpi) / 96.0f);
    const PixelSize expected = InitialClientSize(dpi);
    RECT client{};
    GetClientRect(Hwnd(), &client);
    EXPECT_EQ(client.right, expected.width);
    EXPECT_EQ(client.bottom, expected.height);

    EXPECT_NE(main.drawing.d2dFactory.get(), nullptr);
    EXPECT_NE(main.drawing.writeFactory.get(), nullptr);
    // Shown windows are painted at once: the render target exists and the page left its regions.
    EXPECT_NE(main.device.renderTarget.get(), nullptr);
    EXPECT_NE(main.device.brush.get(), nullptr);
    EXPECT_FALSE(main.page.regions.empty());
    EXPECT_GT(main.page.contentHeight, 0.0f);
    // Timer 1 runs: it can be killed exactly once.
    EXPECT_TRUE(KillTimer(Hwnd(), 1));
    EXPECT_FALSE(KillTimer(Hwnd(), 1));
}

TEST_F(WindowTest, StartsHiddenWithItsTimerAndReadsTheStartWithWindowsValue) {
    ASSERT_TRUE(WriteRaw(sandbox.Root(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Velotrix",
                         Utf16Value(REG_SZ, L"\"C:\\Velotrix.exe\" --tray\0"s)));
    MainWindow& main = MakeWindow(true);
    ASSERT_NE(Hwnd(), nullptr);
    EXPECT_FALSE(IsWindowVisible(Hwnd()));
    EXPECT_TRUE(main.startWithWindows);
    EXPECT_TRUE(KillTimer(Hwnd(), 1));
}

TEST_F(WindowTest, DpiChangeRecreatesEveryTextFormatForTheNewScaleAndMovesTheWindow) {
    MainWindow& main = MakeWindow(false);
    const auto formats = [&main] {
        return std::vector<IDWriteTextFormat*>{main.drawing.titleFormat.get(), main.drawing.buttonFormat.get(), main.drawing.bodyFormat.get(),
                                               main.drawing.headingFormat.get(), main.drawing.smallFormat.get(), main.drawing.labelFormat.get()};
    };
    // Held here, so that a released format cannot come back at the same address and pass for new.
    std::vector<ComPtr<IDWriteTextFormat>> before;
    for (IDWriteTextFormat* format : formats()) {
        ASSERT_NE(format, nullptr);
        format->AddRef();
        before.emplace_back(format);
    }
    const float oldScale = main.scale;
    RECT suggested{100, 50, 100 + 700, 50 + 900};
    Send(WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_FLOAT_EQ(main.scale, 1.5f);
    const std::vector<IDWriteTextFormat*> after = formats();
    for (std::size_t i = 0; i < after.size(); ++i) {
        ASSERT_NE(after[i], nullptr);
        EXPECT_NE(after[i], before[i].get()) << i;
        EXPECT_FLOAT_EQ(after[i]->GetFontSize() * oldScale, before[i]->GetFontSize() * 1.5f) << i;
    }
    RECT placed{};
    GetWindowRect(Hwnd(), &placed);
    EXPECT_EQ(placed.left, 100);
    EXPECT_EQ(placed.top, 50);
    EXPECT_EQ(placed.right - placed.left, 700);
    EXPECT_EQ(placed.bottom - placed.top, 900);

    // The smallest drag size follows the new scale, and the maximum stays as proposed.
    MINMAXINFO info{};
    info.ptMaxTrackSize = {12345, 6789};
    EXPECT_EQ(Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.ptMinTrackSize.x, MinimumTrackSize(1.5f));
    EXPECT_EQ(info.ptMinTrackSize.y, MinimumTrackSize(1.5f));
    EXPECT_EQ(info.ptMaxTrackSize.x, 12345);
    EXPECT_EQ(info.ptMaxTrackSize.y, 6789);
}

// The rules themselves are tested above; these prove each message reaches them, reading positions with sign.
TEST_F(WindowTest, PointerMessagesReachTheHoverClickAndCursorRules) {
    MainWindow& main = MakeWindow(false);
    const auto keepInTray = static_cast<std::int32_t>(ClickAction::ToggleKeepInTray);
    const auto askFirst = static_cast<std::int32_t>(ClickAction::ToggleAskFirst);
    // Overlapping: hover takes the later region, a click the first.
    const std::vector<ClickRegion> regions = {{{10, 10, 100, 20}, keepInTray, 0}, {{60, 10, 100, 20}, askFirst, 0}};
    main.page.regions = regions;
    Validate();
    Send(WM_MOUSEMOVE, 0, Point(60, 15));
    EXPECT_EQ(main.page.hoverIndex, 1);
    EXPECT_TRUE(Invalidated());
    EXPECT_EQ(Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(Hwnd()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    Validate();
    Send(WM_MOUSEMOVE, 0, Point(61, 16));
    EXPECT_FALSE(Invalidated()) << "same region: no repaint";
    Send(WM_MOUSEMOVE, 0, Point(-3, -3));
    EXPECT_EQ(main.page.hoverIndex, -1) << "negative coordinates are not huge ones";
    Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(Hwnd()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    main.page.hoverIndex = 1;
    Validate();
    Send(WM_MOUSELEAVE);
    EXPECT_EQ(main.page.hoverIndex, -1);
    EXPECT_TRUE(Invalidated());

    settings.keepInTray = settings.askFirst = true;
    Validate();
    Send(WM_LBUTTONUP, 0, Point(60, 15));
    EXPECT_FALSE(settings.keepInTray);
    EXPECT_TRUE(settings.askFirst);
    EXPECT_TRUE(Invalidated());
}

TEST_F(WindowTest, WheelAndTimerMessagesReachTheirRules) {
    MainWindow& main = MakeWindow(false);
    RECT client{};
    GetClientRect(Hwnd(), &client);
    main.page.contentHeight = static_cast<float>(client.bottom) + 1000.0f;
    main.page.scrollOffset = 0;
    Validate();
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), Point(10, 10));
    EXPECT_FLOAT_EQ(main.page.scrollOffset, ScrollAfterWheel(0, -120, main.scale, main.page.contentHeight,
                                                         static_cast<float>(client.bottom)));
    EXPECT_GT(main.page.scrollOffset, 0);
    EXPECT_TRUE(Invalidated());

    // Pacing and the skip of a repeated page have rows of their own; here every tick is due and new.
    const auto freshTick = [this, &main] {
        main.page.pacing = PaintPacing{};
        main.page.lastPainted = PageInput{};
        Send(WM_TIMER, 1);
    };
    main.page.animating = true;
    Validate();
    freshTick();
    EXPECT_TRUE(Invalidated());
    main.page.animating = false;
    main.page.idleTicks = 0;
    freshTick();
    EXPECT_EQ(main.page.idleTicks, 1);
    ShowWindow(Hwnd(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(Hwnd()));
    main.page.idleTicks = 0;
    freshTick();
    EXPECT_EQ(main.page.idleTicks, 0) << "a minimized window counts no ticks";
}


TEST_F(WindowTest, ClosingWithKeepInTrayHidesAndShowsTheBalloonOnce) {
    TrayRecorder tray;
    ASSERT_TRUE(tray.Ready());
    MainWindow& main = MakeWindow(false);
    EXPECT_EQ(tray.Count(NIM_ADD, L"Velotrix"), 1) << "the icon with its tip";
    EXPECT_GE(tray.calls.size(), 2u);

    Send(WM_CLOSE);
    EXPECT_TRUE(IsWindow(Hwnd()));
    EXPECT_FALSE(IsWindowVisible(Hwnd()));
    EXPECT_TRUE(main.tray.balloonShown);
    EXPECT_EQ(tray.Count(NIM_MODIFY, StillRunningTitle), 1);
    EXPECT_EQ(tray.Count(NIM_MODIFY, StillRunningText), 1);

    // Opened again from the icon and closed again: hidden, no second balloon.
    Send(WM_APP_TRAY, 1, MAKELPARAM(NIN_SELECT, 1));
    EXPECT_TRUE(IsWindowVisible(Hwnd()));
    Send(WM_CLOSE);
    EXPECT_FALSE(IsWindowVisible(Hwnd()));
    EXPECT_EQ(tray.Count(NIM_MODIFY, StillRunningTitle), 1);
    Pump();
    EXPECT_FALSE(quitPosted);
}

TEST_F(WindowTest, ClosingWithoutKeepInTrayEndsTheProgramAndRemovesTheIcon) {
    TrayRecorder tray;
    ASSERT_TRUE(tray.Ready());
    settings.keepInTray = false;
    MainWindow& main = MakeWindow(false);
    Send(WM_CLOSE);
    EXPECT_FALSE(IsWindow(Hwnd()));
    EXPECT_FALSE(main.tray.balloonShown);
    EXPECT_EQ(tray.Count(NIM_MODIFY, StillRunningTitle), 0);
    ASSERT_FALSE(tray.calls.empty());
    EXPECT_EQ(tray.calls.back().code, static_cast<ULONG_PTR>(NIM_DELETE));
    Pump();
    EXPECT_TRUE(quitPosted);
}

TEST_F(WindowTest, TwoApprovalRequestsAtOnceShowOneBalloonNamingTheLaterPhoneWithoutTakingTheFocus) {
    TrayRecorder tray;
    ASSERT_TRUE(tray.Ready());
    std::string error;
    ASSERT_TRUE(server->OpenSocket(0, error)) << error;
    server->SetAskFirst(true);
    MainWindow& main = MakeWindow(true);

    // The user is busy in another window.
    const HWND other = CreateWindowExW(0, L"STATIC", L"Other program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                       200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(other, nullptr);
    SetForegroundWindow(other);
    const HWND foreground = GetForegroundWindow();

    // Both phones ask before the window handles the first message.
    TestPhone anna("Anna\u2019s iPhone", 1);
    TestPhone ben("Ben", 2);
    const Bytes annaHello = anna.Hello();
    const Bytes benHello = ben.Hello();
    server->HandleDatagram(annaHello.data(), static_cast<int>(annaHello.size()), anna.From(), 1'000'000'000);
    server->HandleDatagram(benHello.data(), static_cast<int>(benHello.size()), ben.From(), 1'000'000'001);
    EXPECT_FALSE(IsWindowVisible(Hwnd()));
    Pump();

    const std::wstring benText = L"\u201CBen\u201D is asking to become a controller. Open Velotrix to allow it.";
    // Prompts are spaced: the second request within seconds repaints but shows no second balloon.
    EXPECT_EQ(tray.Count(NIM_MODIFY, L"A phone wants to connect"), 1);
    EXPECT_EQ(tray.Count(NIM_MODIFY, benText), 1);
    EXPECT_EQ(tray.Count(NIM_MODIFY, L"Anna"), 0);
    EXPECT_TRUE(IsWindowVisible(Hwnd()));
    EXPECT_EQ(GetForegroundWindow(), foreground);
    EXPECT_NE(GetForegroundWindow(), Hwnd());
    // The window painted both phones, waiting with their Allow and Deny buttons.
    int allowButtons = 0;
    for (const ClickRegion& region : main.page.regions)
        allowButtons += region.action == static_cast<std::int32_t>(ClickAction::AllowPhone) ? 1 : 0;
    EXPECT_EQ(allowButtons, 2);
    DestroyWindow(other);
}

TEST_F(WindowTest, AMinimizedWindowStaysMinimizedWhenAPhoneAsks) {
    MakeWindow(false);
    ShowWindow(Hwnd(), SW_MINIMIZE);
    {
        std::lock_guard lock(window->requestMutex);
        window->pendingRequestName = "Ben";
    }
    Send(WM_APP_APPROVAL_REQUEST);
    EXPECT_TRUE(IsIconic(Hwnd()));
}

TEST_F(WindowTest, SecondCopyAndTrayClicksBringTheWindowBack) {
    MakeWindow(true);
    struct Case {
        const char* what;
        UINT message;
        LPARAM lParam;
        bool shows;
    };
    const std::vector<Case> cases = {
        {"a second copy", WM_APP_ACTIVATE, 0, true},
        {"icon click", WM_APP_TRAY, MAKELPARAM(WM_LBUTTONUP, 1), true},
        {"icon selected", WM_APP_TRAY, MAKELPARAM(NIN_SELECT, 1), true},
        {"icon selected with the keyboard", WM_APP_TRAY, MAKELPARAM(NIN_KEYSELECT, 1), true},
        {"balloon clicked", WM_APP_TRAY, MAKELPARAM(NIN_BALLOONUSERCLICK, 1), true},
        {"pointer over the icon", WM_APP_TRAY, MAKELPARAM(WM_MOUSEMOVE, 1), false},
        {"balloon shown", WM_APP_TRAY, MAKELPARAM(NIN_BALLOONSHOW, 1), false},
    };
    for (const Case& c : cases) {
        ShowWindow(Hwnd(), SW_HIDE);
        Send(c.message, 0, c.lParam);
        EXPECT_EQ(IsWindowVisible(Hwnd()) != FALSE, c.shows) << c.what;
    }
    // A minimized window is restored.
    ShowWindow(Hwnd(), SW_MINIMIZE);
    Send(WM_APP_ACTIVATE);
    EXPECT_FALSE(IsIconic(Hwnd()));
}

TEST_F(WindowTest, TaskbarCreatedAddsTheIconAgain) {
    TrayRecorder tray;
    ASSERT_TRUE(tray.Ready());
    MakeWindow(true);
    tray.calls.clear();
    Send(RegisterWindowMessageW(L"TaskbarCreated"));
    ASSERT_EQ(tray.calls.size(), 2u);
    EXPECT_EQ(tray.calls[0].code, static_cast<ULONG_PTR>(NIM_ADD));
    EXPECT_TRUE(tray.calls[0].Holds(L"Velotrix"));
    EXPECT_EQ(tray.calls[1].code, static_cast<ULONG_PTR>(NIM_SETVERSION));
}

TEST_F(WindowTest, DriverInstalledConnectsTheBusAndRepaints) {
    SimulatedBus::SetFaults({.noBus = true});
    server = std::make_unique<Server>();
    ASSERT_FALSE(server->BusConnected());
    MakeWindow(false);
    LogCapture logs;

    Validate();
    Send(WM_APP_DRIVER_INSTALLED);
    EXPECT_FALSE(server->BusConnected());
    EXPECT_TRUE(Invalidated());

    EXPECT_EQ(logs.Count("Driver ready after the install"), 0);

    SimulatedBus::SetFaults({});
    Validate();
    Send(WM_APP_DRIVER_INSTALLED);
    EXPECT_TRUE(server->BusConnected());
    EXPECT_TRUE(Invalidated());
    EXPECT_EQ(logs.Count("Driver ready after the install"), 1);
}

} // namespace
} // namespace Velotrix
