// Hello: who gets a controller, who waits and who is turned away; and the user's Allow, Deny and
// Disconnect.

#include "Server/ServerCore.h"

#include "Shell/Log.h"

namespace Velotrix {

AdmissionFacts ServerCore::FactsFor(const Phone* phone, const PhoneId& id, std::int64_t now) const {
    AdmissionFacts facts;
    facts.known = phone != nullptr;
    if (phone != nullptr) facts.current = phone->state;
    for (const auto& other : phones) {
        if (other.get() == phone) continue;
        facts.active += other->state == PhoneState::Active ? 1 : 0;
        facts.waiting += other->state == PhoneState::Waiting ? 1 : 0;
    }
    facts.busConnected = BusConnected();
    facts.askFirst = askFirst;
    facts.allowed = allowed.count(PhoneIdText(id)) != 0;
    facts.plugAvailable = padPlugs.Available(PadPlugs, now);
    return facts;
}

void ServerCore::Enter(Phone& phone, PhoneState state, std::int64_t now) {
    phone.state = state;
    if (state != PhoneState::Active) return;
    // The plug rate granted this one when the state was decided; plugging may still end in NoDriver.
    (void)padPlugs.Take(PadPlugs, now);
    PlugPad(phone);
}

void ServerCore::HandleHello(DatagramBytes datagram, const SocketAddress& from, std::int64_t now) {
    HelloDatagram hello;
    if (!ReadHello(datagram, hello)) return;

    Phone* phone = FindById(hello.id);
    if (phone == nullptr) {
        std::uint32_t sessionId = 0;
        if (NewIdRefused(hello.id, from, now) ||
            !DrawSessionId(
                randomSource, [this](std::uint32_t id) { return FindBySession(id) != nullptr; }, sessionId)) {
            // No record, no log line, no repaint, and an answer only while the sender's answers last:
            // it may ask again.
            if (MayAnswer(from, now)) SendStatusTo(from, 0, 0, PhoneState::NoRoom);
            return;
        }
        const PhoneState decided = DecideAdmission(FactsFor(nullptr, hello.id, now));
        auto created = std::make_unique<Phone>();
        created->id = hello.id;
        created->name.assign(hello.name);
        created->sessionId = sessionId;
        created->lastHeard = now;
        created->rateStart = now;
        phone = created.get();
        phones.push_back(std::move(created));
        Log("Hello from \"%s\" (%s): %d", phone->name.c_str(), PhoneIdText(hello.id).c_str(),
            static_cast<int>(decided));
        Enter(*phone, decided, now);
        if (decided == PhoneState::Waiting && !recentlyLeft.Announced(hello.id, now))
            events.requests.push_back(phone->name);
        events.changed = true;
    } else if (const PhoneState decided = DecideAdmission(FactsFor(phone, hello.id, now)); decided != phone->state) {
        Enter(*phone, decided, now);
        events.changed = true;
    }

    if (phone->name.size() != hello.name.size() || phone->name != hello.name) {
        events.changed = true;
        phone->name.assign(hello.name);
    }
    phone->address = from;
    phone->lastHeard = now;
    SendStatus(*phone);
}

void ServerCore::Allow(std::uint32_t sessionId) {
    Phone* phone = FindBySession(sessionId);
    if (phone == nullptr || phone->state != PhoneState::Waiting) return;
    allowed.insert(PhoneIdText(phone->id));
    PlugPad(*phone);
    SendStatus(*phone);
    events.allowedChanged = true;
    events.changed = true;
}

void ServerCore::Deny(std::uint32_t sessionId) {
    Phone* phone = FindBySession(sessionId);
    if (phone == nullptr) return;
    UnplugPad(*phone);
    phone->state = PhoneState::Refused;
    SendStatus(*phone);
}

void ServerCore::Disconnect(std::uint32_t sessionId) {
    for (auto it = phones.begin(); it != phones.end(); ++it) {
        Phone& phone = **it;
        if (phone.sessionId != sessionId) continue;
        UnplugPad(phone);
        phone.state = PhoneState::Refused;
        SendStatus(phone);
        // The user's own click: should it say Hello again at once, it is not a new id.
        recentlyLeft.Remember(phone.id, false, phone.lastHeard);
        phones.erase(it);
        return;
    }
}

} // namespace Velotrix
