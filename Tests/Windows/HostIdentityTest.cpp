#include "Shell/HostIdentity.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace Velotrix {
namespace {

using namespace std::string_literals;

TEST(HostIdentityTest, ConvertsBetweenUtf8AndUtf16BothWays) {
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
    EXPECT_EQ(_wcsicmp(name.c_str(), ToUtf16(host).c_str()), 0) << ToUtf8(name) << " vs " << host;
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
        EXPECT_FALSE(address.best && otherSeen) << "a best address after one that is not";
        otherSeen = otherSeen || !address.best;
    }
}

} // namespace
} // namespace Velotrix
