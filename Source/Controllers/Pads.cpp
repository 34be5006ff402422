// The server's side of the virtual pads: connecting the bus, plugging and unplugging a phone's pad,
// and the rumble hand-over from the notification thread.

#include "Controllers/Pad.h"
#include "Server/Server.h"
#include "Shell/Log.h"

#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace Velotrix {

namespace {

// Every pad ever plugged, kept reachable until the process ends (see Pad.h); reachable rather than
// leaked, so leak checkers stay quiet.
Pad* KeepPad() {
    static std::mutex keptMutex;
    static auto* kept = new std::vector<std::unique_ptr<Pad>>;
    auto pad = std::unique_ptr<Pad>(new (std::nothrow) Pad);
    if (!pad) return nullptr;
    std::lock_guard lock(keptMutex);
    kept->push_back(std::move(pad));
    return kept->back().get();
}

} // namespace

void OnPadNotification(BusConnection*, PadTarget*, std::uint8_t largeMotor, std::uint8_t smallMotor,
                       std::uint8_t led, void* context) {
    auto* pad = static_cast<Pad*>(context);
    pad->rumble.exchange(static_cast<std::uint32_t>(largeMotor) | static_cast<std::uint32_t>(smallMotor) << 8 |
                         static_cast<std::uint32_t>(led) << 16);
    pad->rumblePending.exchange(true);
}

bool Server::ConnectBus() {
    std::lock_guard lock(mutex);
    return ConnectBusLocked();
}

bool Server::ConnectBusLocked() {
    if (busConnected.load()) return true;
    if (!bus) {
        bus.reset(new (std::nothrow) BusConnection);
        if (!bus) return false;
    }
    const BusResult result = Open(bus.get());
    if (result != ResultOk) {
        Log("ViGEmBus: not available (0x%08X)", static_cast<unsigned>(result));
        return false;
    }
    busConnected.exchange(true);
    Log("ViGEmBus: connected");
    return true;
}

void Server::DisconnectBus() {
    if (!bus) return;
    Close(bus.get());
    bus.reset();
}

void Server::PlugPad(Phone& phone) {
    if (phone.pad != nullptr) return;
    PadTarget* target = AllocTarget();
    const BusResult plugged = target != nullptr ? PlugTarget(bus.get(), target) : ErrBadTarget;
    if (plugged != ResultOk) {
        Log("ViGEmBus: could not plug a pad (0x%08X)", static_cast<unsigned>(plugged));
        FreeTarget(target);
        phone.state = PhoneState::NoDriver;
        return;
    }
    Pad* pad = KeepPad();
    if (pad == nullptr) {
        (void)UnplugTarget(bus.get(), target);
        phone.state = PhoneState::NoDriver;
        return;
    }
    pad->target = target;
    (void)RegisterNotification(bus.get(), target, &OnPadNotification, pad);
    phone.pad = pad;
    phone.state = PhoneState::Active;
    phone.player = 0;
    std::uint32_t index = 0;
    if (GetUserIndex(bus.get(), target, &index) == ResultOk) phone.player = static_cast<std::int32_t>(index) + 1;
    Log("Pad plugged for \"%s\", player %d", phone.name.c_str(), phone.player);
}

void Server::UnplugPad(Phone& phone) {
    if (phone.pad == nullptr) return;
    UnregisterNotification(phone.pad->target);
    (void)UnplugTarget(bus.get(), phone.pad->target);
    // The Pad and its target stay allocated: see Pad.h.
    phone.pad = nullptr;
    phone.player = 0;
    Log("Pad unplugged for \"%s\"", phone.name.c_str());
}

} // namespace Velotrix
