#include "Shell/DesktopUser.h"

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "Platform/WinHandles.h"

namespace Velotrix {

namespace {

// The process of the desktop's shell: Explorer's desktop window, or its taskbar when another shell
// set no shell window.
DWORD ShellProcess() {
    HWND shell = GetShellWindow();
    if (shell == nullptr) shell = FindWindowW(L"Shell_TrayWnd", nullptr);
    DWORD processId = 0;
    if (shell != nullptr) GetWindowThreadProcessId(shell, &processId);
    return processId;
}

} // namespace

int RunAsDesktopUser(const std::wstring& program, const std::wstring& arguments, std::uint32_t waitMs) {
    const DWORD shellId = ShellProcess();
    if (shellId == 0) return -1;
    const UniqueHandle shell(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellId));
    if (!shell) return -1;
    HANDLE opened = nullptr;
    if (!OpenProcessToken(shell.get(), TOKEN_DUPLICATE, &opened)) return -1;
    const UniqueHandle shellToken(opened);
    HANDLE duplicated = nullptr;
    if (!DuplicateTokenEx(shellToken.get(),
                          TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_ADJUST_DEFAULT |
                              TOKEN_ADJUST_SESSIONID,
                          nullptr, SecurityImpersonation, TokenPrimary, &duplicated)) {
        return -1;
    }
    const UniqueHandle userToken(duplicated);

    // CreateProcessWithTokenW may write into the command line.
    std::vector<wchar_t> commandLine;
    try {
        const std::wstring commandText = L"\"" + program + L"\" " + arguments;
        commandLine.assign(commandText.c_str(), commandText.c_str() + commandText.size() + 1);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessWithTokenW(userToken.get(), 0, program.c_str(), commandLine.data(), CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &started)) {
        return -1;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    DWORD exitCode = 0;
    if (WaitForSingleObject(process.get(), waitMs) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.get(), &exitCode))
        return -1;
    return static_cast<int>(exitCode);
}

} // namespace Velotrix
