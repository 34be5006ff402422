#include "Shell/CrashReport.h"

#include "Platform/Os.h"
#include "Shell/Log.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include <windows.h>
#include <dbghelp.h>

namespace Velotrix {
namespace {

// The filter runs in a process that is failing, perhaps with a broken heap: everything it needs is
// made beforehand or lives in fixed storage here, and it allocates nothing.
constexpr std::size_t PathRoom = MAX_PATH;
constexpr std::size_t MostDumpsLooked = 64;

struct CrashState {
    wchar_t folder[PathRoom] = {};
    wchar_t dumpPath[PathRoom] = {};
    wchar_t names[MostDumpsLooked][PathRoom] = {};
    // Only one crash is reported, should a second thread fail while the first is being written down.
    LONG reporting = 0;
};
CrashState crash;

constexpr wchar_t NoticeName[] = L"notice.txt";

// Dump names hold the local time, so that they sort oldest first.
bool DumpName(const SYSTEMTIME& time, wchar_t* out, std::size_t room) {
    const int written =
        std::swprintf(out, room, L"Velotrix-%04u%02u%02u-%02u%02u%02u-%03u.dmp", time.wYear, time.wMonth, time.wDay,
                      time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    return written > 0 && static_cast<std::size_t>(written) < room;
}

bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* out) {
    const int written = std::swprintf(out, PathRoom, L"%ls\\%ls", folder, name);
    return written > 0 && static_cast<std::size_t>(written) < PathRoom;
}

// Keeps the newest KeptCrashDumps, the one just written among them.
void PruneDumps() {
    wchar_t pattern[PathRoom];
    if (!JoinPath(crash.folder, L"Velotrix-*.dmp", pattern)) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::size_t count = 0;
    do {
        if (count < MostDumpsLooked && std::wcslen(found.cFileName) < PathRoom)
            std::wcscpy(crash.names[count++], found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    const wchar_t* oldestFirst[MostDumpsLooked];
    for (std::size_t i = 0; i < count; ++i) oldestFirst[i] = crash.names[i];
    std::sort(oldestFirst, oldestFirst + count,
              [](const wchar_t* a, const wchar_t* b) { return std::wcscmp(a, b) < 0; });
    wchar_t path[PathRoom];
    for (std::size_t i = 0; i + KeptCrashDumps < count; ++i)
        if (JoinPath(crash.folder, oldestFirst[i], path)) DeleteFileW(path);
}

// "module.exe" and the offset into it of `address`; "?" when no module holds it.
void FaultingModule(const void* address, char* name, std::size_t room, std::uintptr_t& offset) {
    std::snprintf(name, room, "?");
    offset = reinterpret_cast<std::uintptr_t>(address);
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return;
    offset -= reinterpret_cast<std::uintptr_t>(module);
    wchar_t path[PathRoom];
    const DWORD length = GetModuleFileNameW(module, path, PathRoom);
    if (length == 0 || length >= PathRoom) return;
    const wchar_t* base = std::wcsrchr(path, L'\\');
    base = base ? base + 1 : path;
    if (WideCharToMultiByte(CP_UTF8, 0, base, -1, name, static_cast<int>(room), nullptr, nullptr) == 0)
        std::snprintf(name, room, "?");
}

// Leaves the dump's name for the next start (TakeCrashNotice).
void LeaveNotice(const wchar_t* dumpName) {
    wchar_t path[PathRoom];
    if (!JoinPath(crash.folder, NoticeName, path)) return;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, dumpName, static_cast<DWORD>(std::wcslen(dumpName) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
    if (InterlockedExchange(&crash.reporting, 1) != 0) return EXCEPTION_CONTINUE_SEARCH;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t dumpName[PathRoom];
    bool written = false;
    if (DumpName(now, dumpName, PathRoom) && JoinPath(crash.folder, dumpName, crash.dumpPath)) {
        HANDLE file =
            CreateFileW(crash.dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            MINIDUMP_EXCEPTION_INFORMATION information = {GetCurrentThreadId(), exception, FALSE};
            // Small: the stacks and the threads' states, no heap.
            written = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file,
                                        static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo),
                                        &information, nullptr, nullptr) != FALSE;
            CloseHandle(file);
            if (!written) DeleteFileW(crash.dumpPath);
        }
    }
    if (written) {
        PruneDumps();
        LeaveNotice(dumpName);
    }
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    char module[PathRoom * 3];
    std::uintptr_t offset = 0;
    FaultingModule(record->ExceptionAddress, module, sizeof module, offset);
    char dump[PathRoom * 3] = "none";
    if (written) WideCharToMultiByte(CP_UTF8, 0, dumpName, -1, dump, sizeof dump, nullptr, nullptr);
    // The log's own lock is the one thing that could hang here (a crash inside Log); the dump is
    // written by then.
    Log("Crash: exception 0x%08lX at %s+0x%llX; dump %s", static_cast<unsigned long>(record->ExceptionCode), module,
        static_cast<unsigned long long>(offset), dump);
    // Windows' error reporting comes next, and it is what starts the program again.
    return EXCEPTION_CONTINUE_SEARCH;
}

long RegisterWithWindows(const wchar_t* commandLine, unsigned long flags) {
    return RegisterApplicationRestart(commandLine, flags);
}

} // namespace

std::wstring CrashFolder() {
    const std::wstring folder = LogFolder();
    return folder.empty() ? folder : folder + L"\\crashes";
}

bool InstallCrashHandler(const std::wstring& folder) {
    if (folder.empty() || folder.size() + 40 >= PathRoom) return false;
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    std::wcscpy(crash.folder, folder.c_str());
    SetUnhandledExceptionFilter(&OnUnhandledException);
    return true;
}

bool RegisterRestart(RestartRegistrar registrar) {
    return SUCCEEDED((registrar ? registrar : &RegisterWithWindows)(L"--tray", RESTART_NO_PATCH | RESTART_NO_REBOOT));
}

std::wstring TakeCrashNotice(const std::wstring& folder) {
    const std::wstring path = folder + L"\\" + NoticeName;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    wchar_t name[PathRoom] = {};
    DWORD read = 0;
    const bool ok = ReadFile(file, name, sizeof name - sizeof(wchar_t), &read, nullptr) != FALSE;
    CloseHandle(file);
    DeleteFileW(path.c_str());
    if (!ok) return {};
    return std::wstring(name, read / sizeof(wchar_t));
}

} // namespace Velotrix
