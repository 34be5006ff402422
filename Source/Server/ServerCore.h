#pragma once

// The phone server's protocol core, free of I/O: it takes a datagram (bytes, sender, now), a tick (now)
// and the user's commands, keeps the table of phones, the allowed list, the flood limits and the
// connection to the bus driver, and writes every datagram it means to send into its outbox, in
// sequence order. It never touches a socket and never reads the clock; the receive loop (Server.h)
// owns the socket, the thread and the draining. The bus is reached through the bus client, whose
// driver I/O is the simulated bus in tests.
//
// Not thread-safe: its owner serialises every call (Server holds its mutex). The one exception is the
// bus's state (BusConnected, Bus), an atomic that the window reads without the lock.

#include "Controllers/BusClient.h"
#include "Controllers/Pad.h"
#include "Server/AdmissionRule.h"
#include "Server/Flood.h"
#include "Server/Outbox.h"
#include "Server/Phone.h"
#include "Server/Protocol.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Velotrix {

// What a step leaves for the core's owner to tell, once it no longer holds its lock.
// Where the bus driver stands, as the window's status card shows it.
enum class BusState : std::uint8_t {
    Connected,
    // Never connected since the start (no driver installed).
    Missing,
    // It was connected and went away (removed, disabled, updated, or lost across sleep); the core looks
    // for it again and plugs the phones that had pads back in their former order.
    Lost,
};

// While the bus is lost the core looks for it when more than this has passed since the last look (a
// listing of the bus's interfaces, twice a second at most), besides at the OS's arrival notices.
inline constexpr std::int64_t BusRetryPeriod = 500'000'000;

// "More than" a period of the steady clock: at least one nanosecond past it.
inline bool MoreThan(std::int64_t now, std::int64_t then, std::int64_t period) { return now - then > period; }
// The first time at which MoreThan(now, then, period) holds.
inline std::int64_t FirstPast(std::int64_t then, std::int64_t period) { return then + period + 1; }

// No deadline at all: only a datagram, a command or another thread's word gives the core work.
inline constexpr std::int64_t NoDeadline = std::numeric_limits<std::int64_t>::max();

struct CoreEvents {
    // The phone table changed in a way the window shows.
    bool changed = false;
    // The allowed list changed: an approval added an id, a Disconnect or a Forget took one off (it is
    // to be saved).
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
    // The earliest time, `now` or later, at which Tick has work: `now` when some is due already (a
    // rumble change the bus reported, a bus found gone), NoDeadline when there is none to come. A Tick
    // before it does nothing, so the receive loop sleeps until then.
    std::int64_t NextDeadline(std::int64_t now) const;
    // The receive loop's waker, which the pads' notification threads wake when a game sets rumble
    // (null: nobody is woken, a tick finds it).
    void SetPadWaker(Waker* waker) { padWaker = waker; }

    // The user's commands, with the session number of the phone clicked; an unknown one does nothing.
    // Allow takes a Waiting phone, or a Refused one whose user changed their mind, off the refused list
    // and onto the allowed one, and plugs its pad; with four Active it is told NoRoom instead and is
    // admitted at a later Hello. Deny refuses a phone for the rest of the run; Disconnect does too, and
    // also takes it off the allowed list, and removes its record.
    void Allow(std::uint32_t sessionId);
    void Deny(std::uint32_t sessionId);
    void Disconnect(std::uint32_t sessionId);
    // Takes a phone id (its text) off the allowed list: it asks the user again at its next new record.
    // A phone listed now keeps its state. False when the id was not on the list.
    bool Forget(const std::string& idText);

    // The server stops: every Active phone is told it is refused. The phones stay listed.
    void RefuseActivePhones();
    // Unplugs every pad, forgets every phone and lets the driver go; what the destructor does, for a
    // process that Windows may end before destructors run. Safe to call twice.
    void Shutdown();

    void SetHostName(const std::string& name) { hostName = name; }
    void SetAskFirst(bool value) { askFirst = value; }
    void SetAllowed(const std::set<std::string>& ids) { allowed = ids; }
    const std::set<std::string>& Allowed() const { return allowed; }

    // Connects the bus unless it is connected already; true when it is connected afterwards. A lost bus
    // is taken back as at its return.
    bool ConnectBus();
    bool BusConnected() const { return busState.load() == BusState::Connected; }
    BusState Bus() const { return busState.load(); }

    // What the receive loop hears of the bus from the OS. An interface of the bus class left: when the
    // one this core holds is no longer listed (or no longer answers), the bus is lost.
    void BusInterfaceRemoved(std::int64_t now);
    // An interface of the bus class arrived: a lost or missing bus is looked for at once.
    void BusInterfaceArrived(std::int64_t now);
    // After the PC resumed from sleep: one harmless request, and the lost path when it fails; a lost bus
    // is looked for at once.
    void CheckBus(std::int64_t now);

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
    // A log line about `phone`, while the log-line budget of its sender lasts; beyond it the line is
    // only counted, and the count joins Tick's summary.
    void LogAbout(const Phone& phone, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // Makes room for a remembered phone in a full table: the oldest record that is neither Active nor
    // remembered goes. False when every record is one of those.
    bool MakeRoomForRemembered();
    bool Remembered(const PhoneId& id) const;
    // Whether a refused sender may still be answered (each answer is a send).
    bool MayAnswer(const SocketAddress& from, std::int64_t now);
    // A Hello from an id not listed that gets no record: the table is full (and the id is not a
    // remembered phone, for which another record makes room), or the id is new and its sender (or
    // everyone together) asks too often. A remembered phone is not new; a phone that left lately comes
    // back free once.
    bool NewIdRefused(const PhoneId& id, const SocketAddress& from, std::int64_t now);
    // Puts the phone in the state admission decided; an Active one gets its pad.
    void Enter(Phone& phone, PhoneState state, std::int64_t now);
    AdmissionFacts FactsFor(const Phone* phone, const PhoneId& id, std::int64_t now) const;
    Phone* FindBySession(std::uint32_t sessionId);
    Phone* FindById(const PhoneId& id);
    void PlugPad(Phone& phone);
    void UnplugPad(Phone& phone);
    // A bus request answered `result`: when it is ErrBusLost, the bus is lost from now on.
    void Heard(BusResult result, std::int64_t now) {
        if (result == ErrBusLost) LoseBus(result, now);
    }
    // The bus is gone (BusRecovery.cpp): every phone with a pad loses it and is told "no driver" once,
    // nothing more goes to the old device, and the core looks for a new one from `now`.
    void LoseBus(BusResult why, std::int64_t now);
    // Opens the bus again and plugs the phones that had pads, in their former player order; false
    // (and nothing logged) while there is no bus to open.
    bool TakeBusBack(std::int64_t now);
    // Tick's look at the bus: a loss a notification thread heard of, and the retry while lost.
    void LookAfterBus(std::int64_t now);

    std::vector<std::unique_ptr<Phone>> phones;
    std::set<std::string> allowed;
    bool askFirst = true;
    std::string hostName = "PC";
    BusConnection bus;
    std::atomic<BusState> busState{BusState::Missing};
    // When the lost bus was last looked for.
    std::int64_t lastBusLook = 0;
    // The latest `now` a step brought in, for what the user's commands set off between steps.
    std::int64_t latestNow = 0;
    std::uint16_t sendSequence = 0;
    RandomSource randomSource;
    SenderLimiter senderLimits;
    TokenBucket newIds;
    TokenBucket refusalAnswers;
    TokenBucket padPlugs;
    RefusalCount refusals;
    RecentlyLeft recentlyLeft;
    RefusedIds refusedIds;
    Outbox outbox;
    CoreEvents events;
    Waker* padWaker = nullptr;
};

} // namespace Velotrix
