#include "Shell/LocalAddresses.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstring>

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

std::vector<AdapterInfo> ReadAdapters(const IP_ADAPTER_ADDRESSES* first) {
    std::vector<AdapterInfo> adapters;
    for (const IP_ADAPTER_ADDRESSES* adapter = first; adapter != nullptr; adapter = adapter->Next) {
        AdapterInfo info;
        info.interfaceIndex = adapter->IfIndex;
        info.up = adapter->OperStatus == IfOperStatusUp;
        info.softwareLoopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        if (adapter->FriendlyName != nullptr) info.friendlyName = adapter->FriendlyName;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const SOCKADDR* socketAddress = unicast->Address.lpSockaddr;
            if (socketAddress == nullptr || socketAddress->sa_family != AF_INET) continue;
            const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(socketAddress);
            Ipv4Address bytes;
            std::memcpy(bytes.data(), &ipv4->sin_addr, bytes.size());
            info.addresses.push_back(bytes);
        }
        adapters.push_back(std::move(info));
    }
    return adapters;
}

} // namespace

std::vector<LocalAddress> LocalAddresses() {
    const std::uint32_t bestIndex = BestInterfaceIndex();
    std::vector<std::byte> buffer;
    const bool listed =
        QueryGrowingBuffer(buffer, adapterBufferSize, adapterQueryCalls, [](std::byte* data, std::uint32_t& size) {
            ULONG length = size;
            const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
            const ULONG result =
                GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(data), &length);
            size = length;
            if (result == ERROR_SUCCESS) return BufferAnswer::Filled;
            if (result == ERROR_BUFFER_OVERFLOW) return BufferAnswer::TooSmall;
            return BufferAnswer::Failed;
        });
    if (!listed) return {};
    return OrderLocalAddresses(ReadAdapters(reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data())), bestIndex);
}

} // namespace Velotrix
