#pragma once

// The phone server: one UDP socket, one receive thread, the table of phones, the allowed list and
// the connection to the bus driver. Shared by the receive thread and the user-interface thread; one
// mutex guards everything but the socket, the port, the running flag and the thread, and it is never
// held while a callback runs.

#include "Platform/UdpSocket.h"
#include "Server/Flood.h"
#include "Server/Protocol.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Velotrix {

struct Pad;
struct BusConnection;

struct Phone {
    PhoneId id;
    std::string name;
    SocketAddress address;
    std::uint32_t sessionId = 0;
    PhoneState state = PhoneState::Waiting;
    // Never freed while the process runs (its notification thread may still use it); see Pad.h.
    Pad* pad = nullptr;
    std::int32_t player = 0;
    InputState input;
    bool idle = true;
    bool haveSequence = false;
    std::uint16_t lastSequence = 0;
    std::int64_t lastHeard = 0;
    std::int64_t lastInput = 0;
    std::int64_t lastFeedback = 0;
    std::int64_t lastPlayerQuery = 0;
    std::int64_t rateStart = 0;
    std::uint32_t inputCount = 0;
    std::uint32_t inputRate = 0;
};

// One phone as the window shows it: a value copied under the server's mutex, once per paint.
struct PhoneView {
    std::uint32_t sessionId = 0;
    std::string idText;
    std::string name;
    std::string address;
    std::uint8_t state = static_cast<std::uint8_t>(PhoneState::Waiting);
    std::int32_t player = 0;
    InputState input;
    bool idle = true;
    std::int32_t inputRate = 0;
    std::uint8_t rumbleLarge = 0;
    std::uint8_t rumbleSmall = 0;
};

class Server {
public:
    using RequestCallback = std::function<void(const std::string& name)>;
    using Callback = std::function<void()>;

    Server();
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

    // The socket alone, without the receive thread: tests drive HandleDatagram and Tick with a clock
    // of their own and read the server's answers on their own sockets.
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

    // Connects the bus driver unless it is connected already (after the user installed it); true when
    // it is connected afterwards.
    bool ConnectBus();
    bool BusConnected() const { return busConnected.load(); }

    // Every phone in table order, copied in one short critical section; changes nothing.
    std::vector<PhoneView> Snapshot();

    // The callbacks may be replaced at any time, also while the receive thread runs; each is invoked
    // through a copy taken under the mutex, and never while the mutex is held.
    void SetOnRequest(RequestCallback callback);
    void SetOnChanged(Callback callback);
    void SetOnAllowedChanged(Callback callback);

    // The receive thread's work, public so that tests can step time exactly. `now` is steady-clock
    // nanoseconds.
    void HandleDatagram(const std::uint8_t* data, int length, const SocketAddress& from, std::int64_t now);
    void Tick(std::int64_t now);

    // Where session numbers come from; the OS's cryptographic generator unless a test says otherwise.
    void SetRandomSource(RandomSource source);

private:
    void ReceiveLoop();
    void HandleHello(std::unique_lock<std::mutex>& lock, DatagramBytes datagram, const SocketAddress& from,
                     std::int64_t now);
    void HandleInput(DatagramBytes datagram, const SocketAddress& from, std::int64_t now);
    void HandleBye(std::unique_lock<std::mutex>& lock, DatagramBytes datagram, const SocketAddress& from,
                   std::int64_t now);

    // Callers hold the mutex.
    void SendStatus(const Phone& phone);
    void SendStatusTo(const SocketAddress& to, std::uint32_t sessionId, std::uint8_t player, PhoneState state);
    // A length of 0 (a builder that found its buffer too small) sends nothing.
    void Send(const std::uint8_t* data, int length, const SocketAddress& to);
    // Counts a datagram refused by the limits; the summary line is written by Tick.
    void Refuse(const SocketAddress& from, std::int64_t now);
    // Whether a refused sender may still be answered (each answer is a send).
    bool MayAnswer(const SocketAddress& from, std::int64_t now);
    // A Hello from an id not listed that gets no record: the table is full, or the id is new and its
    // sender (or everyone together) asks too often.
    bool NewIdRefused(const PhoneId& id, const SocketAddress& from, std::int64_t now);
    Phone* FindBySession(std::uint32_t sessionId);
    Phone* FindById(const PhoneId& id);
    bool ConnectBusLocked();
    void DisconnectBus();
    void PlugPad(Phone& phone);
    void UnplugPad(Phone& phone);

    // Releases `lock`, runs the callback's copy, and leaves the lock released.
    void Notify(std::unique_lock<std::mutex>& lock, Callback Server::*callback);

    Callback onAllowedChanged;
    Callback onChanged;
    RequestCallback onRequest;

    std::mutex mutex;
    std::vector<std::unique_ptr<Phone>> phones;
    std::set<std::string> allowed;
    bool askFirst = true;
    std::string hostName = "PC";
    std::unique_ptr<BusConnection> bus;
    std::atomic<bool> busConnected{false};
    UdpSocket socket;
    std::uint16_t port = 0;
    std::atomic<bool> running{false};
    std::thread thread;
    std::uint16_t sendSequence = 0;
    std::int64_t lastTick = 0;
    RandomSource randomSource;
    SenderLimiter senderLimits;
    TokenBucket newIds;
    TokenBucket refusalAnswers;
    TokenBucket padPlugs;
    RefusalCount refusals;
    RecentlyLeft recentlyLeft;
};

} // namespace Velotrix
