#pragma once

// The user's options between runs, kept in HKEY_CURRENT_USER\Software\Quillon\Velotrix.

#include <cstdint>
#include <set>
#include <string>

namespace Velotrix {

struct Settings {
    bool askFirst = true;          // a phone not in `allowed` waits for the user's approval
    bool keepInTray = true;        // closing the window keeps the program in the notification area
    std::set<std::string> allowed; // approved phones, 32 lowercase hex digits each, ascending
    std::uint32_t port = 0;        // 0: not set
};

// Fills `settings`, which holds the defaults, from the registry. Without the key nothing changes; a
// value that is missing or stored with another registry type reads as its default (true, true, 0);
// the stored phones are added to `allowed`.
void LoadSettings(Settings& settings);

// Writes every field. True when every value was written; an unwritable key leaves the registry as it
// was and answers false.
[[nodiscard]] bool SaveSettings(const Settings& settings);

} // namespace Velotrix
