// The window within reach of a keyboard and readable in high contrast: the keys, the system's colour
// and setting changes reaching the window (one test per message; the rules themselves are pinned by
// the native tests), and the page painted in the system's colours.

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "CommandsHarness.h"
#include "PaintHarness.h"
#include "RegistrySandbox.h"
#include "Server/Server.h"
#include "Shell/Settings.h"
#include "SimulatedBus/SimulatedBus.h"
#include "Window/MainWindow.h"
#include "Window/PaletteColours.h"
#include "Window/SystemLook.h"

namespace Velotrix {
namespace {

// Windows' "High Contrast Black", as COLORREFs for SetSysColors.
constexpr int HighContrastIndices[] = {COLOR_WINDOW,  COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                                       COLOR_BTNFACE, COLOR_BTNTEXT,    COLOR_HOTLIGHT,  COLOR_GRAYTEXT};
constexpr COLORREF HighContrastBlack[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(26, 235, 255), RGB(0, 0, 0),
                                          RGB(0, 0, 0), RGB(255, 255, 255), RGB(255, 255, 0),  RGB(63, 242, 63)};

class AccessibilityWindowTest : public testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        ASSERT_TRUE(sandbox.Ready());
        ASSERT_TRUE(tray.Ready());
        server = std::make_unique<Server>();
    }
    void TearDown() override {
        DropWindowAndServer(window, server);
        SimulatedBus::Reset();
    }

    const MainWindow& MakeWindow() {
        window = std::make_unique<MainWindow>(MainWindowSetup{.server = *server,
                                                              .settings = settings,
                                                              .readHighContrast =
                                                                  [this] {
                                                                      ++colourReads;
                                                                      return highContrast;
                                                                  },
                                                              .readTextScale = [this] { return textPercent; }});
        EXPECT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
        PaintNow(*window);
        return *window;
    }
    HWND Hwnd() const { return window->Handle(); }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageW(Hwnd(), message, wParam, lParam);
    }
    // A key as Windows sends it, painted at once as its repaint asks.
    void Key(WPARAM key, bool repeated = false) {
        Send(WM_KEYDOWN, key, repeated ? LPARAM{1} << 30 : 0);
        PaintNow(*window);
    }
    ClickAction Focused() const {
        const PageState& page = window->Page();
        EXPECT_GE(page.focusIndex, 0);
        return page.focusIndex < 0 ? ClickAction{} : static_cast<ClickAction>(page.regions[page.focusIndex].action);
    }
    // Tabs until `action` has the focus; false when a whole round of the page went by without it.
    bool TabTo(ClickAction action) {
        for (std::size_t i = 0; i <= window->Page().regions.size(); ++i) {
            Key(VK_TAB);
            if (Focused() == action) return true;
        }
        return false;
    }
    bool Invalidated() { return GetUpdateRect(Hwnd(), nullptr, FALSE) != FALSE; }

    RegistrySandbox sandbox;
    TrayRecorder tray;
    std::unique_ptr<Server> server;
    Settings settings;
    std::unique_ptr<MainWindow> window;
    std::optional<SystemColours> highContrast;
    int colourReads = 0;
    int textPercent = 100;
};

TEST_F(AccessibilityWindowTest, KeysMoveTheFocusScrollToItRunItsControlOnceAndCloseTheWindow) {
    const MainWindow& main = MakeWindow();
    SetWindowPos(Hwnd(), nullptr, 0, 0, 460, 300, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    PaintNow(main);
    EXPECT_EQ(main.Page().focusIndex, -1) << "no focus until a key asks for one";
    Key(VK_TAB);
    EXPECT_EQ(Focused(), ClickAction::ShareAppLinks);

    // The web link lies below a 300-pixel view: the scroll follows the focus there.
    ASSERT_TRUE(TabTo(ClickAction::OpenWebPage));
    const ClickRect link = main.Page().regions[main.Page().focusIndex].rect;
    RECT client{};
    GetClientRect(Hwnd(), &client);
    EXPECT_GT(main.Page().scrollOffset, 0);
    EXPECT_TRUE(link.y >= 0 && link.y + link.height <= client.bottom) << link.y;

    settings.keepInTray = true;
    ASSERT_TRUE(TabTo(ClickAction::ToggleKeepInTray));
    Key(VK_SPACE);
    EXPECT_FALSE(settings.keepInTray);
    Key(VK_SPACE, true);
    EXPECT_FALSE(settings.keepInTray) << "a held key acts once";
    Key(VK_RETURN);
    EXPECT_TRUE(settings.keepInTray);
    EXPECT_EQ(Focused(), ClickAction::ToggleKeepInTray) << "the focus stays on the flipped option";

    EXPECT_EQ(Send(WM_KEYDOWN, VK_ESCAPE), 0);
    EXPECT_FALSE(IsWindowVisible(Hwnd())) << "closed to the notification area, as by its close button";
    EXPECT_TRUE(IsWindow(Hwnd()));
}

TEST_F(AccessibilityWindowTest, SystemColourChangeReadsHighContrastAgainAndRepaintsWhenItChanged) {
    MakeWindow();
    const int reads = colourReads;
    ValidateRect(Hwnd(), nullptr);
    Send(WM_SYSCOLORCHANGE);
    EXPECT_EQ(colourReads, reads + 1);
    EXPECT_FALSE(Invalidated()) << "nothing changed";
    highContrast = SystemColours{.window = 0x000000, .windowText = 0xFFFFFF};
    Send(WM_SYSCOLORCHANGE);
    EXPECT_TRUE(Invalidated());
}

TEST_F(AccessibilityWindowTest, SettingChangeToBiggerTextGrowsTextAndLayoutAsADpiDoes) {
    const MainWindow& main = MakeWindow();
    const std::vector<ClickRegion> before = main.Page().regions;
    textPercent = 150;
    Send(WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"TextScaleFactor"));
    PaintNow(main);
    const std::vector<ClickRegion>& after = main.Page().regions;
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_NEAR(after[i].rect.height, before[i].rect.height * 1.5f, 0.01f) << i;
    // Share is as wide as its text: only bigger text formats make it grow alike.
    EXPECT_NEAR(after.front().rect.width, before.front().rect.width * 1.5f, 2.0f);
    MINMAXINFO info{};
    Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, MinimumTrackSize(1.5f * static_cast<float>(GetDpiForWindow(Hwnd())) / 96.0f));
}

// Sets the system's colours for the test and puts them back after.
class SystemColoursScope {
public:
    SystemColoursScope() {
        for (std::size_t i = 0; i < std::size(HighContrastIndices); ++i) saved[i] = GetSysColor(HighContrastIndices[i]);
        changed = SetSysColors(static_cast<int>(std::size(HighContrastIndices)), HighContrastIndices,
                               HighContrastBlack) != FALSE;
    }
    ~SystemColoursScope() {
        SetSysColors(static_cast<int>(std::size(HighContrastIndices)), HighContrastIndices, saved);
    }
    SystemColoursScope(const SystemColoursScope&) = delete;
    SystemColoursScope& operator=(const SystemColoursScope&) = delete;
    bool changed = false;

private:
    COLORREF saved[std::size(HighContrastIndices)]{};
};

int CountNear(const Picture& picture, const ClickRect& rect, std::uint32_t rgb) {
    int count = 0;
    for (int y = static_cast<int>(rect.y); y < static_cast<int>(rect.y + rect.height); ++y)
        for (int x = static_cast<int>(rect.x); x < static_cast<int>(rect.x + rect.width); ++x)
            count += picture.At(x, y) == rgb ? 1 : 0;
    return count;
}

TEST(AccessibilityPaintTest, HighContrastPaintsThePageInTheSystemsColours) {
    const SystemColoursScope colours;
    ASSERT_TRUE(colours.changed);
    const SystemColours system = ReadSystemColours();
    ASSERT_EQ(system.hotTrack, 0xFFFF00u) << "read as 0xRRGGBB";
    ASSERT_EQ(system.highlight, 0x1AEBFFu);

    PaintHarness harness;
    ASSERT_TRUE(harness.Open());
    ASSERT_TRUE(harness.SetScale(1));
    harness.highContrast = &system;
    PageInput page;
    page.width = 460;
    page.height = 700;
    page.busConnected = true;
    page.port = 47821;
    page.computerName = L"RACING-PC";
    page.addresses = {{"192.168.1.20", L"Wi-Fi", true}};
    page.askFirst = page.keepInTray = true;
    PhoneView waiting;
    waiting.sessionId = 7;
    waiting.name = "Ada\xE2\x80\x99s iPhone";
    page.phones.push_back(waiting); // a fresh view waits
    PageResult result;
    ASSERT_TRUE(harness.PaintWholePage(page, -1, result)) << harness.failure;
    const Picture& picture = harness.Last();
    EXPECT_EQ(picture.At(2, 2), 0x000000u) << "the window colour, not the page's dark grey";
    const auto regionOf = [&harness](ClickAction action) {
        for (const ClickRegion& region : harness.regions)
            if (region.action == static_cast<std::int32_t>(action)) return region.rect;
        return ClickRect{};
    };
    const ClickRect allow = regionOf(ClickAction::AllowPhone);
    EXPECT_EQ(picture.At(static_cast<int>(allow.x + 4), static_cast<int>(allow.y + allow.height / 2)), 0x1AEBFFu)
        << "a green button in the highlight";
    EXPECT_GT(CountNear(picture, regionOf(ClickAction::OpenWebPage), 0xFFFF00), 10) << "the link in hot-track";
    EXPECT_EQ(CountNear(picture, ClickRect{0, 0, 460, result.contentHeight}, Palette::Card), 0)
        << "none of the dark theme's card colour";

    // The picture for docs/pictures goes to VELOTRIX_PICTURES (a Unix path through Wine's Z: drive).
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(L"VELOTRIX_PICTURES", value, 1024);
    if (length > 0 && length < 1024) {
        std::wstring folder(value);
        if (folder[0] == L'/') folder = L"Z:" + folder;
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        EXPECT_TRUE(harness.SavePng(folder + L"\\high-contrast.png"));
    }
}

} // namespace
} // namespace Velotrix
