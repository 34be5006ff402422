#include "Shell/SelfCheck.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

namespace Velotrix {

namespace {

std::string Hex(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

CheckLine Line(CheckOutcome outcome, std::string name, std::string detail) {
    return {outcome, std::move(name), std::move(detail)};
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += separator;
        text += part;
    }
    return text;
}

// What one driver step says when it went well; `value` as DriverStepResult defines it.
std::string DriverStepDone(DriverStep step, std::uint32_t value) {
    switch (step) {
    case DriverStep::Find:
        return "found (" + std::to_string(value) + (value == 1 ? " interface)" : " interfaces)");
    case DriverStep::Open:
        return "opened, version accepted";
    case DriverStep::Plug:
        return "pad plugged as serial " + std::to_string(value) + " and ready";
    case DriverStep::UserIndex:
        return "user index " + std::to_string(value);
    case DriverStep::Report:
        return "neutral report submitted";
    case DriverStep::Unplug:
        break;
    }
    return "unplugged";
}

std::string DriverStepFailed(DriverStep step, BusResult result) {
    switch (step) {
    case DriverStep::Find:
        return "ViGEmBus not found (no device of its interface class); install the driver";
    case DriverStep::Open:
        if (result == ErrBusVersion) return "ViGEmBus opened, but it refused the version check (" + Hex(result) + ")";
        return "ViGEmBus found, but it could not be opened (" + Hex(result) + ")";
    case DriverStep::Plug:
        return "ViGEmBus plugged no pad (" + Hex(result) + ")";
    case DriverStep::UserIndex:
        if (result == ErrUserIndexRange) return "Windows gave the pad no user index (" + Hex(result) + ")";
        return "the pad's user index could not be read (" + Hex(result) + ")";
    case DriverStep::Report:
        return "ViGEmBus refused the pad's report (" + Hex(result) + ")";
    case DriverStep::Unplug:
        break;
    }
    return "ViGEmBus did not unplug the pad (" + Hex(result) + ")";
}

bool Contains(std::string haystack, const char* needle) {
    std::transform(haystack.begin(), haystack.end(), haystack.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return haystack.find(needle) != std::string::npos;
}

// Words in names and descriptions that mark an adapter of a virtual machine, a container or a
// tunnel: phones on the Wi-Fi cannot reach the PC through any of them.
constexpr const char* VirtualMarks[] = {"virtual",  "vethernet", "hyper-v", "vmware",    "virtualbox",
                                        "wsl",      "docker",    "tap-",    "wireguard", "tailscale",
                                        "zerotier", "vpn",       "openvpn", "hamachi",   "npcap"};

} // namespace

std::string FormatCheckLine(const CheckLine& line) {
    const char* word = line.outcome == CheckOutcome::Pass   ? "PASS"
                       : line.outcome == CheckOutcome::Fail ? "FAIL"
                                                            : "SKIP";
    return std::string(word) + " " + line.name + ": " + line.detail;
}

std::string FormatCheckLines(const std::vector<CheckLine>& lines) {
    std::string text;
    for (const CheckLine& line : lines) text += FormatCheckLine(line) + "\n";
    return text;
}

int SelfCheckExitCode(const std::vector<CheckLine>& lines) {
    return std::any_of(lines.begin(), lines.end(), [](const CheckLine& l) { return l.outcome == CheckOutcome::Fail; })
               ? 1
               : 0;
}

CheckLine DriverCheck(const std::vector<DriverStepResult>& steps) {
    std::vector<std::string> parts;
    for (const DriverStepResult& step : steps) {
        const bool failed = step.result != ResultOk || (step.step == DriverStep::Find && step.value == 0);
        if (failed) {
            parts.push_back(DriverStepFailed(step.step, step.result));
            return Line(CheckOutcome::Fail, "driver", Joined(parts, "; "));
        }
        parts.push_back(DriverStepDone(step.step, step.value) + " " + Milliseconds(step.milliseconds));
    }
    if (parts.empty()) return Line(CheckOutcome::Skip, "driver", "not tried");
    return Line(CheckOutcome::Pass, "driver", Joined(parts, "; "));
}

CheckLine DriverStateCheck(BusState state, std::size_t interfaces) {
    const std::string listed =
        std::to_string(interfaces) + (interfaces == 1 ? " interface" : " interfaces") + " listed";
    switch (state) {
    case BusState::Connected:
        return Line(CheckOutcome::Pass, "driver", "ViGEmBus connected, " + listed);
    case BusState::Lost:
        return Line(CheckOutcome::Fail, "driver", "ViGEmBus went away while Velotrix ran, " + listed);
    case BusState::Missing:
        break;
    }
    return Line(CheckOutcome::Fail, "driver", "ViGEmBus not connected, " + listed);
}

CheckLine SocketCheck(const SocketFacts& facts) {
    if (!facts.bound) return Line(CheckOutcome::Fail, "socket", "no UDP socket could be bound on all interfaces");
    std::string detail = "bound on all interfaces, UDP " + std::to_string(facts.port) + "; ";
    detail += facts.ipv4Back ? "to itself over IPv4 loopback " + Milliseconds(facts.ipv4Milliseconds)
                             : std::string("nothing came back over IPv4 loopback");
    detail += facts.ipv6Back ? ", over IPv6 loopback " + Milliseconds(facts.ipv6Milliseconds)
                             : std::string(", nothing came back over IPv6 loopback");
    return Line(facts.ipv4Back && facts.ipv6Back ? CheckOutcome::Pass : CheckOutcome::Fail, "socket", detail);
}

CheckLine ServerSocketCheck(bool running, std::uint16_t port) {
    if (!running) return Line(CheckOutcome::Fail, "socket", "the server is not listening");
    return Line(CheckOutcome::Pass, "socket", "listening on all interfaces, UDP " + std::to_string(port));
}

CheckLine DnsSdCheck(const std::string& library, bool libraryLoaded, const std::vector<std::string>& missing) {
    if (!libraryLoaded)
        return Line(CheckOutcome::Fail, "DNS-SD", library + " did not load; phones cannot find this PC");
    if (!missing.empty())
        return Line(CheckOutcome::Fail, "DNS-SD",
                    library + " lacks " + Joined(missing, ", ") +
                        " (Windows 10 1809 and older); the phone app cannot list this PC by name");
    return Line(CheckOutcome::Pass, "DNS-SD",
                "the registration functions are present in " + library + " (nothing was registered)");
}

CheckLine FirewallCheckOf(FirewallVerdict verdict, std::uint32_t failure, std::uint16_t port) {
    // The log's wording without its "Firewall check: ", which the line's name says already.
    std::string said = FirewallVerdictText(verdict, failure);
    if (const std::size_t colon = said.find(": "); colon != std::string::npos) said.erase(0, colon + 2);
    const std::string detail = said + " (UDP " + std::to_string(port) + ")";
    switch (verdict) {
    case FirewallVerdict::Open:
        return Line(CheckOutcome::Pass, "firewall", detail);
    case FirewallVerdict::RuleMissing:
    case FirewallVerdict::PublicNetwork:
        return Line(CheckOutcome::Fail, "firewall", detail);
    case FirewallVerdict::CannotTell:
        break;
    }
    return Line(CheckOutcome::Skip, "firewall", detail);
}

std::string AdapterKind(const NetworkAdapter& adapter) {
    std::string kind;
    switch (adapter.type) {
    case 6:
        kind = "Ethernet";
        break;
    case 71:
        kind = "Wi-Fi";
        break;
    case 23:  // PPP
    case 131: // tunnel
        kind = "VPN";
        break;
    case 243:
    case 244:
        kind = "mobile broadband";
        break;
    case 24:
        kind = "loopback";
        break;
    default:
        kind = "type " + std::to_string(adapter.type);
        break;
    }
    if (kind != "VPN") {
        for (const char* mark : VirtualMarks) {
            if (Contains(adapter.name, mark) || Contains(adapter.description, mark)) {
                kind += ", virtual or VPN";
                break;
            }
        }
    }
    return kind;
}

CheckLine NetworkCheck(const std::vector<NetworkAdapter>& adapters, const std::string& shownAddress,
                       const std::string& shownAdapter) {
    std::vector<std::string> parts;
    for (const NetworkAdapter& adapter : adapters) {
        if (!adapter.up || adapter.loopback) continue;
        std::string part = "\xE2\x80\x9C" + adapter.name + "\xE2\x80\x9D " + AdapterKind(adapter);
        part += adapter.gateways.empty() ? ", no gateway" : ", gateway " + Joined(adapter.gateways, " ");
        part += adapter.addresses.empty() ? ", no IPv4 address" : ", " + Joined(adapter.addresses, " ");
        parts.push_back(std::move(part));
    }
    const std::string adaptersText = parts.empty() ? "no adapter is up" : Joined(parts, "; ");
    if (shownAddress.empty())
        return Line(CheckOutcome::Fail, "network",
                    "the window shows \xE2\x80\x9CNo network\xE2\x80\x9D; " + adaptersText);
    return Line(CheckOutcome::Pass, "network",
                "the window shows " + shownAddress + " (\xE2\x80\x9C" + shownAdapter + "\xE2\x80\x9D); " +
                    adaptersText);
}

double Percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    // Nearest rank: the smallest sample with at least p % of them at or below it.
    const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

CheckLine PaintCheck(const PaintFacts& facts) {
    if (facts.target.empty())
        return Line(CheckOutcome::Fail, "Direct2D", "no offscreen render target: " + facts.failure);
    const std::string what =
        std::to_string(facts.width) + " \xC3\x97 " + std::to_string(facts.height) + " on " + facts.target;
    if (!facts.failure.empty())
        return Line(CheckOutcome::Fail, "Direct2D",
                    what + ": " + facts.failure + " after " + std::to_string(facts.milliseconds.size()) + " paints");
    const double median = Percentile(facts.milliseconds, 50);
    const double p95 = Percentile(facts.milliseconds, 95);
    std::string detail = "the demo page with four phones painted " + std::to_string(facts.milliseconds.size()) +
                         " times, " + what + ": median " + Milliseconds(median) + ", 95th percentile " +
                         Milliseconds(p95) + " a paint";
    // Over budget is no failure: the window then paints less often (it waits by what a paint cost).
    detail += p95 <= facts.budgetMilliseconds ? ", within the window's " : ", over the window's ";
    detail += Milliseconds(facts.budgetMilliseconds) + " budget";
    return Line(CheckOutcome::Pass, "Direct2D", detail);
}

CheckLine LastPaintCheck(double milliseconds, double budgetMilliseconds) {
    if (milliseconds <= 0) return Line(CheckOutcome::Skip, "Direct2D", "the window has not painted yet");
    return Line(CheckOutcome::Pass, "Direct2D",
                "the window's last paint took " + Milliseconds(milliseconds) + " (budget " +
                    Milliseconds(budgetMilliseconds) + ")");
}

CheckLine ShareCheck(std::uint32_t status) {
    // HRESULTs fail with their top bit set.
    if ((status & 0x80000000u) == 0) return Line(CheckOutcome::Pass, "share sheet", "its interop is present");
    return Line(CheckOutcome::Pass, "share sheet",
                "not offered here (" + Hex(status) + "); Share puts the web link on the clipboard instead");
}

CheckLine WindowsCheck(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
    return Line(CheckOutcome::Pass, "Windows",
                std::to_string(major) + "." + std::to_string(minor) + " build " + std::to_string(build));
}

CheckLine ProgramCheck(const std::string& version, const std::string& path) {
    return Line(CheckOutcome::Pass, "Velotrix", "version " + version + ", " + path);
}

} // namespace Velotrix
