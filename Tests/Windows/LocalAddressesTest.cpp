#include "Shell/LocalAddresses.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

namespace Velotrix {
namespace {

// Which interfaces count is the product's own rule; from outside, every listed address is a usable
// IPv4 address with its interface's name, and the best ones come first.
TEST(LocalAddressesTest, AreUsableIpv4AddressesBestFirst) {
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
