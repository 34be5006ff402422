// The probe: what the firewall says about the current network and the rules that could let phones in.

#include "Window/Firewall.h"

#include "Platform/ComApartment.h"
#include "Shell/ModulePath.h"
#include "Shell/TextConversion.h"
#include "Window/FirewallPolicy.h"

namespace Velotrix {

namespace {

HRESULT ReadProfile(INetFwPolicy2* policy, NET_FW_PROFILE_TYPE2 type, FirewallProfile& profile) {
    VARIANT_BOOL enabled = VARIANT_FALSE;
    VARIANT_BOOL blockAll = VARIANT_FALSE;
    NET_FW_ACTION inbound = NET_FW_ACTION_BLOCK;
    HRESULT hr = policy->get_FirewallEnabled(type, &enabled);
    if (FAILED(hr)) return hr;
    hr = policy->get_BlockAllInboundTraffic(type, &blockAll);
    if (FAILED(hr)) return hr;
    hr = policy->get_DefaultInboundAction(type, &inbound);
    if (FAILED(hr)) return hr;
    profile.enabled = enabled != VARIANT_FALSE;
    profile.blockAllInbound = blockAll != VARIANT_FALSE;
    profile.inboundAllowedByDefault = inbound == NET_FW_ACTION_ALLOW;
    return S_OK;
}

HRESULT ReadRule(INetFwRule* rule, const std::wstring& programPath, FirewallFacts& facts) {
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
    HRESULT hr = rule->get_Direction(&direction);
    if (FAILED(hr) || direction != NET_FW_RULE_DIR_IN) return hr;
    BSTR text = nullptr;
    hr = rule->get_ApplicationName(&text);
    const UniqueBstr program(text);
    if (FAILED(hr)) return hr;
    FirewallRule read;
    const std::wstring programText = TextOf(program);
    if (programText.empty()) {
        read.program = RuleProgram::AnyProgram;
    } else if (!SameProgram(programText, programPath)) {
        return S_OK;
    }
    VARIANT_BOOL enabled = VARIANT_FALSE;
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    LONG protocol = 0;
    LONG profiles = 0;
    text = nullptr;
    if (FAILED(hr = rule->get_Enabled(&enabled)) || FAILED(hr = rule->get_Action(&action)) ||
        FAILED(hr = rule->get_Protocol(&protocol)) || FAILED(hr = rule->get_Profiles(&profiles))) {
        return hr;
    }
    hr = rule->get_LocalPorts(&text);
    const UniqueBstr ports(text);
    if (FAILED(hr)) return hr;
    read.enabled = enabled != VARIANT_FALSE;
    read.allow = action == NET_FW_ACTION_ALLOW;
    read.protocol = static_cast<int>(protocol);
    read.localPorts = ToUtf8(TextOf(ports));
    read.profiles = static_cast<unsigned>(profiles);
    facts.rules.push_back(std::move(read));
    return S_OK;
}

HRESULT ReadFacts(FirewallFacts& facts) {
    ComPtr<INetFwPolicy2> policy;
    ComPtr<INetFwRules> rules;
    HRESULT hr = OpenPolicy(policy, rules);
    if (FAILED(hr)) return hr;
    LONG current = 0;
    hr = policy->get_CurrentProfileTypes(&current);
    if (FAILED(hr)) return hr;
    facts.currentProfiles = static_cast<unsigned>(current);
    hr = ReadProfile(policy.get(), NET_FW_PROFILE2_DOMAIN, facts.domain);
    if (FAILED(hr)) return hr;
    hr = ReadProfile(policy.get(), NET_FW_PROFILE2_PRIVATE, facts.privateProfile);
    if (FAILED(hr)) return hr;
    hr = ReadProfile(policy.get(), NET_FW_PROFILE2_PUBLIC, facts.publicProfile);
    if (FAILED(hr)) return hr;
    const std::wstring programPath = ModulePath();
    return ForEachRule(rules.get(), [&](INetFwRule* rule) { return ReadRule(rule, programPath, facts); });
}

} // namespace

FirewallFacts ProbeFirewall(std::uint16_t port) {
    const ComApartment com(COINIT_MULTITHREADED);
    FirewallFacts facts;
    facts.port = port;
    const HRESULT hr = ReadFacts(facts);
    facts.known = SUCCEEDED(hr);
    facts.failure = SUCCEEDED(hr) ? 0 : static_cast<std::uint32_t>(hr);
    return facts;
}

} // namespace Velotrix
