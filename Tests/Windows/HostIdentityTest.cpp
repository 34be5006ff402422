#include "Shell/HostIdentity.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

namespace Velotrix {
namespace {

using namespace std::string_literals;

TEST(HostIdentityTest, ConvertsBetweenUtf8AndUtf16BothWays) {
    struct Case {
        const char* name;
        std::wstring utf16;
        std::string utf8;
    };
    const std::vector<Case> cases = {
        {"empty", L"", ""},
        {"plain", L"RACING-PC", "RACING-PC"},
        {"accented letters", L"Caf\u00e9 d\u2019\u00c9lodie", "Caf\xC3\xA9 d\xE2\x80\x99\xC3\x89lodie"},
        {"outside the basic plane", L"\xD83C\xDFCE\xFE0F", "\xF0\x9F\x8F\x8E\xEF\xB8\x8F"},
        {"embedded NUL", L"a\0b"s, "a\0b"s},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(ToUtf8(test.utf16), test.utf8);
        EXPECT_EQ(ToUtf16(test.utf8), test.utf16);
    }
}

TEST(HostIdentityTest, MalformedTextBecomesReplacementCharacters) {
    struct Utf16Case {
        const char* name;
        std::wstring input;
        std::string expected;
    };
    const std::vector<Utf16Case> fromUtf16 = {
        {"lone high surrogate", L"A\xD800"s + L"B", "A\xEF\xBF\xBD" "B"},
        {"lone low surrogate at the end", L"A\xDC00", "A\xEF\xBF\xBD"},
    };
    for (const Utf16Case& test : fromUtf16) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(ToUtf8(test.input), test.expected);
    }

    struct Utf8Case {
        const char* name;
        std::string input;
        std::wstring expected;
    };
    const std::vector<Utf8Case> fromUtf8 = {
        {"cut sequence", "Caf\xC3", L"Caf\xFFFD"},
        {"byte that never starts a sequence", "\xFF" "x", L"\xFFFDx"},
        {"stray continuation byte", "a\x80" "b", L"a\xFFFD" L"b"},
    };
    for (const Utf8Case& test : fromUtf8) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(ToUtf16(test.input), test.expected);
    }
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

TEST(HostIdentityTest, ComputerNameIsTheHostNameWithoutTerminator) {
    const std::wstring name = ComputerName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.find(L'\0'), std::wstring::npos);

    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    char host[256] = {};
    const int answer = gethostname(host, sizeof host);
    WSACleanup();
    ASSERT_EQ(answer, 0);
    EXPECT_EQ(Lower(name), Lower(ToUtf16(host)));
}

TEST(HostIdentityTest, ModulePathAndFolderNameThisProgram) {
    const std::wstring path = ModulePath();
    const std::wstring folder = ModuleFolder();
    ASSERT_GT(path.size(), 3u);
    EXPECT_EQ(path.find(L'\0'), std::wstring::npos);
    EXPECT_EQ(Lower(path.substr(path.rfind(L'\\') + 1)), L"velotrix_wintests.exe");
    EXPECT_EQ(path.substr(0, folder.size() + 1), folder + L"\\");
    EXPECT_EQ(folder.find(L'\\', folder.size()), std::wstring::npos);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Which interfaces count is the product's own rule; from outside, every listed address is a usable
// IPv4 address with its interface's name, and the best ones come first.
TEST(HostIdentityTest, LocalAddressesAreUsableIpv4AddressesBestFirst) {
    bool otherSeen = false;
    for (const LocalAddress& address : LocalAddresses()) {
        SCOPED_TRACE(address.address);
        in_addr parsed{};
        ASSERT_EQ(inet_pton(AF_INET, address.address.c_str(), &parsed), 1);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&parsed);
        EXPECT_NE(bytes[0], 127) << "loopback";
        EXPECT_FALSE(bytes[0] == 169 && bytes[1] == 254) << "link-local";
        EXPECT_FALSE(address.interfaceName.empty());
        if (address.best) {
            EXPECT_FALSE(otherSeen) << "a best address after one that is not";
        }
        otherSeen = otherSeen || !address.best;
    }
}

} // namespace
} // namespace Velotrix
