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

// The server's receive buffer: a burst of datagrams from a misbehaving sender waits in the kernel
// instead of pushing a player's input out.
inline constexpr int ServerReceiveBuffer = 1 << 20;

// Datagrams received in one call where the OS offers it. Made once per receive thread.
struct ReceiveBatch {
    static constexpr int Count = 16;
    // One more than the largest datagram processed, so a longer one is recognisable.
    static constexpr int BufferSize = 1501;
    std::uint8_t buffers[Count][BufferSize];
    // The datagram's real length (more than BufferSize - 1 when it was cut).
    int lengths[Count];
    SocketAddress from[Count];
    // Set by ReceiveMany when nothing is left queued behind what it took, so that the receive thread
    // can wait again without one more receive to find that out.
    bool emptied = false;
};

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { Close(); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;

    // The server's socket: dual-stack IPv6 (IPV6_V6ONLY off), ICMP resets off on Windows, a 10 ms
    // receive time-out, a receive buffer of ServerReceiveBuffer bytes (as far as the OS grants it),
    // bound to the wildcard address and `port` (0 picks a free one).
    [[nodiscard]] SocketResult OpenServer(std::uint16_t port);
    // A client socket of one family on a free port, with the same receive time-out.
    [[nodiscard]] SocketResult OpenClient(bool ipv6);
    void Close();

    bool IsOpen() const { return handle != invalid; }
    // The OS's socket, for the Waker to wait on; borrowed, never to be closed by the borrower.
    std::intptr_t NativeHandle() const { return handle; }
    std::uint16_t LocalPort() const;
    void SetReceiveTimeout(int milliseconds);

    // Bytes received (at most `size`; a longer datagram is cut), or -1 on time-out or error.
    int Receive(std::uint8_t* buffer, int size, SocketAddress& from);
    // Takes the datagrams already queued, without waiting (recvmmsg on Linux; Windows has no such
    // call for plain sockets, so there it is one, on a socket a Waker watches and so never blocks).
    // Answers how many were received, 0 when none was queued (or an error concerned one datagram
    // only), -1 when the socket itself failed and must be opened anew.
    int ReceiveMany(ReceiveBatch& batch);
    // The receive buffer the OS granted, in bytes (Linux reports twice what it accounts).
    int ReceiveBufferSize() const;
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
// Who sent, for the limits on what one sender may cost: an IPv4 address alone (plain or mapped, so
// both spellings are one sender), an IPv6 address cut to its /64, the block a network hands one
// device; not the port, which any program may change at will. Loopback is the exception: only
// programs of this PC send from there, the tools and tests among them with a socket per phone, so
// there each port is a sender of its own. 16 bytes, comparable as they are.
struct SenderKey {
    std::uint8_t bytes[16] = {};
    bool operator==(const SenderKey&) const = default;
};
SenderKey SenderKeyOf(const SocketAddress& address);

} // namespace Velotrix
