#pragma once

// The program's own client of the ViGEmBus driver: connect to the bus, plug and unplug virtual Xbox 360
// wired pads, send their input, ask for their XInput user index, and hear in the background what games
// send back (rumble motors and the player LED). Every operation waits for the driver before it returns;
// only the notification wait runs on a thread of its own per registration.
//
// The client has no lock of its own: the caller serialises every operation on one connection (the
// server holds its mutex). Only the notification threads run beside the caller, and they touch nothing
// but the connection's device handle and the target's callback and context, which are atomic.

#include "Common/Bytes.h"
#include "Platform/DriverIo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Velotrix {

// Every operation answers one of these; callers log them as "0x%08X". The operations take the
// connection and the target by reference, so "no connection" (0xE0000013) and "no place for the user
// index" (0xE0000015) cannot be asked for.
using BusResult = std::uint32_t;
inline constexpr BusResult ResultOk = 0x20000000;
inline constexpr BusResult ErrBusMissing = 0xE0000001;
inline constexpr BusResult ErrNoFreeSerial = 0xE0000002;
inline constexpr BusResult ErrBadTarget = 0xE0000003;
inline constexpr BusResult ErrUnplugFailed = 0xE0000004;
inline constexpr BusResult ErrAlreadyPlugged = 0xE0000005;
inline constexpr BusResult ErrTargetNotReady = 0xE0000006;
inline constexpr BusResult ErrNotPlugged = 0xE0000007;
inline constexpr BusResult ErrBusVersion = 0xE0000008;
inline constexpr BusResult ErrBusOpen = 0xE0000009;
inline constexpr BusResult ErrCallbackSet = 0xE0000010;
inline constexpr BusResult ErrBusConnected = 0xE0000012;
inline constexpr BusResult ErrUserIndexRange = 0xE0000014;
// The device answered as one that is gone (see DeviceGone): removed, disabled, or replaced by a new
// one behind the old handle. Nothing more should be sent on this connection; Abandon it and Open anew.
inline constexpr BusResult ErrBusLost = 0xE0000016;

// Whether a Windows error from a bus request means that the device behind the handle is gone rather
// than that it refused this one request. One table, in BusClient.cpp, with the reasons.
[[nodiscard]] bool DeviceGone(std::uint32_t driverError);

// One opened device as a connection shares it with the notification threads started on it. A device
// that is abandoned keeps its record (invalid handle) until its last thread has ended, so a thread of
// the old device never sends on the handle of the device opened after it.
struct BusDevice {
    // Atomic because the notification threads read it for every request while Close may clear it.
    std::atomic<DriverHandle> handle{InvalidDriverHandle};
    // Set by a notification thread whose request came back with a DeviceGone error.
    std::atomic<bool> gone{false};
};

// The notification threads of a connection, of every device it opened: each holds this until its very
// last step, so the connection itself may be released while a thread is still on its way out.
struct NotificationThreads {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};

inline constexpr std::chrono::milliseconds NotificationGrace{2000};

// State of a target: 0 only for a target that was never set up.
inline constexpr std::uint32_t TargetNotInitialised = 0;
inline constexpr std::uint32_t TargetReadyToPlug = 1;
inline constexpr std::uint32_t TargetPlugged = 2;
inline constexpr std::uint32_t TargetUnplugged = 3;

inline constexpr std::uint32_t TargetXbox360Wired = BUS_TARGET_XBOX360_WIRED;

class BusConnection;
struct PadTarget;

// Runs on the target's notification thread, without any lock, with the motor speeds and LED number a
// game set. `context` is the one given when the callback was registered.
using NotificationCallback = void (*)(BusConnection* bus, PadTarget* target, std::uint8_t largeMotor,
                                      std::uint8_t smallMotor, std::uint8_t ledNumber, void* context);

// One virtual pad. A default-constructed target is in state 0 and refused by every operation that checks
// the state; AllocTarget makes one ready to plug.
struct PadTarget {
    // 0 until the bus first accepts the pad, then the number the bus knows it by (1 to 65535).
    std::uint32_t serial = 0;
    std::uint32_t state = TargetNotInitialised;
    std::uint16_t vendorId = 0x045E;
    std::uint16_t productId = 0x028E;
    std::uint32_t type = TargetXbox360Wired;
    // Read by the notification thread for every completion while the caller may clear them.
    std::atomic<NotificationCallback> callback{nullptr};
    std::atomic<void*> context{nullptr};
    // Set by RegisterNotification, cleared by the notification thread as its very last use of the
    // target: once clear, the target may be released or plugged again under a new registration.
    std::atomic<bool> notifying{false};
};

// A new target ready to plug (serial 0, state 1, no callback); null when memory is exhausted.
[[nodiscard]] std::unique_ptr<PadTarget> AllocTarget();

// Button bits of ControllerReport::buttons; 0x0800 is never set.
inline constexpr std::uint16_t ButtonDpadUp = 0x0001;
inline constexpr std::uint16_t ButtonDpadDown = 0x0002;
inline constexpr std::uint16_t ButtonDpadLeft = 0x0004;
inline constexpr std::uint16_t ButtonDpadRight = 0x0008;
inline constexpr std::uint16_t ButtonStart = 0x0010;
inline constexpr std::uint16_t ButtonBack = 0x0020;
inline constexpr std::uint16_t ButtonLeftThumb = 0x0040;
inline constexpr std::uint16_t ButtonRightThumb = 0x0080;
inline constexpr std::uint16_t ButtonLeftShoulder = 0x0100;
inline constexpr std::uint16_t ButtonRightShoulder = 0x0200;
inline constexpr std::uint16_t ButtonGuide = 0x0400;
inline constexpr std::uint16_t ButtonA = 0x1000;
inline constexpr std::uint16_t ButtonB = 0x2000;
inline constexpr std::uint16_t ButtonX = 0x4000;
inline constexpr std::uint16_t ButtonY = 0x8000;

// The XInput gamepad state of one pad; 12 bytes on the wire (WriteControllerReport).
struct ControllerReport {
    std::uint16_t buttons = 0;
    std::uint8_t leftTrigger = 0;
    std::uint8_t rightTrigger = 0;
    std::int16_t leftStickX = 0; // positive right
    std::int16_t leftStickY = 0; // positive up
    std::int16_t rightStickX = 0;
    std::int16_t rightStickY = 0;
};
inline constexpr std::size_t ControllerReportSize = 12;

// The 12 report bytes at `offset`, little-endian: buttons, triggers, then the four stick axes.
void WriteControllerReport(ByteWriter& writer, std::size_t offset, const ControllerReport& report);
// The reverse; false (and `report` untouched) when the 12 bytes are not all there.
[[nodiscard]] bool ReadControllerReport(const ByteReader& reader, std::size_t offset, ControllerReport& report);

// One connection to the bus. It owns its device handle; destroying it closes the handle, which aborts
// the pending notification requests, and then waits a little (NotificationGrace) for their threads to
// end, so that a callback still running is not handed a connection that is gone. Every operation
// waits for the driver before it returns.
class BusConnection {
public:
    BusConnection();
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    // Connects to the first interface of the bus that opens and passes the version check.
    // ErrBusConnected when it holds a device handle already (nothing changes); ErrBusMissing when there
    // is no interface (or memory ran out when the connection was made); otherwise, when none works,
    // the failure of the last one tried (ErrBusMissing, ErrBusOpen or ErrBusVersion) and the
    // connection stays unconnected, so that a later Open may succeed.
    [[nodiscard]] BusResult Open();
    // Closes the device handle, if any; the pending notification requests are aborted and their threads
    // end. Safe to call twice.
    void Close();
    bool IsOpen() const;

    // The device went away: closes its handle without another request and forgets it, so that the next
    // Open starts on a new device while the old one's notification threads end by themselves. Its
    // targets are to be given up with AbandonTarget.
    void Abandon();
    // A notification thread heard that the device is gone (a request came back DeviceGone).
    bool GoneNoticed() const;
    // One harmless request (the version check) on the open device: ResultOk, ErrBusMissing (not open),
    // ErrBusLost (DeviceGone), ErrBusVersion (any other failure).
    [[nodiscard]] BusResult CheckDevice();
    // Whether the path this connection opened is still among the bus's interfaces; false when closed.
    [[nodiscard]] bool StillListed() const;

    // Plugs the target under the lowest serial number the bus accepts and waits until the pad is ready.
    // ErrBusMissing, ErrTargetNotReady (state 0), ErrAlreadyPlugged (state 2; nothing is sent),
    // ErrNoFreeSerial, ErrNotPlugged (the readiness wait failed; the pad the bus accepted is withdrawn
    // again and the state is unchanged), ErrBusLost (the search stops at the first DeviceGone answer).
    // Every request below answers ErrBusLost for a DeviceGone error as well.
    [[nodiscard]] BusResult PlugTarget(PadTarget& target);
    // ErrBusMissing, ErrTargetNotReady (state 0), ErrNotPlugged (state 1 or 3; nothing is sent),
    // ErrUnplugFailed (state unchanged), ErrBusLost. The serial stays recorded.
    [[nodiscard]] BusResult UnplugTarget(PadTarget& target);

    // Sends one input report; allocates nothing. ErrBusMissing, ErrBadTarget (serial 0, or the driver
    // denied access), ErrBusLost; ResultOk for every other outcome, failures included.
    [[nodiscard]] BusResult SubmitReport(const PadTarget& target, const ControllerReport& report);

    // The XInput user index (from 0) Windows gave the pad. ErrBusMissing, ErrBadTarget (serial 0, a
    // type other than 0, access denied), ErrUserIndexRange (no index yet; ask again later), ErrBusLost.
    // Other driver failures store 0 and answer ResultOk.
    [[nodiscard]] BusResult GetUserIndex(const PadTarget& target, std::uint32_t& userIndex);

    // Stores the callback and starts a detached thread that waits for the driver's notifications and
    // calls it for each. ErrBusMissing, ErrBadTarget (serial 0, no callback, or no thread could be
    // started), ErrCallbackSet (this callback is registered already).
    [[nodiscard]] BusResult RegisterNotification(PadTarget& target, NotificationCallback callback, void* context);

    // Waits up to `timeout` until every notification thread started on this connection has ended;
    // true when they have. After that, nothing uses the targets any more and they may be released.
    [[nodiscard]] bool WaitForNotificationThreads(std::chrono::milliseconds timeout);

private:
    // The check every request on a target begins with: the device handle, or ErrBusMissing without
    // one; and ErrBadTarget for a target the bus never accepted when the request names its serial.
    BusResult DeviceFor(const PadTarget& target, bool namesSerial, DriverHandle& out) const;

    // Null only when memory ran out; every operation then answers ErrBusMissing.
    std::shared_ptr<BusDevice> device;
    std::shared_ptr<NotificationThreads> threads;
    // The interface path the open device came from.
    std::wstring path;
};

// Clears the callback at once without waiting: the thread ends when its pending request next completes
// (and finds no callback) or is aborted by unplugging the pad or closing the connection.
void UnregisterNotification(PadTarget& target);

// The target's pad went with its device: unregisters it and marks it unplugged without a request, so
// that it may be plugged again on the next device once its notification thread has ended.
void AbandonTarget(PadTarget& target);

} // namespace Velotrix
