#pragma once

// A phone for the tests that run a whole Server: a real loopback client socket, the datagrams a phone
// sends, and a reader of the answers.

#include "FakePhone.h"
#include "Platform/UdpSocket.h"
#include "Server/Protocol.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Velotrix {

class TestPhone {
public:
    explicit TestPhone(std::string name, std::uint8_t idSeed = 1, bool ipv6 = false);

    std::string IdText() const { return PhoneIdText(id); }
    const std::string& Name() const { return name; }
    void Rename(std::string newName) { name = std::move(newName); }
    // Where the server sees this phone's datagrams come from (IPv4 as a mapped IPv6 address).
    SocketAddress From() const;

    Bytes Hello(std::uint8_t version = ProtocolVersion) const;
    Bytes Input(const InputDatagram& input) const;
    Bytes Bye(std::uint32_t sessionId) const;

    // Sends over the network to a server on loopback.
    void SendTo(std::uint16_t port, const Bytes& datagram);
    // The next datagram from the server, or nothing within `timeoutMs`.
    std::optional<Bytes> Receive(int timeoutMs = 1000);
    // Every datagram that arrives within `timeoutMs`.
    std::vector<Bytes> ReceiveAll(int timeoutMs = 50);

    std::optional<StatusDatagram> ReceiveStatus(int timeoutMs = 1000);

private:
    std::string name;
    PhoneId id;
    bool ipv6;
    UdpSocket socket;
    Bytes lastStatus;
};

} // namespace Velotrix
