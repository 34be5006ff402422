#pragma once

// The program's one top-level window and everything that belongs to it: the window class, the
// Direct2D and DirectWrite objects, the text formats, the notification-area icon, and the state the
// window procedure, the commands and the paint share. Everything here runs on the user-interface
// thread except the two server callbacks, which only store a name and post messages.

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "Shell/AddressOrder.h"
#include "Window/ClickRegion.h"
#include "Window/ComPtr.h"

namespace Velotrix {

class Server;
struct Settings;

// Messages other threads and processes post to the window.
inline constexpr UINT WM_APP_TRAY = WM_APP + 1;             // the notification-area icon's events
inline constexpr UINT WM_APP_APPROVAL_REQUEST = WM_APP + 2; // a phone waits; its name is in pendingRequestName
inline constexpr UINT WM_APP_REFRESH = WM_APP + 3;          // the server's phone table changed
inline constexpr UINT WM_APP_DRIVER_INSTALLED = WM_APP + 4; // a driver installer started by the window ended
inline constexpr UINT WM_APP_ACTIVATE = WM_APP + 10;        // a second copy of the program was started

inline constexpr wchar_t WindowClassName[] = L"VelotrixServer";
inline constexpr wchar_t WindowTitle[] = L"Velotrix";
inline constexpr UINT TrayIconId = 1;
inline constexpr UINT_PTR RepaintTimerId = 1;
inline constexpr UINT IDM_TRAY_OPEN = 100;
inline constexpr UINT IDM_TRAY_QUIT = 101;

// The outer window rectangle (left and top 0) for a client area of InitialClientSize(dpi) with the
// window's frame at `dpi`; its height is cut to the work area's height when `workArea` is given and
// lower. The width is never cut.
RECT InitialWindowRect(UINT dpi, const RECT* workArea);

// Copies `text` into a fixed field of `capacity` characters, cut to fit and always terminated.
void CopyToField(wchar_t* field, std::size_t capacity, const std::wstring& text);

class MainWindow {
public:
    // Installs the server's onRequest and onChanged callbacks, which post to the window once it exists.
    MainWindow(Server& server, Settings& settings);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the class and makes the window, shown unless `startHidden`. False only when the window
    // itself could not be created; the factories, formats, icon and timer then do not exist.
    [[nodiscard]] bool Create(HINSTANCE instance, bool startHidden);
    // Releases and re-creates the seven text formats for the current scale.
    void CreateTextFormats();
    // Shows made-up values for this PC's name and address (for screenshots); only before Create.
    void EnableDemo();

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void AddTrayIcon();
    void ShowBalloon(const std::wstring& title, const std::wstring& text);
    void BringToFront();

    // Carries out what a click on `region` does.
    void OnClick(const ClickRegion& region);
    void Paint();

    // The fields below are the window's state as the procedure, the commands and the paint share it.
    Server& server;
    Settings& settings;
    std::string startError; // UTF-8; set by wWinMain when the server could not start
    HWND hwnd = nullptr;
    HICON icon = nullptr; // from the program's resources; never destroyed
    float scale = 1.0f;   // the window's DPI / 96
    float scrollOffset = 0;
    float contentHeight = 0;
    std::vector<ClickRegion> regions; // of the last paint, in drawing order
    int hoverIndex = -1;
    bool trayBalloonShown = false;
    bool startWithWindows = false;
    ComPtr<ID2D1Factory> d2dFactory;
    ComPtr<IDWriteFactory> writeFactory;
    ComPtr<ID2D1HwndRenderTarget> renderTarget;
    ComPtr<ID2D1SolidColorBrush> brush;
    ComPtr<IDWriteTextFormat> titleFormat;
    ComPtr<IDWriteTextFormat> buttonFormat;
    ComPtr<IDWriteTextFormat> bodyFormat;
    ComPtr<IDWriteTextFormat> headingFormat;
    ComPtr<IDWriteTextFormat> smallFormat;
    ComPtr<IDWriteTextFormat> labelFormat;
    ComPtr<IDWriteTextFormat> iconFormat; // null without an icon font
    bool animating = false;
    int idleTicks = 0;
    std::mutex requestMutex;
    std::string pendingRequestName; // guarded by requestMutex; the server's thread writes it
    ULONGLONG lastApprovalPrompt = 0; // GetTickCount64 of the last balloon and flash; 0 before the first
    std::wstring computerName;
    std::vector<LocalAddress> addresses;
    bool demo = false;

private:
    // hwnd as the server's thread reads it: the server may already call back while the window is being
    // created on this thread.
    std::atomic<HWND> postTarget{nullptr};
    // A right click gives both WM_RBUTTONUP and WM_CONTEXTMENU. Wine's shell sends them, so the second
    // arrives inside the first menu's modal loop; a nested menu there swallows the WM_QUIT of "Quit".
    bool trayMenuOpen = false;

    void Repaint();
    void OnTimer();
    void OnMouseMove(LPARAM lParam);
    void OnLeftButtonUp(LPARAM lParam);
    void OnMouseWheel(WPARAM wParam);
    void OnClose();
    void OnTrayEvent(LPARAM lParam);
    void ShowTrayMenu();
    void OnApprovalRequest();
    void OnDpiChanged(WPARAM wParam, LPARAM lParam);
    void ApplyTitleBarTheme();
};

} // namespace Velotrix
