// Judging the firewall from the facts the probe gathers: which networks, rules and switches leave
// phones out, and which let them in.

#include "Shell/FirewallCheck.h"

#include <gtest/gtest.h>

namespace Velotrix {
namespace {

constexpr std::uint16_t Port = 47821;

FirewallRule Rule(bool allow, unsigned profiles, int protocol = FirewallProtocolUdp, std::string ports = "*",
                  RuleProgram program = RuleProgram::ThisProgram, bool enabled = true) {
    return {enabled, allow, protocol, std::move(ports), profiles, program};
}

// The firewall on everywhere, nothing allowed by default, the network `current`.
FirewallFacts Facts(unsigned current, std::vector<FirewallRule> rules = {}) {
    const FirewallProfile on{.enabled = true};
    return {.known = true,
            .currentProfiles = current,
            .domain = on,
            .privateProfile = on,
            .publicProfile = on,
            .rules = std::move(rules),
            .port = Port};
}

TEST(FirewallCheckTest, VerdictFollowsNetworkSwitchesAndRules) {
    constexpr unsigned Home = FirewallDomain | FirewallPrivate;
    struct Case {
        const char* name;
        FirewallFacts facts;
        FirewallVerdict verdict;
    };
    FirewallFacts unknown = Facts(FirewallPrivate);
    unknown.known = false;
    FirewallFacts off = Facts(FirewallPrivate | FirewallPublic);
    off.privateProfile.enabled = off.publicProfile.enabled = false;
    FirewallFacts shieldsUp = Facts(FirewallPrivate, {Rule(true, Home)});
    shieldsUp.privateProfile.blockAllInbound = true;
    FirewallFacts openByDefault = Facts(FirewallPrivate);
    openByDefault.privateProfile.inboundAllowedByDefault = true;
    FirewallFacts offOnlyOnPrivate = Facts(FirewallPrivate);
    offOnlyOnPrivate.privateProfile.enabled = false;
    const Case cases[] = {
        {"probe failed", unknown, FirewallVerdict::CannotTell},
        {"no current network", Facts(0), FirewallVerdict::CannotTell},
        {"private, rule present", Facts(FirewallPrivate, {Rule(true, Home)}), FirewallVerdict::Open},
        {"private, no rule", Facts(FirewallPrivate), FirewallVerdict::RuleMissing},
        {"domain, rule for private only", Facts(FirewallDomain, {Rule(true, FirewallPrivate)}),
         FirewallVerdict::RuleMissing},
        {"private, rule disabled", Facts(FirewallPrivate, {Rule(true, Home, 17, "*", RuleProgram::ThisProgram, false)}),
         FirewallVerdict::RuleMissing},
        {"private, rule for TCP only", Facts(FirewallPrivate, {Rule(true, Home, 6)}), FirewallVerdict::RuleMissing},
        {"private, rule for any protocol", Facts(FirewallPrivate, {Rule(true, Home, FirewallProtocolAny)}),
         FirewallVerdict::Open},
        {"private, rule for another port", Facts(FirewallPrivate, {Rule(true, Home, 17, "5000")}),
         FirewallVerdict::RuleMissing},
        {"private, port rule for any program",
         Facts(FirewallPrivate, {Rule(true, Home, 17, "47821", RuleProgram::AnyProgram)}), FirewallVerdict::Open},
        {"private, block rule beside the allow rule", Facts(FirewallPrivate, {Rule(true, Home), Rule(false, Home)}),
         FirewallVerdict::RuleMissing},
        {"private, block rule of no program ignored",
         Facts(FirewallPrivate, {Rule(true, Home), Rule(false, Home, 17, "*", RuleProgram::AnyProgram)}),
         FirewallVerdict::Open},
        {"private, shields up", shieldsUp, FirewallVerdict::RuleMissing},
        {"private, inbound allowed by default", openByDefault, FirewallVerdict::Open},
        {"firewall off", off, FirewallVerdict::Open},
        {"firewall off on the current profile only", offOnlyOnPrivate, FirewallVerdict::Open},
        {"public, rule for home networks", Facts(FirewallPublic, {Rule(true, Home)}), FirewallVerdict::PublicNetwork},
        {"public, rule covering public", Facts(FirewallPublic, {Rule(true, FirewallPublic)}), FirewallVerdict::Open},
        {"private and public, no rule", Facts(FirewallPrivate | FirewallPublic), FirewallVerdict::RuleMissing},
        {"private and public, home rule", Facts(FirewallPrivate | FirewallPublic, {Rule(true, Home)}),
         FirewallVerdict::PublicNetwork},
    };
    for (const Case& c : cases) EXPECT_EQ(JudgeFirewall(c.facts), c.verdict) << c.name;
}

TEST(FirewallCheckTest, LocalPortListsAreReadAsTheFirewallWritesThem) {
    struct Case {
        const char* list;
        bool covers;
    };
    const Case cases[] = {
        {"*", true},           {"", true},           {"47821", true},
        {"47820", false},      {"5000-6000", false}, {"47000-48000", true},
        {"47821-47821", true}, {"1, 47821", true},   {"RPC", false},
        {"4782", false},       {"478210", false},    {"47822-47000", false},
    };
    for (const Case& c : cases) EXPECT_EQ(LocalPortsCover(c.list, Port), c.covers) << '"' << c.list << '"';
}

} // namespace
} // namespace Velotrix
