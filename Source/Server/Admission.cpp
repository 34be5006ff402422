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
    facts.allowed = Remembered(id);
    facts.refused = refusedIds.Has(id);
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
    // Cleaned before anything stores, logs or compares it.
    const std::string name = CleanName(hello.name);

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
        created->name = name;
        // Before anything can answer it: plugging, the bus lost meanwhile, the window's approval.
        created->address = from;
        created->sessionId = sessionId;
        created->lastHeard = now;
        created->rateStart = now;
        phone = created.get();
        phones.push_back(std::move(created));
        LogAbout(*phone, "Hello from \"%s\" (%s): %d", phone->name.c_str(), PhoneIdText(hello.id).c_str(),
                 static_cast<int>(decided));
        Enter(*phone, decided, now);
        if (decided == PhoneState::Waiting && !recentlyLeft.Announced(hello.id, now))
            events.requests.push_back(phone->name);
        events.changed = true;
    } else if (const PhoneState decided = DecideAdmission(FactsFor(phone, hello.id, now)); decided != phone->state) {
        Enter(*phone, decided, now);
        events.changed = true;
    }

    if (phone->name != name) {
        events.changed = true;
        phone->name = name;
    }
    phone->address = from;
    phone->lastHeard = now;
    SendStatus(*phone);
}

void ServerCore::Allow(std::uint32_t sessionId) {
    Phone* phone = FindBySession(sessionId);
    if (phone == nullptr || (phone->state != PhoneState::Waiting && phone->state != PhoneState::Refused)) return;
    refusedIds.Remove(phone->id);
    allowed.insert(PhoneIdText(phone->id));
    int active = 0;
    for (const auto& other : phones) active += other->state == PhoneState::Active ? 1 : 0;
    // XInput has four slots: a fifth is told so and admitted at a Hello once one is free.
    if (active >= MaxControllers)
        phone->state = PhoneState::NoRoom;
    else
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
    refusedIds.Add(phone->id);
    SendStatus(*phone);
}

void ServerCore::Disconnect(std::uint32_t sessionId) {
    for (auto it = phones.begin(); it != phones.end(); ++it) {
        Phone& phone = **it;
        if (phone.sessionId != sessionId) continue;
        UnplugPad(phone);
        phone.state = PhoneState::Refused;
        SendStatus(phone);
        refusedIds.Add(phone.id);
        if (allowed.erase(PhoneIdText(phone.id)) != 0) events.allowedChanged = true;
        // It is not a new id when it asks again: its next Hello gets a record, and the Refused answer.
        recentlyLeft.Remember(phone.id, false, phone.lastHeard);
        phones.erase(it);
        return;
    }
}

bool ServerCore::Forget(const std::string& idText) {
    if (allowed.erase(idText) == 0) return false;
    events.allowedChanged = true;
    return true;
}

} // namespace Velotrix
