#include "Shell/FirewallCheck.h"

#include <charconv>
#include <cstdio>

namespace Velotrix {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// The whole of `text` as a number; false for anything else.
bool ParsePort(std::string_view text, unsigned& value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool RuleLetsIn(const FirewallRule& rule, std::uint16_t port) {
    return (rule.protocol == FirewallProtocolUdp || rule.protocol == FirewallProtocolAny) &&
           LocalPortsCover(rule.localPorts, port);
}

// The firewall drops a phone's datagram under `profile` (one bit).
bool Blocks(const FirewallFacts& facts, const FirewallProfile& profile, unsigned bit) {
    if (!profile.enabled) return false;
    if (profile.blockAllInbound) return true;
    bool allowed = profile.inboundAllowedByDefault;
    for (const FirewallRule& rule : facts.rules) {
        if (!rule.enabled || (rule.profiles & bit) == 0 || !RuleLetsIn(rule, facts.port)) continue;
        // A block rule without a program is narrowed by remote addresses or services that the facts do
        // not carry, so only one naming this program is taken as blocking.
        if (!rule.allow && rule.program == RuleProgram::ThisProgram) return true;
        if (rule.allow) allowed = true;
    }
    return !allowed;
}

} // namespace

bool LocalPortsCover(std::string_view list, std::uint16_t port) {
    list = Trimmed(list);
    if (list.empty()) return true;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view item = Trimmed(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (item == "*") return true;
        const std::size_t dash = item.find('-');
        unsigned low = 0;
        unsigned high = 0;
        if (dash == std::string_view::npos) {
            if (ParsePort(item, low) && low == port) return true;
        } else if (ParsePort(Trimmed(item.substr(0, dash)), low) && ParsePort(Trimmed(item.substr(dash + 1)), high) &&
                   low <= port && port <= high) {
            return true;
        }
    }
    return false;
}

FirewallVerdict JudgeFirewall(const FirewallFacts& facts) {
    if (!facts.known || facts.currentProfiles == 0) return FirewallVerdict::CannotTell;
    const bool current[] = {(facts.currentProfiles & FirewallDomain) != 0,
                            (facts.currentProfiles & FirewallPrivate) != 0,
                            (facts.currentProfiles & FirewallPublic) != 0};
    if (current[0] && Blocks(facts, facts.domain, FirewallDomain)) return FirewallVerdict::RuleMissing;
    if (current[1] && Blocks(facts, facts.privateProfile, FirewallPrivate)) return FirewallVerdict::RuleMissing;
    if (current[2] && Blocks(facts, facts.publicProfile, FirewallPublic)) return FirewallVerdict::PublicNetwork;
    return FirewallVerdict::Open;
}

std::string FirewallVerdictText(FirewallVerdict verdict, std::uint32_t failure) {
    switch (verdict) {
    case FirewallVerdict::Open:
        return "Firewall check: nothing stops phones";
    case FirewallVerdict::RuleMissing:
        return "Firewall check: no inbound rule lets Velotrix receive UDP; phones may be blocked";
    case FirewallVerdict::PublicNetwork:
        return "Firewall check: the network is marked Public; phones may be blocked";
    case FirewallVerdict::CannotTell:
        break;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Firewall check: cannot tell (0x%08X)", static_cast<unsigned>(failure));
    return text;
}

} // namespace Velotrix
