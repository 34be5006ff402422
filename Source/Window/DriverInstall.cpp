#include "Window/DriverInstall.h"

#include <shellapi.h>

#include <exception>
#include <string>
#include <thread>

#include "Platform/WinHandles.h"
#include "Shell/ModulePath.h"
#include "Window/Messages.h"

namespace Velotrix {

DriverInstallerRun RunDriverInstaller(HWND window) {
    const std::wstring folder = ModuleFolder() + L"\\Redist\\";
    const std::wstring pattern = folder + L"ViGEmBus_*.exe";
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // A driver installed from there is picked up at the program's next start.
        ShellExecuteW(window, L"open", DriverReleasePage, nullptr, nullptr, SW_SHOWNORMAL);
        return DriverInstallerRun::PageOpened;
    }
    FindClose(search);
    // The first match the search returned, whatever the others are called.
    const std::wstring installer = folder + found.cFileName;

    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.hwnd = window;
    execute.lpVerb = L"open";
    execute.lpFile = installer.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&execute) || execute.hProcess == nullptr) return DriverInstallerRun::NotStarted;
    UniqueHandle process(execute.hProcess);

    try {
        std::thread([window, process = std::move(process)]() mutable {
            WaitForSingleObject(process.get(), INFINITE);
            process.Reset();
            // Fails harmlessly when the user quit meanwhile and the window is gone.
            PostMessageW(window, WM_APP_DRIVER_INSTALLED, 0, 0);
        }).detach();
        return DriverInstallerRun::Waiting;
    } catch (const std::exception&) {
        // No thread (or no memory for one): the installer runs on, its handle is closed with the lambda, and the driver it
        // installs is found at the program's next start.
        return DriverInstallerRun::NotStarted;
    }
}

} // namespace Velotrix
