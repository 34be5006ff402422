// A pretend installer. It does what the environment asks, in this order, and exits:
//   VELOTRIX_TEST_INSTALLER_LOG      a file to append "start<TAB><own path><TAB>show=<n><TAB><command line>"
//                                    to when it starts (n: its show command, -1 if none) and
//                                    "end<TAB><own path>" when it ends, in UTF-8;
//   VELOTRIX_TEST_INSTALLER_COMMAND  a command line to run and wait for (at most 60 s);
//   VELOTRIX_TEST_INSTALLER_DONE_FILE  then a file to wait for (at most 2 minutes);
//   VELOTRIX_TEST_INSTALLER_EVENT    an event to wait for (at most 60 s) before ending.

#include <windows.h>

#include "../StandInText.h"

#include <string>

namespace {

using StandIn::Environment;
using StandIn::Utf8;

// One write per line, appended: several installers may log to the same file at once. Wine's append
// is a seek to the end and a write, which two processes can interleave, so writers take turns by
// opening the file without sharing it for writing.
void AppendLine(const std::wstring& path, const std::wstring& line) {
    if (path.empty()) return;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 500 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) return;
        if (file == INVALID_HANDLE_VALUE) Sleep(10);
    }
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string bytes = Utf8(line + L"\n");
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void RunCommand(std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, 60'000);
    CloseHandle(process.hProcess);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;

    const std::wstring log = Environment(L"VELOTRIX_TEST_INSTALLER_LOG");
    AppendLine(log, L"start\t" + std::wstring(self) + L"\tshow=" + std::to_wstring(show) + L"\t" + GetCommandLineW());

    const std::wstring command = Environment(L"VELOTRIX_TEST_INSTALLER_COMMAND");
    if (!command.empty()) RunCommand(command);
    // Wine signals a Unix program's process handle at once, so a Unix command says it is done by
    // making this file, and the installer ends only then.
    const std::wstring doneFile = Environment(L"VELOTRIX_TEST_INSTALLER_DONE_FILE");
    for (int waited = 0; !doneFile.empty() && waited < 120'000; waited += 100) {
        if (GetFileAttributesW(doneFile.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }

    const std::wstring eventName = Environment(L"VELOTRIX_TEST_INSTALLER_EVENT");
    if (const HANDLE event = eventName.empty() ? nullptr : OpenEventW(SYNCHRONIZE, FALSE, eventName.c_str())) {
        WaitForSingleObject(event, 60'000);
        CloseHandle(event);
    }

    AppendLine(log, L"end\t" + std::wstring(self));
    return 0;
}
