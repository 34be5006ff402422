#pragma once

// Every private message of the window, in one place: how other threads and processes reach it. A
// second copy of the program posts WM_APP_ACTIVATE, and the installer's "--quit" WM_APP_QUIT, across
// processes, so a number once given is never given to another message.

#include <windows.h>

namespace Velotrix {

inline constexpr UINT WM_APP_TRAY = WM_APP + 1;             // the notification-area icon's events
inline constexpr UINT WM_APP_APPROVAL_REQUEST = WM_APP + 2; // a phone waits; the server's thread stored its name
inline constexpr UINT WM_APP_REFRESH = WM_APP + 3;          // the server's phone table changed
inline constexpr UINT WM_APP_DRIVER_INSTALLED = WM_APP + 4; // a driver installer started by the window ended
inline constexpr UINT WM_APP_ACTIVATE = WM_APP + 10;        // a second copy of the program was started
inline constexpr UINT WM_APP_QUIT = WM_APP + 11;            // "Velotrix.exe --quit": end as the menu's Quit does
// A connection check ended: its finding waits in the window's FirewallFindings. The message carries
// nothing, as any program may post it.
inline constexpr UINT WM_APP_FIREWALL = WM_APP + 12;
inline constexpr UINT WM_APP_NETWORK_CHANGED = WM_APP + 13; // this PC's addresses may have changed
// A screen reader invoked a control (UiaProvider). wParam: its action and, in bits 16 and up, its
// ordinal; lParam: its argument (the FocusKey).
inline constexpr UINT WM_APP_ACCESS_INVOKE = WM_APP + 14;

} // namespace Velotrix
