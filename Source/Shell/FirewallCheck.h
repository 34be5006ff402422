#pragma once

// Whether Windows Defender Firewall lets phones reach this program, judged from plain facts that the
// Windows probe gathers. Kept apart from the probe so that every combination can be tried without a
// firewall.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velotrix {

// Network profile bits, as the firewall numbers them.
inline constexpr unsigned FirewallDomain = 1;
inline constexpr unsigned FirewallPrivate = 2;
inline constexpr unsigned FirewallPublic = 4;

inline constexpr int FirewallProtocolUdp = 17;
inline constexpr int FirewallProtocolAny = 256;

struct FirewallProfile {
    bool enabled = false;
    bool blockAllInbound = false;         // shields up: even allow rules are ignored
    bool inboundAllowedByDefault = false; // unsolicited traffic passes without a rule
};

enum class RuleProgram { ThisProgram, AnyProgram };

// An inbound rule that names this program, or that names no program at all.
struct FirewallRule {
    bool enabled = false;
    bool allow = false; // false: a block rule, which wins over every allow rule
    int protocol = FirewallProtocolAny;
    std::string localPorts = "*";
    unsigned profiles = 0; // FirewallDomain | FirewallPrivate | FirewallPublic bits
    RuleProgram program = RuleProgram::ThisProgram;
};

struct FirewallFacts {
    bool known = false;        // false: the probe failed or could not tell
    std::uint32_t failure = 0; // the failing result when not known, for the log
    unsigned currentProfiles = 0;
    FirewallProfile domain;
    FirewallProfile privateProfile;
    FirewallProfile publicProfile;
    std::vector<FirewallRule> rules;
    std::uint16_t port = 0;
};

enum class FirewallVerdict : int {
    CannotTell = 0,    // shows nothing
    Open = 1,          // nothing in the firewall stops phones
    RuleMissing = 2,   // the firewall drops phones on a Private or Domain network; a rule would help
    PublicNetwork = 3, // the firewall drops phones because the network is marked Public
};

// A profile of the current network that has the firewall on and nothing letting UDP in to the port
// makes the verdict: RuleMissing when it is Domain or Private, else PublicNetwork. No current profile
// or unknown facts: CannotTell.
FirewallVerdict JudgeFirewall(const FirewallFacts& facts);

// Whether a rule's local ports ("*", "47821", "5000-6000,47821", blank for any) include `port`.
// Keywords such as "RPC" match no port.
bool LocalPortsCover(std::string_view list, std::uint16_t port);

// The log line for a verdict (without the time stamp).
std::string FirewallVerdictText(FirewallVerdict verdict, std::uint32_t failure);

} // namespace Velotrix
