#pragma once

// This PC's name and reachable addresses, the program's own path, and the only conversions between
// the program's UTF-8 text and Windows' UTF-16. None of these fails its caller or keeps state.

#include <string>
#include <vector>

#include "Shell/AddressOrder.h"

namespace Velotrix {

// The DNS host name, else the NetBIOS name, else "PC"; never empty.
std::wstring ComputerName();

// This PC's usable IPv4 addresses (see OrderLocalAddresses), those of the interface toward the
// internet first. Empty without a network, or when Windows cannot list the adapters.
std::vector<LocalAddress> LocalAddresses();

// Malformed input becomes U+FFFD, as Windows converts it without the strict flag. An embedded NUL
// is carried over.
std::string ToUtf8(const std::wstring& text);
std::wstring ToUtf16(const std::string& text);

// The full path of the program's file; empty only if Windows cannot tell it.
std::wstring ModulePath();
// ModulePath up to, not including, its last backslash; the whole path when it has none.
std::wstring ModuleFolder();

} // namespace Velotrix
