#include "Controllers/BusClient.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace Velotrix {
namespace {

constexpr std::uint32_t HighestSerial = BUS_HIGHEST_SERIAL;

// After a failure the driver may keep failing at once; pausing between repeated failures keeps a
// notification thread from taking a whole core meanwhile.
constexpr std::chrono::milliseconds RepeatedFailurePause{10};

// Sends a request that has no output.
std::uint32_t Send(DriverHandle device, std::uint32_t code, std::span<const std::uint8_t> input) {
    std::size_t returned = 0;
    return DriverRequest(device, code, input, {}, returned);
}

// The requests that name only a serial: unplug and wait until ready.
std::uint32_t SendSerialRequest(DriverHandle device, std::uint32_t code, std::uint32_t serial) {
    std::array<std::uint8_t, BusSerialRequestSize> request{};
    ByteWriter writer(request.data(), request.size());
    writer.U32(0, static_cast<std::uint32_t>(request.size()));
    writer.U32(4, serial);
    return Send(device, code, request);
}

std::uint32_t SendCheckVersion(DriverHandle device) {
    std::array<std::uint8_t, BusCheckVersionSize> request{};
    ByteWriter writer(request.data(), request.size());
    writer.U32(0, static_cast<std::uint32_t>(request.size()));
    writer.U32(4, BusInterfaceVersion);
    return Send(device, BusRequestCheckVersion, request);
}

std::uint32_t SendPlugIn(DriverHandle device, const PadTarget& target, std::uint32_t serial) {
    std::array<std::uint8_t, BusPlugInSize> request{};
    ByteWriter writer(request.data(), request.size());
    writer.U32(0, static_cast<std::uint32_t>(request.size()));
    writer.U32(4, serial);
    writer.U32(8, target.type);
    writer.U16(12, target.vendorId);
    writer.U16(14, target.productId);
    return Send(device, BusRequestPlugIn, request);
}

// The last thing a notification thread does with the target and the connection; a waiter in
// WaitForNotificationThreads may release them as soon as it sees the count drop.
void NotificationThreadEnded(NotificationThreads& threads) {
    std::lock_guard<std::mutex> lock(threads.mutex);
    --threads.running;
    threads.ended.notify_all();
}

void RunNotifications(std::shared_ptr<BusDevice> shared, std::shared_ptr<NotificationThreads> threads,
                      BusConnection* bus, PadTarget* target, std::uint32_t serial, void* context) {
    std::array<std::uint8_t, BusNotificationSize> buffer{};
    ByteWriter writer(buffer.data(), buffer.size());
    writer.U32(0, static_cast<std::uint32_t>(buffer.size()));
    writer.U32(4, serial);
    bool failedBefore = false;
    bool abortedBefore = false;
    for (;;) {
        // The request reuses the buffer as the driver gave it back, sized by its own size field.
        std::uint32_t size = 0;
        if (!ByteReader(buffer.data(), buffer.size()).U32(0, size) || size > buffer.size()) size = buffer.size();
        std::span<std::uint8_t> bytes(buffer.data(), size);
        // A closed connection will never notify again; ending here also lets its destructor finish.
        DriverHandle device = shared->handle.load();
        if (device == InvalidDriverHandle) break;
        std::size_t returned = 0;
        std::uint32_t error = DriverRequest(device, BusRequestNotification, bytes, bytes, returned);
        if (error == 0) {
            failedBefore = false;
            NotificationCallback callback = target->callback.load();
            if (!callback) break;
            callback(bus, target, buffer[8], buffer[9], buffer[10], context);
            continue;
        }
        if (error == DriverErrorAccessDenied) break;
        // Nobody would hear of a later completion any more. Read after the failure: the server
        // unregisters before it unplugs, so a pad it unplugged on purpose never counts as gone below.
        if (!target->callback.load()) break;
        if (DeviceGone(error)) {
            shared->gone.store(true);
            break;
        }
        // Aborted while still registered: the pad went away under us. A device that is gone answers the
        // next request with its own error, which the line above then reports; once is enough.
        if (error == DriverErrorOperationAborted) {
            if (abortedBefore) break;
            abortedBefore = true;
            continue;
        }
        if (failedBefore) std::this_thread::sleep_for(RepeatedFailurePause);
        failedBefore = true;
    }
    target->notifying.store(false);
    NotificationThreadEnded(*threads);
}

} // namespace

// What a device answers once it is gone, reasoned from the platform's documentation (a driver's
// NTSTATUS reaches us through the documented NTSTATUS-to-Win32 mapping):
// - 22 ERROR_BAD_COMMAND, from STATUS_INVALID_DEVICE_STATE: when a device is removed (surprise removal,
//   disabled in Device Manager, its driver updated), the driver framework purges its I/O queues; the
//   requests pending then are cancelled (995) and every later one completes with
//   STATUS_INVALID_DEVICE_STATE (WdfIoQueuePurge, WdfIoQueueDrain).
// - 1617 ERROR_DEVICE_REMOVED, from STATUS_DEVICE_REMOVED: the removal said outright.
// - 1167 ERROR_DEVICE_NOT_CONNECTED, from STATUS_DEVICE_NOT_CONNECTED: the bus answers it for a serial
//   it holds no pad for. The client names only serials the bus accepted and the bus never unplugs one
//   by itself, so the device answering is no longer the one that took the pad.
// - 6 ERROR_INVALID_HANDLE: the handle itself is dead; nothing sent on it can succeed again.
// Not gone: 31 ERROR_GEN_FAILURE (STATUS_UNSUCCESSFUL) is every driver's catch-all, and the bus answers
// it for a pad it will not plug or make ready; a refused plug must not tear down a working bus. 995
// ends one pending request (an unplug, a closed handle). 5 can come from STATUS_DELETE_PENDING too,
// but the bus answers it for another program's pad, and that meaning is the one the client acts on.
bool DeviceGone(std::uint32_t driverError) {
    switch (driverError) {
    case DriverErrorInvalidHandle:
    case DriverErrorBadCommand:
    case DriverErrorDeviceNotConnected:
    case DriverErrorDeviceRemoved:
        return true;
    default:
        return false;
    }
}

std::unique_ptr<PadTarget> AllocTarget() {
    std::unique_ptr<PadTarget> target(new (std::nothrow) PadTarget);
    if (target) target->state = TargetReadyToPlug;
    return target;
}

BusConnection::BusConnection() {
    try {
        device = std::make_shared<BusDevice>();
        threads = std::make_shared<NotificationThreads>();
    } catch (const std::bad_alloc&) {
        device.reset();
    }
}

BusConnection::~BusConnection() {
    // Closing aborts every pending notification request and the threads then find no device handle,
    // so they end promptly. A driver that never aborts them leaves its threads blocked, holding only
    // the shared BusDevice, so the wait is bounded.
    Close();
    (void)WaitForNotificationThreads(NotificationGrace);
}

void WriteControllerReport(ByteWriter& writer, std::size_t offset, const ControllerReport& report) {
    writer.U16(offset + 0, report.buttons);
    writer.U8(offset + 2, report.leftTrigger);
    writer.U8(offset + 3, report.rightTrigger);
    writer.I16(offset + 4, report.leftStickX);
    writer.I16(offset + 6, report.leftStickY);
    writer.I16(offset + 8, report.rightStickX);
    writer.I16(offset + 10, report.rightStickY);
}

bool ReadControllerReport(const ByteReader& reader, std::size_t offset, ControllerReport& report) {
    if (!reader.Has(offset, ControllerReportSize)) return false;
    ControllerReport read;
    bool ok = reader.U16(offset + 0, read.buttons) && reader.U8(offset + 2, read.leftTrigger) &&
              reader.U8(offset + 3, read.rightTrigger) && reader.I16(offset + 4, read.leftStickX) &&
              reader.I16(offset + 6, read.leftStickY) && reader.I16(offset + 8, read.rightStickX) &&
              reader.I16(offset + 10, read.rightStickY);
    if (ok) report = read;
    return ok;
}

bool BusConnection::IsOpen() const { return device && device->handle.load() != InvalidDriverHandle; }

BusResult BusConnection::DeviceFor(const PadTarget& target, bool namesSerial, DriverHandle& out) const {
    out = device ? device->handle.load() : InvalidDriverHandle;
    if (out == InvalidDriverHandle) return ErrBusMissing;
    if (namesSerial && target.serial == 0) return ErrBadTarget;
    return ResultOk;
}

BusResult BusConnection::Open() {
    if (IsOpen()) return ErrBusConnected;
    if (!device || !threads) return ErrBusMissing;
    std::vector<std::wstring> paths = ListDriverDevicePaths();
    BusResult failure = ErrBusMissing;
    for (const std::wstring& path : paths) {
        if (path.empty()) {
            failure = ErrBusMissing;
            continue;
        }
        UniqueDriverDevice opened(OpenDriverDevice(path));
        if (!opened) {
            failure = ErrBusOpen;
            continue;
        }
        if (SendCheckVersion(opened.get()) != 0) {
            failure = ErrBusVersion;
            continue;
        }
        try {
            this->path = path;
        } catch (const std::bad_alloc&) {
            this->path.clear();
        }
        device->handle.store(opened.Release());
        return ResultOk;
    }
    return failure;
}

void BusConnection::Close() {
    if (!device) return;
    DriverHandle handle = device->handle.exchange(InvalidDriverHandle);
    if (handle != InvalidDriverHandle) CloseDriverDevice(handle);
}

void BusConnection::Abandon() {
    Close();
    path.clear();
    // The old record stays with its threads (its handle invalid for good); without memory for a new one
    // the old is reused, and its threads still end at their next look at the handle.
    try {
        device = std::make_shared<BusDevice>();
    } catch (const std::bad_alloc&) {
        if (device) device->gone.store(false);
    }
}

bool BusConnection::GoneNoticed() const { return device && device->gone.load(); }

BusResult BusConnection::CheckDevice() {
    const DriverHandle handle = device ? device->handle.load() : InvalidDriverHandle;
    if (handle == InvalidDriverHandle) return ErrBusMissing;
    const std::uint32_t error = SendCheckVersion(handle);
    if (error == 0) return ResultOk;
    return DeviceGone(error) ? ErrBusLost : ErrBusVersion;
}

bool BusConnection::StillListed() const {
    if (!IsOpen()) return false;
    // Compared without regard to case, as Windows matches device paths (Wine lists them in lower case).
    const auto same = [this](const std::wstring& listed) {
        return listed.size() == path.size() &&
               std::equal(listed.begin(), listed.end(), path.begin(),
                          [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
    };
    for (const std::wstring& listed : ListDriverDevicePaths())
        if (same(listed)) return true;
    return false;
}

BusResult BusConnection::PlugTarget(PadTarget& target) {
    DriverHandle handle = InvalidDriverHandle;
    if (const BusResult guard = DeviceFor(target, false, handle); guard != ResultOk) return guard;
    if (target.state == TargetNotInitialised) return ErrTargetNotReady;
    if (target.state == TargetPlugged) return ErrAlreadyPlugged;

    // A refused plug in means another pad holds that number, so the search settles on the lowest
    // number the bus accepts.
    std::uint32_t serial = 1;
    for (std::uint32_t error; (error = SendPlugIn(handle, target, serial)) != 0;) {
        // A device that is gone would refuse all 65535 numbers, each a round trip.
        if (DeviceGone(error)) return ErrBusLost;
        if (++serial > HighestSerial) return ErrNoFreeSerial;
    }
    target.serial = serial;

    std::uint32_t ready = SendSerialRequest(handle, BusRequestWaitReady, serial);
    if (DeviceGone(ready)) return ErrBusLost;
    // 87: a driver too old to offer the readiness wait; its pads are usable at once.
    if (ready != 0 && ready != DriverErrorInvalidParameter) {
        // The caller releases a target that failed to plug, so nothing would ever unplug this pad.
        (void)SendSerialRequest(handle, BusRequestUnplug, serial);
        return ErrNotPlugged;
    }
    target.state = TargetPlugged;
    return ResultOk;
}

BusResult BusConnection::UnplugTarget(PadTarget& target) {
    DriverHandle handle = InvalidDriverHandle;
    if (const BusResult guard = DeviceFor(target, false, handle); guard != ResultOk) return guard;
    if (target.state == TargetNotInitialised) return ErrTargetNotReady;
    if (target.state != TargetPlugged) return ErrNotPlugged;
    if (const std::uint32_t error = SendSerialRequest(handle, BusRequestUnplug, target.serial); error != 0)
        return DeviceGone(error) ? ErrBusLost : ErrUnplugFailed;
    target.state = TargetUnplugged;
    return ResultOk;
}

BusResult BusConnection::SubmitReport(const PadTarget& target, const ControllerReport& report) {
    DriverHandle handle = InvalidDriverHandle;
    if (const BusResult guard = DeviceFor(target, true, handle); guard != ResultOk) return guard;
    std::array<std::uint8_t, BusSubmitReportSize> request{};
    ByteWriter writer(request.data(), request.size());
    writer.U32(0, static_cast<std::uint32_t>(request.size()));
    writer.U32(4, target.serial);
    WriteControllerReport(writer, 8, report);
    const std::uint32_t error = Send(handle, BusRequestSubmitReport, request);
    if (error == DriverErrorAccessDenied) return ErrBadTarget;
    return DeviceGone(error) ? ErrBusLost : ResultOk;
}

BusResult BusConnection::GetUserIndex(const PadTarget& target, std::uint32_t& userIndex) {
    DriverHandle handle = InvalidDriverHandle;
    if (const BusResult guard = DeviceFor(target, true, handle); guard != ResultOk) return guard;
    if (target.type != TargetXbox360Wired) return ErrBadTarget;
    std::array<std::uint8_t, BusUserIndexSize> buffer{};
    ByteWriter writer(buffer.data(), buffer.size());
    writer.U32(0, static_cast<std::uint32_t>(buffer.size()));
    writer.U32(4, target.serial);
    writer.U32(8, 0);
    std::size_t returned = 0;
    std::uint32_t error = DriverRequest(handle, BusRequestUserIndex, buffer, buffer, returned);
    if (error == DriverErrorAccessDenied) return ErrBadTarget;
    if (error == DriverErrorInvalidDeviceObjectParameter) return ErrUserIndexRange;
    if (DeviceGone(error)) return ErrBusLost;
    std::uint32_t index = 0;
    (void)ByteReader(buffer.data(), buffer.size()).U32(8, index);
    userIndex = index;
    return ResultOk;
}

BusResult BusConnection::RegisterNotification(PadTarget& target, NotificationCallback callback, void* context) {
    DriverHandle handle = InvalidDriverHandle;
    if (const BusResult guard = DeviceFor(target, true, handle); guard != ResultOk) return guard;
    if (!callback) return ErrBadTarget;
    if (target.callback.load() == callback) return ErrCallbackSet;

    target.context.store(context);
    target.callback.store(callback);
    target.notifying.store(true);
    {
        std::lock_guard<std::mutex> lock(threads->mutex);
        ++threads->running;
    }
    // The serial is captured now: the caller may plug the target again under another number while
    // this thread is still starting.
    try {
        std::thread(RunNotifications, device, threads, this, &target, target.serial, context).detach();
    } catch (const std::exception&) {
        target.callback.store(nullptr);
        target.context.store(nullptr);
        target.notifying.store(false);
        NotificationThreadEnded(*threads);
        return ErrBadTarget;
    }
    return ResultOk;
}

void UnregisterNotification(PadTarget& target) {
    target.callback.store(nullptr);
    target.context.store(nullptr);
}

void AbandonTarget(PadTarget& target) {
    UnregisterNotification(target);
    if (target.state == TargetPlugged) target.state = TargetUnplugged;
}

bool BusConnection::WaitForNotificationThreads(std::chrono::milliseconds timeout) {
    if (!threads) return true;
    std::unique_lock<std::mutex> lock(threads->mutex);
    return threads->ended.wait_for(lock, timeout, [this] { return threads->running == 0; });
}

} // namespace Velotrix
