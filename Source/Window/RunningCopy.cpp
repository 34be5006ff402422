#include "Window/RunningCopy.h"

#include "Platform/WinHandles.h"
#include "Shell/ModulePath.h"
#include "Window/Messages.h"

namespace Velotrix {

namespace {

// Long enough for any path Windows hands out through QueryFullProcessImageNameW.
constexpr DWORD LongestPath = 32'768;

std::wstring WithoutLongPathPrefix(const std::wstring& path) {
    static constexpr wchar_t Prefix[] = L"\\\\?\\";
    constexpr std::size_t PrefixLength = std::size(Prefix) - 1;
    return path.compare(0, PrefixLength, Prefix) == 0 ? path.substr(PrefixLength) : path;
}

} // namespace

bool SameProgramFile(const std::wstring& one, const std::wstring& other) {
    const std::wstring a = WithoutLongPathPrefix(one), b = WithoutLongPathPrefix(other);
    if (a.empty() || b.empty()) return false;
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring ProgramFileOf(DWORD processId) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return {};
    std::wstring path(LongestPath, L'\0');
    DWORD length = LongestPath;
    if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &length)) return {};
    path.resize(length);
    return path;
}

HWND FindCopyWindow(const wchar_t* className, const std::wstring& programFile) {
    for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window != nullptr;
         window = FindWindowExW(nullptr, window, className, nullptr)) {
        DWORD processId = 0;
        if (GetWindowThreadProcessId(window, &processId) == 0) continue;
        if (SameProgramFile(ProgramFileOf(processId), programFile)) return window;
    }
    return nullptr;
}

std::wstring ThisProgramFile() {
    std::wstring path = ProgramFileOf(GetCurrentProcessId());
    return path.empty() ? ModulePath() : path;
}

bool ActivateCopy(const wchar_t* className, const std::wstring& programFile) {
    const HWND running = FindCopyWindow(className, programFile);
    if (running == nullptr) return false;
    // Windows lets only the process that received the last input take the foreground: this copy, which
    // the user just started, may pass that right on; without it the first copy's SetForegroundWindow
    // only flashes its taskbar button. (Wine does not enforce the lock.)
    DWORD runningProcess = 0;
    if (GetWindowThreadProcessId(running, &runningProcess) != 0) AllowSetForegroundWindow(runningProcess);
    return PostMessageW(running, WM_APP_ACTIVATE, 0, 0) != FALSE;
}

int QuitCopy(const wchar_t* className, const std::wstring& programFile, DWORD waitMs) {
    const HWND running = FindCopyWindow(className, programFile);
    if (running == nullptr) return 0;
    DWORD processId = 0;
    GetWindowThreadProcessId(running, &processId);
    // Opened before the request, so that the handle still names that process once it has ended.
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    PostMessageW(running, WM_APP_QUIT, 0, 0);
    if (!process) return 0;
    return WaitForSingleObject(process.get(), waitMs) == WAIT_OBJECT_0 ? 0 : 1;
}

} // namespace Velotrix
