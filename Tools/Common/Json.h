#pragma once

// JSON for the tools' line-by-line output (velotrix-phone, velotrix-devserver), on nlohmann-json.
// ordered_json keeps the keys in the order they were set, so every line reads the same each run.

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace Velotrix {

using JsonLine = nlohmann::ordered_json;

// `text` with each byte that is not valid UTF-8 replaced by U+FFFD, since phone names and cut log
// lines arrive as raw bytes. nlohmann's own replacement would fold a cut character into one U+FFFD;
// the tools' lines have always had one per byte.
std::string ValidUtf8(std::string_view text);

// The line without a newline. Never throws for text: a string that skipped ValidUtf8 is still
// repaired, the way nlohmann does it.
std::string Dump(const JsonLine& line);

// `text` as a quoted JSON string, as each string value of a line comes out.
std::string JsonString(std::string_view text);

} // namespace Velotrix
