#include "Platform/UdpSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <cstring>
#include <utility>

namespace Velotrix {

namespace {

SOCKET Raw(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

} // namespace

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : handle(std::exchange(other.handle, invalid)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        handle = std::exchange(other.handle, invalid);
    }
    return *this;
}

SocketResult UdpSocket::OpenServer(std::uint16_t port) {
    Close();
    // Every open socket holds one Winsock reference, released again in Close.
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET raw = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    if (raw == INVALID_SOCKET) {
        WSACleanup();
        return SocketResult::NoSocket;
    }
    handle = static_cast<std::intptr_t>(raw);
    DWORD off = 0;
    setsockopt(raw, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
    // Without this, an ICMP port-unreachable caused by a datagram to a phone that went away makes the
    // next receive fail with WSAECONNRESET.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(raw, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    SetReceiveTimeout(10);
    int size = ServerReceiveBuffer;
    setsockopt(raw, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_addr = in6addr_any;
    local.sin6_port = htons(port);
    if (bind(raw, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        Close();
        return SocketResult::BindFailed;
    }
    return SocketResult::Ok;
}

SocketResult UdpSocket::OpenClient(bool ipv6) {
    Close();
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET raw = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (raw == INVALID_SOCKET) {
        WSACleanup();
        return SocketResult::NoSocket;
    }
    handle = static_cast<std::intptr_t>(raw);
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(raw, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    SetReceiveTimeout(10);
    // Winsock refuses recvfrom on a socket that was never bound, so a failed bind fails the open.
    int bound = SOCKET_ERROR;
    if (ipv6) {
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_addr = in6addr_any;
        bound = bind(raw, reinterpret_cast<sockaddr*>(&local), sizeof local);
    } else {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        bound = bind(raw, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    if (bound != 0) {
        Close();
        return SocketResult::BindFailed;
    }
    return SocketResult::Ok;
}

void UdpSocket::Close() {
    if (handle == invalid) return;
    closesocket(Raw(handle));
    handle = invalid;
    WSACleanup();
}

std::uint16_t UdpSocket::LocalPort() const {
    sockaddr_storage local{};
    int length = sizeof local;
    if (handle == invalid || getsockname(Raw(handle), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    if (local.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
}

void UdpSocket::SetReceiveTimeout(int milliseconds) {
    DWORD timeout = static_cast<DWORD>(milliseconds);
    setsockopt(Raw(handle), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
}

int UdpSocket::Receive(std::uint8_t* buffer, int size, SocketAddress& from) {
    int length = sizeof from.bytes;
    int received = recvfrom(Raw(handle), reinterpret_cast<char*>(buffer), size, 0,
                            reinterpret_cast<sockaddr*>(from.bytes), &length);
    if (received == SOCKET_ERROR) {
        // An oversized datagram: answer more than fits, as the BSD side does, so it is dropped whole.
        if (WSAGetLastError() == WSAEMSGSIZE) return size + 1;
        return -1;
    }
    from.length = length;
    return received;
}

int UdpSocket::ReceiveMany(ReceiveBatch& batch) {
    // Winsock's batched receive needs Registered I/O, a different socket model; one at a time here.
    const int received = Receive(batch.buffers[0], ReceiveBatch::BufferSize, batch.from[0]);
    batch.emptied = false;
    if (received < 0) {
        // Nothing queued, or a report about one datagram, is no fault of the socket; the rest (a network
        // stack reset under it across sleep, WSAENETDOWN, WSAENOTSOCK) is.
        const int error = WSAGetLastError();
        batch.emptied = error == WSAEWOULDBLOCK || error == WSAETIMEDOUT;
        const bool passing = batch.emptied || error == WSAECONNRESET || error == WSAEMSGSIZE || error == WSAEINTR ||
                             error == WSAENETRESET;
        return passing ? 0 : -1;
    }
    if (received == 0) return 0;
    batch.lengths[0] = received;
    return 1;
}

int UdpSocket::ReceiveBufferSize() const {
    int size = 0;
    int length = sizeof size;
    if (getsockopt(Raw(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &length) != 0) return 0;
    return size;
}

void UdpSocket::SendTo(const std::uint8_t* data, int size, const SocketAddress& to) {
    if (handle == invalid) return;
    sendto(Raw(handle), reinterpret_cast<const char*>(data), size, 0, reinterpret_cast<const sockaddr*>(to.bytes),
           to.length);
}

bool ResolveAddress(const std::string& host, std::uint16_t port, bool preferIpv6, SocketAddress& out) {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    addrinfo hints{};
    hints.ai_family = preferIpv6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr &&
              found->ai_addrlen <= sizeof out.bytes;
    if (ok) {
        out = SocketAddress{};
        std::memcpy(out.bytes, found->ai_addr, found->ai_addrlen);
        out.length = static_cast<std::int32_t>(found->ai_addrlen);
        if (found->ai_family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(out.bytes)->sin6_port = htons(port);
        else
            reinterpret_cast<sockaddr_in*>(out.bytes)->sin_port = htons(port);
    }
    if (found != nullptr) freeaddrinfo(found);
    WSACleanup();
    return ok;
}

} // namespace Velotrix
