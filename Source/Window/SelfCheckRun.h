#pragma once

// The checks themselves, on Windows: each gathers its facts and answers its line (Shell/SelfCheck.h
// words them). "--self-check" runs them all, with no window and beside a running copy (a port and a
// pad of its own); "Copy diagnostics" runs the quick ones, which plug no pad and paint nothing.

#include <cstdint>
#include <string>
#include <vector>

#include "Shell/SelfCheck.h"

namespace Velotrix {

inline constexpr wchar_t SelfCheckFileName[] = L"self-check.txt";
inline constexpr wchar_t DiagnosticsFileName[] = L"diagnostics.txt";

// Finds, opens and version-checks the bus on a connection of its own, plugs a pad, waits a little
// for its user index, submits one neutral report and unplugs it again.
CheckLine RunDriverCheck();
// How many interfaces of the bus are listed; no request is sent.
std::size_t ListedDriverInterfaces();
// A socket of its own on a free port, bound as the server's is, sends itself a datagram over IPv4
// and over IPv6 loopback.
CheckLine RunSocketCheck();
CheckLine RunDnsSdCheck();
// The connection check's verdict for phones sending to `port`.
CheckLine RunFirewallCheck(std::uint16_t port);
CheckLine RunNetworkCheck();
// The demo page with four phones painted 60 times into an offscreen target.
CheckLine RunPaintCheck();
CheckLine RunShareCheck();
CheckLine RunWindowsCheck();
CheckLine RunProgramCheck();

// Writes `text` (UTF-8) as `name` beside server.log; answers the file's path, empty when it could
// not be written.
std::wstring WriteBesideLog(const wchar_t* name, const std::string& text);

// "--self-check": every check, one line each into self-check.txt; 0 when none failed, else 1.
// `port` is the one the program listens on, for the firewall's verdict.
int RunSelfCheck(std::uint16_t port);

} // namespace Velotrix
