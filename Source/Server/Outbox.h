#pragma once

// What the server core means to send, in the order it means to send it. The core builds each datagram
// here, with its sequence number, and never touches a socket; whoever drives the core drains the
// outbox after each step and sends the datagrams in order. Fixed storage: queuing allocates nothing.

#include "Platform/UdpSocket.h"
#include "Server/Protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace Velotrix {

static_assert(MaxOutgoing <= 255, "an outgoing datagram's length is kept in one byte");

struct OutgoingDatagram {
    SocketAddress to;
    std::uint8_t length = 0;
    std::array<std::uint8_t, MaxOutgoing> bytes{};

    DatagramBytes Bytes() const { return {bytes.data(), length}; }
};

class Outbox {
public:
    // More than one step ever queues: a tick sends at most a Status and a Feedback to each of the
    // server's phones, and the stop one Status to each.
    static constexpr std::size_t Capacity = 64;

    // Queues what `build(DatagramBuffer out) -> int length` writes for `to`. False, and `build` not
    // called, when the outbox is full (the datagram is then counted as dropped); false too when the
    // builder wrote nothing.
    template <typename Build>
    bool Add(const SocketAddress& to, Build&& build) {
        if (count == Capacity) {
            ++dropped;
            return false;
        }
        OutgoingDatagram& slot = items[count];
        const int length = build(DatagramBuffer(slot.bytes));
        if (length <= 0) return false;
        slot.to = to;
        slot.length = static_cast<std::uint8_t>(length);
        ++count;
        return true;
    }

    std::span<const OutgoingDatagram> Datagrams() const { return {items.data(), count}; }
    bool Empty() const { return count == 0; }
    void Clear() { count = 0; }
    // Appends every queued datagram to `other`, in order, and empties this one.
    void MoveTo(Outbox& other);
    // Datagrams refused because the outbox was full; a driver that drains after every step sees 0.
    std::uint64_t Dropped() const { return dropped; }

private:
    std::array<OutgoingDatagram, Capacity> items;
    std::size_t count = 0;
    std::uint64_t dropped = 0;
};

} // namespace Velotrix
