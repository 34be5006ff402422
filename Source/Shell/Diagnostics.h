#pragma once

// What "Copy diagnostics" puts on the clipboard and into diagnostics.txt: the quick checks, the phones
// with their figures, the settings and the end of the log, as one text a user can paste into a
// message. Phone ids are a phone's identity: every one is cut to its first 8 digits, in the phones,
// the settings and the log lines alike, so the text can go anywhere.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Server/Phone.h"
#include "Shell/SelfCheck.h"
#include "Shell/Settings.h"

namespace Velotrix {

// How many of the log's last lines the text carries.
inline constexpr std::size_t DiagnosticsLogLines = 200;

// `text` with every run of exactly 32 hexadecimal digits (a phone id) cut to its first 8 and "…".
std::string CutPhoneIds(std::string_view text);

// The last `count` lines of `text` (its line ends "\n" or "\r\n" dropped), oldest first; a last line
// without its line end counts.
std::vector<std::string> LastLines(std::string_view text, std::size_t count);

struct DiagnosticsInput {
    std::string version; // Velotrix's
    std::string when;    // local time, as the user's clock shows it
    std::vector<CheckLine> checks;
    std::vector<PhoneView> phones;
    Settings settings;
    std::uint16_t port = 0;            // the port the server listens on
    std::vector<std::string> logLines; // the end of server.log, oldest first
};

// The whole text, UTF-8, lines ended by "\n", in four sections: "Checks", "Phones", "Settings" and
// "Log (last N lines)"; no full phone id anywhere in it.
std::string DiagnosticsText(const DiagnosticsInput& input);

} // namespace Velotrix
