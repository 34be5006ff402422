#include "Window/Firewall.h"

#include <netfw.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>

#include <exception>
#include <thread>

#include "Common/UniqueResource.h"
#include "Platform/WinHandles.h"
#include "Shell/ModulePath.h"
#include "Shell/TextConversion.h"
#include "Shell/Log.h"
#include "Platform/ComApartment.h"
#include "Platform/ComPtr.h"

namespace Velotrix {

namespace {

// The class ids of the firewall's objects, as Windows documents them; mingw-w64's import libraries
// leave them undefined.
constexpr CLSID NetFwPolicy2Class = {0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
constexpr CLSID NetFwRuleClass = {0x2c5bc43e, 0x3369, 0x4c33, {0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a, 0xf4}};

constexpr long HomeProfiles = NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PRIVATE;
// Bounds the removal of same-named rules, in case Remove reports success without removing.
constexpr int MostRulesOfOneName = 64;
constexpr DWORD ElevatedCopyTimeoutMs = 60'000;

struct BstrTraits {
    using Value = BSTR;
    static Value Invalid() { return nullptr; }
    static void Release(Value text) { SysFreeString(text); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

UniqueBstr MakeBstr(const std::wstring& text) { return UniqueBstr(SysAllocString(text.c_str())); }

std::wstring TextOf(const UniqueBstr& text) {
    return text ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring();
}

// Rules store the program as typed, sometimes with "%ProgramFiles%" and in any letter case.
bool SameProgram(const std::wstring& ruleProgram, const std::wstring& programPath) {
    wchar_t expanded[MAX_PATH * 2] = {};
    const DWORD length =
        ExpandEnvironmentStringsW(ruleProgram.c_str(), expanded, static_cast<DWORD>(std::size(expanded)));
    const std::wstring path = length > 0 && length <= std::size(expanded) ? std::wstring(expanded) : ruleProgram;
    return CompareStringOrdinal(path.c_str(), -1, programPath.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Calls `visit` with every rule of `rules`; answers the first failing result, or S_OK.
template <typename Visit>
HRESULT ForEachRule(INetFwRules* rules, Visit visit) {
    ComPtr<IUnknown> enumerator;
    HRESULT hr = rules->get__NewEnum(enumerator.Put());
    if (FAILED(hr)) return hr;
    if (!enumerator) return E_POINTER;
    ComPtr<IEnumVARIANT> items;
    hr = enumerator->QueryInterface(__uuidof(IEnumVARIANT), reinterpret_cast<void**>(items.Put()));
    if (FAILED(hr)) return hr;
    for (;;) {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        hr = items->Next(1, &item, &fetched);
        if (hr != S_OK || fetched == 0) {
            VariantClear(&item);
            return FAILED(hr) ? hr : S_OK;
        }
        ComPtr<INetFwRule> rule;
        if (item.vt == VT_DISPATCH && item.pdispVal != nullptr) {
            item.pdispVal->QueryInterface(__uuidof(INetFwRule), reinterpret_cast<void**>(rule.Put()));
        }
        VariantClear(&item);
        if (rule) {
            hr = visit(rule.get());
            if (FAILED(hr)) return hr;
        }
    }
}

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

HRESULT OpenPolicy(ComPtr<INetFwPolicy2>& policy, ComPtr<INetFwRules>& rules) {
    HRESULT hr = CoCreateInstance(NetFwPolicy2Class, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                                  reinterpret_cast<void**>(policy.Put()));
    if (FAILED(hr)) return hr;
    hr = policy->get_Rules(rules.Put());
    if (SUCCEEDED(hr) && !rules) hr = E_POINTER;
    return hr;
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

FirewallFacts ProbeFirewall(std::uint16_t port) {
    const ComApartment com(COINIT_MULTITHREADED);
    FirewallFacts facts;
    facts.port = port;
    const HRESULT hr = ReadFacts(facts);
    facts.known = SUCCEEDED(hr);
    facts.failure = SUCCEEDED(hr) ? 0 : static_cast<std::uint32_t>(hr);
    return facts;
}

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

bool RequestFirewallRule(HWND owner) {
    // The shell may load extensions into this thread to start the program.
    const ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring program = ModulePath();
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    execute.hwnd = owner;
    execute.lpVerb = L"runas";
    execute.lpFile = program.c_str();
    execute.lpParameters = AddFirewallRuleOption;
    execute.nShow = SW_HIDE;
    if (!ShellExecuteExW(&execute) || execute.hProcess == nullptr) {
        // ERROR_CANCELLED (1223) when the user said no at the prompt.
        Log("Firewall rule: not added (error %lu)", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    const UniqueHandle process(execute.hProcess);
    DWORD exitCode = 1;
    if (WaitForSingleObject(process.get(), ElevatedCopyTimeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &exitCode) || exitCode != 0) {
        Log("Firewall rule: not added (the elevated copy answered %lu)", static_cast<unsigned long>(exitCode));
        return false;
    }
    Log("Firewall rule \"Velotrix\" added");
    return true;
}

FirewallSeam WindowsFirewall() {
    FirewallSeam seam{&ProbeFirewall, &RequestFirewallRule};
    // Test switch, for seeing the warning where the firewall cannot be asked (Wine):
    // VELOTRIX_TEST_FIREWALL=no-rule pretends a Private network with the firewall on and no rule,
    // =public the same on a Public network. Only the probe's answer is made up.
    wchar_t value[16] = {};
    const DWORD length =
        GetEnvironmentVariableW(L"VELOTRIX_TEST_FIREWALL", value, static_cast<DWORD>(std::size(value)));
    const std::wstring pretend = length > 0 && length < std::size(value) ? std::wstring(value) : std::wstring();
    if (pretend == L"no-rule" || pretend == L"public") {
        const unsigned profile = pretend == L"public" ? FirewallPublic : FirewallPrivate;
        seam.probe = [profile](std::uint16_t port) {
            FirewallFacts facts;
            facts.known = true;
            facts.currentProfiles = profile;
            facts.domain.enabled = facts.privateProfile.enabled = facts.publicProfile.enabled = true;
            facts.port = port;
            return facts;
        };
    }
    return seam;
}

bool StartFirewallCheck(HWND window, const FirewallSeam& seam, std::uint16_t port, bool requestRule) {
    if (!seam.probe) return false;
    try {
        std::thread([window, seam, port, requestRule] {
            if (requestRule && seam.requestRule) seam.requestRule(window);
            const FirewallFacts facts = seam.probe(port);
            const FirewallVerdict verdict = JudgeFirewall(facts);
            const WPARAM kind = static_cast<WPARAM>(verdict) | (requestRule ? FirewallAfterRuleRequest : 0);
            // Fails harmlessly when the window is gone by now.
            PostMessageW(window, WM_APP_FIREWALL, kind, static_cast<LPARAM>(facts.failure));
        }).detach();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

} // namespace Velotrix
