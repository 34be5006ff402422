// A stand-in for Windows Defender Firewall's policy (HNetCfg.FwPolicy2) and rule (HNetCfg.FwRule)
// objects, for the end-to-end firewall check under Wine, whose own policy cannot tell the current
// network's profile. The script registers this DLL for both class ids in its Wine prefix while it runs,
// so Velotrix.exe's real probe and its elevated copy's real rule writer talk to it as to Windows.
//
// The firewall is on in every profile, blocks unsolicited inbound traffic by default and honours its
// rules. VELOTRIX_TEST_FIREWALL_NETWORK "public" puts the current network in the Public profile;
// anything else in the Private one. VELOTRIX_TEST_FIREWALL_RULES names the rule table, one rule a line,
// its fields separated by tabs: name, program, protocol, local ports, direction (1 in, 2 out), profiles,
// action (0 block, 1 allow), enabled (0 or 1), description, remote addresses ("*" when missing). Add
// appends a line, Remove deletes every line of its name. A rule read from the table and renamed is
// renamed there too (the program renames its own rules before it removes them); other changes to a
// rule read from the table are not written back.

#include <windows.h>
#include <netfw.h>
#include <oleauto.h>

#include <fstream>
#include <string>
#include <vector>

#include "../StandInText.h"

namespace {

constexpr CLSID PolicyClass = {0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
constexpr CLSID RuleClass = {0x2c5bc43e, 0x3369, 0x4c33, {0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a, 0xf4}};

constexpr LONG AnyProtocol = 256; // NET_FW_IP_PROTOCOL_ANY, which mingw-w64's header lacks

struct RuleData {
    std::wstring name, program, ports = L"*", description;
    LONG protocol = AnyProtocol;
    LONG direction = NET_FW_RULE_DIR_IN;
    LONG profiles = NET_FW_PROFILE2_ALL;
    LONG action = NET_FW_ACTION_ALLOW;
    bool enabled = true;
    std::wstring remote = L"*";
    bool operator==(const RuleData&) const = default;
};

std::vector<RuleData> ReadRules() {
    std::vector<RuleData> rules;
    std::ifstream in(StandIn::Environment(L"VELOTRIX_TEST_FIREWALL_RULES").c_str(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::wstring> f(1);
        for (const wchar_t c : StandIn::Utf16(line)) {
            if (c == L'\t')
                f.emplace_back();
            else
                f.back().push_back(c);
        }
        if (f.size() < 9) continue;
        rules.push_back({f[0], f[1], f[3], f[8], _wtol(f[2].c_str()), _wtol(f[4].c_str()), _wtol(f[5].c_str()),
                         _wtol(f[6].c_str()), f[7] == L"1", f.size() > 9 ? f[9] : L"*"});
    }
    return rules;
}

bool WriteRules(const std::vector<RuleData>& rules) {
    std::ofstream out(StandIn::Environment(L"VELOTRIX_TEST_FIREWALL_RULES").c_str(),
                      std::ios::binary | std::ios::trunc);
    for (const RuleData& r : rules) {
        out << StandIn::Utf8(r.name + L'\t' + r.program) << '\t' << r.protocol << '\t' << StandIn::Utf8(r.ports) << '\t'
            << r.direction << '\t' << r.profiles << '\t' << r.action << '\t' << (r.enabled ? 1 : 0) << '\t'
            << StandIn::Utf8(r.description) << '\t' << StandIn::Utf8(r.remote) << '\n';
    }
    return static_cast<bool>(out.flush());
}

HRESULT Give(const std::wstring& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

std::wstring Take(BSTR text) { return text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// IUnknown as every object here answers it, with counted references, for `Interface` (and `Also`).
// A type cannot be put in parentheses, as the check would have the macro argument be.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define COUNTED_OBJECT(Interface, Also) \
public: \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { \
        if (out == nullptr) return E_POINTER; \
        *out = nullptr; \
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, Also) && !IsEqualIID(iid, __uuidof(Interface))) \
            return E_NOINTERFACE; \
        *out = static_cast<Interface*>(this); \
        AddRef(); \
        return S_OK; \
    } \
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references)); } \
    ULONG STDMETHODCALLTYPE Release() override { \
        const LONG left = InterlockedDecrement(&references); \
        if (left == 0) delete this; \
        return static_cast<ULONG>(left); \
    } \
\
private: \
    LONG references = 1; \
\
public:
// NOLINTEND(bugprone-macro-parentheses)

// And IDispatch, without type information.
#define DISPATCH_OBJECT(Interface) \
    COUNTED_OBJECT(Interface, IID_IDispatch) \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; } \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; } \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; } \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
        return E_NOTIMPL; \
    }

// What Velotrix never asks of the firewall.
#define NOT_HERE(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_NOTIMPL; }

class Rule final : public INetFwRule {
    DISPATCH_OBJECT(INetFwRule)
    Rule() : Rule(RuleData(), false) {}
    Rule(RuleData data, bool stored) : data(std::move(data)), stored(stored) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override { return Give(data.name, out); }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR in) override {
        if (stored) {
            std::vector<RuleData> rules = ReadRules();
            for (RuleData& rule : rules) {
                if (rule != data) continue;
                rule.name = Take(in);
                if (!WriteRules(rules)) return E_ACCESSDENIED;
                break;
            }
        }
        return data.name = Take(in), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR* out) override { return Give(data.remote, out); }
    HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR in) override { return data.remote = Take(in), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* out) override { return Give(data.description, out); }
    HRESULT STDMETHODCALLTYPE put_Description(BSTR in) override { return data.description = Take(in), S_OK; }
    HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR* out) override { return Give(data.program, out); }
    HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR in) override { return data.program = Take(in), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Protocol(LONG* out) override { return *out = data.protocol, S_OK; }
    HRESULT STDMETHODCALLTYPE put_Protocol(LONG in) override { return data.protocol = in, S_OK; }
    HRESULT STDMETHODCALLTYPE get_LocalPorts(BSTR* out) override { return Give(data.ports, out); }
    HRESULT STDMETHODCALLTYPE put_LocalPorts(BSTR in) override { return data.ports = Take(in), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Direction(NET_FW_RULE_DIRECTION* out) override {
        return *out = static_cast<NET_FW_RULE_DIRECTION>(data.direction), S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION in) override { return data.direction = in, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* out) override {
        return *out = data.enabled ? VARIANT_TRUE : VARIANT_FALSE, S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL in) override { return data.enabled = in != VARIANT_FALSE, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Profiles(LONG* out) override { return *out = data.profiles, S_OK; }
    HRESULT STDMETHODCALLTYPE put_Profiles(LONG in) override { return data.profiles = in, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Action(NET_FW_ACTION* out) override {
        return *out = static_cast<NET_FW_ACTION>(data.action), S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION in) override { return data.action = in, S_OK; }
    // The macro makes members that the formatter cannot see as such.
    // clang-format off
    NOT_HERE(get_ServiceName, BSTR*) NOT_HERE(put_ServiceName, BSTR) NOT_HERE(get_RemotePorts, BSTR*)
    NOT_HERE(put_RemotePorts, BSTR) NOT_HERE(get_LocalAddresses, BSTR*) NOT_HERE(put_LocalAddresses, BSTR)
    NOT_HERE(get_IcmpTypesAndCodes, BSTR*)
    NOT_HERE(put_IcmpTypesAndCodes, BSTR) NOT_HERE(get_Interfaces, VARIANT*) NOT_HERE(put_Interfaces, VARIANT)
    NOT_HERE(get_InterfaceTypes, BSTR*) NOT_HERE(put_InterfaceTypes, BSTR) NOT_HERE(get_Grouping, BSTR*)
    NOT_HERE(put_Grouping, BSTR) NOT_HERE(get_EdgeTraversal, VARIANT_BOOL*) NOT_HERE(put_EdgeTraversal, VARIANT_BOOL)
        // clang-format on

        RuleData data;
    bool stored; // read from the table, not made by the factory
};

// The rules as they were when the enumeration was asked for.
class RuleList final : public IEnumVARIANT {
    COUNTED_OBJECT(IEnumVARIANT, IID_IEnumVARIANT)
    explicit RuleList(std::vector<RuleData> rules) : rules(std::move(rules)) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override {
        ULONG given = 0;
        for (; given < wanted && next < rules.size(); ++given, ++next) {
            VariantInit(&items[given]);
            items[given].vt = VT_DISPATCH;
            items[given].pdispVal = new Rule(rules[next], true);
        }
        if (fetched != nullptr) *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        next += count;
        return next <= rules.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return next = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

private:
    std::vector<RuleData> rules;
    std::size_t next = 0;
};

class Rules final : public INetFwRules {
    DISPATCH_OBJECT(INetFwRules)

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        return *count = static_cast<LONG>(ReadRules().size()), S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
        if (rule == nullptr) return E_INVALIDARG;
        // Velotrix adds only rules it made through this DLL's factory.
        std::vector<RuleData> rules = ReadRules();
        rules.push_back(static_cast<Rule*>(rule)->data);
        return WriteRules(rules) ? S_OK : E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
        std::vector<RuleData> kept;
        for (const RuleData& rule : ReadRules())
            if (rule.name != Take(name)) kept.push_back(rule);
        return WriteRules(kept) ? S_OK : E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Item(BSTR name, INetFwRule** rule) override {
        *rule = nullptr;
        for (const RuleData& data : ReadRules()) {
            if (data.name != Take(name)) continue;
            *rule = new Rule(data, true);
            return S_OK;
        }
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** list) override {
        *list = new RuleList(ReadRules());
        return S_OK;
    }
};

class Policy final : public INetFwPolicy2 {
    DISPATCH_OBJECT(INetFwPolicy2)

    HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* profiles) override {
        const bool isPublic = StandIn::Environment(L"VELOTRIX_TEST_FIREWALL_NETWORK") == L"public";
        return *profiles = isPublic ? NET_FW_PROFILE2_PUBLIC : NET_FW_PROFILE2_PRIVATE, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL* on) override {
        return *on = VARIANT_TRUE, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL* block) override {
        return *block = VARIANT_FALSE, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION* action) override {
        return *action = NET_FW_ACTION_BLOCK, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** rules) override { return *rules = new Rules(), S_OK; }
    // clang-format off
    NOT_HERE(put_FirewallEnabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
    NOT_HERE(get_ExcludedInterfaces, NET_FW_PROFILE_TYPE2, VARIANT*)
    NOT_HERE(put_ExcludedInterfaces, NET_FW_PROFILE_TYPE2, VARIANT)
    NOT_HERE(put_BlockAllInboundTraffic, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
    NOT_HERE(get_NotificationsDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL*)
    NOT_HERE(put_NotificationsDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
    NOT_HERE(get_UnicastResponsesToMulticastBroadcastDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL*)
    NOT_HERE(put_UnicastResponsesToMulticastBroadcastDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
    NOT_HERE(get_ServiceRestriction, INetFwServiceRestriction**) NOT_HERE(EnableRuleGroup, LONG, BSTR, VARIANT_BOOL)
    NOT_HERE(IsRuleGroupEnabled, LONG, BSTR, VARIANT_BOOL*) NOT_HERE(RestoreLocalFirewallDefaults)
    NOT_HERE(put_DefaultInboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION)
    NOT_HERE(get_DefaultOutboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION*)
    NOT_HERE(put_DefaultOutboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION)
    NOT_HERE(get_IsRuleGroupCurrentlyEnabled, BSTR, VARIANT_BOOL*) NOT_HERE(get_LocalPolicyModifyState, NET_FW_MODIFY_STATE*)
    // clang-format on
};

// Makes a policy or a rule, whichever class it was asked for; lives as long as the DLL.
class Factory final : public IClassFactory {
public:
    explicit Factory(bool rules) : rules(rules) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        IUnknown* made = rules ? static_cast<IUnknown*>(new Rule()) : static_cast<IUnknown*>(new Policy());
        const HRESULT answer = made->QueryInterface(iid, out);
        made->Release();
        return answer;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    bool rules;
};

Factory policyFactory(false), ruleFactory(true);

} // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
    if (IsEqualCLSID(id, PolicyClass)) return policyFactory.QueryInterface(iid, out);
    if (IsEqualCLSID(id, RuleClass)) return ruleFactory.QueryInterface(iid, out);
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Stays loaded: the programs that use it are short-lived.
extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
