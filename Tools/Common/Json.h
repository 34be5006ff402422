#pragma once

// JSON text for the tools' line-by-line output (velotrix-phone, velotrix-devserver).

#include <string>
#include <string_view>

namespace Velotrix {

// `text` as a quoted JSON string: quotes, backslashes and control characters escaped, valid UTF-8
// kept as it is, and each byte that is not valid UTF-8 replaced by U+FFFD, since phone names and cut
// log lines arrive as raw bytes.
std::string JsonString(std::string_view text);
void AppendJsonString(std::string& out, std::string_view text);

} // namespace Velotrix
