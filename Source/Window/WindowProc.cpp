// The window procedure: mouse, size and DPI, the repaint timer, closing to the notification area, the
// icon and its menu, and the messages other threads and processes post.

#include "Window/MainWindow.h"

#include <windowsx.h>
#include <shellapi.h>

#include "Platform/WinHandles.h"
#include "Server/Server.h"
#include "Shell/TextConversion.h"
#include "Shell/Log.h"
#include "Shell/Settings.h"
#include "Window/WindowRules.h"

namespace Velotrix {

namespace {

struct MenuTraits {
    using Value = HMENU;
    static Value Invalid() { return nullptr; }
    static void Release(Value menu) { DestroyMenu(menu); }
};
using UniqueMenu = UniqueResource<MenuTraits>;

const wchar_t StillRunningTitle[] = L"Velotrix is still running";
const wchar_t StillRunningText[] = L"Phones can keep connecting. Quit from this icon\u2019s menu.";
const wchar_t ApprovalTitle[] = L"A phone wants to connect";

// Mouse positions are signed: on a second monitor left of the first, x is negative.
float PointerX(LPARAM lParam) { return static_cast<float>(GET_X_LPARAM(lParam)); }
float PointerY(LPARAM lParam) { return static_cast<float>(GET_Y_LPARAM(lParam)); }

} // namespace

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        self = static_cast<MainWindow*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd = window;
        self->postTarget.store(window);
    } else {
        self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    // From here on a post would reach a dead window, or a new one that got the same handle.
    if (message == WM_NCDESTROY) self->postTarget.store(nullptr);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY: {
        access.Detach();
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof(data);
        data.hWnd = hwnd;
        data.uID = TrayIconId;
        Shell_NotifyIconW(NIM_DELETE, &data);
        PostQuitMessage(0);
        return 0;
    }
    case WM_SIZE:
        // Resize can only fail for a lost device, which the next EndDraw reports anyway.
        if (device.renderTarget) device.renderTarget->Resize(D2D1::SizeU(LOWORD(lParam), HIWORD(lParam)));
        // Minimized, nobody looks; restored, the paint this asks for sets the timers again.
        if (wParam == SIZE_MINIMIZED) UpdateTimers(IsWindowVisible(hwnd) != FALSE);
        Repaint();
        return 0;
    case WM_SHOWWINDOW:
        UpdateTimers(wParam != FALSE);
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        BeginPaint(hwnd, &paint);
        OnPaint();
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && page.hoverIndex >= 0) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = MinimumTrackSize(scale);
        info->ptMinTrackSize.y = MinimumTrackSize(scale);
        return 0;
    }
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        return 0;
    case WM_LBUTTONUP:
        OnLeftButtonUp(lParam);
        return 0;
    case WM_MOUSEWHEEL:
        OnMouseWheel(wParam);
        return 0;
    case WM_KEYDOWN:
        if (OnFocusKey(wParam, lParam) || OnKeyDown(wParam)) return 0;
        break;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
        OnSystemLookChanged();
        break;
    case WM_MOUSELEAVE:
        page.hoverIndex = -1;
        Repaint();
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(wParam, lParam);
        return 0;
    case WM_APP_TRAY:
        OnTrayEvent(wParam, lParam);
        return 0;
    case WM_APP_APPROVAL_REQUEST:
        // Taken before the name is read: a request made meanwhile posts again.
        requestPosted.store(false);
        OnApprovalRequest();
        return 0;
    case WM_APP_REFRESH:
        refreshPosted.store(false);
        Repaint();
        return 0;
    case WM_APP_DRIVER_INSTALLED:
        // ConnectBus logs its own failure; the screen then keeps offering the installation.
        if (server.ConnectBus()) Log("Driver ready after the install");
        Repaint();
        return 0;
    case WM_APP_ACTIVATE:
        BringToFront();
        return 0;
    case WM_APP_FIREWALL:
        OnFirewallFindings();
        return 0;
    case WM_APP_QUIT:
        Quit();
        return 0;
    case WM_APP_NETWORK_CHANGED:
        OnNetworkChanged();
        return 0;
    case WM_GETOBJECT:
        if (LRESULT answer = 0; access.OnGetObject(wParam, lParam, answer)) return answer;
        break;
    case WM_APP_ACCESS_INVOKE:
        OnAccessInvoke(wParam, lParam);
        return 0;
    case WM_POWERBROADCAST:
        // Back from sleep the PC may be on another network, and a change while asleep went unheard; the
        // bus driver may not have survived the sleep either, and the socket may fail.
        if (wParam == PBT_APMRESUMEAUTOMATIC) {
            OnNetworkChanged();
            server.NoteResume();
        }
        return TRUE;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        OnEndSession(wParam != FALSE);
        return 0;
    default:
        break;
    }
    // Explorer announces itself with this after it (re)starts; its old icons are gone by then.
    static const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    if (message == taskbarCreated && taskbarCreated != 0) {
        AddTrayIcon();
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void MainWindow::Repaint() { InvalidateRect(hwnd, nullptr, FALSE); }

void MainWindow::OnPaint() {
    const std::int64_t start = steadyNow();
    Paint();
    // Whatever made this paint, the next timer paint waits by what it cost.
    timer.pacing = PaintPacing{start, steadyNow() - start, true};
}

void MainWindow::OnTimer(WPARAM timerId) {
    if (timerId == FirewallTimerId) {
        RecheckFirewall();
        return;
    }
    if (!PaintDue(timer.pacing, steadyNow())) return;
    // A paint that would draw what is on screen already is skipped: an idle page costs no paint at all.
    if (PaintsTheSame(GatherPage(), page.lastPainted)) return;
    Repaint();
}

void MainWindow::UpdateTimers(bool visible) {
    const bool minimized = IsIconic(hwnd) != FALSE;
    const unsigned period = RepaintTimerPeriod(visible, minimized, page.animating, !page.lastPainted.phones.empty());
    if (period != timer.repaintPeriod) {
        // SetTimer with the same id replaces the period.
        if (period == 0)
            KillTimer(hwnd, RepaintTimerId);
        else
            SetTimer(hwnd, RepaintTimerId, period, nullptr);
        timer.repaintPeriod = period;
    }
    const bool firewallWanted = firewall.seam.probe && startError.empty() && visible && !minimized;
    if (firewallWanted == timer.firewallRunning) return;
    timer.firewallRunning = firewallWanted;
    if (!firewallWanted) {
        KillTimer(hwnd, FirewallTimerId);
        return;
    }
    SetTimer(hwnd, FirewallTimerId, FirewallCheckPeriodMs, nullptr);
    // The verdict may have grown old while nobody looked; the check at the window's creation is
    // still out when it first shows.
    RecheckFirewall();
}

void MainWindow::RecheckFirewall() {
    // Once a phone is listed, phones evidently get through.
    if (firewall.checksOut == 0 && server.Snapshot().empty()) CheckFirewall(false);
}

bool MainWindow::OnKeyDown(WPARAM key) {
    ScrollKey scroll;
    switch (key) {
    case VK_UP:
        scroll = ScrollKey::LineUp;
        break;
    case VK_DOWN:
        scroll = ScrollKey::LineDown;
        break;
    case VK_PRIOR:
        scroll = ScrollKey::PageUp;
        break;
    case VK_NEXT:
        scroll = ScrollKey::PageDown;
        break;
    case VK_HOME:
        scroll = ScrollKey::Home;
        break;
    case VK_END:
        scroll = ScrollKey::End;
        break;
    default:
        return false;
    }
    RECT client{};
    GetClientRect(hwnd, &client);
    page.scrollOffset =
        ScrollAfterKey(scroll, page.scrollOffset, scale, page.contentHeight, static_cast<float>(client.bottom));
    Repaint();
    return true;
}

void MainWindow::CheckFirewall(bool requestRule) {
    if (StartFirewallCheck(hwnd, firewall.seam, firewall.findings, server.Port(), requestRule)) {
        ++firewall.checksOut;
        firewall.ruleRequestOut = firewall.ruleRequestOut || requestRule;
    }
}

void MainWindow::OnFirewallFindings() {
    bool changed = false;
    for (const FirewallFindings::Finding& finding : firewall.findings->Take()) {
        if (firewall.checksOut > 0) --firewall.checksOut;
        if (finding.afterRuleRequest) firewall.ruleRequestOut = false;
        // Every 10 s the same answer comes again; the log hears of it only when it changes.
        if (static_cast<int>(finding.verdict) != firewall.loggedVerdict) {
            firewall.loggedVerdict = static_cast<int>(finding.verdict);
            Log("%s", FirewallVerdictText(finding.verdict, finding.failure).c_str());
        }
        changed = changed || finding.verdict != firewall.verdict;
        firewall.verdict = finding.verdict;
        firewall.failure = finding.failure;
    }
    // The same answer again draws nothing new; under Wine a needless paint costs more than the check.
    if (changed) Repaint();
}

void MainWindow::OnMouseMove(LPARAM lParam) {
    const int hit = LastRegionAt(page.regions, PointerX(lParam), PointerY(lParam));
    if (hit != page.hoverIndex) {
        page.hoverIndex = hit;
        Repaint();
    }
    // Asked again on every move: Windows forgets the request once it has sent WM_MOUSELEAVE.
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = hwnd;
    track.dwHoverTime = 0;
    TrackMouseEvent(&track);
}

void MainWindow::OnLeftButtonUp(LPARAM lParam) {
    const int hit = FirstRegionAt(page.regions, PointerX(lParam), PointerY(lParam));
    // A copy: the command may repaint, and a paint rebuilds the regions.
    if (hit >= 0) OnClick(ClickRegion(page.regions[static_cast<std::size_t>(hit)]));
    Repaint();
}

void MainWindow::OnMouseWheel(WPARAM wParam) {
    RECT client{};
    GetClientRect(hwnd, &client);
    const auto delta = static_cast<short>(HIWORD(wParam));
    page.scrollOffset =
        ScrollAfterWheel(page.scrollOffset, delta, scale, page.contentHeight, static_cast<float>(client.bottom));
    Repaint();
}

void MainWindow::OnClose() {
    if (!settings.keepInTray) {
        DestroyWindow(hwnd);
        return;
    }
    ShowWindow(hwnd, SW_HIDE);
    if (!tray.balloonShown) {
        tray.balloonShown = true;
        ShowBalloon(StillRunningTitle, StillRunningText);
    }
}

void MainWindow::OnTrayEvent(WPARAM wParam, LPARAM lParam) {
    // With NOTIFYICON_VERSION_4 the event is the low word of lParam, and wParam holds the icon's anchor
    // point in screen coordinates.
    switch (LOWORD(lParam)) {
    case WM_LBUTTONUP:
    case NIN_SELECT:
    case NIN_KEYSELECT:
    case NIN_BALLOONUSERCLICK:
        BringToFront();
        break;
    case WM_CONTEXTMENU:
        // Also opened from the keyboard (Shift+F10, the menu key), when the pointer may be anywhere:
        // the menu belongs at the icon.
        ShowTrayMenu(POINT{GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)});
        break;
    case WM_RBUTTONUP: {
        POINT pointer{};
        GetCursorPos(&pointer);
        ShowTrayMenu(pointer);
        break;
    }
    default:
        break;
    }
}

void MainWindow::ShowTrayMenu(POINT at) {
    if (tray.menuOpen) return;
    const UniqueMenu menu(CreatePopupMenu());
    if (!menu) return;
    AppendMenuW(menu.get(), MF_STRING, IDM_TRAY_OPEN, L"Open Velotrix");
    AppendMenuW(menu.get(), MF_STRING, IDM_TRAY_DIAGNOSTICS, L"Copy diagnostics");
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, IDM_TRAY_QUIT, L"Quit");
    // Without this the menu stays open when the user clicks elsewhere.
    SetForegroundWindow(hwnd);
    tray.menuOpen = true;
    const UINT command =
        static_cast<UINT>(TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd, nullptr));
    tray.menuOpen = false;
    if (command == IDM_TRAY_OPEN) {
        BringToFront();
    } else if (command == IDM_TRAY_DIAGNOSTICS) {
        CopyDiagnostics();
    } else if (command == IDM_TRAY_QUIT) {
        Quit();
    }
}

void MainWindow::Quit() { DestroyWindow(hwnd); }

void MainWindow::OnApprovalRequest() {
    std::string name;
    {
        std::lock_guard lock(requestMutex);
        name = pendingRequestName;
    }
    // Phones asking one after another (or a sender making up new ones) get one balloon and one
    // flash per few seconds; the rows still show every waiting phone.
    constexpr std::int64_t PromptSpacing = 5'000'000'000;
    const std::int64_t now = steadyNow();
    if (lastApprovalPrompt && now - *lastApprovalPrompt < PromptSpacing) {
        Repaint();
        return;
    }
    lastApprovalPrompt = now;
    ShowBalloon(ApprovalTitle,
                L"\u201C" + ToUtf16(name) + L"\u201D is asking to become a controller. Open Velotrix to allow it.");
    // A minimized window counts as visible and stays minimized; a hidden one appears without taking the
    // focus from whatever the user is doing.
    if (!IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    FLASHWINFO flash{};
    flash.cbSize = sizeof(flash);
    flash.hwnd = hwnd;
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    flash.uCount = 0;
    flash.dwTimeout = 0;
    FlashWindowEx(&flash);
    Repaint();
}

void MainWindow::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    scale = static_cast<float>(HIWORD(wParam)) / 96.0f * look.textScale;
    CreateTextFormats();
    LoadWindowIcons(HIWORD(wParam));
    // The render target stays: the WM_SIZE that this move causes resizes it.
    const auto* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace Velotrix
