#include "Window/MainWindow.h"

#include <shellapi.h>

#include <algorithm>
#include <ctime>
#include <cwchar>
#include <set>
#include <utility>

#include "Platform/ProcAddress.h"
#include "Server/Server.h"
#include "Shell/Log.h"
#include "Shell/Settings.h"
#include "Shell/StartWithWindows.h"
#include "Shell/TextConversion.h"
#include "Window/Palette.h"
#include "Window/PhoneRows.h"

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

PixelRect ToPixelRect(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

// "Last seen " and the time in the user's own date and time formats.
std::wstring SeenText(std::int64_t seconds) {
    if (seconds <= 0) return L"Approved before this version kept names";
    // Seconds since 1970 as a FILETIME: 100 ns units since 1601.
    const std::uint64_t ticks = static_cast<std::uint64_t>(seconds) * 10'000'000ull + 116'444'736'000'000'000ull;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{}, local{};
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return L"Last seen at an unknown time";
    wchar_t date[80] = {}, time[80] = {};
    if (GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 80, nullptr) == 0 ||
        GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, time, 80) == 0)
        return L"Last seen at an unknown time";
    return std::wstring(L"Last seen ") + date + L", " + time;
}

} // namespace

RECT InitialWindowRect(UINT dpi, const RECT* workArea, float textScale) {
    // Bigger text grows the page as a higher DPI would; the frame stays the DPI's.
    const PixelSize client = InitialClientSize(static_cast<unsigned>(static_cast<float>(dpi) * textScale));
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

RECT PlacedWindowRect(UINT dpi, const RECT& opened, const RECT& workArea, float textScale) {
    const RECT size = InitialWindowRect(dpi, &workArea, textScale);
    const PixelRect placed =
        FitInside({opened.left, opened.top, opened.left + size.right, opened.top + size.bottom}, ToPixelRect(workArea));
    return RECT{placed.left, placed.top, placed.right, placed.bottom};
}

void CopyToField(wchar_t* field, std::size_t capacity, const std::wstring& text) {
    if (capacity == 0) return;
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::wmemcpy(field, text.data(), length);
    field[length] = L'\0';
}

MainWindow::MainWindow(MainWindowSetup setup)
    : server(setup.server), settings(setup.settings), startError(std::move(setup.startError)), demo(setup.demo),
      crashNotice(std::move(setup.crashNotice)), readAddresses(std::move(setup.readAddresses)),
      steadyNow(std::move(setup.steadyNow)), onAddressChanged(std::move(setup.onAddressChanged)),
      onEndSession(std::move(setup.onEndSession)) {
    firewall.seam = std::move(setup.firewall);
    look.readHighContrast = std::move(setup.readHighContrast);
    look.readTextScale = std::move(setup.readTextScale);
    if (demo) {
        computerName = L"RACING-PC";
        addresses = {LocalAddress{"192.168.1.20", L"Wi-Fi", true}};
    } else {
        computerName = setup.readComputerName ? setup.readComputerName() : std::wstring(L"PC");
        if (readAddresses) addresses = readAddresses();
    }
    // Both may run on the server's receive thread: they only hand the name over and post. Before the
    // window exists the message is dropped (a null window would post to the calling thread's queue); the
    // server keeps the phone, and the first paint shows it.
    server.SetOnRequest([this](const std::string& name) {
        {
            std::lock_guard lock(requestMutex);
            pendingRequestName = name;
        }
        PostOnce(requestPosted, WM_APP_APPROVAL_REQUEST);
    });
    server.SetOnChanged([this] { PostOnce(refreshPosted, WM_APP_REFRESH); });
}

void MainWindow::PostOnce(std::atomic<bool>& posted, UINT message) {
    HWND target = postTarget.load();
    if (target == nullptr || posted.exchange(true)) return;
    // Not posted (the queue is full, the window is going): the next call tries again.
    if (!PostMessageW(target, message, 0, 0)) posted.store(false);
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

    look.Refresh();
    const UINT systemDpi = GetDpiForSystem();
    scale = static_cast<float>(systemDpi) / 96.0f * look.textScale;
    RECT workArea{};
    const bool haveWorkArea = SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0) != FALSE;
    const RECT rect = InitialWindowRect(systemDpi, haveWorkArea ? &workArea : nullptr, look.textScale);

    if (CreateWindowExW(0, WindowClassName, WindowTitle, WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, instance, this) == nullptr) {
        return false;
    }
    // hwnd was set at WM_NCCREATE. The window may have opened on a monitor of another DPI; everything
    // drawn from now on follows that monitor, and so do its size and place.
    scale = static_cast<float>(GetDpiForWindow(hwnd)) / 96.0f * look.textScale;
    PlaceInWorkArea();
    AttachAccess();
    LoadWindowIcons(GetDpiForWindow(hwnd));
    trayIcon.Reset(LoadIconAtSide(instance, SmallIconSide(GetDpiForSystem())));

    // Painting needs them all; without them each paint draws nothing, which is all that can be done.
    static_cast<void>(CreateDeviceIndependentResources(drawing, scale));
    startWithWindows = IsStartWithWindows();
    ApplyTitleBarTheme();
    AddTrayIcon();
    // Only while the server runs: a server that could not start gets no phone anyway. The timers come
    // with the window's showing (UpdateTimers).
    if (firewall.seam.probe && startError.empty()) CheckFirewall(false);
    if (!startHidden) {
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
    }
    return true;
}

void MainWindow::CreateTextFormats() { Velotrix::CreateTextFormats(drawing, scale); }

void MainWindow::PlaceInWorkArea() {
    // CW_USEDEFAULT places the window for the primary screen's size at the system DPI; on a small
    // screen, or a monitor of another DPI, its bottom would then lie beyond the taskbar or the screen.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT opened{};
    if (!GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor) || !GetWindowRect(hwnd, &opened))
        return;
    const RECT placed = PlacedWindowRect(GetDpiForWindow(hwnd), opened, monitor.rcWork, look.textScale);
    SetWindowPos(hwnd, nullptr, placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::ApplyTitleBarTheme() {
    // Looked up at run time: older Windows lack the attributes, and the call's results are ignored so
    // that those versions simply keep their default title bar. The library stays loaded.
    using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    const auto setAttribute = LookupFunction<SetAttribute>(LoadSystemLibrary(L"dwmapi.dll"), "DwmSetWindowAttribute");
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

PageInput MainWindow::GatherPage() {
    RECT client{};
    GetClientRect(hwnd, &client);
    PageInput input;
    input.width = static_cast<float>(std::max<LONG>(1, client.right));
    input.height = static_cast<float>(std::max<LONG>(1, client.bottom));
    input.scrollOffset = page.scrollOffset;
    input.startError = startError;
    input.busConnected = server.BusConnected();
    input.busLost = server.Bus() == BusState::Lost;
    input.crashNotice = crashNotice;
    input.port = server.Port();
    input.computerName = computerName;
    input.addresses = addresses;
    input.askFirst = settings.askFirst;
    input.keepInTray = settings.keepInTray;
    input.startWithWindows = startWithWindows;
    input.demo = demo;
    input.phones = server.Snapshot();
    std::vector<AdviceTimer::Look> marks;
    for (const PhoneView& view : input.phones)
        if (view.state == static_cast<std::uint8_t>(PhoneState::Active))
            marks.push_back({view.sessionId, SignalMarkOf(view)});
    input.advised = adviceTimer.Note(marks, steadyNow());
    if (input.phones.empty()) input.firewall = firewall.verdict;
    if (!demo) NoteRememberedPhones(input.phones);
    for (const std::string& id : settings.allowed) {
        const auto found = settings.remembered.find(id);
        const RememberedPhone phone = found != settings.remembered.end() ? found->second : RememberedPhone{};
        input.remembered.push_back(RememberedRow{id, phone.name.empty() ? std::wstring(L"iPhone") : ToUtf16(phone.name),
                                                 SeenText(phone.lastSeen)});
    }
    return input;
}

void MainWindow::NoteRememberedPhones(const std::vector<PhoneView>& phones) {
    // A remembered phone is seen when it gets its controller, and its name is the one it said then: one
    // save per arrival or rename, not one per look.
    std::set<std::string> active;
    bool changed = false;
    for (const PhoneView& view : phones) {
        if (view.state != static_cast<std::uint8_t>(PhoneState::Active) || settings.allowed.count(view.idText) == 0)
            continue;
        active.insert(view.idText);
        RememberedPhone& note = settings.remembered[view.idText];
        if (rememberedActive.count(view.idText) != 0 && note.name == view.name) continue;
        note.name = view.name;
        note.lastSeen = static_cast<std::int64_t>(std::time(nullptr));
        changed = true;
    }
    rememberedActive = std::move(active);
    if (changed && !SaveSettings(settings)) Log("Settings: could not save the remembered phones");
}

void MainWindow::Paint() {
    PageInput input = GatherPage();
    const auto size = D2D1::SizeU(static_cast<UINT32>(input.width), static_cast<UINT32>(input.height));
    if (!EnsureDeviceResources(device, drawing.d2dFactory.get(), hwnd, size)) return;

    PaintContext context = MakePaintContext(drawing, device.renderTarget.get(), device.brush.get(), scale);
    context.hoverIndex = page.hoverIndex;
    context.regions = &page.regions;
    context.texts = &page.texts;
    context.groups = &page.groups;
    context.highContrast = look.highContrast ? &*look.highContrast : nullptr;
    // The focus finds its control again on the new page by the old one.
    const std::vector<ClickRegion> before = page.focusIndex >= 0 ? page.regions : std::vector<ClickRegion>{};

    device.renderTarget->BeginDraw();
    device.renderTarget->SetTransform(D2D1::Matrix3x2F::Identity());
    const PageResult result = PaintPage(context, input);
    PaintFocus(context, before);
    UpdateAccess();
    page.contentHeight = result.contentHeight;
    page.animating = result.animating;
    page.lastPainted = std::move(input);
    // Live input may have begun or ended, phones come or gone: the repaint timer follows.
    UpdateTimers(IsWindowVisible(hwnd) != FALSE);
    if (device.renderTarget->EndDraw() == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
        // The device was lost and this frame with it: drop the target and brush, and paint again at
        // once on new ones instead of leaving the old frame until the timer's next paint.
        device.brush.Reset();
        device.renderTarget.Reset();
        page.lastPainted = PageInput{};
        Repaint();
    }
}

} // namespace Velotrix
