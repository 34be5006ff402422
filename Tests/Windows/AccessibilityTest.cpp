// The window within reach of a keyboard and a screen reader, and readable in high contrast: the keys,
// the system's colour and setting changes reaching the window (one test per message; the rules
// themselves are pinned by the native tests), the page painted in the system's colours, and the page
// as UI Automation reads it.
//
// Wine 8 has no UI Automation client object: CoCreateInstance of CUIAutomation answers
// REGDB_E_CLASSNOTREG (checked below, so that the day it comes this says so), and its
// UiaHasServerSideProvider is a stub that aborts the process. The tree is therefore read through the
// provider's own interfaces, as UI Automation's core would call them: the root the window hands to
// WM_GETOBJECT, then Navigate, GetPropertyValue, get_BoundingRectangle, GetPatternProvider with Invoke
// and Toggle, SetFocus and the root's GetFocus.

#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CommandsHarness.h"
#include "PaintHarness.h"
#include "RegistrySandbox.h"
#include "Server/Server.h"
#include "Shell/Settings.h"
#include "SimulatedBus/SimulatedBus.h"
#include "Window/MainWindow.h"
#include "Window/PaletteColours.h"
#include "Window/SystemLook.h"
#include "Window/UiaPatterns.h"

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

// One element as a screen reader reads it.
struct ReadElement {
    int depth;
    int controlType;
    std::wstring name;
    bool operator==(const ReadElement&) const = default;
};

std::wstring NameOf(IRawElementProviderFragment* element) {
    ComPtr<IRawElementProviderSimple> simple;
    VARIANT value;
    VariantInit(&value);
    if (FAILED(element->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(simple.Put()))) ||
        FAILED(simple->GetPropertyValue(UIA_NamePropertyId, &value)) || value.vt != VT_BSTR)
        return L"?";
    std::wstring name(value.bstrVal, SysStringLen(value.bstrVal));
    VariantClear(&value);
    return name;
}

int IntProperty(IRawElementProviderFragment* element, PROPERTYID property) {
    ComPtr<IRawElementProviderSimple> simple;
    VARIANT value;
    VariantInit(&value);
    if (FAILED(element->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(simple.Put()))) ||
        FAILED(simple->GetPropertyValue(property, &value)))
        return -1;
    if (value.vt == VT_BOOL) return value.boolVal != VARIANT_FALSE ? 1 : 0;
    return value.vt == VT_I4 ? value.lVal : -1;
}

ComPtr<IRawElementProviderFragment> Step(IRawElementProviderFragment* from, NavigateDirection direction) {
    ComPtr<IRawElementProviderFragment> to;
    EXPECT_HRESULT_SUCCEEDED(from->Navigate(direction, to.Put()));
    return to;
}

class UiaWindowTest : public AccessibilityWindowTest {
protected:
    void SetUp() override {
        AccessibilityWindowTest::SetUp();
        std::string error;
        ASSERT_TRUE(server->Start(0, error)) << error;
        MakeWindow();
        ASSERT_HRESULT_SUCCEEDED(window->AccessRoot()->QueryInterface(__uuidof(IRawElementProviderFragment),
                                                                      reinterpret_cast<void**>(root.Put())));
    }
    void TearDown() override {
        root.Reset();
        AccessibilityWindowTest::TearDown();
    }

    // A phone asks and its card is on the page.
    std::uint32_t PhoneAsks(TestPhone& phone) {
        const StatusDatagram hello = SayHello(phone, *server);
        EXPECT_TRUE(PumpUntil(
            [&] {
                PaintNow(*window);
                return RegionOf(*window, ClickAction::AllowPhone) != nullptr;
            },
            std::chrono::seconds(5)));
        return hello.sessionId;
    }

    // The whole tree in reading order, walked as a screen reader walks it.
    std::vector<ReadElement> ReadTree() {
        std::vector<ReadElement> read;
        const std::function<void(IRawElementProviderFragment*, int)> walk = [&](IRawElementProviderFragment* parent,
                                                                                int depth) {
            for (ComPtr<IRawElementProviderFragment> child = Step(parent, NavigateDirection_FirstChild); child;
                 child = Step(child.get(), NavigateDirection_NextSibling)) {
                read.push_back({depth, IntProperty(child.get(), UIA_ControlTypePropertyId), NameOf(child.get())});
                walk(child.get(), depth + 1);
            }
        };
        walk(root.get(), 0);
        return read;
    }

    // The first element named `name`; empty when there is none.
    ComPtr<IRawElementProviderFragment> Find(const std::wstring& name, IRawElementProviderFragment* parent = nullptr) {
        for (ComPtr<IRawElementProviderFragment> child =
                 Step(parent != nullptr ? parent : root.get(), NavigateDirection_FirstChild);
             child; child = Step(child.get(), NavigateDirection_NextSibling)) {
            if (NameOf(child.get()) == name) return child;
            if (ComPtr<IRawElementProviderFragment> inner = Find(name, child.get())) return inner;
        }
        return {};
    }

    template <typename Pattern>
    ComPtr<Pattern> PatternOf(IRawElementProviderFragment* element, PATTERNID id) {
        ComPtr<IRawElementProviderSimple> simple;
        ComPtr<IUnknown> unknown;
        ComPtr<Pattern> pattern;
        if (FAILED(
                element->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(simple.Put()))) ||
            FAILED(simple->GetPatternProvider(id, unknown.Put())) || !unknown ||
            FAILED(unknown->QueryInterface(__uuidof(Pattern), reinterpret_cast<void**>(pattern.Put()))))
            return {};
        return pattern;
    }

    ComPtr<IRawElementProviderFragment> root;
};

TEST_F(UiaWindowTest, TreeHoldsThePhoneAndTheControlsByTheirOnScreenNamesWhereTheyAreDrawn) {
    const CLSID clientClass = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
    IUnknown* client = nullptr;
    EXPECT_EQ(CoCreateInstance(clientClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IUnknown),
                               reinterpret_cast<void**>(&client)),
              REGDB_E_CLASSNOTREG)
        << "this Wine has a UI Automation client: read the tree through it";
    if (client != nullptr) client->Release();
    EXPECT_NE(Send(WM_GETOBJECT, 0, static_cast<LPARAM>(UiaRootObject)), 0) << "the root goes to UI Automation";

    TestPhone phone("Ada\xE2\x80\x99s iPhone", 3);
    PhoneAsks(phone);
    const std::vector<ReadElement> tree = ReadTree();
    const auto has = [&tree](const ReadElement& element) {
        return std::find(tree.begin(), tree.end(), element) != tree.end();
    };
    EXPECT_TRUE(has({0, UiaTextControlType, L"Velotrix"}));
    EXPECT_TRUE(has({0, UiaGroupControlType, L"Ada\u2019s iPhone"}));
    EXPECT_TRUE(has({1, UiaTextControlType, L"wants to use this PC as a controller."}));
    EXPECT_TRUE(has({1, UiaButtonControlType, L"Allow"}));
    EXPECT_TRUE(has({1, UiaButtonControlType, L"Deny"}));
    EXPECT_TRUE(has({0, UiaCheckBoxControlType, L"Ask before a new phone connects"}));
    EXPECT_TRUE(has({0, UiaHyperlinkControlType, L"velotrix.app"}));
    EXPECT_TRUE(std::any_of(tree.begin(), tree.end(), [](const ReadElement& e) {
        return e.depth == 0 && e.name.rfind(L"This PC ", 0) == 0;
    })) << "this PC's name";

    const ComPtr<IRawElementProviderFragment> allow = Find(L"Allow");
    ASSERT_TRUE(allow);
    UiaRect box{};
    ASSERT_HRESULT_SUCCEEDED(allow->get_BoundingRectangle(&box));
    const ClickRect drawn = RegionOf(*window, ClickAction::AllowPhone)->rect;
    POINT origin{0, 0};
    ClientToScreen(Hwnd(), &origin);
    EXPECT_EQ(box.left, origin.x + drawn.x);
    EXPECT_EQ(box.top, origin.y + drawn.y);
    EXPECT_EQ(box.width, drawn.width);
    EXPECT_EQ(Step(Step(allow.get(), NavigateDirection_Parent).get(), NavigateDirection_Parent).get(), root.get())
        << "the phone's card, then the window";
}

TEST_F(UiaWindowTest, InvokeAllowsAWaitingPhoneToggleFlipsAnOptionAndGoneElementsSaySo) {
    TestPhone phone("Ada", 4);
    const std::uint32_t session = PhoneAsks(phone);
    ComPtr<IRawElementProviderFragment> allow = Find(L"Allow");
    ASSERT_TRUE(allow);
    EXPECT_FALSE(PatternOf<IToggleProvider>(allow.get(), UIA_TogglePatternId)) << "a button does not toggle";
    const ComPtr<IInvokeProvider> invoke = PatternOf<IInvokeProvider>(allow.get(), UIA_InvokePatternId);
    ASSERT_TRUE(invoke);
    EXPECT_HRESULT_SUCCEEDED(invoke->Invoke());
    EXPECT_TRUE(PumpUntil(
        [&] {
            PaintNow(*window);
            for (const PhoneView& view : server->Snapshot())
                if (view.sessionId == session) return view.state == static_cast<std::uint8_t>(PhoneState::Active);
            return false;
        },
        std::chrono::seconds(5)));
    EXPECT_TRUE(Find(L"Disconnect"));
    EXPECT_EQ(invoke->Invoke(), UiaElementNotAvailable) << "Allow left the page";
    UiaRect box{};
    EXPECT_EQ(allow->get_BoundingRectangle(&box), UiaElementNotAvailable);

    const ComPtr<IRawElementProviderFragment> option = Find(L"Keep running when the window closes");
    ASSERT_TRUE(option);
    const ComPtr<IToggleProvider> toggle = PatternOf<IToggleProvider>(option.get(), UIA_TogglePatternId);
    ASSERT_TRUE(toggle);
    int state = -1;
    ASSERT_HRESULT_SUCCEEDED(toggle->get_ToggleState(&state));
    EXPECT_EQ(state, settings.keepInTray ? UiaToggleOn : UiaToggleOff);
    const bool was = settings.keepInTray;
    EXPECT_HRESULT_SUCCEEDED(toggle->Toggle());
    EXPECT_TRUE(PumpUntil([&] { return settings.keepInTray != was; }, std::chrono::seconds(5)));
    PaintNow(*window);
    ASSERT_HRESULT_SUCCEEDED(toggle->get_ToggleState(&state));
    EXPECT_EQ(state, was ? UiaToggleOff : UiaToggleOn) << "the state as drawn after the flip";

    DestroyWindow(Hwnd());
    EXPECT_EQ(toggle->get_ToggleState(&state), UiaElementNotAvailable);
    ComPtr<IRawElementProviderFragment> child;
    EXPECT_EQ(root->Navigate(NavigateDirection_FirstChild, child.Put()), UiaElementNotAvailable);
    EXPECT_FALSE(window->AccessRoot());
}

TEST_F(UiaWindowTest, FocusIsTheKeyboardsBothWays) {
    ComPtr<IRawElementProviderFragmentRoot> fragmentRoot;
    ASSERT_HRESULT_SUCCEEDED(
        root->QueryInterface(__uuidof(IRawElementProviderFragmentRoot), reinterpret_cast<void**>(fragmentRoot.Put())));
    ComPtr<IRawElementProviderFragment> focused;
    ASSERT_HRESULT_SUCCEEDED(fragmentRoot->GetFocus(focused.Put()));
    EXPECT_FALSE(focused) << "nothing focused yet";

    Key(VK_TAB);
    ASSERT_HRESULT_SUCCEEDED(fragmentRoot->GetFocus(focused.Put()));
    ASSERT_TRUE(focused);
    EXPECT_EQ(NameOf(focused.get()), L"Share");
    EXPECT_EQ(IntProperty(focused.get(), UIA_HasKeyboardFocusPropertyId), 1);

    const ComPtr<IRawElementProviderFragment> option = Find(L"Start with Windows");
    ASSERT_TRUE(option);
    EXPECT_EQ(IntProperty(option.get(), UIA_HasKeyboardFocusPropertyId), 0);
    EXPECT_HRESULT_SUCCEEDED(option->SetFocus());
    PaintNow(*window);
    EXPECT_EQ(Focused(), ClickAction::ToggleStartWithWindows) << "the keyboard's focus went there too";
    EXPECT_EQ(IntProperty(option.get(), UIA_HasKeyboardFocusPropertyId), 1);
    ASSERT_HRESULT_SUCCEEDED(fragmentRoot->GetFocus(focused.Put()));
    EXPECT_EQ(NameOf(focused.get()), L"Start with Windows");
    Key(VK_TAB);
    ASSERT_HRESULT_SUCCEEDED(fragmentRoot->GetFocus(focused.Put()));
    EXPECT_EQ(NameOf(focused.get()), L"Keep running when the window closes");
}

} // namespace
} // namespace Velotrix
