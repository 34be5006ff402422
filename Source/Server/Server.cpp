#include "Server/Server.h"

#include "Platform/Os.h"
#include "Shell/Log.h"

#include <algorithm>
#include <memory>
#include <new>

namespace Velotrix {

namespace {

// How long the receive thread waits before it tries a port again that it could not have.
constexpr std::int64_t SocketRetryPeriod = 1'000'000'000;
// The longest the receive thread takes datagrams without looking at the tick: the 10 ms the tick
// period once was, so that under a flood every deadline is met as it was then.
constexpr std::int64_t DrainSlice = 10'000'000;

} // namespace

Server::Server(RandomSource random) : core(random) { core.SetPadWaker(&waker); }

Server::~Server() { Shutdown(); }

void Server::Shutdown() {
    Stop();
    std::lock_guard lock(mutex);
    core.Shutdown();
    core.Outgoing().Clear();
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
    interfaceWatch = UniqueDriverWatch(WatchDriverInterfaces(&Server::OnInterfaceChange, this));
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
    // Stopped first: once it is, no OS thread touches this server any more.
    interfaceWatch.Reset();
    waker.Wake();
    if (thread.joinable()) thread.join();
    std::unique_lock lock(mutex);
    core.RefuseActivePhones();
    Finish(lock);
    socket.Close();
}

void Server::Finish(std::unique_lock<std::mutex>& lock) {
    CoreEvents events = core.TakeEvents();
    // Copies taken under the mutex: the user-interface thread may replace a callback meanwhile.
    RequestCallback request = events.requests.empty() ? RequestCallback() : onRequest;
    Callback allowedChanged = events.allowedChanged ? onAllowedChanged : Callback();
    Callback changed = events.changed ? onChanged : Callback();
    if (core.Outgoing().Empty()) {
        lock.unlock();
    } else {
        std::lock_guard sendLock(sendMutex);
        core.Outgoing().MoveTo(sending);
        lock.unlock();
        for (const OutgoingDatagram& datagram : sending.Datagrams())
            socket.SendTo(datagram.bytes.data(), datagram.length, datagram.to);
        sending.Clear();
    }
    if (request)
        for (const std::string& name : events.requests) request(name);
    if (allowedChanged) allowedChanged();
    if (changed) changed();
}

void Server::SetHostName(const std::string& name) {
    std::lock_guard lock(mutex);
    core.SetHostName(name);
}

void Server::SetAskFirst(bool value) {
    std::lock_guard lock(mutex);
    core.SetAskFirst(value);
}

void Server::SetAllowed(const std::set<std::string>& ids) {
    std::lock_guard lock(mutex);
    if (&ids != &core.Allowed()) core.SetAllowed(ids);
}

std::set<std::string> Server::AllowedList() {
    std::lock_guard lock(mutex);
    return core.Allowed();
}

void Server::Allow(std::uint32_t sessionId) {
    std::unique_lock lock(mutex);
    core.Allow(sessionId);
    Finish(lock);
}

void Server::Deny(std::uint32_t sessionId) {
    std::unique_lock lock(mutex);
    core.Deny(sessionId);
    Finish(lock);
}

void Server::Disconnect(std::uint32_t sessionId) {
    std::unique_lock lock(mutex);
    core.Disconnect(sessionId);
    Finish(lock);
}

bool Server::Forget(const std::string& idText) {
    std::unique_lock lock(mutex);
    const bool forgotten = core.Forget(idText);
    Finish(lock);
    return forgotten;
}

bool Server::ConnectBus() {
    std::lock_guard lock(mutex);
    return core.ConnectBus();
}

std::vector<PhoneView> Server::Snapshot() {
    std::lock_guard lock(mutex);
    return core.Snapshot();
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

void Server::HandleDatagram(const std::uint8_t* data, int length, const SocketAddress& from, std::int64_t now) {
    if (length <= 0) return;
    const DatagramBytes datagram(data, static_cast<std::size_t>(length));
    // Malformed bytes do not even take the lock from a player's input.
    if (CheckDatagram(datagram) == Receipt::Drop) return;
    std::unique_lock lock(mutex);
    core.HandleDatagram(datagram, from, now);
    Finish(lock);
}

void Server::Tick(std::int64_t now) {
    std::unique_lock lock(mutex);
    core.Tick(now);
    Finish(lock);
}

void Server::NoteResume() {
    resumed.store(true);
    waker.Wake();
}

void Server::OnInterfaceChange(DriverInterfaceChange change, void* context) {
    // An OS thread: only a note for the receive thread, which holds the lock when it acts.
    auto* server = static_cast<Server*>(context);
    (change == DriverInterfaceChange::Arrived ? server->interfaceArrived : server->interfaceRemoved).store(true);
    server->waker.Wake();
}

void Server::TakeNotes(std::int64_t now) {
    const bool removed = interfaceRemoved.exchange(false);
    const bool arrived = interfaceArrived.exchange(false);
    const bool resume = resumed.exchange(false);
    if (!removed && !arrived && !resume) return;
    std::unique_lock lock(mutex);
    // Removal first: a device that went and came back between two turns is taken back at once.
    if (removed) core.BusInterfaceRemoved(now);
    if (arrived) core.BusInterfaceArrived(now);
    if (resume) core.CheckBus(now);
    Finish(lock);
}

bool Server::ReopenSocket() {
    // The sending steps of other threads use the socket under this lock.
    std::lock_guard sendLock(sendMutex);
    socket.Close();
    if (socket.OpenServer(port) != SocketResult::Ok) return false;
    (void)waker.Watch(socket);
    Log("Server: the socket failed; listening again on UDP %u", static_cast<unsigned>(port));
    return true;
}

std::int64_t Server::TickIfDue(std::int64_t now) {
    std::unique_lock lock(mutex);
    std::int64_t deadline = core.NextDeadline(now);
    if (deadline > now) return deadline;
    core.Tick(now);
    deadline = core.NextDeadline(now);
    Finish(lock);
    return deadline;
}

bool Server::Drain(ReceiveBatch& batch, std::int64_t deadline, bool& failed) {
    const std::int64_t start = SteadyNow();
    for (;;) {
        const int count = socket.IsOpen() ? socket.ReceiveMany(batch) : -1;
        if (count < 0) {
            failed = true;
            return false;
        }
        std::int64_t now = start;
        for (int i = 0; i < count; ++i) {
            const int length = batch.lengths[i];
            now = SteadyNow();
            if (length > 0 && length <= MaxDatagram) HandleDatagram(batch.buffers[i], length, batch.from[i], now);
        }
        if (batch.emptied) return false;
        if (now >= deadline || now - start >= DrainSlice) return true;
    }
}

void Server::ReceiveLoop() {
    RaiseCurrentThreadPriority();
    // Made once: the loop itself allocates nothing per datagram.
    std::unique_ptr<ReceiveBatch> batch(new (std::nothrow) ReceiveBatch);
    if (!batch) return;
    (void)waker.Watch(socket);
    std::int64_t lastReopen = 0;
    // Whatever came before the thread ran is taken at once.
    bool readable = true;
    std::int64_t deadline = SteadyNow();
    while (running.load()) {
        TakeNotes(SteadyNow());
        bool failed = false;
        readable = readable && Drain(*batch, deadline, failed);
        if (failed) {
            // A socket that failed (as one may after a resume) is opened again on its port, at most
            // once a second; meanwhile it is closed, so that the wait does not spin on its error.
            const std::int64_t now = SteadyNow();
            if (now - lastReopen >= SocketRetryPeriod) {
                lastReopen = now;
                readable = ReopenSocket();
            }
            if (!readable) {
                std::lock_guard sendLock(sendMutex);
                socket.Close();
            }
        }
        const std::int64_t now = SteadyNow();
        if (!socket.IsOpen() && now - lastReopen >= SocketRetryPeriod) {
            lastReopen = now;
            readable = ReopenSocket();
        }
        deadline = TickIfDue(now);
        // More is queued: no wait, but the tick came first.
        if (readable) continue;
        std::int64_t wakeAt = deadline;
        if (!socket.IsOpen()) wakeAt = std::min(wakeAt, lastReopen + SocketRetryPeriod);
        readable = waker.Wait(socket, wakeAt == NoDeadline ? -1 : std::max<std::int64_t>(0, wakeAt - SteadyNow()));
    }
}

} // namespace Velotrix
