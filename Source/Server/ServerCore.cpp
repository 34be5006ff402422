// The core's dispatch, its Bye, its answers, and the lookups and limits its handlers share.

#include "Server/ServerCore.h"

#include "Shell/Log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace Velotrix {

ServerCore::ServerCore(RandomSource random) : randomSource(random) {
    // A missing driver is no error here: phones are told "no driver" until ConnectBus succeeds.
    (void)ConnectBus();
}

ServerCore::~ServerCore() { Shutdown(); }

void ServerCore::Shutdown() {
    for (auto& phone : phones) UnplugPad(*phone);
    phones.clear();
    bus.Close();
}

CoreEvents ServerCore::TakeEvents() {
    CoreEvents taken = std::move(events);
    events = CoreEvents{};
    return taken;
}

void ServerCore::HandleDatagram(DatagramBytes datagram, const SocketAddress& from, std::int64_t now) {
    latestNow = now;
    switch (CheckDatagram(datagram)) {
    case Receipt::Drop:
        return;
    case Receipt::OtherVersion:
        // Nothing changes for it, so it shares the budget of the other answers that change nothing.
        if (MayAnswer(from, now))
            SendStatusTo(from, 0, 0, PhoneState::OtherVersion);
        else
            Refuse(from, now);
        return;
    case Receipt::Hello:
        HandleHello(datagram, from, now);
        return;
    case Receipt::Input:
        HandleInput(datagram, from, now);
        return;
    case Receipt::Bye:
        HandleBye(datagram, from, now);
        return;
    }
}

void ServerCore::HandleBye(DatagramBytes datagram, const SocketAddress& from, std::int64_t now) {
    std::uint32_t sessionId = 0;
    if (!ReadBye(datagram, sessionId)) return;
    auto found =
        std::find_if(phones.begin(), phones.end(), [&](const auto& phone) { return phone->sessionId == sessionId; });
    if (found == phones.end()) {
        // Nothing to show changed; a stream of these must not repaint the window.
        Refuse(from, now);
        return;
    }
    LogAbout(**found, "Bye from \"%s\"", (*found)->name.c_str());
    // It was announced already; should it come back at once, it is not announced again.
    recentlyLeft.Remember((*found)->id, (*found)->state == PhoneState::Waiting, now);
    UnplugPad(**found);
    phones.erase(found);
    events.changed = true;
}

void ServerCore::RefuseActivePhones() {
    for (const auto& phone : phones) {
        if (phone->state == PhoneState::Active) SendStatusTo(phone->address, phone->sessionId, 0, PhoneState::Refused);
    }
}

void ServerCore::SendStatus(const Phone& phone) {
    SendStatusTo(phone.address, phone.sessionId, static_cast<std::uint8_t>(phone.player), phone.state);
}

void ServerCore::SendStatusTo(const SocketAddress& to, std::uint32_t sessionId, std::uint8_t player, PhoneState state) {
    outbox.Add(
        to, [&](DatagramBuffer out) { return BuildStatus(out, ++sendSequence, sessionId, player, state, hostName); });
}

void ServerCore::SendFeedback(Phone& phone, const Rumble& rumble) {
    outbox.Add(phone.address, [&](DatagramBuffer out) {
        return BuildFeedback(out, ++sendSequence, phone.sessionId, rumble.largeMotor, rumble.smallMotor, rumble.led,
                             phone.input.echo);
    });
}

void ServerCore::SendUnknownSession(const SocketAddress& to) {
    outbox.Add(to, [&](DatagramBuffer out) { return BuildUnknownSession(out, ++sendSequence); });
}

void ServerCore::Refuse(const SocketAddress& from, std::int64_t now) { refusals.Count(from, now); }

void ServerCore::LogAbout(const Phone& phone, const char* format, ...) {
    if (!senderLimits.Take(phone.address, SenderLimit::LogLine, latestNow)) {
        refusals.CountUnlogged(latestNow);
        return;
    }
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    Log("%s", line);
}

bool ServerCore::Remembered(const PhoneId& id) const { return allowed.count(PhoneIdText(id)) != 0; }

bool ServerCore::MakeRoomForRemembered() {
    // Table order is the order of arrival, so the first such record is the oldest.
    const auto found = std::find_if(phones.begin(), phones.end(), [&](const auto& phone) {
        return phone->state != PhoneState::Active && !Remembered(phone->id);
    });
    if (found == phones.end()) return false;
    UnplugPad(**found);
    phones.erase(found);
    events.changed = true;
    return true;
}

bool ServerCore::MayAnswer(const SocketAddress& from, std::int64_t now) {
    return senderLimits.Take(from, SenderLimit::RefusalAnswer, now) && refusalAnswers.Take(RefusalAnswersOverall, now);
}

bool ServerCore::NewIdRefused(const PhoneId& id, const SocketAddress& from, std::int64_t now) {
    const bool remembered = Remembered(id);
    const bool room = phones.size() < MaxPhones || (remembered && MakeRoomForRemembered());
    if (room && (remembered || recentlyLeft.TakeFreeReturn(id, now) ||
                 (senderLimits.Take(from, SenderLimit::NewId, now) && newIds.Take(NewIdsOverall, now))))
        return false;
    Refuse(from, now);
    return true;
}

Phone* ServerCore::FindBySession(std::uint32_t sessionId) {
    for (auto& phone : phones)
        if (phone->sessionId == sessionId) return phone.get();
    return nullptr;
}

Phone* ServerCore::FindById(const PhoneId& id) {
    for (auto& phone : phones)
        if (phone->id == id) return phone.get();
    return nullptr;
}

} // namespace Velotrix
