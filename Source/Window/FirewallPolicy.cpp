#include "Window/FirewallPolicy.h"

namespace Velotrix {

UniqueBstr MakeBstr(const std::wstring& text) { return UniqueBstr(SysAllocString(text.c_str())); }

std::wstring TextOf(const UniqueBstr& text) {
    return text ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring();
}

bool SameProgram(const std::wstring& ruleProgram, const std::wstring& programPath) {
    wchar_t expanded[MAX_PATH * 2] = {};
    const DWORD length =
        ExpandEnvironmentStringsW(ruleProgram.c_str(), expanded, static_cast<DWORD>(std::size(expanded)));
    const std::wstring path = length > 0 && length <= std::size(expanded) ? std::wstring(expanded) : ruleProgram;
    return CompareStringOrdinal(path.c_str(), -1, programPath.c_str(), -1, TRUE) == CSTR_EQUAL;
}

HRESULT OpenPolicy(ComPtr<INetFwPolicy2>& policy, ComPtr<INetFwRules>& rules) {
    HRESULT hr = CoCreateInstance(NetFwPolicy2Class, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                                  reinterpret_cast<void**>(policy.Put()));
    if (FAILED(hr)) return hr;
    hr = policy->get_Rules(rules.Put());
    if (SUCCEEDED(hr) && !rules) hr = E_POINTER;
    return hr;
}

} // namespace Velotrix
