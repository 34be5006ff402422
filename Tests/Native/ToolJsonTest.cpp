// The JSON strings both tools print.

#include "Json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velotrix {
namespace {

TEST(ToolJsonTest, StringsEscapeWhatJsonRequiresAndRepairBadUtf8) {
    const std::string replacement = "\xEF\xBF\xBD";
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"", "\"\""},
        {"Anna's iPhone", "\"Anna's iPhone\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\path", "\"C:\\\\path\""},
        {"a\nb\rc\td\be\ff", "\"a\\nb\\rc\\td\\be\\ff\""},
        {std::string("\x00\x01\x1f", 3), "\"\\u0000\\u0001\\u001f\""},
        {"/\x7f", "\"/\x7f\""},
        {"caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D \xF0\x9F\x8F\x8E",
         "\"caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D \xF0\x9F\x8F\x8E\""},
        {"\xFF", "\"" + replacement + "\""},
        {"a\x80z", "\"a" + replacement + "z\""},
        // A line cut inside a character.
        {"x\xE2\x82", "\"x" + replacement + replacement + "\""},
        // Overlong, surrogate and beyond U+10FFFF.
        {"\xC0\xAF", "\"" + replacement + replacement + "\""},
        {"\xED\xA0\x80", "\"" + replacement + replacement + replacement + "\""},
        {"\xF4\x90\x80\x80", "\"" + replacement + replacement + replacement + replacement + "\""},
        {"\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\""},
        {"\xE2\x82\"", "\"" + replacement + replacement + "\\\"\""},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), c.expected);
}

} // namespace
} // namespace Velotrix
