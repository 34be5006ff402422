#include "FakePhone.h"

#include <algorithm>
#include <cstdio>

namespace Velotrix {

namespace {

// Made-up source ports, so that two phones never share an address.
std::uint16_t NextPort() {
    static std::uint16_t port = 20000;
    return ++port;
}

// Made-up hosts of a home network, so that two phones are two senders as two real phones are:
// 10.0.x.y, or the /64 fd00:0:0:n::/64 (the limits key IPv6 senders by their /64).
unsigned NextHost() {
    static unsigned host = 0;
    return host++ % (254u * 254u);
}

// Both families' socket addresses hold the port at bytes 2-3 and the address from byte 4 (IPv4) or
// byte 8 (IPv6), on every OS these tests run on.
SocketAddress MadeUpAddress(bool ipv6, unsigned host, std::uint16_t port) {
    SocketAddress address = LoopbackAddress(ipv6, port);
    if (ipv6) {
        address.bytes[8] = 0xFD;
        address.bytes[14] = static_cast<std::uint8_t>(host >> 8);
        address.bytes[15] = static_cast<std::uint8_t>(host);
    } else {
        address.bytes[4] = 10;
        address.bytes[6] = static_cast<std::uint8_t>(host / 254);
        address.bytes[7] = static_cast<std::uint8_t>(host % 254 + 1);
    }
    return MapToIpv6(address);
}

std::vector<FakePhone*>& LivingPhones() {
    static std::vector<FakePhone*> phones;
    return phones;
}

bool SameAddress(const SocketAddress& a, const SocketAddress& b) {
    return a.length == b.length && std::equal(a.bytes, a.bytes + sizeof a.bytes, b.bytes);
}

} // namespace

FakePhone::FakePhone(std::string name, std::uint8_t idSeed, bool ipv6)
    : name(std::move(name)), ipv6(ipv6), host(NextHost()), address(MadeUpAddress(ipv6, host, NextPort())) {
    for (std::size_t i = 0; i < id.bytes.size(); ++i) id.bytes[i] = static_cast<std::uint8_t>(idSeed * 16 + i);
    // Seeds 16 apart would give the same bytes; the last one tells them apart.
    id.bytes[15] ^= static_cast<std::uint8_t>(idSeed >> 4);
    LivingPhones().push_back(this);
}

FakePhone::FakePhone(std::string name, std::uint8_t idSeed, const FakePhone& sameHost)
    : name(std::move(name)), ipv6(sameHost.ipv6), host(sameHost.host), address(MadeUpAddress(ipv6, host, NextPort())) {
    for (std::size_t i = 0; i < id.bytes.size(); ++i) id.bytes[i] = static_cast<std::uint8_t>(idSeed * 16 + i);
    // Seeds 16 apart would give the same bytes; the last one tells them apart.
    id.bytes[15] ^= static_cast<std::uint8_t>(idSeed >> 4);
    LivingPhones().push_back(this);
}

std::string FakePhone::HostText() const {
    char text[40];
    if (ipv6)
        std::snprintf(text, sizeof text, "fd00:0:0:%x::1", host);
    else
        std::snprintf(text, sizeof text, "10.0.%u.%u", host / 254, host % 254 + 1);
    return text;
}

FakePhone::~FakePhone() { std::erase(LivingPhones(), this); }

int DeliverToFakePhones(Outbox& outbox) {
    int stray = 0;
    for (const OutgoingDatagram& datagram : outbox.Datagrams()) {
        const auto& phones = LivingPhones();
        const auto found = std::find_if(phones.begin(), phones.end(), [&](const FakePhone* phone) {
            return SameAddress(phone->From(), datagram.to);
        });
        if (found == phones.end()) {
            ++stray;
            continue;
        }
        const DatagramBytes bytes = datagram.Bytes();
        (*found)->inbox.emplace_back(bytes.begin(), bytes.end());
    }
    outbox.Clear();
    return stray;
}

Bytes HelloBytes(std::uint8_t version, const PhoneId& id, const std::string& name) {
    Bytes out(HelloMinimum + MaxNameLength);
    out.resize(static_cast<std::size_t>(BuildHello(out, version, 0, id, name)));
    return out;
}

Bytes InputBytes(const InputDatagram& input) {
    Bytes out(InputSize);
    BuildInput(out, ProtocolVersion, input);
    return out;
}

Bytes ByeBytes(std::uint32_t sessionId) {
    Bytes out(ByeSize);
    BuildBye(out, ProtocolVersion, 0, sessionId);
    return out;
}

Bytes FakePhone::Hello(std::uint8_t version) const { return HelloBytes(version, id, name); }
Bytes FakePhone::Input(const InputDatagram& input) const { return InputBytes(input); }
Bytes FakePhone::Bye(std::uint32_t sessionId) const { return ByeBytes(sessionId); }

std::optional<Bytes> FakePhone::Receive() {
    if (inbox.empty()) return std::nullopt;
    Bytes datagram = std::move(inbox.front());
    inbox.pop_front();
    return datagram;
}

std::vector<Bytes> FakePhone::ReceiveAll() {
    std::vector<Bytes> all(std::make_move_iterator(inbox.begin()), std::make_move_iterator(inbox.end()));
    inbox.clear();
    return all;
}

std::optional<StatusDatagram> FakePhone::ReceiveStatus() {
    while (auto datagram = Receive()) {
        StatusDatagram status;
        if (!ReadStatus(*datagram, status)) continue;
        lastStatus = std::move(*datagram);
        (void)ReadStatus(lastStatus, status);
        return status;
    }
    return std::nullopt;
}

std::uint8_t TypeOf(const Bytes& datagram) {
    Header header;
    return ReadHeader(datagram, header) ? header.type : 0;
}

} // namespace Velotrix
