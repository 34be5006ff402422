#pragma once

// Which of this PC's IPv4 addresses a phone can reach, and in what order the program offers them.
// The rules live here, apart from the OS calls that list the adapters, so they can be tested with
// adapters made up for the purpose.

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace Velotrix {

struct LocalAddress {
    std::string address;        // dotted decimal
    std::wstring interfaceName; // the adapter's friendly name as Windows shows it; empty when it has none
    bool best = false;          // on the interface Windows would use to reach the internet
};

using Ipv4Address = std::array<std::uint8_t, 4>; // most significant byte first, as written

// One network adapter as the OS lists it, reduced to what the ordering looks at.
struct AdapterInfo {
    std::uint32_t interfaceIndex = 0;
    bool up = false;
    bool softwareLoopback = false;
    std::wstring friendlyName;
    std::vector<Ipv4Address> addresses; // its unicast IPv4 addresses, in the order the OS gives them
};

// One adapter with what the self-check names besides: its kind, description and gateways.
struct AdapterFacts {
    AdapterInfo adapter;
    std::uint32_t type = 0; // IANA ifType: 6 Ethernet, 71 Wi-Fi, 131 tunnel, ...
    std::wstring description;
    std::vector<Ipv4Address> gateways;
};

// The usable addresses of `adapters`, walked in their order. An adapter counts only when it is up
// and not a software loopback; of its addresses, those in 127.0.0.0/8 and 169.254.0.0/16 are left
// out. Records of the adapter whose index is `bestInterfaceIndex` are marked best and each is put
// in front of the list, so that when the best adapter has several addresses the last one walked
// stands first. A `bestInterfaceIndex` of 0 (no route known) marks nothing best.
std::vector<LocalAddress> OrderLocalAddresses(const std::vector<AdapterInfo>& adapters,
                                              std::uint32_t bestInterfaceIndex);

std::string FormatIpv4(const Ipv4Address& address);

// What one call of a size-asking OS query answered.
enum class BufferAnswer {
    Filled,   // the buffer holds the answer
    TooSmall, // `size` now holds the size the query needs
    Failed,
};

// Calls `query(data, size)` with a buffer of `initialSize` bytes; while it answers TooSmall, grows
// the buffer to the size it asked for and calls again, `maxCalls` calls in all. Answers true with
// the filled buffer in `buffer`; false when the query failed, still wanted more room on its last
// call, or memory ran out. The buffer comes from operator new, so it is aligned for any OS record.
template <typename Query>
[[nodiscard]] bool QueryGrowingBuffer(std::vector<std::byte>& buffer, std::uint32_t initialSize, int maxCalls,
                                      Query&& query) {
    std::uint32_t size = initialSize;
    for (int call = 0; call < maxCalls; ++call) {
        try {
            buffer.assign(size, std::byte{0});
        } catch (const std::bad_alloc&) {
            buffer.clear();
            return false;
        }
        switch (query(buffer.data(), size)) {
        case BufferAnswer::Filled:
            return true;
        case BufferAnswer::TooSmall:
            continue;
        case BufferAnswer::Failed:
            break;
        }
        break;
    }
    buffer.clear();
    return false;
}

} // namespace Velotrix
