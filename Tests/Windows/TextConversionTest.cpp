#include "Shell/TextConversion.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace Velotrix {
namespace {

using namespace std::string_literals;

TEST(TextConversionTest, ConvertsBetweenUtf8AndUtf16BothWays) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"Caf\u00e9 d\u2019\u00c9lodie", "Caf\xC3\xA9 d\xE2\x80\x99\xC3\x89lodie"},
        {L"\xD83C\xDFCE\xFE0F", "\xF0\x9F\x8F\x8E\xEF\xB8\x8F"}, // outside the basic plane
        {L"a\0b"s, "a\0b"s},
    };
    for (const auto& [utf16, utf8] : cases) {
        EXPECT_EQ(ToUtf8(utf16), utf8);
        EXPECT_EQ(ToUtf16(utf8), utf16);
    }
    // Malformed text becomes replacement characters instead of nothing.
    EXPECT_EQ(ToUtf8(L"A\xD800"s + L"B"), "A\xEF\xBF\xBD"
                                          "B");
    EXPECT_EQ(ToUtf16("a\x80"
                      "b"),
              L"a\xFFFD"
              L"b");
    EXPECT_EQ(ToUtf16("Caf\xC3"), L"Caf\xFFFD");
}

} // namespace
} // namespace Velotrix
