#pragma once

// Installing the controller driver: the program starts the driver's own installer, shipped in the
// folder "Redist" beside it, and asks the server to connect to the driver once that installer ends.

#include <windows.h>

namespace Velotrix {

// Where the driver's releases are published; opened when no installer ships beside the program.
inline constexpr wchar_t DriverReleasePage[] = L"https://github.com/nefarius/ViGEmBus/releases/latest";

enum class DriverInstallerRun {
    Waiting,    // the installer runs, and a thread waits for its end
    PageOpened, // no installer beside the program: the release page was opened instead
    NotStarted, // the installer or the waiting thread could not be started
};

// Starts the first "Redist\ViGEmBus_*.exe" beside the program, owned by `window`, and a detached thread
// that waits for it to end and then posts WM_APP_DRIVER_INSTALLED to `window`. Without an installer it
// opens DriverReleasePage instead. Never waits itself.
DriverInstallerRun RunDriverInstaller(HWND window);

} // namespace Velotrix
