#pragma once

// The phone server's protocol core, free of I/O: it takes a datagram (bytes, sender, now), a tick (now)
// and the user's commands, keeps the table of phones, the allowed list, the flood limits and the
// connection to the bus driver, and writes every datagram it means to send into its outbox, in
// sequence order. It never touches a socket and never reads the clock; the receive loop (Server.h)
// owns the socket, the thread and the draining. The bus is reached through the bus client, whose
// driver I/O is the simulated bus in tests.
//
// Not thread-safe: its owner serialises every call (Server holds its mutex). The one exception is
// BusConnected, an atomic that the window reads without the lock.

#include "Controllers/BusClient.h"
#include "Controllers/Pad.h"
#include "Server/AdmissionRule.h"
#include "Server/Flood.h"
#include "Server/Outbox.h"
#include "Server/Phone.h"
#include "Server/Protocol.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Velotrix {

// What a step leaves for the core's owner to tell, once it no longer holds its lock.
struct CoreEvents {
    // The phone table changed in a way the window shows.
    bool changed = false;
    // An approval added an id to the allowed list (it is to be saved).
    bool allowedChanged = false;
    // Phones that now wait for the user, by name, in the order they asked.
    std::vector<std::string> requests;
};

class ServerCore {
public:
    // Tries once to connect the bus; a missing driver is no error (phones are told "no driver").
    explicit ServerCore(RandomSource random);
    // Unplugs every pad and lets the driver go.
    ~ServerCore();
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

    // One received datagram of `from`, at `now` (steady-clock nanoseconds).
    void HandleDatagram(DatagramBytes datagram, const SocketAddress& from, std::int64_t now);
    // The periodic work: silent phones leave, idle pads are centred, player numbers are learnt, rumble
    // goes back to the phones, input rates are counted.
    void Tick(std::int64_t now);

    // The user's commands, with the session number of the phone clicked; an unknown one does nothing.
    void Allow(std::uint32_t sessionId);
    void Deny(std::uint32_t sessionId);
    void Disconnect(std::uint32_t sessionId);

    // The server stops: every Active phone is told it is refused. The phones stay listed.
    void RefuseActivePhones();
    // Unplugs every pad, forgets every phone and lets the driver go; what the destructor does, for a
    // process that Windows may end before destructors run. Safe to call twice.
    void Shutdown();

    void SetHostName(const std::string& name) { hostName = name; }
    void SetAskFirst(bool value) { askFirst = value; }
    void SetAllowed(const std::set<std::string>& ids) { allowed = ids; }
    const std::set<std::string>& Allowed() const { return allowed; }

    // Connects the bus unless it is connected already; true when it is connected afterwards.
    bool ConnectBus();
    bool BusConnected() const { return busConnected.load(); }

    // Every phone in table order, as the window shows it.
    std::vector<PhoneView> Snapshot() const;

    // What this core means to send, oldest first; the owner drains it after every step.
    Outbox& Outgoing() { return outbox; }
    // What happened since the last call, and the record of it cleared.
    CoreEvents TakeEvents();

private:
    void HandleHello(DatagramBytes datagram, const SocketAddress& from, std::int64_t now);
    void HandleInput(DatagramBytes datagram, const SocketAddress& from, std::int64_t now);
    void HandleBye(DatagramBytes datagram, const SocketAddress& from, std::int64_t now);

    void SendStatus(const Phone& phone);
    void SendStatusTo(const SocketAddress& to, std::uint32_t sessionId, std::uint8_t player, PhoneState state);
    void SendFeedback(Phone& phone, const Rumble& rumble);
    void SendUnknownSession(const SocketAddress& to);
    // Counts a datagram refused by the limits; the summary line is written by Tick.
    void Refuse(const SocketAddress& from, std::int64_t now);
    // Whether a refused sender may still be answered (each answer is a send).
    bool MayAnswer(const SocketAddress& from, std::int64_t now);
    // A Hello from an id not listed that gets no record: the table is full, or the id is new and its
    // sender (or everyone together) asks too often.
    bool NewIdRefused(const PhoneId& id, const SocketAddress& from, std::int64_t now);
    // Puts the phone in the state admission decided; an Active one gets its pad.
    void Enter(Phone& phone, PhoneState state, std::int64_t now);
    AdmissionFacts FactsFor(const Phone* phone, const PhoneId& id, std::int64_t now) const;
    Phone* FindBySession(std::uint32_t sessionId);
    Phone* FindById(const PhoneId& id);
    void PlugPad(Phone& phone);
    void UnplugPad(Phone& phone);

    std::vector<std::unique_ptr<Phone>> phones;
    std::set<std::string> allowed;
    bool askFirst = true;
    std::string hostName = "PC";
    BusConnection bus;
    std::atomic<bool> busConnected{false};
    std::uint16_t sendSequence = 0;
    RandomSource randomSource;
    SenderLimiter senderLimits;
    TokenBucket newIds;
    TokenBucket refusalAnswers;
    TokenBucket padPlugs;
    RefusalCount refusals;
    RecentlyLeft recentlyLeft;
    Outbox outbox;
    CoreEvents events;
};

} // namespace Velotrix
