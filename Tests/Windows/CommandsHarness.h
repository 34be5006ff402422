#pragma once

// What the tests of the window's commands observe the outside world with: the notification area's
// balloons, links opened by the shell, installers started, and the message loop.

#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/WinHandles.h"
#include "Server/Server.h"
#include "Shell/ModulePath.h"
#include "Shell/TextConversion.h"
#include "TestPhone.h"
#include "Window/MainWindow.h"

namespace Velotrix {

// Stands in for Explorer's notification area. Wine's Shell_NotifyIconW hands every call to the first
// window of the class "Shell_TrayWnd" as WM_COPYDATA, with the NIM_ code in dwData and the icon's data,
// texts included, in the payload. Each test makes its own, so the class is registered afresh with this
// procedure and unregistered afterwards.
class TrayRecorder {
public:
    struct Call {
        ULONG_PTR code = 0;
        std::vector<unsigned char> data;
        // `text` occurs in the payload (as any call does an empty one), including the NUL after it when
        // `whole` is set.
        bool Holds(const std::wstring& text, bool whole = false) const {
            const std::wstring_view payload(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
            return payload.find(whole ? text + L'\0' : text) != std::wstring_view::npos;
        }
    };

    TrayRecorder() {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        UnregisterClassW(ClassName, instance);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &TrayRecorder::Procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = ClassName;
        RegisterClassExW(&windowClass);
        window = CreateWindowExW(0, ClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
        if (window != nullptr) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~TrayRecorder() {
        if (window != nullptr) DestroyWindow(window);
        UnregisterClassW(ClassName, GetModuleHandleW(nullptr));
    }
    TrayRecorder(const TrayRecorder&) = delete;
    TrayRecorder& operator=(const TrayRecorder&) = delete;

    bool Ready() const { return window != nullptr && FindWindowW(ClassName, nullptr) == window; }

    // Balloons: NIM_MODIFY calls that carry both texts whole.
    int Balloons(const std::wstring& title, const std::wstring& text) const {
        int count = 0;
        for (const Call& call : calls)
            count += call.code == NIM_MODIFY && call.Holds(title, true) && call.Holds(text, true) ? 1 : 0;
        return count;
    }
    int Count(ULONG_PTR code, const std::wstring& text = {}) const {
        int count = 0;
        for (const Call& call : calls) count += call.code == code && call.Holds(text) ? 1 : 0;
        return count;
    }

    std::vector<Call> calls;

private:
    static constexpr const wchar_t* ClassName = L"Shell_TrayWnd";

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TrayRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_COPYDATA && self != nullptr) {
            const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            const auto* bytes = static_cast<const unsigned char*>(copy->lpData);
            self->calls.push_back({copy->dwData, std::vector<unsigned char>(bytes, bytes + copy->cbData)});
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window = nullptr;
};

// Takes a test's window and server down in the program's order: the callbacks cleared first, then the
// window (it holds the server by reference) with its pending messages, then the server.
inline void DropWindowAndServer(std::unique_ptr<MainWindow>& window, std::unique_ptr<Server>& server) {
    if (server) {
        server->SetOnRequest(nullptr);
        server->SetOnChanged(nullptr);
        server->SetOnAllowedChanged(nullptr);
    }
    if (window && IsWindow(window->Handle())) DestroyWindow(window->Handle());
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {}
    window.reset();
    server.reset();
}

// Paints the window at once, as the WM_PAINT its last change asked for would: Page() then holds what
// is on screen. Only a visible window paints.
inline void PaintNow(const MainWindow& window) {
    InvalidateRect(window.Handle(), nullptr, FALSE);
    UpdateWindow(window.Handle());
}

// The first region with `action` (and `arg`, when given) in the last paint; null when there is none.
inline const ClickRegion* RegionOf(const MainWindow& window, ClickAction action,
                                   std::optional<std::int32_t> arg = std::nullopt) {
    for (const ClickRegion& region : window.Page().regions)
        if (region.action == static_cast<std::int32_t>(action) && (!arg || region.arg == *arg)) return &region;
    return nullptr;
}

inline LPARAM PointAt(float x, float y) {
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y)));
}

// Clicks the middle of what a fresh paint draws for `action` (and `arg`), as the mouse's release does;
// false when the page shows no such thing.
inline bool ClickOn(const MainWindow& window, ClickAction action, std::optional<std::int32_t> arg = std::nullopt) {
    PaintNow(window);
    const ClickRegion* region = RegionOf(window, action, arg);
    if (region == nullptr) return false;
    const ClickRect where = region->rect;
    SendMessageW(window.Handle(), WM_LBUTTONUP, 0, PointAt(where.x + where.width / 2, where.y + where.height / 2));
    return true;
}

// `phone` says Hello to the running `server`; answers the Status that came back (an empty one, and a
// failure, when none did within a second).
inline StatusDatagram SayHello(TestPhone& phone, Server& server) {
    phone.SendTo(server.Port(), phone.Hello());
    const auto status = phone.ReceiveStatus(1000);
    EXPECT_TRUE(status) << "no Status for " << phone.Name();
    return status.value_or(StatusDatagram{.state = 0xFF, .hostName = {}});
}

// Dispatches this thread's messages until `done` answers true or `timeout` passes; answers `done`.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Takes `count` messages `message` posted to `window` out of the queue, leaving every other message
// there, within `timeout`; answers those that came.
inline std::vector<MSG> TakePosted(HWND window, UINT message, std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<MSG> taken;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (taken.size() < count) {
        MSG posted{};
        if (PeekMessageW(&posted, window, message, message, PM_REMOVE)) {
            taken.push_back(posted);
            continue;
        }
        if (std::chrono::steady_clock::now() >= end) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE);
    }
    return taken;
}

inline std::wstring TestInstallerPath() { return ModuleFolder() + L"\\velotrix_test_installer.exe"; }

inline bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every start and end of the test installer (also in its role as a browser) while this lives: points
// VELOTRIX_TEST_INSTALLER_LOG, which started programs inherit, at a fresh file.
class InstallerLog {
public:
    struct Entry {
        std::wstring kind; // "start" or "end"
        std::wstring program;
        int show = -1;
        std::wstring commandLine;
    };

    InstallerLog() {
        static int counter = 0;
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        path = std::wstring(folder) + L"velotrix-installer-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(++counter) + L".log";
        DeleteFileW(path.c_str());
        SetEnvironmentVariableW(L"VELOTRIX_TEST_INSTALLER_LOG", path.c_str());
    }
    ~InstallerLog() {
        SetEnvironmentVariableW(L"VELOTRIX_TEST_INSTALLER_LOG", nullptr);
        DeleteFileW(path.c_str());
    }
    InstallerLog(const InstallerLog&) = delete;
    InstallerLog& operator=(const InstallerLog&) = delete;

    std::vector<Entry> Of(const std::wstring& kind) const {
        const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        std::string bytes;
        char buffer[4096];
        DWORD read = 0;
        while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
            bytes.append(buffer, read);
        std::vector<Entry> entries;
        // Only whole lines: a line being written has no newline yet.
        for (std::size_t start = 0, end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
            std::wistringstream fields(ToUtf16(bytes.substr(start, end - start)));
            Entry entry;
            std::wstring show;
            std::getline(fields, entry.kind, L'\t');
            std::getline(fields, entry.program, L'\t');
            std::getline(fields, show, L'\t');
            std::getline(fields, entry.commandLine);
            if (show.rfind(L"show=", 0) == 0) entry.show = std::stoi(show.substr(5));
            if (entry.kind == kind) entries.push_back(entry);
        }
        return entries;
    }
    std::size_t Starts() const { return Of(L"start").size(); }
    std::size_t Ends() const { return Of(L"end").size(); }

private:
    std::wstring path;
};

// Makes the shell open "https" links with the test installer instead of a browser, for this process
// only: HKEY_CLASSES_ROOT is pointed at a throwaway key whose https handler is the test installer,
// which then logs the link in its command line to the InstallerLog.
class BrowserSandbox {
public:
    BrowserSandbox() : path(L"Software\\Velotrix Tests\\Classes " + std::to_wstring(GetCurrentProcessId())) {
        const std::wstring line = L"\"" + TestInstallerPath() + L"\" \"%1\"";
        HKEY root = nullptr;
        if (RegSetKeyValueW(HKEY_CURRENT_USER, (path + L"\\https\\shell\\open\\command").c_str(), nullptr, REG_SZ,
                            line.c_str(), static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS ||
            RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) {
            return;
        }
        classes.Reset(root);
        overridden = RegOverridePredefKey(HKEY_CLASSES_ROOT, root) == ERROR_SUCCESS;
    }
    ~BrowserSandbox() {
        if (overridden) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        classes.Reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
    BrowserSandbox(const BrowserSandbox&) = delete;
    BrowserSandbox& operator=(const BrowserSandbox&) = delete;

    bool Ready() const { return overridden; }

private:
    std::wstring path;
    UniqueRegistryKey classes;
    bool overridden = false;
};

} // namespace Velotrix
