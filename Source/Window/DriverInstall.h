#pragma once

// Installing the controller driver: the program starts the driver's own installer, shipped in the
// folder "Redist" beside it, and asks the server to connect to the driver once that installer ends.

#include <windows.h>

namespace Velotrix {

// Where the driver's releases are published; opened when no installer ships beside the program.
inline constexpr wchar_t DriverReleasePage[] = L"https://github.com/nefarius/ViGEmBus/releases/latest";

// Starts the first "Redist\ViGEmBus_*.exe" beside the program, owned by `window`, and a detached thread
// that waits for it to end and then posts WM_APP_DRIVER_INSTALLED to `window`. Without an installer it
// opens DriverReleasePage instead. Never waits; a failure to start the installer does nothing.
void RunDriverInstaller(HWND window);

} // namespace Velotrix
