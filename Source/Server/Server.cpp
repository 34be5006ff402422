#include "Server/Server.h"

#include "Controllers/BusClient.h"
#include "Platform/Os.h"
#include "Platform/Random.h"
#include "Shell/Log.h"

#include <algorithm>
#include <new>

namespace Velotrix {

namespace {

constexpr std::int64_t TickPeriod = 10'000'000;

} // namespace

Server::Server() : randomSource(&SecureRandom) {
    std::lock_guard lock(mutex);
    // A missing driver is no error here: phones are told "no driver" until ConnectBus succeeds.
    (void)ConnectBusLocked();
}

Server::~Server() { Shutdown(); }

void Server::Shutdown() {
    Stop();
    std::lock_guard lock(mutex);
    for (auto& phone : phones) UnplugPad(*phone);
    phones.clear();
    DisconnectBus();
}

bool Server::OpenSocket(std::uint16_t requestedPort, std::string& error) {
    switch (socket.OpenServer(requestedPort)) {
    case SocketResult::NoSocket:
        error = "Could not open a network socket.";
        return false;
    case SocketResult::BindFailed:
        error = "Port " + std::to_string(requestedPort) + " is in use. Is the server already running?";
        return false;
    case SocketResult::Ok:
        break;
    }
    port = socket.LocalPort();
    return true;
}

bool Server::Start(std::uint16_t requestedPort, std::string& error) {
    if (!OpenSocket(requestedPort, error)) return false;
    running = true;
    thread = std::thread([this] { ReceiveLoop(); });
    Log("Server: listening on UDP %u", static_cast<unsigned>(port));
    return true;
}

void Server::Stop() {
    if (!running.exchange(false)) {
        // Never started, or stopped already; a socket opened for tests alone still closes here.
        socket.Close();
        return;
    }
    if (thread.joinable()) thread.join();
    {
        std::lock_guard lock(mutex);
        for (const auto& phone : phones) {
            if (phone->state == PhoneState::Active)
                SendStatusTo(phone->address, phone->sessionId, 0, PhoneState::Refused);
        }
    }
    socket.Close();
}

void Server::SetHostName(const std::string& name) {
    std::lock_guard lock(mutex);
    if (&name != &hostName) hostName = name;
}

void Server::SetRandomSource(RandomSource source) {
    std::lock_guard lock(mutex);
    randomSource = source;
}

void Server::SetOnRequest(RequestCallback callback) {
    std::lock_guard lock(mutex);
    onRequest = std::move(callback);
}

void Server::SetOnChanged(Callback callback) {
    std::lock_guard lock(mutex);
    onChanged = std::move(callback);
}

void Server::SetOnAllowedChanged(Callback callback) {
    std::lock_guard lock(mutex);
    onAllowedChanged = std::move(callback);
}

void Server::Notify(std::unique_lock<std::mutex>& lock, Callback Server::*callback) {
    Callback copy = this->*callback;
    lock.unlock();
    if (copy) copy();
}

void Server::ReceiveLoop() {
    RaiseCurrentThreadPriority();
    // Made once: the loop itself allocates nothing per datagram.
    std::unique_ptr<ReceiveBatch> batch(new (std::nothrow) ReceiveBatch);
    if (!batch) return;
    while (running.load()) {
        const int count = socket.ReceiveMany(*batch);
        for (int i = 0; i < count; ++i) {
            const int length = batch->lengths[i];
            if (length > 0 && length <= MaxDatagram)
                HandleDatagram(batch->buffers[i], length, batch->from[i], SteadyNow());
        }
        const std::int64_t now = SteadyNow();
        if (now - lastTick >= TickPeriod) {
            lastTick = now;
            Tick(now);
        }
    }
}

void Server::HandleDatagram(const std::uint8_t* data, int length, const SocketAddress& from, std::int64_t now) {
    if (length <= 0) return;
    const DatagramBytes datagram(data, static_cast<std::size_t>(length));
    const Receipt receipt = CheckDatagram(datagram);
    if (receipt == Receipt::Drop) return;
    std::unique_lock lock(mutex);
    switch (receipt) {
    case Receipt::OtherVersion:
        SendStatusTo(from, 0, 0, PhoneState::OtherVersion);
        return;
    case Receipt::Hello:
        HandleHello(lock, datagram, from, now);
        return;
    case Receipt::Input:
        HandleInput(datagram, from, now);
        return;
    case Receipt::Bye:
        HandleBye(lock, datagram, from, now);
        return;
    case Receipt::Drop:
        return;
    }
}

void Server::HandleBye(std::unique_lock<std::mutex>& lock, DatagramBytes datagram, const SocketAddress& from,
                       std::int64_t now) {
    std::uint32_t sessionId = 0;
    if (!ReadBye(datagram, sessionId)) return;
    auto found =
        std::find_if(phones.begin(), phones.end(), [&](const auto& phone) { return phone->sessionId == sessionId; });
    if (found == phones.end()) {
        // Nothing to show changed; a stream of these must not repaint the window.
        Refuse(from, now);
        return;
    }
    Log("Bye from \"%s\"", (*found)->name.c_str());
    // It was announced already; should it come back at once, it is not announced again.
    recentlyLeft.Remember((*found)->id, (*found)->state == PhoneState::Waiting, now);
    UnplugPad(**found);
    phones.erase(found);
    Notify(lock, &Server::onChanged);
}

void Server::SendStatus(const Phone& phone) {
    SendStatusTo(phone.address, phone.sessionId, static_cast<std::uint8_t>(phone.player), phone.state);
}

void Server::SendStatusTo(const SocketAddress& to, std::uint32_t sessionId, std::uint8_t player, PhoneState state) {
    std::uint8_t out[MaxOutgoing];
    const int length = BuildStatus(out, ++sendSequence, sessionId, player, state, hostName);
    Send(out, length, to);
}

void Server::Send(const std::uint8_t* data, int length, const SocketAddress& to) {
    if (length > 0) socket.SendTo(data, length, to);
}

void Server::Refuse(const SocketAddress& from, std::int64_t now) { refusals.Count(from, now); }

bool Server::MayAnswer(const SocketAddress& from, std::int64_t now) {
    return senderLimits.Take(from, SenderLimit::RefusalAnswer, now) && refusalAnswers.Take(RefusalAnswersOverall, now);
}

bool Server::NewIdRefused(const PhoneId& id, const SocketAddress& from, std::int64_t now) {
    if (phones.size() < MaxPhones &&
        (recentlyLeft.Knows(id, now) ||
         (senderLimits.Take(from, SenderLimit::NewId, now) && newIds.Take(NewIdsOverall, now))))
        return false;
    Refuse(from, now);
    return true;
}

Phone* Server::FindBySession(std::uint32_t sessionId) {
    for (auto& phone : phones)
        if (phone->sessionId == sessionId) return phone.get();
    return nullptr;
}

Phone* Server::FindById(const PhoneId& id) {
    for (auto& phone : phones)
        if (phone->id == id) return phone.get();
    return nullptr;
}

} // namespace Velotrix
