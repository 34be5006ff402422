// The rule writer, run by the elevated copy of the program: the program's one inbound rule.

#include "Window/Firewall.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "Platform/ComApartment.h"
#include "Window/FirewallPolicy.h"

namespace Velotrix {

namespace {

// Only the local network's phones need to reach the program; nothing farther away is let in.
constexpr wchar_t LocalSubnetOnly[] = L"LocalSubnet";

// Whether the rule is named FirewallRuleName and names `programPath` as its program.
bool IsOurRule(INetFwRule* rule, const std::wstring& programPath) {
    BSTR nameText = nullptr, programText = nullptr;
    const HRESULT readName = rule->get_Name(&nameText);
    const UniqueBstr name(nameText);
    const HRESULT readProgram = rule->get_ApplicationName(&programText);
    const UniqueBstr program(programText);
    return SUCCEEDED(readName) && SUCCEEDED(readProgram) && TextOf(name) == FirewallRuleName &&
           !TextOf(program).empty() && SameProgram(TextOf(program), programPath);
}

// Removes the rules named FirewallRuleName that name `programPath`, and no other: an administrator's
// own rule of that name for something else stays. The firewall removes rules by name only, so each of
// ours is first renamed to a name nobody else uses. False when one of them could not be removed.
bool RemoveOurRules(INetFwRules* rules, const std::wstring& programPath) {
    std::vector<ComPtr<INetFwRule>> ours;
    const HRESULT listed = ForEachRule(rules, [&](INetFwRule* rule) -> HRESULT {
        if (!IsOurRule(rule, programPath)) return S_OK;
        ComPtr<INetFwRule> kept;
        rule->QueryInterface(__uuidof(INetFwRule), reinterpret_cast<void**>(kept.Put()));
        try {
            if (kept) ours.push_back(std::move(kept));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    });
    if (FAILED(listed)) return false;
    try {
        const std::wstring stem =
            std::wstring(FirewallRuleName) + L" (being replaced " + std::to_wstring(GetCurrentProcessId()) + L"-";
        for (std::size_t i = 0; i < ours.size(); ++i) {
            const UniqueBstr passing = MakeBstr(stem + std::to_wstring(i) + L")");
            if (!passing || FAILED(ours[i]->put_Name(passing.get())) || FAILED(rules->Remove(passing.get())))
                return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Windows' first-start prompt leaves block rules for the program when it is dismissed; they win over
// any allow rule, so they must stop covering the networks the new rule opens.
void OpenBlockRules(INetFwRules* rules, const std::wstring& programPath) {
    ForEachRule(rules, [&](INetFwRule* rule) -> HRESULT {
        NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
        NET_FW_ACTION action = NET_FW_ACTION_ALLOW;
        LONG profiles = 0;
        BSTR text = nullptr;
        const HRESULT read = rule->get_ApplicationName(&text);
        const UniqueBstr program(text);
        if (FAILED(read) || FAILED(rule->get_Direction(&direction)) || FAILED(rule->get_Action(&action)) ||
            FAILED(rule->get_Profiles(&profiles))) {
            return S_OK;
        }
        if (direction != NET_FW_RULE_DIR_IN || action != NET_FW_ACTION_BLOCK || (profiles & HomeProfiles) == 0 ||
            TextOf(program).empty() || !SameProgram(TextOf(program), programPath)) {
            return S_OK;
        }
        if ((profiles & NET_FW_PROFILE2_PUBLIC) != 0) return rule->put_Profiles(NET_FW_PROFILE2_PUBLIC);
        return rule->put_Enabled(VARIANT_FALSE);
    });
}

} // namespace

bool AddFirewallRule(const std::wstring& programPath) {
    const ComApartment com(COINIT_APARTMENTTHREADED);
    ComPtr<INetFwPolicy2> policy;
    ComPtr<INetFwRules> rules;
    if (FAILED(OpenPolicy(policy, rules))) return false;
    const UniqueBstr name = MakeBstr(FirewallRuleName);
    const UniqueBstr program = MakeBstr(programPath);
    const UniqueBstr description = MakeBstr(L"Lets phones on the local network reach Velotrix.");
    if (!name || !program || !description) return false;
    const UniqueBstr remote = MakeBstr(LocalSubnetOnly);
    if (!remote || !RemoveOurRules(rules.get(), programPath)) return false;
    // Best effort: the new rule is still worth adding when the old ones cannot be listed.
    OpenBlockRules(rules.get(), programPath);

    ComPtr<INetFwRule> rule;
    if (FAILED(CoCreateInstance(NetFwRuleClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwRule),
                                reinterpret_cast<void**>(rule.Put())))) {
        return false;
    }
    const bool made =
        SUCCEEDED(rule->put_Name(name.get())) && SUCCEEDED(rule->put_Description(description.get())) &&
        SUCCEEDED(rule->put_ApplicationName(program.get())) && SUCCEEDED(rule->put_Protocol(NET_FW_IP_PROTOCOL_UDP)) &&
        SUCCEEDED(rule->put_Direction(NET_FW_RULE_DIR_IN)) && SUCCEEDED(rule->put_Action(NET_FW_ACTION_ALLOW)) &&
        SUCCEEDED(rule->put_RemoteAddresses(remote.get())) && SUCCEEDED(rule->put_Profiles(HomeProfiles)) &&
        SUCCEEDED(rule->put_Enabled(VARIANT_TRUE));
    return made && SUCCEEDED(rules->Add(rule.get()));
}

} // namespace Velotrix
