#pragma once

// A plugged phone's virtual pad, and the hand-over of what a game sends to it (rumble motors and the
// player LED) from the pad's notification thread to the server's tick.

#include "Controllers/BusClient.h"
#include "Platform/Waker.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Velotrix {

// What a game set on a pad: the two rumble motors and the player LED. Packed into one 32-bit word
// (byte 0 the large motor, byte 1 the small one, byte 2 the LED, byte 3 zero) so that the notification
// thread hands all three over in one atomic store and a reader never sees half of a change.
struct Rumble {
    std::uint8_t largeMotor = 0;
    std::uint8_t smallMotor = 0;
    std::uint8_t led = 0;

    std::uint32_t Pack() const;
    static Rumble Unpack(std::uint32_t word);
    bool operator==(const Rumble&) const = default;
};

// Pads and their targets are never freed while the process runs: the notification thread may be
// about to call OnPadNotification with them even after the pad was unplugged. They are lent again
// instead, once that thread has ended, so a long life or a plug/unplug loop does not grow them.
struct Pad {
    std::unique_ptr<PadTarget> target;
    // A Rumble, packed; written by the notification thread before it sets rumblePending.
    std::atomic<std::uint32_t> rumble{0};
    std::atomic<bool> rumblePending{false};
    // Woken after each change, so that the receive thread's next tick runs at once; set while the pad
    // is plugged for a phone of a server whose waker outlives its pads' notification threads.
    std::atomic<Waker*> waker{nullptr};

    Rumble CurrentRumble() const { return Rumble::Unpack(rumble.load()); }
    // Lent to a phone; guarded by the pads' own mutex.
    bool lent = false;
};

// A pad for a new plug: one given back whose notification thread has ended and whose target is not
// plugged, with its rumble cleared, or else a new pad with a new target ready to plug. Null when
// memory ran out. Thread-safe.
[[nodiscard]] Pad* LendPad();
// Gives back a pad after its target was unplugged and its notification unregistered.
void GiveBackPad(Pad* pad);
// How many pads were ever made in this process (the pads' memory is bounded by this).
std::size_t PadsMade();

// The notification callback; `context` is the phone's Pad. Runs on the pad's notification thread
// without any lock: it only stores, rumble first, then the pending flag, and then wakes the pad's waker.
void OnPadNotification(BusConnection* bus, PadTarget* target, std::uint8_t largeMotor, std::uint8_t smallMotor,
                       std::uint8_t led, void* context);

} // namespace Velotrix
