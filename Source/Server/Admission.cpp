#include "Server/Server.h"

#include "Shell/Log.h"

namespace Velotrix {

namespace {

bool Counts(PhoneState state, bool countWaiting) {
    return state == PhoneState::Active || (countWaiting && state == PhoneState::Waiting);
}

} // namespace

void Server::HandleHello(std::unique_lock<std::mutex>& lock, DatagramBytes datagram, const SocketAddress& from,
                         std::int64_t now) {
    HelloDatagram hello;
    if (!ReadHello(datagram, hello)) return;

    bool changed = false;
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
        int taken = 0;
        for (const auto& other : phones) taken += Counts(other->state, true) ? 1 : 0;

        auto created = std::make_unique<Phone>();
        created->id = hello.id;
        created->name.assign(hello.name);
        created->sessionId = sessionId;
        created->lastHeard = now;
        created->rateStart = now;
        phone = created.get();
        phones.push_back(std::move(created));

        const std::string idText = PhoneIdText(hello.id);
        if (taken >= 4)
            phone->state = PhoneState::NoRoom;
        else if (!busConnected.load())
            phone->state = PhoneState::NoDriver;
        else if (!askFirst || allowed.count(idText) != 0)
            // Every plug is a new device for Windows; beyond the rate the phone hears "no room" and
            // is decided again at its next Hello.
            phone->state = padPlugs.Take(PadPlugs, now) ? PhoneState::Active : PhoneState::NoRoom;
        else
            phone->state = PhoneState::Waiting;
        Log("Hello from \"%s\" (%s): %d", phone->name.c_str(), idText.c_str(), static_cast<int>(phone->state));

        if (phone->state == PhoneState::Active) PlugPad(*phone);
        if (phone->state == PhoneState::Waiting && onRequest && !recentlyLeft.Announced(hello.id, now)) {
            RequestCallback request = onRequest;
            const std::string name = phone->name;
            lock.unlock();
            request(name);
            lock.lock();
            // The window may have called into the server meanwhile; the phone may be gone.
            phone = FindById(hello.id);
            if (phone == nullptr) return;
        }
        changed = true;
    } else if (phone->state == PhoneState::NoRoom || (phone->state == PhoneState::NoDriver && busConnected.load())) {
        int active = 0;
        for (const auto& other : phones) active += Counts(other->state, false) ? 1 : 0;
        const bool admit = !askFirst || allowed.count(PhoneIdText(phone->id)) != 0;
        if (active < 4 && busConnected.load() && (!admit || padPlugs.Take(PadPlugs, now))) {
            phone->state = admit ? PhoneState::Active : PhoneState::Waiting;
            if (admit) PlugPad(*phone);
            changed = true;
        }
    }

    if (phone->name.size() != hello.name.size() || phone->name != hello.name) {
        changed = true;
        phone->name.assign(hello.name);
    }
    phone->address = from;
    phone->lastHeard = now;
    SendStatus(*phone);
    if (changed) Notify(lock, &Server::onChanged);
}

void Server::SetAskFirst(bool value) {
    std::lock_guard lock(mutex);
    askFirst = value;
}

void Server::SetAllowed(const std::set<std::string>& ids) {
    std::lock_guard lock(mutex);
    if (&ids != &allowed) allowed = ids;
}

std::set<std::string> Server::AllowedList() {
    std::lock_guard lock(mutex);
    return allowed;
}

void Server::Allow(std::uint32_t sessionId) {
    std::unique_lock lock(mutex);
    Phone* phone = FindBySession(sessionId);
    if (phone == nullptr || phone->state != PhoneState::Waiting) return;
    allowed.insert(PhoneIdText(phone->id));
    PlugPad(*phone);
    SendStatus(*phone);
    Callback allowedChanged = onAllowedChanged;
    Callback changed = onChanged;
    lock.unlock();
    if (allowedChanged) allowedChanged();
    if (changed) changed();
}

void Server::Deny(std::uint32_t sessionId) {
    std::lock_guard lock(mutex);
    Phone* phone = FindBySession(sessionId);
    if (phone == nullptr) return;
    UnplugPad(*phone);
    phone->state = PhoneState::Refused;
    SendStatus(*phone);
}

void Server::Disconnect(std::uint32_t sessionId) {
    std::lock_guard lock(mutex);
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
