#include "Platform/Waker.h"

#include <cerrno>
#include <climits>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Velotrix {

Waker::Waker() {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd >= 0) wakeHandle = fd;
}

Waker::~Waker() {
    if (wakeHandle >= 0) close(static_cast<int>(wakeHandle));
}

void Waker::Wake() {
    if (wakeHandle < 0) return;
    const std::uint64_t one = 1;
    // A full counter (never reached) or a signal only loses a wake that is pending already.
    [[maybe_unused]] const ssize_t written = write(static_cast<int>(wakeHandle), &one, sizeof one);
}

bool Waker::Watch(const UdpSocket&) { return true; }

bool Waker::Wait(const UdpSocket& socket, std::int64_t timeout) {
    // poll() skips an entry whose descriptor is negative: a closed socket is simply not waited for.
    pollfd waits[2] = {{static_cast<int>(socket.IsOpen() ? socket.NativeHandle() : -1), POLLIN, 0},
                       {static_cast<int>(wakeHandle), POLLIN, 0}};
    const int ready = poll(waits, 2, static_cast<int>(WaitMilliseconds(timeout, INT_MAX)));
    if (ready <= 0) return false;
    if (waits[1].revents != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(static_cast<int>(wakeHandle), &count, sizeof count);
    }
    return waits[0].revents != 0;
}

} // namespace Velotrix
