#pragma once

// A phone for the core's tests: the datagrams a phone sends, an address of its own that no socket
// has, and an inbox that CoreFixture fills with what the core addressed to it.

#include "Platform/UdpSocket.h"
#include "Server/Outbox.h"
#include "Server/Protocol.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace Velotrix {

using Bytes = std::vector<std::uint8_t>;

class FakePhone {
public:
    // Phones made with the same `idSeed` share their id, as one phone does after a network change;
    // every FakePhone has a host and a port of its own.
    explicit FakePhone(std::string name, std::uint8_t idSeed = 1, bool ipv6 = false);
    // Another socket on the host of `sameHost`: the same sender, from another port.
    FakePhone(std::string name, std::uint8_t idSeed, const FakePhone& sameHost);
    ~FakePhone();
    FakePhone(const FakePhone&) = delete;
    FakePhone& operator=(const FakePhone&) = delete;

    std::string IdText() const { return PhoneIdText(id); }
    const std::string& Name() const { return name; }
    void Rename(std::string newName) { name = std::move(newName); }
    // Where the core sees this phone's datagrams come from (IPv4 as a mapped IPv6 address).
    const SocketAddress& From() const { return address; }
    // Its host as the window shows it: "10.0.x.y" or "fd00:0:0:n::1".
    std::string HostText() const;

    Bytes Hello(std::uint8_t version = ProtocolVersion) const;
    Bytes Input(const InputDatagram& input) const;
    Bytes Bye(std::uint32_t sessionId) const;

    // What the core sent to this phone, oldest first.
    std::deque<Bytes> inbox;
    // Takes the oldest datagram, or nothing.
    std::optional<Bytes> Receive();
    // Takes every datagram.
    std::vector<Bytes> ReceiveAll();
    // Takes datagrams up to and including the first Status; nothing when there is none.
    std::optional<StatusDatagram> ReceiveStatus();

private:
    std::string name;
    bool ipv6 = false;
    unsigned host = 0;
    PhoneId id;
    SocketAddress address;
    // The Status last read; the StatusDatagram's host name points into it.
    Bytes lastStatus;
};

// Hands each datagram of `outbox` to the living FakePhone it is addressed to, and empties it. Answers
// how many were addressed to no phone.
int DeliverToFakePhones(Outbox& outbox);

// A phone's datagrams, as the simulated phones of the tests send them.
Bytes HelloBytes(std::uint8_t version, const PhoneId& id, const std::string& name);
Bytes InputBytes(const InputDatagram& input);
Bytes ByeBytes(std::uint32_t sessionId);

// The datagram kind of a datagram (its type byte), 0 when it has no header.
std::uint8_t TypeOf(const Bytes& datagram);

} // namespace Velotrix
