#include "Platform/UdpSocket.h"

#include "Platform/SocketApi.h"

#include <cstring>

namespace Velotrix {

SocketAddress LoopbackAddress(bool ipv6, std::uint16_t port) {
    SocketAddress out;
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        address.sin6_port = htons(port);
        std::memcpy(out.bytes, &address, sizeof address);
        out.length = sizeof address;
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        std::memcpy(out.bytes, &address, sizeof address);
        out.length = sizeof address;
    }
    return out;
}

SocketAddress MapToIpv6(const SocketAddress& address) {
    const auto* generic = reinterpret_cast<const sockaddr*>(address.bytes);
    if (generic->sa_family != AF_INET) return address;
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address.bytes);
    sockaddr_in6 mapped{};
    mapped.sin6_family = AF_INET6;
    mapped.sin6_port = v4->sin_port;
    mapped.sin6_addr.s6_addr[10] = 0xFF;
    mapped.sin6_addr.s6_addr[11] = 0xFF;
    std::memcpy(&mapped.sin6_addr.s6_addr[12], &v4->sin_addr, 4);
    SocketAddress out;
    std::memcpy(out.bytes, &mapped, sizeof mapped);
    out.length = sizeof mapped;
    return out;
}

std::string AddressText(const SocketAddress& address) {
    char text[65] = {};
    const auto* generic = reinterpret_cast<const sockaddr*>(address.bytes);
    if (generic->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address.bytes)->sin_addr, text, sizeof text);
        return text;
    }
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address.bytes);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr))
        inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
    else
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    return text;
}

std::uint16_t AddressPort(const SocketAddress& address) {
    const auto* generic = reinterpret_cast<const sockaddr*>(address.bytes);
    if (generic->sa_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(address.bytes)->sin_port);
    return ntohs(reinterpret_cast<const sockaddr_in6*>(address.bytes)->sin6_port);
}

SenderKey SenderKeyOf(const SocketAddress& address) {
    const SocketAddress mapped = MapToIpv6(address);
    SenderKey key;
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(mapped.bytes);
    if (reinterpret_cast<const sockaddr*>(mapped.bytes)->sa_family != AF_INET6) return key;
    const bool v4 = IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr);
    const bool loopback = v4 ? v6->sin6_addr.s6_addr[12] == 127 : IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    std::memcpy(key.bytes, &v6->sin6_addr, v4 || loopback ? 16 : 8);
    // Bytes no network address of either kind has there: the mapped prefix and ::1 start with zeros.
    if (loopback) std::memcpy(key.bytes, &v6->sin6_port, sizeof v6->sin6_port);
    return key;
}

std::string FormatAddress(const SocketAddress& address) {
    const std::string host = AddressText(address);
    const std::string port = std::to_string(AddressPort(address));
    return host.find(':') != std::string::npos ? "[" + host + "]:" + port : host + ":" + port;
}

} // namespace Velotrix
