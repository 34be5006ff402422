#include "Platform/Os.h"

#include <windows.h>
#include <knownfolders.h>
#include <share.h>
#include <shlobj.h>

namespace Velotrix {

LocalTime LocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

std::int64_t SteadyNow() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    // Split so that the multiplication cannot overflow for a machine that has run for years.
    const LONGLONG seconds = counter.QuadPart / frequency;
    const LONGLONG rest = counter.QuadPart % frequency;
    return static_cast<std::int64_t>(seconds) * 1000000000 + static_cast<std::int64_t>(rest * 1000000000 / frequency);
}

void WriteDebugOutput(const char* text) { OutputDebugStringA(text); }

void RaiseCurrentThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL); }

std::FILE* OpenSharedLogFile(const std::wstring& folder) {
    const std::wstring path = folder + L"\\server.log";
    return _wfsopen(path.c_str(), L"w", _SH_DENYWR);
}

void MoveLogAside(const std::wstring& folder) {
    const std::wstring from = folder + L"\\server.log";
    const std::wstring to = folder + L"\\server.old.log";
    MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::wstring LogFolder() {
    PWSTR known = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) {
        // The documentation asks for the buffer to be freed even when the call fails.
        CoTaskMemFree(known);
        return {};
    }
    std::wstring folder = std::wstring(known) + L"\\Velotrix";
    CoTaskMemFree(known);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

} // namespace Velotrix
