#pragma once

// The simulated bus: the functions of DriverIo.h answered in-process, with the driver's request codes,
// byte layouts, replies and errors, for the tests, the dev server and the Windows test program. This
// header is its other side: what a game and the test harness do to it.
//
// How it answers:
// - Interfaces: one healthy interface unless told otherwise; its path opens, the version check with
//   version 1 succeeds. Requests on a handle that is not open fail with 6 (invalid handle); a request
//   whose buffer sizes or size field are wrong fails with 87; an unknown code with 1.
// - Plug in: serials 1 to 65535; a serial that is plugged or taken by another program fails with 183,
//   the plugRefused fault with 31, a full bus (more than MaxPads pads) with 1450. A new pad gets the
//   lowest XInput user index 0 to 3 that no plugged pad has (none when all four are used).
// - Wait until ready, unplug, submit report, get user index, request notification, for a serial:
//   plugged through this handle: served; plugged through another handle or taken by another program:
//   5 (access denied); not plugged: 1167 (device not connected).
// - Wait until ready: success, or the ReadyReply chosen.
// - Get user index: 650 until the pad's index is given (at plug time plus the user-index delay, or
//   when GiveUserIndexesNow is called); then the 12 bytes with the index at offset 8.
// - Request notification: pending until a game sets a rumble value the pad's notification requests
//   have not delivered yet (several changes meanwhile deliver only the last), then the 12 bytes with
//   the large motor, the small motor and the LED number at offsets 8, 9 and 10. It ends with 995 when
//   the pad is unplugged, its handle closed, or the bus reset.
// - Closing a handle unplugs the pads plugged through it, as the real bus does.
// - Removal (RemoveBus), as a removed device behaves: its pads are gone, pending notifications end
//   (995), every later request on a handle opened before answers 22 (ERROR_BAD_COMMAND, what a driver
//   whose queues were purged at removal answers), the interfaces leave the list and opening fails.
//   RestoreBus brings a fresh, empty bus; the old handles stay dead. Both tell the interface watchers.
//
// Everything is thread-safe. Submitting a report allocates nothing.

#include "Controllers/BusClient.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace Velotrix::SimulatedBus {

// The most pads the bus holds at once (plugged, or unplugged and remembered with their last report).
inline constexpr std::size_t MaxPads = 32;

struct Faults {
    bool noBus = false;          // no interface of the bus class is present
    bool openFails = false;      // every interface's path fails to open
    bool versionRefused = false; // every device fails the version check
    bool plugRefused = false;    // every plug in is refused, whatever the serial
};

// How one interface of the bus class behaves; the Faults apply on top.
struct InterfaceBehaviour {
    bool detailsUnreadable = false; // listed with an empty path
    bool openFails = false;
    bool versionRefused = false;
};

enum class ReadyReply {
    Ready,       // the pad is ready
    Unsupported, // 87: a driver that does not offer the request
    Fails,       // 31: the readiness wait failed
};

// A request as the bus received it, for checking the bytes a client sends.
struct RecordedRequest {
    std::uint32_t code = 0;
    DriverHandle device = InvalidDriverHandle;
    std::array<std::uint8_t, 32> input{}; // the first bytes of the input
    std::size_t inputSize = 0;
    std::size_t outputSize = 0;
};

enum class BusEventKind { Plug, Unplug, Report };

struct BusEvent {
    BusEventKind kind = BusEventKind::Plug;
    std::uint32_t serial = 0;
    std::int64_t time = 0;   // steady-clock nanoseconds (CLOCK_MONOTONIC natively) when it reached the bus
    ControllerReport report; // for Report
};

// Called on the thread of the request, under the bus's own lock, for every plug, unplug and accepted
// report. It must be quick and must not call into the simulated bus.
using Observer = void (*)(const BusEvent& event, void* context);

// Back to the defaults above: aborts every pending notification (995), forgets every handle, pad,
// taken serial, fault, delay, recorded request and the observer.
void Reset();

void SetFaults(const Faults& faults);
Faults CurrentFaults();
// The interfaces the bus lists (default: one healthy one). Faults::noBus hides them all.
void SetInterfaces(std::span<const InterfaceBehaviour> interfaces);
void SetReadyReply(ReadyReply reply);

// Serials first to last (within 1 to 65535) are held, or no longer held, by another program's pads.
void MarkSerialsTaken(std::uint32_t first, std::uint32_t last, bool taken = true);

// Pads plugged from now on get their user index only `delay` after plugging (650 meanwhile).
void SetUserIndexDelay(std::chrono::nanoseconds delay);
// Every plugged pad that has an index waiting gets it now.
void GiveUserIndexesNow();

// What a game sends to the pad: wakes its pending notification request. False when the serial is not
// plugged.
bool SetRumble(std::uint32_t serial, std::uint8_t largeMotor, std::uint8_t smallMotor, std::uint8_t ledNumber);

// The last report the serial's pad received since it was plugged; false when there is none.
bool LastReport(std::uint32_t serial, ControllerReport& report);
// Reports the serial's pad received since it was plugged.
std::uint64_t ReportCount(std::uint32_t serial);
std::vector<std::uint32_t> PluggedSerials();
// The user index the pad has or will get; -1 when none.
int UserIndexOf(std::uint32_t serial);
std::size_t OpenHandleCount();

// Notification requests waiting inside the bus right now, and a wait (bounded) until at least `count`
// are, so that a test knows a thread is pending before it unplugs.
std::size_t PendingNotifications();
[[nodiscard]] bool WaitForPendingNotifications(std::size_t count, std::chrono::milliseconds timeout);

// The last request with `code` (false when there was none), and how many arrived; RequestCount() with
// no code counts them all.
bool LastRequest(std::uint32_t code, RecordedRequest& request);
std::uint64_t RequestCount(std::uint32_t code);
std::uint64_t RequestCount();

// Null clears it.
void SetObserver(Observer observer, void* context);

// The bus's device goes away, and comes back fresh and empty; see the top of this header. The watchers
// (WatchDriverInterfaces) hear Removed and Arrived on the caller's thread.
void RemoveBus();
void RestoreBus();
// Watchers registered now.
std::size_t InterfaceWatchers();

} // namespace Velotrix::SimulatedBus
