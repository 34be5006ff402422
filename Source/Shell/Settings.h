#pragma once

// The user's options between runs, kept in HKEY_CURRENT_USER\Software\Quillon\Velotrix.

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace Velotrix {

// What the Options card shows of a remembered phone besides its id.
struct RememberedPhone {
    std::string name;          // as it last said Hello (cleaned), UTF-8; empty when not known
    std::int64_t lastSeen = 0; // when it last got its controller, seconds since 1970 UTC; 0: not known
    bool operator==(const RememberedPhone&) const = default;
};

struct Settings {
    bool askFirst = true;          // a phone not in `allowed` waits for the user's approval
    bool keepInTray = true;        // closing the window keeps the program in the notification area
    std::set<std::string> allowed; // approved phones, 32 lowercase hex digits each, ascending
    std::uint32_t port = 0;        // 0: not set
    // Names and times of the `allowed` phones, by id, in the value "AllowedNames" beside "Allowed"
    // (older versions do not read it; an id missing here is shown without name). Entries of ids not
    // allowed are neither read nor written.
    std::map<std::string, RememberedPhone> remembered;
};

// Fills `settings`, which holds the defaults, from the registry. Without the key nothing changes; a
// value that is missing or stored with another registry type reads as its default (true, true, 0);
// the stored phones are added to `allowed`.
void LoadSettings(Settings& settings);

// Writes every field. True when every value was written; an unwritable key leaves the registry as it
// was and answers false.
[[nodiscard]] bool SaveSettings(const Settings& settings);

// Deletes the settings key with everything in it, and the company's key above it when nothing else is
// left there. True when the settings are gone (already gone counts).
[[nodiscard]] bool RemoveSettings();

} // namespace Velotrix
