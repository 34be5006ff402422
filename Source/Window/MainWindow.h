#pragma once

// The program's one top-level window and everything that belongs to it: the window class, the
// Direct2D and DirectWrite objects, the text formats, the notification-area icon, and the state the
// window procedure, the commands and the paint share. Everything here runs on the user-interface
// thread except the two server callbacks, which only store a name and post messages, and
// PostNetworkChanged.

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/Os.h"
#include "Shell/AddressOrder.h"
#include "Shell/ComputerName.h"
#include "Shell/LocalAddresses.h"
#include "Window/ClickRegion.h"
#include "Window/DrawingResources.h"
#include "Window/Firewall.h"
#include "Window/Focus.h"
#include "Window/Icons.h"
#include "Window/Messages.h"
#include "Window/Page.h"
#include "Window/SystemLook.h"
#include "Window/UiaProvider.h"
#include "Window/WindowRules.h"

namespace Velotrix {

class Server;
struct Settings;

inline constexpr wchar_t WindowClassName[] = L"VelotrixServer";
inline constexpr wchar_t WindowTitle[] = L"Velotrix";
inline constexpr UINT TrayIconId = 1;
inline constexpr UINT_PTR RepaintTimerId = 1;
inline constexpr UINT_PTR FirewallTimerId = 2;
inline constexpr UINT FirewallCheckPeriodMs = 10'000;
inline constexpr UINT IDM_TRAY_OPEN = 100;
inline constexpr UINT IDM_TRAY_QUIT = 101;
inline constexpr UINT IDM_TRAY_DIAGNOSTICS = 102;

// The outer window rectangle (left and top 0) for a client area of InitialClientSize(dpi) (grown by
// `textScale`, the "Make text bigger" setting) with the window's frame at `dpi`; its height is cut to
// the work area's height when `workArea` is given and lower. The width is never cut.
RECT InitialWindowRect(UINT dpi, const RECT* workArea, float textScale = 1.0f);

// Where the window opens: sized for `dpi`, the DPI of the monitor it opened on, and moved from
// `opened` (where Windows put it) so that it lies wholly inside that monitor's work area.
RECT PlacedWindowRect(UINT dpi, const RECT& opened, const RECT& workArea, float textScale = 1.0f);

// Copies `text` into a fixed field of `capacity` characters, cut to fit and always terminated.
void CopyToField(wchar_t* field, std::size_t capacity, const std::wstring& text);

// Everything the window is made from. The server and the settings outlive the window; the functions
// are called on the user-interface thread.
struct MainWindowSetup {
    Server& server;
    Settings& settings;
    std::string startError{};   // UTF-8; not empty when the server could not start, which the page then shows
    bool demo = false;          // made-up name and addresses (for screenshots), never read again
    std::wstring crashNotice{}; // the dump an earlier run's crash left; the status card offers it
    // This PC's name, read once; its addresses, read once and again after each network change.
    std::function<std::wstring()> readComputerName = &ComputerName;
    std::function<std::vector<LocalAddress>()> readAddresses = &LocalAddresses;
    FirewallSeam firewall{}; // without a probe nothing is checked
    // Steady-clock nanoseconds: the repaint timer's pacing and the spacing of approval prompts.
    std::function<std::int64_t()> steadyNow = &SteadyNow;
    // Called with the new first address when a network change moved it, to announce the server there.
    std::function<void(const std::string& address)> onAddressChanged{};
    // The program's way down, run when Windows ends the session: Windows may end the process as soon
    // as WM_ENDSESSION is answered, long before the message loop would have ended.
    std::function<void()> onEndSession{};
    // High contrast's colours (nothing while it is off) and the "Make text bigger" percent; read at
    // creation and after each change of the system's colours or settings.
    std::function<std::optional<SystemColours>()> readHighContrast = &ReadHighContrast;
    std::function<int()> readTextScale = &ReadTextScalePercent;
};

// What the page shows and where the user is on it; the paint writes what it measured.
struct PageState {
    float scrollOffset = 0;
    float contentHeight = 0;
    std::vector<ClickRegion> regions; // of the last paint, in drawing order
    std::vector<DrawnText> texts;     // of the last paint, for a screen reader
    std::vector<DrawnGroup> groups;
    int hoverIndex = -1;
    int focusIndex = -1;    // the region with the keyboard focus, -1 for none; it follows its control
    bool animating = false; // live input is on screen
    PageInput lastPainted;  // what the last paint drew, so that the timer skips a repeat of it
};

class MainWindow {
public:
    // Reads this PC's name and addresses and installs the server's onRequest and onChanged callbacks,
    // which post to the window once it exists.
    explicit MainWindow(MainWindowSetup setup);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the class and makes the window, shown unless `startHidden`. False only when the window
    // itself could not be created; the factories, formats, icon and timer then do not exist.
    [[nodiscard]] bool Create(HINSTANCE instance, bool startHidden);

    // Posts WM_APP_NETWORK_CHANGED from any thread; does nothing before the window exists or after it
    // is gone.
    void PostNetworkChanged();

    // What the window shows, for those who look from outside: its handle (null before Create), and
    // the page as the last paint drew it, with the hovered region and the scroll.
    HWND Handle() const { return hwnd; }
    const PageState& Page() const { return page; }
    // The window's UI Automation root, as WM_GETOBJECT hands it to UI Automation; empty before Create
    // and after the window is destroyed.
    ComPtr<IRawElementProviderSimple> AccessRoot() const { return access.Root(); }

private:
    // The notification-area icon's state.
    struct TrayState {
        bool balloonShown = false; // the "still running" balloon, once per run
        // A right click gives both WM_RBUTTONUP and WM_CONTEXTMENU. Wine's shell sends them, so the
        // second arrives inside the first menu's modal loop; a nested menu there swallows the WM_QUIT
        // of "Quit".
        bool menuOpen = false;
    };

    // The connection check's state.
    struct FirewallState {
        FirewallSeam seam;
        std::shared_ptr<FirewallFindings> findings = std::make_shared<FirewallFindings>();
        FirewallVerdict verdict = FirewallVerdict::CannotTell; // the last check's, as painted
        int checksOut = 0;                                     // checks started whose verdict has not arrived
        bool ruleRequestOut = false; // an elevation prompt may be up; a second click waits for it
        int loggedVerdict = -1;      // a verdict is logged when it differs from the last one logged
        std::uint32_t failure = 0;   // the probe's failing result behind a CannotTell, for the diagnostics
    };

    // The timers' state: each runs only while the window is shown (UpdateTimers).
    struct TimerState {
        unsigned repaintPeriod = 0; // 0: no repaint timer
        bool firewallRunning = false;
        PaintPacing pacing;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void CreateTextFormats();
    void AddTrayIcon();
    void ShowBalloon(const std::wstring& title, const std::wstring& text);
    void BringToFront();
    void Repaint();
    PageInput GatherPage();
    // Notes the name and the time of each remembered phone that became Active since the last look, and
    // saves them.
    void NoteRememberedPhones(const std::vector<PhoneView>& phones);
    void Paint();
    void OnPaint();
    void OnTimer(WPARAM timerId);
    // Sets or kills the repaint timer and the connection check's timer for what the window shows now,
    // `visible` or not (WM_SHOWWINDOW comes before the window's visibility changes).
    void UpdateTimers(bool visible);
    // The periodic connection check, skipped while one is out or a phone is listed.
    void RecheckFirewall();
    // False for a key that does not scroll, which then gets the default processing.
    bool OnKeyDown(WPARAM key);
    // Tab, Shift+Tab, Enter, Space and Escape; false for any other key.
    bool OnFocusKey(WPARAM key, LPARAM lParam);
    // After the page is drawn: the focus follows its control from `before` (the last paint's regions)
    // to this paint's, and its ring is drawn.
    void PaintFocus(PaintContext& context, const std::vector<ClickRegion>& before);
    // Scrolls the focused control into view, as the last paint drew it.
    void RevealFocus();
    // WM_SYSCOLORCHANGE and WM_SETTINGCHANGE: high contrast and the text size read again.
    void OnSystemLookChanged();
    // After a paint: UI Automation's elements follow the page, and are told what changed on it.
    void UpdateAccess();
    // WM_APP_ACCESS_INVOKE: a screen reader invoked or toggled the control with that key.
    void OnAccessInvoke(WPARAM wParam, LPARAM lParam);
    void AttachAccess();
    void CheckFirewall(bool requestRule);
    void OnFirewallFindings();
    void OnMouseMove(LPARAM lParam);
    void OnLeftButtonUp(LPARAM lParam);
    void OnMouseWheel(WPARAM wParam);
    // Carries out what a click on `region` does.
    void OnClick(const ClickRegion& region);
    // The share sheet where there is one; elsewhere the web link goes to the clipboard, and a balloon
    // says so. A clipboard that cannot be opened ends the command without a word.
    void ShareOrCopyLinks();
    // "Copy diagnostics": the quick checks, the phones, the settings and the log's end, on the clipboard
    // and in diagnostics.txt beside server.log; a balloon says where.
    void CopyDiagnostics();
    void OnClose();
    void OnTrayEvent(WPARAM wParam, LPARAM lParam);
    void ShowTrayMenu(POINT at);
    // The way out for the menu's "Quit" and a quit request alike: the message loop ends, and wWinMain
    // takes the server down (phones told, pads unplugged, the announcement withdrawn).
    void Quit();
    void OnApprovalRequest();
    // Posts `message` to the window unless one posted earlier is still waiting (`posted` set); any
    // thread.
    void PostOnce(std::atomic<bool>& posted, UINT message);
    void OnDpiChanged(WPARAM wParam, LPARAM lParam);
    void PlaceInWorkArea();
    void OnNetworkChanged();
    void OnEndSession(bool ending);
    void ApplyTitleBarTheme();
    void LoadWindowIcons(UINT dpi);

    Server& server;
    Settings& settings;
    const std::string startError;
    const bool demo;
    std::wstring crashNotice; // cleared once the user opened the reports
    const std::function<std::vector<LocalAddress>()> readAddresses;
    const std::function<std::int64_t()> steadyNow;
    const std::function<void(const std::string& address)> onAddressChanged;
    const std::function<void()> onEndSession;

    HWND hwnd = nullptr;      // set at WM_NCCREATE
    HICON icon = nullptr;     // from the program's resources; never destroyed
    ProgramIcons windowIcons; // at the window's DPI; the caption, the taskbar and Alt+Tab show these
    UniqueIcon trayIcon;      // the small icon at the system DPI, the notification area's
    float scale = 1.0f;       // the window's DPI / 96
    bool startWithWindows = false;
    SystemLook look; // high contrast and the text size, as last read
    DrawingResources drawing;
    DeviceResources device;
    PageState page;
    UiaProvider access; // what UI Automation reads of the page
    TimerState timer;
    TrayState tray;
    FirewallState firewall;
    std::mutex requestMutex;
    std::string pendingRequestName;                 // guarded by requestMutex; the server's thread writes it
    std::optional<std::int64_t> lastApprovalPrompt; // steadyNow of the last balloon and flash
    std::wstring computerName;
    std::vector<LocalAddress> addresses;
    // hwnd as the server's thread reads it: the server may already call back while the window is being
    // created on this thread.
    std::atomic<HWND> postTarget{nullptr};
    // Set while a refresh or an approval request is posted and not yet taken: the server's thread posts
    // one message, however often it calls, so a flood cannot fill the window's queue (10,000
    // messages), where everything posted after would be lost.
    std::atomic<bool> refreshPosted{false};
    // The remembered phones Active at the last look (NoteRememberedPhones).
    std::set<std::string> rememberedActive;
    // Since when each phone's Wi-Fi has been poor, for its advice.
    AdviceTimer adviceTimer;
    std::atomic<bool> requestPosted{false};
};

} // namespace Velotrix
