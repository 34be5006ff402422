#pragma once

// What the user can click on the painted page. The paint records one region per clickable thing, in
// drawing order; the window procedure hit-tests them and the commands carry out their action.

#include <cstdint>

namespace Velotrix {

enum class ClickAction : std::int32_t {
    InstallDriver = 1,
    AllowPhone = 2,
    DenyPhone = 3,
    DisconnectPhone = 4,
    ToggleAskFirst = 5,
    ToggleStartWithWindows = 6,
    ToggleKeepInTray = 7,
    OpenAppStore = 8,
    OpenWebPage = 9,
    ShareAppLinks = 10,
    AddFirewallRule = 11,     // the firewall drops phones: add the program's rule, then check again
    OpenNetworkSettings = 12, // the network is marked Public: where the user can make it Private
    OpenCrashReports = 13,    // the last run crashed: the folder with its report
    CopyDiagnostics = 14,     // the quick checks, phones, settings and log end to the clipboard and a file
    ForgetPhone = 15,         // a remembered phone of the Options card asks again next time
};

// In client pixels exactly as drawn, scrolling included.
struct ClickRect {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
    bool operator==(const ClickRect&) const = default;
};

struct ClickRegion {
    ClickRect rect;
    std::int32_t action = 0; // a ClickAction; kept as its number so that unknown values can be ignored
    std::int32_t arg = 0;    // the phone's session number for Allow, Deny and Disconnect; the row's
                             // index among the remembered phones for Forget; 0 otherwise
    bool on = false;         // a toggle's state as drawn; false for every other control
};

// Left and top edges inside, right and bottom edges outside.
inline bool Contains(const ClickRect& rect, float x, float y) {
    return x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
}

} // namespace Velotrix
