#include "Shell/AddressOrder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace Velotrix {
namespace {

struct Expected {
    std::string address;
    std::wstring interfaceName;
    bool best;
};

struct OrderCase {
    const char* name;
    std::vector<AdapterInfo> adapters;
    std::uint32_t bestIndex;
    std::vector<Expected> expected;
};

AdapterInfo Adapter(std::uint32_t index, const wchar_t* name, std::vector<Ipv4Address> addresses, bool up = true,
                    bool loopback = false) {
    return {index, up, loopback, name, std::move(addresses)};
}

TEST(AddressOrderTest, KeepsUsableAddressesWithTheBestInterfaceFirst) {
    const std::vector<OrderCase> cases = {
        {"Wi-Fi is the internet route, Ethernet listed before it",
         {Adapter(3, L"Ethernet", {{10, 0, 0, 5}}), Adapter(7, L"Wi-Fi", {{192, 168, 1, 20}})},
         7,
         {{"192.168.1.20", L"Wi-Fi", true}, {"10.0.0.5", L"Ethernet", false}}},
        {"several addresses on the best interface: the last walked stands first",
         {Adapter(2, L"Ethernet", {{10, 0, 0, 5}}),
          Adapter(7, L"Wi-Fi", {{192, 168, 1, 20}, {192, 168, 1, 21}, {192, 168, 1, 22}}),
          Adapter(9, L"VPN", {{172, 16, 0, 1}})},
         7,
         {{"192.168.1.22", L"Wi-Fi", true},
          {"192.168.1.21", L"Wi-Fi", true},
          {"192.168.1.20", L"Wi-Fi", true},
          {"10.0.0.5", L"Ethernet", false},
          {"172.16.0.1", L"VPN", false}}},
        {"no route to the internet: adapter order, none best",
         {Adapter(7, L"Wi-Fi", {{192, 168, 1, 20}}), Adapter(3, L"Ethernet", {{10, 0, 0, 5}, {10, 0, 0, 6}})},
         0,
         {{"192.168.1.20", L"Wi-Fi", false}, {"10.0.0.5", L"Ethernet", false}, {"10.0.0.6", L"Ethernet", false}}},
        {"an adapter that is down contributes nothing, even when it is the best route",
         {Adapter(3, L"Ethernet", {{10, 0, 0, 5}}, false), Adapter(7, L"Wi-Fi", {{192, 168, 1, 20}})},
         3,
         {{"192.168.1.20", L"Wi-Fi", false}}},
        {"loopback adapter and loopback or link-local addresses are left out",
         {Adapter(1, L"Loopback Pseudo-Interface 1", {{127, 0, 0, 1}, {10, 1, 1, 1}}, true, true),
          Adapter(4, L"Ethernet",
                  {{127, 5, 6, 7},
                   {169, 254, 3, 4},
                   {169, 253, 255, 255},
                   {169, 255, 0, 1},
                   {128, 0, 0, 1},
                   {126, 255, 255, 255}})},
         4,
         {{"126.255.255.255", L"Ethernet", true},
          {"128.0.0.1", L"Ethernet", true},
          {"169.255.0.1", L"Ethernet", true},
          {"169.253.255.255", L"Ethernet", true}}},
        {"loopback and link-local only: empty",
         {Adapter(1, L"Loopback", {{127, 0, 0, 1}}, true, true), Adapter(4, L"Ethernet", {{169, 254, 10, 10}})},
         4,
         {}},
        {"no adapters", {}, 5, {}},
        {"an adapter without a friendly name keeps an empty one",
         {Adapter(5, L"", {{255, 255, 255, 254}, {0, 0, 0, 0}})},
         0,
         {{"255.255.255.254", L"", false}, {"0.0.0.0", L"", false}}},
    };
    for (const OrderCase& test : cases) {
        SCOPED_TRACE(test.name);
        const std::vector<LocalAddress> ordered = OrderLocalAddresses(test.adapters, test.bestIndex);
        ASSERT_EQ(ordered.size(), test.expected.size());
        for (size_t i = 0; i < ordered.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(ordered[i].address, test.expected[i].address);
            EXPECT_EQ(ordered[i].interfaceName, test.expected[i].interfaceName);
            EXPECT_EQ(ordered[i].best, test.expected[i].best);
        }
    }
}

// A query that wants `needs[call]` bytes on each call (growing as adapters appear) and fails with
// Failed where `needs` holds 0.
struct ScriptedQuery {
    std::vector<std::uint32_t> needs;
    std::vector<std::uint32_t> offered;

    BufferAnswer operator()(std::byte* data, std::uint32_t& size) {
        offered.push_back(size);
        const std::uint32_t need = needs.at(offered.size() - 1);
        if (need == 0) return BufferAnswer::Failed;
        if (size < need) {
            size = need;
            return BufferAnswer::TooSmall;
        }
        std::memset(data, 0xAB, need);
        return BufferAnswer::Filled;
    }
};

TEST(AddressOrderTest, GrowsTheAdapterBufferAtMostThreeCalls) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> needs;
        bool filled;
        std::vector<std::uint32_t> offered;
    };
    const std::vector<Case> cases = {
        {"fits at once", {100}, true, {16384}},
        {"grows once", {20000, 20000}, true, {16384, 20000}},
        {"grows twice as adapters appear meanwhile", {20000, 30000, 30000}, true, {16384, 20000, 30000}},
        {"still too small on the third call", {20000, 30000, 40000, 40000}, false, {16384, 20000, 30000}},
        {"failure other than overflow stops at once", {0, 100}, false, {16384}},
        {"failure after growing", {20000, 0}, false, {16384, 20000}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedQuery query{test.needs, {}};
        std::vector<std::byte> buffer;
        const bool filled = QueryGrowingBuffer(buffer, 16384, 3, query);
        EXPECT_EQ(filled, test.filled);
        EXPECT_EQ(query.offered, test.offered);
        if (filled) {
            ASSERT_EQ(buffer.size(), test.offered.back());
            EXPECT_EQ(buffer.front(), std::byte{0xAB});
        } else {
            EXPECT_TRUE(buffer.empty());
        }
    }
}

} // namespace
} // namespace Velotrix
