#pragma once

// The only conversions between the program's UTF-8 text (server, protocol, settings' list, log) and
// the UTF-16 text of Windows calls. Neither fails its caller or keeps state.

#include <string>

namespace Velotrix {

// Malformed input becomes U+FFFD, as Windows converts it without the strict flag. An embedded NUL
// is carried over.
std::string ToUtf8(const std::wstring& text);
std::wstring ToUtf16(const std::string& text);

} // namespace Velotrix
