#pragma once

// The connection check: whether Windows Defender Firewall lets phones reach this program, run off the
// window's thread and left for the window in FirewallFindings, and the one-prompt way to add the
// program's inbound rule. The probe (FirewallProbe.cpp), the rule writer (FirewallRule.cpp), the
// elevation (FirewallElevation.cpp) and the worker (FirewallWorker.cpp) are apart, so that the window
// is given each through FirewallSeam and its tests give their own.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Shell/FirewallCheck.h"

namespace Velotrix {

inline constexpr wchar_t FirewallRuleName[] = L"Velotrix";
inline constexpr wchar_t AddFirewallRuleOption[] = L"--add-firewall-rule";

// What the window calls for the firewall. Without a probe the window checks nothing.
struct FirewallSeam {
    // The facts for phones sending to `port`; runs on the worker.
    std::function<FirewallFacts(std::uint16_t port)> probe;
    // Asks Windows to add the rule, with at most one elevation prompt owned by `owner`; answers once
    // that is over, true when the rule was added. Runs on the worker.
    std::function<bool(HWND owner)> requestRule;
    // Runs a check off the window's thread; false when it could not be started. Empty: a new thread.
    std::function<bool(std::function<void()> check)> startWorker;
};

// The real firewall: ProbeFirewall, RequestFirewallRule and RunOnNewThread.
FirewallSeam WindowsFirewall();

// Reads the firewall's profiles and the inbound rules that name this program or no program. Facts not
// known (with the failing result) when the firewall cannot be asked, as under Wine.
FirewallFacts ProbeFirewall(std::uint16_t port);

// Runs this program elevated with AddFirewallRuleOption and waits for it; false when the user said no
// or the rule could not be added. Logs the outcome.
bool RequestFirewallRule(HWND owner);

// What the elevated copy does: replaces the rules named FirewallRuleName whose program is `programPath`
// (and no other rule of that name) with one inbound rule that allows UDP to `programPath` from the local
// subnet on Private and Domain networks, and takes Private and Domain out of the inbound block rules of
// that program. Needs elevation; false on any failure.
bool AddFirewallRule(const std::wstring& programPath);

// What finished checks found, kept for the window. The worker stores each finding here and then posts
// WM_APP_FIREWALL, which only says "look": any program of the desktop can post that message, and one
// that did finds nothing here, so it shows no warning and lets no second elevation prompt through.
// Shared between the window and its workers, which may outlive it.
class FirewallFindings {
public:
    struct Finding {
        FirewallVerdict verdict = FirewallVerdict::CannotTell;
        std::uint32_t failure = 0;     // the probe's failing result behind a CannotTell
        bool afterRuleRequest = false; // the check followed a rule request
    };

    // False only when there is no room for it (then it is lost, as a lost message would be).
    bool Store(const Finding& finding);
    // Every finding stored since the last Take, oldest first; none when nothing finished.
    std::vector<Finding> Take();

private:
    std::mutex mutex;
    std::vector<Finding> stored;
};

// Runs `job` on a new detached thread; false when no thread could be started (`job` then never runs).
bool RunOnNewThread(std::function<void()> job);

// On the seam's worker: `seam.requestRule` first when `requestRule`, then the probe; stores the finding
// in `findings` and then posts WM_APP_FIREWALL to `window`. False when the seam has no probe, there are
// no findings to store into, or the worker could not be started.
bool StartFirewallCheck(HWND window, const FirewallSeam& seam, std::shared_ptr<FirewallFindings> findings,
                        std::uint16_t port, bool requestRule);

} // namespace Velotrix
