#include "Window/MainWindow.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <utility>

#include "Server/Server.h"
#include "Shell/HostIdentity.h"
#include "Shell/Settings.h"
#include "Shell/StartWithWindows.h"
#include "Window/Page.h"
#include "Window/Palette.h"
#include "Window/WindowRules.h"

namespace Velotrix {

namespace {

// WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX: resizable, no maximize box.
constexpr DWORD WindowStyle = 0x00CE0000;
// The initial size is measured with WS_OVERLAPPEDWINDOW; the window's own style lacks only the maximize
// box, which does not change the frame.
constexpr DWORD MeasuringStyle = WS_OVERLAPPEDWINDOW;

constexpr DWORD DarkModeAttribute = 20;     // DWMWA_USE_IMMERSIVE_DARK_MODE
constexpr DWORD CaptionColorAttribute = 35; // DWMWA_CAPTION_COLOR
// The page's background, Palette::Background, as a COLORREF (0x00BBGGRR).
constexpr COLORREF CaptionColor = 0x001A1715;

struct FormatSpec {
    ComPtr<IDWriteTextFormat> MainWindow::*field;
    DWRITE_FONT_WEIGHT weight;
    float size;
};

// The icon fonts, newest first; Windows 11 has the first, Windows 10 the second.
constexpr const wchar_t* IconFontFamilies[] = {L"Segoe Fluent Icons", L"Segoe MDL2 Assets"};

} // namespace

RECT InitialWindowRect(UINT dpi, const RECT* workArea) {
    const PixelSize client = InitialClientSize(dpi);
    RECT rect{0, 0, client.width, client.height};
    AdjustWindowRectExForDpi(&rect, MeasuringStyle, FALSE, 0, dpi);
    // The frame leaves left and top negative; the window is placed by Windows anyway, so only the size
    // matters, measured from 0.
    rect = RECT{0, 0, rect.right - rect.left, rect.bottom - rect.top};
    if (workArea != nullptr) {
        const LONG available = workArea->bottom - workArea->top;
        if (rect.bottom - rect.top > available) rect.bottom = rect.top + available;
    }
    return rect;
}

void CopyToField(wchar_t* field, std::size_t capacity, const std::wstring& text) {
    if (capacity == 0) return;
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::wmemcpy(field, text.data(), length);
    field[length] = L'\0';
}

MainWindow::MainWindow(Server& server, Settings& settings) : server(server), settings(settings) {
    computerName = ComputerName();
    readAddresses = &LocalAddresses;
    addresses = readAddresses();
    // Both may run on the server's receive thread: they only hand the name over and post. Before the
    // window exists the message is dropped (a null window would post to the calling thread's queue); the
    // server keeps the phone, and the first paint shows it.
    server.SetOnRequest([this](const std::string& name) {
        {
            std::lock_guard lock(requestMutex);
            pendingRequestName = name;
        }
        if (HWND target = postTarget.load()) PostMessageW(target, WM_APP_APPROVAL_REQUEST, 0, 0);
    });
    server.SetOnChanged([this] {
        if (HWND target = postTarget.load()) PostMessageW(target, WM_APP_REFRESH, 0, 0);
    });
}

bool MainWindow::Create(HINSTANCE instance, bool startHidden) {
    icon = LoadIconW(instance, MAKEINTRESOURCEW(1));

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &MainWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = WindowClassName;
    // Fails harmlessly when the class exists already (a second window in the tests).
    RegisterClassExW(&windowClass);

    const UINT systemDpi = GetDpiForSystem();
    scale = static_cast<float>(systemDpi) / 96.0f;
    RECT workArea{};
    const bool haveWorkArea = SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0) != FALSE;
    const RECT rect = InitialWindowRect(systemDpi, haveWorkArea ? &workArea : nullptr);

    if (CreateWindowExW(0, WindowClassName, WindowTitle, WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, instance, this) == nullptr) {
        return false;
    }
    // hwnd was set at WM_NCCREATE. The window may have opened on a monitor of another DPI; its size is
    // left as it is, but everything drawn from now on follows that monitor.
    scale = static_cast<float>(GetDpiForWindow(hwnd)) / 96.0f;
    LoadWindowIcons(GetDpiForWindow(hwnd));
    trayIcon.Reset(LoadIconAtSide(instance, SmallIconSide(GetDpiForSystem())));

    D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                      reinterpret_cast<void**>(d2dFactory.Put()));
    DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                        reinterpret_cast<IUnknown**>(writeFactory.Put()));
    CreateTextFormats();
    startWithWindows = IsStartWithWindows();
    ApplyTitleBarTheme();
    AddTrayIcon();
    SetTimer(hwnd, RepaintTimerId, 33, nullptr);
    if (!startHidden) {
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
    }
    return true;
}

void MainWindow::CreateTextFormats() {
    static constexpr FormatSpec specs[] = {
        {&MainWindow::titleFormat, DWRITE_FONT_WEIGHT_BOLD, 20.0f},
        {&MainWindow::buttonFormat, DWRITE_FONT_WEIGHT_BOLD, 12.0f},
        {&MainWindow::bodyFormat, DWRITE_FONT_WEIGHT_REGULAR, 13.0f},
        {&MainWindow::headingFormat, DWRITE_FONT_WEIGHT_SEMI_BOLD, 14.0f},
        {&MainWindow::smallFormat, DWRITE_FONT_WEIGHT_REGULAR, 11.5f},
        {&MainWindow::labelFormat, DWRITE_FONT_WEIGHT_BOLD, 10.5f},
    };
    for (const FormatSpec& entry : specs) {
        ComPtr<IDWriteTextFormat>& format = this->*entry.field;
        format.Reset();
        if (!writeFactory) continue;
        writeFactory->CreateTextFormat(L"Segoe UI", nullptr, entry.weight, DWRITE_FONT_STYLE_NORMAL,
                                       DWRITE_FONT_STRETCH_NORMAL, entry.size * scale, L"en-us", format.Put());
        if (format) format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
    }

    iconFormat.Reset();
    if (!writeFactory) return;
    ComPtr<IDWriteFontCollection> fonts;
    if (FAILED(writeFactory->GetSystemFontCollection(fonts.Put(), FALSE)) || !fonts) return;
    for (const wchar_t* family : IconFontFamilies) {
        UINT32 index = 0;
        BOOL found = FALSE;
        if (FAILED(fonts->FindFamilyName(family, &index, &found)) || !found) continue;
        writeFactory->CreateTextFormat(family, nullptr, DWRITE_FONT_WEIGHT_REGULAR, DWRITE_FONT_STYLE_NORMAL,
                                       DWRITE_FONT_STRETCH_NORMAL, 13.0f * scale, L"en-us", iconFormat.Put());
        if (iconFormat) iconFormat->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
        return;
    }
}

void MainWindow::EnableDemo() {
    demo = true;
    computerName = L"RACING-PC";
    addresses = {LocalAddress{"192.168.1.20", L"Wi-Fi", true}};
}

void MainWindow::ApplyTitleBarTheme() {
    // Looked up at run time: older Windows lack the attributes, and the call's results are ignored so
    // that those versions simply keep their default title bar. The library stays loaded.
    using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    if (dwm == nullptr) return;
    // Through void*, as GetProcAddress's FARPROC has a signature of its own that no cast fits.
    const auto setAttribute =
        reinterpret_cast<SetAttribute>(reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")));
    if (setAttribute == nullptr) return;
    const DWORD dark = 1;
    setAttribute(hwnd, DarkModeAttribute, &dark, sizeof(dark));
    const COLORREF caption = CaptionColor;
    setAttribute(hwnd, CaptionColorAttribute, &caption, sizeof(caption));
}

void MainWindow::LoadWindowIcons(UINT dpi) {
    // The class's icon is the 32-pixel frame, which Windows would shrink for the caption; these come
    // from the icon's own frames for the DPI. The old ones go only once the window no longer uses them.
    ProgramIcons icons = LoadProgramIcons(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd, GWLP_HINSTANCE)), dpi);
    if (!icons.smallIcon || !icons.bigIcon) return;
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.smallIcon.get()));
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.bigIcon.get()));
    windowIcons = std::move(icons);
}

void MainWindow::AddTrayIcon() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = hwnd;
    data.uID = TrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    data.uCallbackMessage = WM_APP_TRAY;
    data.hIcon = trayIcon ? trayIcon.get() : icon;
    CopyToField(data.szTip, std::size(data.szTip), WindowTitle);
    Shell_NotifyIconW(NIM_ADD, &data);
    data.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &data);
}

void MainWindow::ShowBalloon(const std::wstring& title, const std::wstring& text) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = hwnd;
    data.uID = TrayIconId;
    data.uFlags = NIF_INFO;
    CopyToField(data.szInfoTitle, std::size(data.szInfoTitle), title);
    CopyToField(data.szInfo, std::size(data.szInfo), text);
    data.dwInfoFlags = NIIF_USER | NIIF_LARGE_ICON;
    data.hBalloonIcon = icon;
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void MainWindow::BringToFront() {
    ShowWindow(hwnd, IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(hwnd);
}

void MainWindow::Paint() {
    RECT client{};
    GetClientRect(hwnd, &client);
    const UINT width = static_cast<UINT>(std::max<LONG>(1, client.right));
    const UINT height = static_cast<UINT>(std::max<LONG>(1, client.bottom));

    if (!renderTarget) {
        if (!d2dFactory) return;
        // At 96 DPI one drawing unit is one physical pixel; the layout scales itself by `scale`.
        const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_UNKNOWN), 96.0f,
            96.0f);
        const D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties =
            D2D1::HwndRenderTargetProperties(hwnd, D2D1::SizeU(width, height));
        if (FAILED(d2dFactory->CreateHwndRenderTarget(&properties, &windowProperties, renderTarget.Put()))) {
            renderTarget.Reset();
            return;
        }
        if (FAILED(renderTarget->CreateSolidColorBrush(MakeColor(Palette::Text), brush.Put()))) {
            brush.Reset();
            renderTarget.Reset();
            return;
        }
        renderTarget->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE);
    }

    PageInput input;
    input.width = static_cast<float>(width);
    input.height = static_cast<float>(height);
    input.scrollOffset = scrollOffset;
    input.startError = startError;
    input.busConnected = server.BusConnected();
    input.port = server.Port();
    input.computerName = computerName;
    input.addresses = addresses;
    input.askFirst = settings.askFirst;
    input.keepInTray = settings.keepInTray;
    input.startWithWindows = startWithWindows;
    input.demo = demo;
    input.phones = server.Snapshot();

    PaintContext context;
    context.target = renderTarget.get();
    context.brush = brush.get();
    context.writeFactory = writeFactory.get();
    context.titleFormat = titleFormat.get();
    context.buttonFormat = buttonFormat.get();
    context.bodyFormat = bodyFormat.get();
    context.headingFormat = headingFormat.get();
    context.smallFormat = smallFormat.get();
    context.labelFormat = labelFormat.get();
    context.iconFormat = iconFormat.get();
    context.scale = scale;
    context.hoverIndex = hoverIndex;
    context.regions = &regions;

    renderTarget->BeginDraw();
    renderTarget->SetTransform(D2D1::Matrix3x2F::Identity());
    const PageResult result = PaintPage(context, input);
    contentHeight = result.contentHeight;
    animating = result.animating;
    if (renderTarget->EndDraw() == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
        // The device was lost: the next paint makes a new target and brush.
        brush.Reset();
        renderTarget.Reset();
    }
}

} // namespace Velotrix
