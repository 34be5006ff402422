#pragma once

// The phone server as the program and the dev server run it: the I/O-free core (ServerCore.h) behind a
// thin receive loop that owns the UDP socket, the receive thread, the batching of receives and the
// draining of the core's outbox onto the socket, plus the callbacks that tell the window.
//
// Two threads use a Server: its receive thread (datagrams and the tick) and the user-interface thread
// (every public operation). Locking:
// - `mutex` guards the core (the phone table, the allowed list, the options, the host name, the flood
//   limits, every call into the bus client and the send sequence) and the callbacks. It is held for
//   the whole of each step and never while a callback runs.
// - `sendMutex` guards the datagrams on their way out. A step takes it before it releases `mutex`, so
//   datagrams leave in the order of their sequence numbers even though sendto runs outside `mutex`.
// - the bus's state and running are atomics, read without either lock; so are the notes other threads
//   leave for the receive thread (the OS's word that the bus's interface came or went, the window's
//   word that the PC resumed), which the receive thread hands to the core at its next turn. Whoever
//   leaves a note (and Stop, and a pad's rumble) wakes the receive thread, which otherwise sleeps until
//   a datagram comes or the core's next deadline is due.
// The callbacks run after both locks are released: onRequest (a new phone waits), onAllowedChanged
// (an approval added a phone to the allowed list), then onChanged (the table changed as the window
// shows it).

#include "Platform/DriverIo.h"
#include "Platform/Random.h"
#include "Platform/UdpSocket.h"
#include "Platform/Waker.h"
#include "Server/Outbox.h"
#include "Server/ServerCore.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Velotrix {

class Server {
public:
    using RequestCallback = std::function<void(const std::string& name)>;
    using Callback = std::function<void()>;

    // Tries once to connect the bus. Session numbers come from `random`, the OS's cryptographic
    // generator unless a test says otherwise.
    explicit Server(RandomSource random = &SecureRandom);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the socket and starts the receive thread. On failure answers false with the text the
    // user sees in `error`.
    [[nodiscard]] bool Start(std::uint16_t port, std::string& error);
    // Ends the thread, tells every Active phone it is refused, closes the socket. Safe to call twice.
    void Stop();
    // Stop, then unplugs every pad, forgets the phones and lets the driver go: what the destructor
    // does, for a process that Windows may end before its destructors run. Safe to call twice.
    void Shutdown();

    // The socket alone, without the receive thread: the window's tests drive HandleDatagram and Tick
    // with a clock of their own and their phones still hear the answers.
    [[nodiscard]] bool OpenSocket(std::uint16_t port, std::string& error);
    std::uint16_t Port() const { return port; }
    bool Running() const { return running.load(); }

    void SetHostName(const std::string& name);

    // Admission, from the user-interface thread. Allow, Deny and Disconnect take the session number of
    // the phone the user clicked; an unknown number does nothing.
    void SetAskFirst(bool value);
    void SetAllowed(const std::set<std::string>& ids);
    std::set<std::string> AllowedList();
    void Allow(std::uint32_t sessionId);
    void Deny(std::uint32_t sessionId);
    void Disconnect(std::uint32_t sessionId);
    // Takes a remembered phone off the allowed list (ServerCore::Forget); onAllowedChanged follows.
    bool Forget(const std::string& idText);

    // Connects the bus driver unless it is connected already (after the user installed it); true when
    // it is connected afterwards.
    bool ConnectBus();
    bool BusConnected() const { return core.BusConnected(); }
    BusState Bus() const { return core.Bus(); }

    // The PC resumed from sleep (the window heard WM_POWERBROADCAST): at its next turn the receive
    // thread checks the bus with one harmless request, and reopens the socket on the same port should
    // it fail. Safe from any thread.
    void NoteResume();

    // Every phone in table order, copied in one short critical section; changes nothing.
    std::vector<PhoneView> Snapshot();

    // The callbacks may be replaced at any time, also while the receive thread runs; each is invoked
    // through a copy taken under the mutex, and never while the mutex is held.
    void SetOnRequest(RequestCallback callback);
    void SetOnChanged(Callback callback);
    void SetOnAllowedChanged(Callback callback);

    // The receive thread's steps, public so that tests can step time exactly. `now` is steady-clock
    // nanoseconds.
    void HandleDatagram(const std::uint8_t* data, int length, const SocketAddress& from, std::int64_t now);
    void Tick(std::int64_t now);

private:
    void ReceiveLoop();
    // Takes what is queued on the socket, one batch after another, until it is empty, the core's
    // `deadline` is due or a slice of time has gone (so a flood cannot hold the tick off). True when
    // the socket was left with more to take; sets `failed` when the socket itself failed.
    bool Drain(ReceiveBatch& batch, std::int64_t deadline, bool& failed);
    // The tick, if the core has anything due at `now`; answers the core's next deadline afterwards.
    std::int64_t TickIfDue(std::int64_t now);
    // The notes other threads left, handed to the core.
    void TakeNotes(std::int64_t now);
    // A socket that failed (after a resume, a network adapter reset) is opened again on the same port;
    // false while that port cannot be had, and the receive thread tries again later.
    bool ReopenSocket();
    static void OnInterfaceChange(DriverInterfaceChange change, void* context);
    // Ends a step that began by taking `lock` on `mutex`: sends what the core queued, in order,
    // releases the lock, and then runs the callbacks the step called for.
    void Finish(std::unique_lock<std::mutex>& lock);

    std::mutex mutex;
    // Made before the core and so gone only after it: the core's pads wake it from their notification
    // threads, which the core's bus waits for when it closes.
    Waker waker;
    ServerCore core;
    RequestCallback onRequest;
    Callback onAllowedChanged;
    Callback onChanged;

    std::mutex sendMutex;
    Outbox sending;

    UdpSocket socket;
    std::uint16_t port = 0;
    std::atomic<bool> running{false};
    std::thread thread;
    std::atomic<bool> interfaceArrived{false};
    std::atomic<bool> interfaceRemoved{false};
    std::atomic<bool> resumed{false};
    // The OS's watch of the bus's interfaces, while the receive thread runs; invalid where the OS has
    // none (the core's retry then finds a returning bus).
    UniqueDriverWatch interfaceWatch;
};

} // namespace Velotrix
