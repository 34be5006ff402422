#include "Platform/UdpSocket.h"

#include <cerrno>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace Velotrix {

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
    int fd = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) return SocketResult::NoSocket;
    int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    handle = fd;
    SetReceiveTimeout(10);
    int size = ServerReceiveBuffer;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    // SO_RCVBUF is capped by net.core.rmem_max (often 208 KiB); a privileged process may go past it.
    if (ReceiveBufferSize() < ServerReceiveBuffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_addr = in6addr_any;
    local.sin6_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        Close();
        return SocketResult::BindFailed;
    }
    return SocketResult::Ok;
}

SocketResult UdpSocket::OpenClient(bool ipv6) {
    Close();
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) return SocketResult::NoSocket;
    handle = fd;
    SetReceiveTimeout(10);
    // Bound now rather than at the first send, so the port is known before anything was sent.
    sockaddr_storage local{};
    local.ss_family = static_cast<sa_family_t>(ipv6 ? AF_INET6 : AF_INET);
    const socklen_t length = ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), length) != 0) {
        Close();
        return SocketResult::BindFailed;
    }
    return SocketResult::Ok;
}

void UdpSocket::Close() {
    if (handle == invalid) return;
    close(static_cast<int>(handle));
    handle = invalid;
}

std::uint16_t UdpSocket::LocalPort() const {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (handle == invalid || getsockname(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    if (local.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
}

void UdpSocket::SetReceiveTimeout(int milliseconds) {
    timeval timeout{};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
    setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

int UdpSocket::Receive(std::uint8_t* buffer, int size, SocketAddress& from) {
    socklen_t length = sizeof from.bytes;
    ssize_t received = recvfrom(static_cast<int>(handle), buffer, static_cast<size_t>(size), MSG_TRUNC,
                                reinterpret_cast<sockaddr*>(from.bytes), &length);
    if (received < 0) return -1;
    from.length = static_cast<std::int32_t>(length);
    // MSG_TRUNC reports the datagram's real length, so an oversized one is recognisable, as on Windows.
    return static_cast<int>(received);
}

int UdpSocket::ReceiveMany(ReceiveBatch& batch) {
    mmsghdr messages[ReceiveBatch::Count];
    iovec vectors[ReceiveBatch::Count];
    for (int i = 0; i < ReceiveBatch::Count; ++i) {
        vectors[i] = {batch.buffers[i], ReceiveBatch::BufferSize};
        messages[i] = {};
        messages[i].msg_hdr.msg_name = batch.from[i].bytes;
        messages[i].msg_hdr.msg_namelen = sizeof batch.from[i].bytes;
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int received = recvmmsg(static_cast<int>(handle), messages, ReceiveBatch::Count, MSG_DONTWAIT, nullptr);
    if (received < 0) {
        // Nothing queued, a signal, or an ICMP report about an earlier datagram is no fault of the socket.
        const int error = errno;
        batch.emptied = error == EAGAIN || error == EWOULDBLOCK;
        const bool passing = batch.emptied || error == EINTR || error == ECONNREFUSED || error == ENOMEM;
        return passing ? 0 : -1;
    }
    // Fewer than asked for: the queue is empty now.
    batch.emptied = received < ReceiveBatch::Count;
    if (received == 0) return 0;
    for (int i = 0; i < received; ++i) {
        batch.from[i].length = static_cast<std::int32_t>(messages[i].msg_hdr.msg_namelen);
        const bool cut = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        batch.lengths[i] = cut ? ReceiveBatch::BufferSize + 1 : static_cast<int>(messages[i].msg_len);
    }
    return received;
}

int UdpSocket::ReceiveBufferSize() const {
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_RCVBUF, &size, &length) != 0) return 0;
    return size;
}

void UdpSocket::SendTo(const std::uint8_t* data, int size, const SocketAddress& to) {
    if (handle == invalid) return;
    sendto(static_cast<int>(handle), data, static_cast<size_t>(size), 0, reinterpret_cast<const sockaddr*>(to.bytes),
           static_cast<socklen_t>(to.length));
}

bool ResolveAddress(const std::string& host, std::uint16_t port, bool preferIpv6, SocketAddress& out) {
    addrinfo hints{};
    hints.ai_family = preferIpv6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    bool ok = found->ai_addrlen <= sizeof out.bytes;
    if (ok) {
        out = SocketAddress{};
        std::memcpy(out.bytes, found->ai_addr, found->ai_addrlen);
        out.length = static_cast<std::int32_t>(found->ai_addrlen);
        if (found->ai_family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(out.bytes)->sin6_port = htons(port);
        else
            reinterpret_cast<sockaddr_in*>(out.bytes)->sin_port = htons(port);
    }
    freeaddrinfo(found);
    return ok;
}

} // namespace Velotrix
