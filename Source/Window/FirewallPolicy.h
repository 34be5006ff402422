#pragma once

// The firewall's COM objects as the probe and the rule writer both reach them: the policy and its
// rule list, the rules one by one, and the texts the rules keep.

#include <windows.h>
#include <netfw.h>
#include <oleauto.h>

#include <string>

#include "Common/UniqueResource.h"
#include "Platform/ComPtr.h"

namespace Velotrix {

// The class ids of the firewall's objects, as Windows documents them; mingw-w64's import libraries
// leave them undefined.
inline constexpr CLSID NetFwPolicy2Class = {
    0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
inline constexpr CLSID NetFwRuleClass = {0x2c5bc43e, 0x3369, 0x4c33, {0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a, 0xf4}};

inline constexpr long HomeProfiles = NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PRIVATE;

struct BstrTraits {
    using Value = BSTR;
    static Value Invalid() { return nullptr; }
    static void Release(Value text) { SysFreeString(text); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

// Null when the string cannot be had.
UniqueBstr MakeBstr(const std::wstring& text);
// Empty for a null string.
std::wstring TextOf(const UniqueBstr& text);

// Whether a rule's program names `programPath`. Rules store the program as typed, sometimes with
// "%ProgramFiles%" and in any letter case.
bool SameProgram(const std::wstring& ruleProgram, const std::wstring& programPath);

// The policy object and its rule list; the first failing result, or S_OK with both set.
HRESULT OpenPolicy(ComPtr<INetFwPolicy2>& policy, ComPtr<INetFwRules>& rules);

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

} // namespace Velotrix
