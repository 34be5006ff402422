// The worker: a check runs away from the window's thread, which the probe's COM calls and the
// elevation's wait would otherwise block, and reports back by a posted message.

#include "Window/Firewall.h"

#include <exception>
#include <new>
#include <thread>
#include <utility>

#include "Window/Messages.h"

namespace Velotrix {

FirewallSeam WindowsFirewall() { return FirewallSeam{&ProbeFirewall, &RequestFirewallRule, &RunOnNewThread}; }

bool RunOnNewThread(std::function<void()> job) {
    try {
        std::thread(std::move(job)).detach();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool FirewallFindings::Store(const Finding& finding) {
    const std::lock_guard<std::mutex> lock(mutex);
    try {
        stored.push_back(finding);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::vector<FirewallFindings::Finding> FirewallFindings::Take() {
    const std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(stored, {});
}

bool StartFirewallCheck(HWND window, const FirewallSeam& seam, std::shared_ptr<FirewallFindings> findings,
                        std::uint16_t port, bool requestRule) {
    if (!seam.probe || !findings) return false;
    // The job takes copies: it may outlive the window and its seam.
    auto check = [window, probe = seam.probe, request = seam.requestRule, findings, port, requestRule] {
        if (requestRule && request) request(window);
        const FirewallFacts facts = probe(port);
        findings->Store({JudgeFirewall(facts), facts.failure, requestRule});
        // Fails harmlessly when the window is gone by now.
        PostMessageW(window, WM_APP_FIREWALL, 0, 0);
    };
    try {
        return seam.startWorker ? seam.startWorker(std::move(check)) : RunOnNewThread(std::move(check));
    } catch (const std::exception&) {
        // The job's copies could not be had.
        return false;
    }
}

} // namespace Velotrix
