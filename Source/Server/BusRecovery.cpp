// The bus driver lost and back: a removed, disabled or updated device, or one that did not survive
// sleep. While it is lost the phones stay listed without pads; when it is back they get pads again in
// the order of their former player numbers, so that a bus that hands out user indices in plug order
// gives each its own number back.

#include "Server/ServerCore.h"

#include "Shell/Log.h"

#include <algorithm>
#include <array>

namespace Velotrix {

namespace {

// Sorts after every real player number: a phone whose number was not known yet goes last.
constexpr std::int32_t UnknownPlayer = MaxControllers + 1;

} // namespace

void ServerCore::LoseBus(BusResult why, std::int64_t now) {
    if (busState.load() != BusState::Connected) return;
    busState.store(BusState::Lost);
    lastBusLook = now;
    for (auto& phone : phones) {
        Pad* pad = phone->pad;
        if (pad == nullptr) continue;
        // No unplug: nothing more goes to the old device. Its notification thread ends by itself.
        AbandonTarget(*pad->target);
        pad->waker.store(nullptr);
        GiveBackPad(pad);
        phone->pad = nullptr;
        phone->formerPlayer = phone->player > 0 ? phone->player : UnknownPlayer;
        phone->player = 0;
        phone->state = PhoneState::NoDriver;
        phone->idle = true;
        SendStatus(*phone);
    }
    bus.Abandon();
    events.changed = true;
    Log("ViGEmBus: the driver went away (0x%08X); looking for it again every %d ms", static_cast<unsigned>(why),
        static_cast<int>(BusRetryPeriod / 1'000'000));
}

bool ServerCore::TakeBusBack(std::int64_t now) {
    lastBusLook = now;
    if (bus.Open() != ResultOk) return false;
    busState.store(BusState::Connected);
    // Only phones that had a pad are marked, so there are at most MaxControllers of them.
    std::array<Phone*, MaxControllers> returning{};
    std::size_t count = 0;
    for (auto& phone : phones) {
        // A phone that left meanwhile is gone from the table; one that was refused meanwhile has
        // another state now.
        if (phone->formerPlayer > 0 && phone->state == PhoneState::NoDriver && count < returning.size())
            returning[count++] = phone.get();
    }
    std::stable_sort(returning.begin(), returning.begin() + count,
                     [](const Phone* a, const Phone* b) { return a->formerPlayer < b->formerPlayer; });
    Log("ViGEmBus: the driver is back; plugging %d pads again", static_cast<int>(count));
    for (std::size_t i = 0; i < count; ++i) {
        Phone* phone = returning[i];
        // Back as it was before; newcomers of the meantime are decided at their next Hello as usual.
        PlugPad(*phone);
        SendStatus(*phone);
        if (busState.load() != BusState::Connected) break;
    }
    events.changed = true;
    // Gone again half-way: the phones still waiting keep their turn for the next return.
    if (busState.load() != BusState::Connected) return false;
    for (auto& phone : phones) phone->formerPlayer = 0;
    return true;
}

void ServerCore::LookAfterBus(std::int64_t now) {
    const BusState state = busState.load();
    if (state == BusState::Connected && bus.GoneNoticed()) LoseBus(ErrBusLost, now);
    if (state == BusState::Lost && MoreThan(now, lastBusLook, BusRetryPeriod)) (void)TakeBusBack(now);
}

void ServerCore::BusInterfaceRemoved(std::int64_t now) {
    latestNow = now;
    if (busState.load() != BusState::Connected) return;
    // Another interface of the class may have gone; ours is lost when it is no longer listed, or when
    // it is listed still but no longer answers.
    if (!bus.StillListed()) return LoseBus(ErrBusLost, now);
    if (const BusResult checked = bus.CheckDevice(); checked != ResultOk) LoseBus(checked, now);
}

void ServerCore::BusInterfaceArrived(std::int64_t now) {
    latestNow = now;
    switch (busState.load()) {
    case BusState::Lost:
        (void)TakeBusBack(now);
        return;
    case BusState::Missing:
        // Installed by hand, without the window's installer: connected all the same, and the window told
        // (it has no timer that would find out).
        if (ConnectBus()) events.changed = true;
        return;
    case BusState::Connected:
        return;
    }
}

void ServerCore::CheckBus(std::int64_t now) {
    latestNow = now;
    switch (busState.load()) {
    case BusState::Connected:
        if (const BusResult checked = bus.CheckDevice(); checked != ResultOk) LoseBus(checked, now);
        return;
    case BusState::Lost:
        (void)TakeBusBack(now);
        return;
    case BusState::Missing:
        return;
    }
}

} // namespace Velotrix
