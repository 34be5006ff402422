// The core's side of the virtual pads: connecting the bus, plugging and unplugging a phone's pad.

#include "Server/ServerCore.h"

#include "Shell/Log.h"

namespace Velotrix {

bool ServerCore::ConnectBus() {
    switch (busState.load()) {
    case BusState::Connected:
        return true;
    case BusState::Lost:
        return TakeBusBack(latestNow);
    case BusState::Missing:
        break;
    }
    const BusResult result = bus.Open();
    if (result != ResultOk) {
        Log("ViGEmBus: not available (0x%08X)", static_cast<unsigned>(result));
        return false;
    }
    busState.store(BusState::Connected);
    Log("ViGEmBus: connected");
    return true;
}

void ServerCore::PlugPad(Phone& phone) {
    if (phone.pad != nullptr) return;
    Pad* pad = LendPad();
    const BusResult plugged = pad != nullptr ? bus.PlugTarget(*pad->target) : ErrBadTarget;
    if (plugged != ResultOk) {
        Log("ViGEmBus: could not plug a pad (0x%08X)", static_cast<unsigned>(plugged));
        GiveBackPad(pad);
        phone.state = PhoneState::NoDriver;
        // The phone is no longer Active here, so losing the bus does not tell it a second time.
        Heard(plugged, latestNow);
        return;
    }
    pad->waker.store(padWaker);
    (void)bus.RegisterNotification(*pad->target, &OnPadNotification, pad);
    phone.pad = pad;
    phone.state = PhoneState::Active;
    phone.player = 0;
    // Its Inputs were not applied without a pad: the numbers and the time since are no loss and no gap.
    phone.link.Restart();
    phone.figures = {};
    std::uint32_t index = 0;
    const BusResult asked = bus.GetUserIndex(*pad->target, index);
    if (asked == ResultOk) phone.player = static_cast<std::int32_t>(index) + 1;
    Heard(asked, latestNow);
    if (phone.pad == nullptr) return;
    LogAbout(phone, "Pad plugged for \"%s\", player %d", phone.name.c_str(), phone.player);
}

void ServerCore::UnplugPad(Phone& phone) {
    if (phone.pad == nullptr) return;
    UnregisterNotification(*phone.pad->target);
    phone.pad->waker.store(nullptr);
    const BusResult unplugged = bus.UnplugTarget(*phone.pad->target);
    if (unplugged == ErrBusLost) AbandonTarget(*phone.pad->target);
    // Not freed: lent again once its notification thread has ended (see Pad.h).
    GiveBackPad(phone.pad);
    phone.pad = nullptr;
    phone.player = 0;
    LogAbout(phone, "Pad unplugged for \"%s\"", phone.name.c_str());
    Heard(unplugged, latestNow);
}

} // namespace Velotrix
