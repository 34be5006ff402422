#pragma once

// How the receive thread sleeps: until a datagram is queued on its socket, until another thread
// wakes it (Stop, the bus's rumble, the OS's word of the bus or of a resume), or until its next
// deadline; never on a short time-out of its own. An eventfd beside the socket in poll() on Linux;
// on Windows an event the socket signals (WSAEventSelect) and a stop event, in
// WSAWaitForMultipleEvents.

#include "Platform/UdpSocket.h"

#include <cstdint>

namespace Velotrix {

class Waker {
public:
    // Without its OS object (none could be made) Wake does nothing and Wait waits only for the socket
    // and the time-out.
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    // From any thread: the Wait under way, or else the next one, returns at once. Wakes before a Wait
    // add up to one.
    void Wake();

    // Once after each time `socket` was opened, before it is waited for. On Windows the socket is
    // non-blocking from then on (its receives answer "nothing queued" instead of waiting); elsewhere
    // nothing changes. False when the OS refused.
    [[nodiscard]] bool Watch(const UdpSocket& socket);

    // Waits until a datagram is queued on `socket` (a closed one is not waited for), Wake was called,
    // or `timeout` nanoseconds passed; a negative `timeout` waits without a limit. The time is rounded
    // up to the OS's millisecond, so the wait never ends before it. True when the socket may have
    // something to receive (or an error to report); false for a wake or a time-out.
    bool Wait(const UdpSocket& socket, std::int64_t timeout);

private:
    // The eventfd, or the stop event's handle.
    std::intptr_t wakeHandle = -1;
    // Windows: the event the watched socket signals.
    [[maybe_unused]] std::intptr_t socketEvent = -1;
};

// `timeout` nanoseconds as the OS's millisecond wait: rounded up, -1 (no limit) for a negative one,
// at most `longest`.
std::int64_t WaitMilliseconds(std::int64_t timeout, std::int64_t longest);

} // namespace Velotrix
