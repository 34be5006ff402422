#include "Platform/Waker.h"

#include <winsock2.h>

namespace Velotrix {

namespace {

WSAEVENT Event(std::intptr_t handle) { return reinterpret_cast<WSAEVENT>(handle); }

} // namespace

Waker::Waker() {
    // Auto-reset: a Wait that returns for it clears it in the same step.
    if (HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr)) wakeHandle = reinterpret_cast<std::intptr_t>(wake);
    // Auto-reset too, so that no reset call follows each wait: the wait that returns for a datagram
    // clears it, and each receive enables FD_READ again, which signals it anew while more is queued.
    if (HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr))
        socketEvent = reinterpret_cast<std::intptr_t>(ready);
}

Waker::~Waker() {
    if (wakeHandle != -1) CloseHandle(Event(wakeHandle));
    if (socketEvent != -1) CloseHandle(Event(socketEvent));
}

void Waker::Wake() {
    if (wakeHandle != -1) SetEvent(Event(wakeHandle));
}

bool Waker::Watch(const UdpSocket& socket) {
    if (socketEvent == -1 || !socket.IsOpen()) return false;
    // A closed socket's selection ends with it, and a new socket may get the old handle's number, so
    // every open is watched anew rather than compared with the last.
    return WSAEventSelect(static_cast<SOCKET>(socket.NativeHandle()), Event(socketEvent), FD_READ) == 0;
}

bool Waker::Wait(const UdpSocket& socket, std::int64_t timeout) {
    WSAEVENT events[2];
    DWORD count = 0;
    const bool socketWatched = socket.IsOpen() && socketEvent != -1;
    if (socketWatched) events[count++] = Event(socketEvent);
    if (wakeHandle != -1) events[count++] = Event(wakeHandle);
    const std::int64_t milliseconds = WaitMilliseconds(timeout, static_cast<std::int64_t>(WSA_INFINITE) - 1);
    const DWORD wait = milliseconds < 0 ? WSA_INFINITE : static_cast<DWORD>(milliseconds);
    if (count == 0) {
        Sleep(wait);
        return false;
    }
    const DWORD result = WSAWaitForMultipleEvents(count, events, FALSE, wait, FALSE);
    return socketWatched && result == WSA_WAIT_EVENT_0;
}

} // namespace Velotrix
