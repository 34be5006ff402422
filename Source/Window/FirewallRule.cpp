// The rule writer, run by the elevated copy of the program: the program's one inbound rule.

#include "Window/Firewall.h"

#include "Platform/ComApartment.h"
#include "Window/FirewallPolicy.h"

namespace Velotrix {

namespace {

// Bounds the removal of same-named rules, in case Remove reports success without removing.
constexpr int MostRulesOfOneName = 64;

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
    for (int i = 0; i < MostRulesOfOneName; ++i) {
        ComPtr<INetFwRule> existing;
        if (FAILED(rules->Item(name.get(), existing.Put())) || !existing) break;
        if (FAILED(rules->Remove(name.get()))) return false;
    }
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
        SUCCEEDED(rule->put_Profiles(HomeProfiles)) && SUCCEEDED(rule->put_Enabled(VARIANT_TRUE));
    return made && SUCCEEDED(rules->Add(rule.get()));
}

} // namespace Velotrix
