#pragma once

// The UDP socket the server listens on, and the client sockets of the phone simulator and the tests.
// Winsock on Windows, BSD sockets elsewhere; nothing of either leaks into this header.

#include <cstdint>
#include <string>

namespace Velotrix {

// A socket address as the OS reported it: room for an IPv6 address (28 bytes on every OS here), with
// IPv4 phones showing up as IPv4-mapped IPv6 addresses on the dual-stack socket.
struct SocketAddress {
    alignas(8) std::uint8_t bytes[28] = {};
    std::int32_t length = 0;
};

enum class SocketResult { Ok, NoSocket, BindFailed };

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { Close(); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;

    // The server's socket: dual-stack IPv6 (IPV6_V6ONLY off), ICMP resets off on Windows, a 10 ms
    // receive time-out, bound to the wildcard address and `port` (0 picks a free one).
    [[nodiscard]] SocketResult OpenServer(std::uint16_t port);
    // A client socket of one family on a free port, with the same receive time-out.
    [[nodiscard]] SocketResult OpenClient(bool ipv6);
    void Close();

    bool IsOpen() const { return handle != invalid; }
    std::uint16_t LocalPort() const;
    void SetReceiveTimeout(int milliseconds);

    // Bytes received (at most `size`; a longer datagram is cut), or -1 on time-out or error.
    int Receive(std::uint8_t* buffer, int size, SocketAddress& from);
    // The result is deliberately not reported: a phone that went away must not disturb the sender.
    void SendTo(const std::uint8_t* data, int size, const SocketAddress& to);

private:
    static constexpr std::intptr_t invalid = -1;
    std::intptr_t handle = invalid;
};

// "127.0.0.1", "::1", a host name; false when it does not resolve.
[[nodiscard]] bool ResolveAddress(const std::string& host, std::uint16_t port, bool preferIpv6, SocketAddress& out);
// The loopback address of one family, for tests.
SocketAddress LoopbackAddress(bool ipv6, std::uint16_t port);
// An IPv4 address as the dual-stack server socket reports it (::ffff:a.b.c.d); others unchanged.
SocketAddress MapToIpv6(const SocketAddress& address);
// The address without its port, "::1" or "127.0.0.1"; IPv4-mapped addresses are shown as IPv4.
// Empty when it cannot be formatted.
std::string AddressText(const SocketAddress& address);
// "[::1]:5000" or "127.0.0.1:5000".
std::string FormatAddress(const SocketAddress& address);
std::uint16_t AddressPort(const SocketAddress& address);

} // namespace Velotrix
