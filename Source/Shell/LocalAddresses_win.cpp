#include "Shell/LocalAddresses.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstring>
#include <optional>

namespace Velotrix {

namespace {

constexpr std::uint32_t adapterBufferSize = 16384;
constexpr int adapterQueryCalls = 3;

// The interface Windows would route 1.1.1.1 through, i.e. the one facing the internet; 0 when
// there is no such route.
std::uint32_t BestInterfaceIndex() {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(0x01010101);
    DWORD index = 0;
    if (GetBestInterfaceEx(reinterpret_cast<sockaddr*>(&destination), &index) != NO_ERROR) return 0;
    return index;
}

// The IPv4 address a socket address holds; none for another family.
std::optional<Ipv4Address> Ipv4Of(const SOCKADDR* address) {
    if (address == nullptr || address->sa_family != AF_INET) return std::nullopt;
    Ipv4Address bytes;
    std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, bytes.size());
    return bytes;
}

std::vector<AdapterFacts> ReadAdapters(const IP_ADAPTER_ADDRESSES* first) {
    std::vector<AdapterFacts> adapters;
    for (const IP_ADAPTER_ADDRESSES* adapter = first; adapter != nullptr; adapter = adapter->Next) {
        AdapterFacts facts;
        AdapterInfo& info = facts.adapter;
        info.interfaceIndex = adapter->IfIndex;
        info.up = adapter->OperStatus == IfOperStatusUp;
        info.softwareLoopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        if (adapter->FriendlyName != nullptr) info.friendlyName = adapter->FriendlyName;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            if (const auto ipv4 = Ipv4Of(unicast->Address.lpSockaddr)) info.addresses.push_back(*ipv4);
        }
        facts.type = adapter->IfType;
        if (adapter->Description != nullptr) facts.description = adapter->Description;
        for (const IP_ADAPTER_GATEWAY_ADDRESS_LH* gateway = adapter->FirstGatewayAddress; gateway != nullptr;
             gateway = gateway->Next) {
            if (const auto ipv4 = Ipv4Of(gateway->Address.lpSockaddr)) facts.gateways.push_back(*ipv4);
        }
        adapters.push_back(std::move(facts));
    }
    return adapters;
}

} // namespace

bool ListAdapters(std::vector<AdapterFacts>& adapters, std::uint32_t& bestInterfaceIndex) {
    bestInterfaceIndex = BestInterfaceIndex();
    std::vector<std::byte> buffer;
    const bool listed =
        QueryGrowingBuffer(buffer, adapterBufferSize, adapterQueryCalls, [](std::byte* data, std::uint32_t& size) {
            ULONG length = size;
            const ULONG flags =
                GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_GATEWAYS;
            const ULONG result =
                GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(data), &length);
            size = length;
            if (result == ERROR_SUCCESS) return BufferAnswer::Filled;
            if (result == ERROR_BUFFER_OVERFLOW) return BufferAnswer::TooSmall;
            return BufferAnswer::Failed;
        });
    adapters.clear();
    if (!listed) return false;
    adapters = ReadAdapters(reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()));
    return true;
}

std::vector<LocalAddress> LocalAddresses() {
    std::vector<AdapterFacts> listed;
    std::uint32_t bestIndex = 0;
    if (!ListAdapters(listed, bestIndex)) return {};
    std::vector<AdapterInfo> adapters;
    adapters.reserve(listed.size());
    for (AdapterFacts& facts : listed) adapters.push_back(std::move(facts.adapter));
    return OrderLocalAddresses(adapters, bestIndex);
}

} // namespace Velotrix
