#include "TestPhone.h"

#include "Platform/Os.h"

namespace Velotrix {

TestPhone::TestPhone(std::string name, std::uint8_t idSeed, bool ipv6) : name(std::move(name)), ipv6(ipv6) {
    for (std::size_t i = 0; i < id.bytes.size(); ++i) id.bytes[i] = static_cast<std::uint8_t>(idSeed * 16 + i);
    (void)socket.OpenClient(ipv6);
}

SocketAddress TestPhone::From() const { return MapToIpv6(LoopbackAddress(ipv6, socket.LocalPort())); }

Bytes TestPhone::Hello(std::uint8_t version) const { return HelloBytes(version, id, name); }
Bytes TestPhone::Input(const InputDatagram& input) const { return InputBytes(input); }
Bytes TestPhone::Bye(std::uint32_t sessionId) const { return ByeBytes(sessionId); }

void TestPhone::SendTo(std::uint16_t port, const Bytes& datagram) {
    socket.SendTo(datagram.data(), static_cast<int>(datagram.size()), LoopbackAddress(ipv6, port));
}

std::optional<Bytes> TestPhone::Receive(int timeoutMs) {
    const std::int64_t deadline = SteadyNow() + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
    Bytes buffer(MaxDatagram);
    SocketAddress from;
    do {
        const int received = socket.Receive(buffer.data(), static_cast<int>(buffer.size()), from);
        if (received > 0) {
            buffer.resize(static_cast<std::size_t>(received));
            return buffer;
        }
    } while (SteadyNow() < deadline);
    return std::nullopt;
}

std::vector<Bytes> TestPhone::ReceiveAll(int timeoutMs) {
    std::vector<Bytes> all;
    const std::int64_t deadline = SteadyNow() + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
    while (SteadyNow() < deadline) {
        if (auto datagram = Receive(10)) all.push_back(std::move(*datagram));
    }
    return all;
}

std::optional<StatusDatagram> TestPhone::ReceiveStatus(int timeoutMs) {
    const std::int64_t deadline = SteadyNow() + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
    while (SteadyNow() < deadline) {
        auto datagram = Receive(10);
        if (!datagram) continue;
        StatusDatagram status;
        if (ReadStatus(*datagram, status)) {
            // The status's name is a view; keep its bytes alive with the phone.
            lastStatus = std::move(*datagram);
            (void)ReadStatus(lastStatus, status);
            return status;
        }
    }
    return std::nullopt;
}

} // namespace Velotrix
