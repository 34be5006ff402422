#pragma once

// Where the program's own file is: for the start-with-Windows value, the firewall rule and the
// driver installer beside it. Neither fails its caller or keeps state.

#include <string>

namespace Velotrix {

// The full path of the program's file; empty only if Windows cannot tell it.
std::wstring ModulePath();
// ModulePath up to, not including, its last backslash; the whole path when it has none.
std::wstring ModuleFolder();

} // namespace Velotrix
