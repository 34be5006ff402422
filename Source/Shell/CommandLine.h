#pragma once

// The program's command line: "--tray", "--demo", "--port N", "--quit [PATH]", "--add-firewall-rule",
// "--self-check", the setup's "--as-user", "--start-at-sign-in", "--no-start-at-sign-in" and
// "--remove-settings", and which UDP port that makes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Velotrix {

struct CommandLineOptions {
    bool tray = false;            // start hidden in the notification area (only if the server starts)
    bool demo = false;            // show made-up names and addresses
    int port = 0;                 // 0: not given
    bool addFirewallRule = false; // this copy runs elevated only to add the firewall rule, then exits
    bool quit = false;            // ask the running copy to quit, wait for it to end, and start nothing
    std::wstring quitProgram;     // "--quit PATH": the copy that runs PATH; empty: the one running this file
    bool selfCheck = false;       // run the checks, write self-check.txt, exit 0 or 1; no window
    // The user's side of the setup, done by this copy as the user and then exit 0 or 1: "--start-at-sign-in"
    // (true), "--no-start-at-sign-in" (false), "--remove-settings"; the last of the first two wins.
    std::optional<bool> startAtSignIn;
    bool removeSettings = false;
    bool asUser = false; // "--as-user": run the user's side above as the desktop's user, from an elevated copy
};

// `arguments` as CommandLineToArgvW splits them, the program path first. Options are compared whole
// and case-sensitively; anything else is ignored. "--quit" consumes the next argument when it does
// not start with "--" (a program path). "--port" consumes the next argument, read as _wtoi
// reads it (leading blanks, a sign, digits up to the first non-digit, 0 without digits); a later
// "--port" wins, and one with nothing after it is ignored.
CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& arguments);

// The command line's port if not 0, else the stored one if not 0, else 47821; as a UDP port, the low
// 16 bits of it (70000 is 4464).
std::uint16_t ChoosePort(int commandLinePort, std::uint32_t settingsPort);

} // namespace Velotrix
