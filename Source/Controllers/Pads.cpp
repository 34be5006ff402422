// Every pad ever made, lent to a phone while it is plugged and lent again once its notification thread
// has ended; and the rumble hand-over from that thread.

#include "Controllers/Pad.h"

#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace Velotrix {

namespace {

struct Pads {
    std::mutex mutex;
    // Reachable until the process ends rather than leaked, so leak checkers stay quiet.
    std::vector<std::unique_ptr<Pad>> all;
};

Pads& ThePads() {
    static auto* pads = new Pads;
    return *pads;
}

bool Reusable(const Pad& pad) {
    return !pad.lent && !pad.target->notifying.load() && pad.target->state != TargetPlugged;
}

} // namespace

Pad* LendPad() {
    Pads& pads = ThePads();
    std::lock_guard lock(pads.mutex);
    for (auto& pad : pads.all) {
        if (!Reusable(*pad)) continue;
        pad->rumble.store(0);
        pad->rumblePending.store(false);
        pad->waker.store(nullptr);
        pad->lent = true;
        return pad.get();
    }
    try {
        pads.all.reserve(pads.all.size() + 1);
        auto pad = std::make_unique<Pad>();
        pad->target = AllocTarget();
        if (!pad->target) return nullptr;
        pads.all.push_back(std::move(pad));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    pads.all.back()->lent = true;
    return pads.all.back().get();
}

void GiveBackPad(Pad* pad) {
    if (pad == nullptr) return;
    std::lock_guard lock(ThePads().mutex);
    pad->lent = false;
}

std::size_t PadsMade() {
    std::lock_guard lock(ThePads().mutex);
    return ThePads().all.size();
}

std::uint32_t Rumble::Pack() const {
    return static_cast<std::uint32_t>(largeMotor) | static_cast<std::uint32_t>(smallMotor) << 8 |
           static_cast<std::uint32_t>(led) << 16;
}

Rumble Rumble::Unpack(std::uint32_t word) {
    return {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
            static_cast<std::uint8_t>(word >> 16)};
}

void OnPadNotification(BusConnection*, PadTarget*, std::uint8_t largeMotor, std::uint8_t smallMotor, std::uint8_t led,
                       void* context) {
    auto* pad = static_cast<Pad*>(context);
    pad->rumble.exchange(Rumble{largeMotor, smallMotor, led}.Pack());
    pad->rumblePending.exchange(true);
    if (Waker* waker = pad->waker.load()) waker->Wake();
}

} // namespace Velotrix
