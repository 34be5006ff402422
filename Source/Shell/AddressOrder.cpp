#include "Shell/AddressOrder.h"

#include <cstdio>

namespace Velotrix {

namespace {

bool Usable(const Ipv4Address& address) {
    const bool loopback = address[0] == 127;
    const bool linkLocal = address[0] == 169 && address[1] == 254;
    return !loopback && !linkLocal;
}

} // namespace

std::string FormatIpv4(const Ipv4Address& address) {
    char text[22];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return text;
}

std::vector<LocalAddress> OrderLocalAddresses(const std::vector<AdapterInfo>& adapters,
                                              std::uint32_t bestInterfaceIndex) {
    std::vector<LocalAddress> result;
    for (const AdapterInfo& adapter : adapters) {
        if (!adapter.up || adapter.softwareLoopback) continue;
        const bool best = bestInterfaceIndex != 0 && adapter.interfaceIndex == bestInterfaceIndex;
        for (const Ipv4Address& address : adapter.addresses) {
            if (!Usable(address)) continue;
            LocalAddress record{FormatIpv4(address), adapter.friendlyName, best};
            if (best) {
                result.insert(result.begin(), std::move(record));
            } else {
                result.push_back(std::move(record));
            }
        }
    }
    return result;
}

} // namespace Velotrix
