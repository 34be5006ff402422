#pragma once

// The connection check: whether Windows Defender Firewall lets phones reach this program, run off the
// window's thread and reported to the window as WM_APP_FIREWALL, and the one-prompt way to add the
// program's inbound rule.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "Shell/FirewallCheck.h"

namespace Velotrix {

// wParam: the FirewallVerdict, plus FirewallAfterRuleRequest when the check followed a rule request;
// lParam: the probe's failing result when the verdict is CannotTell.
inline constexpr UINT WM_APP_FIREWALL = WM_APP + 12;
inline constexpr WPARAM FirewallAfterRuleRequest = 0x100;

inline constexpr wchar_t FirewallRuleName[] = L"Velotrix";
inline constexpr wchar_t AddFirewallRuleOption[] = L"--add-firewall-rule";

// What the window calls for the firewall; both run on a worker thread, never on the window's. Empty
// functions: the window checks nothing (the tests give their own).
struct FirewallSeam {
    // The facts for phones sending to `port`.
    std::function<FirewallFacts(std::uint16_t port)> probe;
    // Asks Windows to add the rule, with at most one elevation prompt owned by `owner`; answers once
    // that is over, true when the rule was added.
    std::function<bool(HWND owner)> requestRule;
};

// ProbeFirewall and RequestFirewallRule.
FirewallSeam WindowsFirewall();

// Reads the firewall's profiles and the inbound rules that name this program or no program. Facts not
// known (with the failing result) when the firewall cannot be asked, as under Wine.
FirewallFacts ProbeFirewall(std::uint16_t port);

// Runs this program elevated with AddFirewallRuleOption and waits for it; false when the user said no
// or the rule could not be added. Logs the outcome.
bool RequestFirewallRule(HWND owner);

// What the elevated copy does: replaces every rule named FirewallRuleName with one inbound rule that
// allows UDP to `programPath` on Private and Domain networks, and takes Private and Domain out of the
// inbound block rules of that program. Needs elevation; false on any failure.
bool AddFirewallRule(const std::wstring& programPath);

// On a new thread: `seam.requestRule` first when `requestRule`, then the probe; posts the verdict to
// `window`. False when no thread could be started or the seam has no probe.
bool StartFirewallCheck(HWND window, const FirewallSeam& seam, std::uint16_t port, bool requestRule);

} // namespace Velotrix
