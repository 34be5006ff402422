#include "SimulatedBus/SimulatedBus.h"

#include "Platform/DriverIo.h"
#include "Platform/Os.h"

#include <algorithm>
#include <bitset>
#include <condition_variable>
#include <mutex>
#include <new>

namespace Velotrix {
namespace {

using namespace SimulatedBus;

constexpr std::uint32_t ErrorInvalidFunction = 1;
constexpr std::uint32_t ErrorInvalidHandle = 6;
constexpr std::uint32_t ErrorGenFailure = 31;
// What a removed device answers on the handles opened before (see DeviceGone in the bus client).
constexpr std::uint32_t ErrorRemoved = DriverErrorBadCommand;
constexpr std::uint32_t ErrorNotSupported = 50;
constexpr std::uint32_t ErrorAlreadyExists = 183;
constexpr std::uint32_t ErrorDeviceNotConnected = 1167;
constexpr std::uint32_t ErrorNoSystemResources = 1450;

constexpr std::uint32_t HighestSerial = 65535;
constexpr int UserIndexes = 4;

constexpr std::uint32_t RecordedCodes[] = {BusRequestPlugIn,    BusRequestUnplug,       BusRequestCheckVersion,
                                           BusRequestWaitReady, BusRequestSubmitReport, BusRequestNotification,
                                           BusRequestUserIndex};
constexpr std::size_t OtherCodes = std::size(RecordedCodes);

struct PadSlot {
    bool used = false;
    bool plugged = false;
    std::uint32_t serial = 0;
    DriverHandle owner = InvalidDriverHandle;
    // Changes at every plug and unplug, so a pending request can tell that its pad went away even when
    // the slot holds the same serial again.
    std::uint64_t generation = 0;
    std::uint8_t largeMotor = 0;
    std::uint8_t smallMotor = 0;
    std::uint8_t ledNumber = 0;
    std::uint64_t rumbleSequence = 0;
    std::uint64_t deliveredSequence = 0;
    int userIndex = -1;
    std::int64_t userIndexFrom = 0; // steady-clock nanoseconds
    ControllerReport lastReport;
    std::uint64_t reportCount = 0;
};

struct OpenDevice {
    DriverHandle handle = InvalidDriverHandle;
    std::size_t interfaceIndex = 0;
    // Opened on a bus that was removed since: every request answers ErrorRemoved.
    bool stale = false;
};

struct Watcher {
    DriverWatch id = InvalidDriverWatch;
    DriverInterfaceCallback callback = nullptr;
    void* context = nullptr;
};

struct BusState {
    std::mutex mutex;
    std::condition_variable changed;
    Faults faults;
    std::vector<InterfaceBehaviour> interfaces{InterfaceBehaviour{}};
    ReadyReply readyReply = ReadyReply::Ready;
    std::bitset<HighestSerial + 1> taken;
    std::int64_t userIndexDelay = 0; // nanoseconds
    std::vector<OpenDevice> devices;
    // Handle values are never reused, so a request still pending on a closed handle cannot mistake a
    // newer handle for its own.
    DriverHandle nextHandle = 0x100;
    // Changes at every Reset; pending requests end when it does.
    std::uint64_t epoch = 0;
    std::array<PadSlot, MaxPads> pads;
    std::size_t pendingNotifications = 0;
    std::array<RecordedRequest, OtherCodes + 1> lastRequests{};
    std::array<std::uint64_t, OtherCodes + 1> requestCounts{};
    std::uint64_t requestTotal = 0;
    Observer observer = nullptr;
    void* observerContext = nullptr;
    bool removed = false;
    std::vector<Watcher> watchers;
    DriverWatch nextWatch = 1;
};

// Never destroyed: detached notification threads may still wait on its condition while the process
// exits.
BusState& State() {
    static BusState& state = *new BusState;
    return state;
}

std::wstring InterfacePath(std::size_t index) {
    std::wstring number = std::to_wstring(index + 1);
    if (number.size() < 4) number.insert(0, 4 - number.size(), L'0');
    return L"\\\\?\\ROOT#SYSTEM#" + number + L"#" BUS_INTERFACE_CLASS_TEXT;
}

std::size_t CodeSlot(std::uint32_t code) {
    for (std::size_t index = 0; index < OtherCodes; ++index) {
        if (RecordedCodes[index] == code) return index;
    }
    return OtherCodes;
}

const OpenDevice* FindDevice(const BusState& state, DriverHandle handle) {
    for (const OpenDevice& device : state.devices) {
        if (device.handle == handle) return &device;
    }
    return nullptr;
}

template <typename Predicate>
PadSlot* FindSlot(BusState& state, Predicate predicate) {
    for (PadSlot& pad : state.pads) {
        if (predicate(pad)) return &pad;
    }
    return nullptr;
}

PadSlot* FindPlugged(BusState& state, std::uint32_t serial) {
    return FindSlot(state, [serial](const PadSlot& pad) { return pad.plugged && pad.serial == serial; });
}

// The slot that holds, or last held, the serial's pad.
PadSlot* FindRemembered(BusState& state, std::uint32_t serial) {
    return FindSlot(state, [serial](const PadSlot& pad) { return pad.used && pad.serial == serial; });
}

void Emit(const BusState& state, BusEventKind kind, const PadSlot& pad, std::int64_t time) {
    if (!state.observer) return;
    BusEvent event;
    event.kind = kind;
    event.serial = pad.serial;
    event.time = time;
    event.report = pad.lastReport;
    state.observer(event, state.observerContext);
}

void UnplugPad(BusState& state, PadSlot& pad) {
    pad.plugged = false;
    ++pad.generation;
    Emit(state, BusEventKind::Unplug, pad, SteadyNow());
    state.changed.notify_all();
}

// The pad a request names, when this handle may use it; otherwise the error the bus answers.
std::uint32_t AccessPad(BusState& state, DriverHandle device, std::uint32_t serial, PadSlot*& pad) {
    pad = FindPlugged(state, serial);
    if (pad) return pad->owner == device ? 0 : DriverErrorAccessDenied;
    if (serial <= HighestSerial && state.taken[serial]) return DriverErrorAccessDenied;
    return ErrorDeviceNotConnected;
}

// Checks the buffer sizes and the leading size field, and reads the serial at offset 4.
bool ReadHeader(const ByteReader& input, std::size_t size, std::size_t outputSize, std::size_t neededOutput,
                std::uint32_t& serial) {
    std::uint32_t sizeField = 0;
    if (input.Size() != size || outputSize < neededOutput) return false;
    return input.U32(0, sizeField) && sizeField == size && input.U32(4, serial);
}

std::uint32_t HandlePlugIn(BusState& state, DriverHandle device, const ByteReader& input) {
    std::uint32_t serial = 0;
    std::uint32_t type = 0;
    if (!ReadHeader(input, BusPlugInSize, 0, 0, serial) || !input.U32(8, type)) return DriverErrorInvalidParameter;
    if (serial == 0 || serial > HighestSerial || type != TargetXbox360Wired) return DriverErrorInvalidParameter;
    if (state.faults.plugRefused) return ErrorGenFailure;
    if (state.taken[serial] || FindPlugged(state, serial)) return ErrorAlreadyExists;

    // The slot this serial had before keeps its place; otherwise an unused one, then any unplugged one.
    PadSlot* pad = FindRemembered(state, serial);
    if (!pad) pad = FindSlot(state, [](const PadSlot& slot) { return !slot.used; });
    if (!pad) pad = FindSlot(state, [](const PadSlot& slot) { return !slot.plugged; });
    if (!pad) return ErrorNoSystemResources;

    bool indexUsed[UserIndexes] = {};
    for (const PadSlot& other : state.pads) {
        if (other.plugged && other.userIndex >= 0) indexUsed[other.userIndex] = true;
    }
    int userIndex = -1;
    for (int index = 0; index < UserIndexes && userIndex < 0; ++index) {
        if (!indexUsed[index]) userIndex = index;
    }

    const std::int64_t now = SteadyNow();
    std::uint64_t generation = pad->generation + 1;
    *pad = PadSlot{};
    pad->used = true;
    pad->plugged = true;
    pad->serial = serial;
    pad->owner = device;
    pad->generation = generation;
    pad->userIndex = userIndex;
    pad->userIndexFrom = now + state.userIndexDelay;
    Emit(state, BusEventKind::Plug, *pad, now);
    return 0;
}

std::uint32_t HandleCheckVersion(BusState& state, const OpenDevice& device, const ByteReader& input) {
    std::uint32_t version = 0;
    if (!ReadHeader(input, BusCheckVersionSize, 0, 0, version)) return DriverErrorInvalidParameter;
    bool refused = state.faults.versionRefused || (device.interfaceIndex < state.interfaces.size() &&
                                                   state.interfaces[device.interfaceIndex].versionRefused);
    if (refused || version != BusInterfaceVersion) return ErrorNotSupported;
    return 0;
}

std::uint32_t HandleWaitReady(BusState& state, DriverHandle device, const ByteReader& input) {
    if (state.readyReply == ReadyReply::Unsupported) return DriverErrorInvalidParameter;
    std::uint32_t serial = 0;
    if (!ReadHeader(input, BusSerialRequestSize, 0, 0, serial)) return DriverErrorInvalidParameter;
    PadSlot* pad = nullptr;
    if (std::uint32_t error = AccessPad(state, device, serial, pad)) return error;
    return state.readyReply == ReadyReply::Fails ? ErrorGenFailure : 0;
}

std::uint32_t HandleUnplug(BusState& state, DriverHandle device, const ByteReader& input) {
    std::uint32_t serial = 0;
    if (!ReadHeader(input, BusSerialRequestSize, 0, 0, serial)) return DriverErrorInvalidParameter;
    PadSlot* pad = nullptr;
    if (std::uint32_t error = AccessPad(state, device, serial, pad)) return error;
    UnplugPad(state, *pad);
    return 0;
}

std::uint32_t HandleSubmitReport(BusState& state, DriverHandle device, const ByteReader& input) {
    std::uint32_t serial = 0;
    ControllerReport report;
    if (!ReadHeader(input, BusSubmitReportSize, 0, 0, serial) || !ReadControllerReport(input, 8, report)) {
        return DriverErrorInvalidParameter;
    }
    PadSlot* pad = nullptr;
    if (std::uint32_t error = AccessPad(state, device, serial, pad)) return error;
    pad->lastReport = report;
    ++pad->reportCount;
    Emit(state, BusEventKind::Report, *pad, SteadyNow());
    return 0;
}

std::uint32_t HandleUserIndex(BusState& state, DriverHandle device, const ByteReader& input,
                              std::span<std::uint8_t> output, std::size_t& bytesReturned) {
    std::uint32_t serial = 0;
    if (!ReadHeader(input, BusUserIndexSize, output.size(), BusUserIndexSize, serial)) {
        return DriverErrorInvalidParameter;
    }
    PadSlot* pad = nullptr;
    if (std::uint32_t error = AccessPad(state, device, serial, pad)) return error;
    if (pad->userIndex < 0 || SteadyNow() < pad->userIndexFrom) return DriverErrorInvalidDeviceObjectParameter;
    ByteWriter writer(output.data(), BusUserIndexSize);
    writer.U32(0, BusUserIndexSize);
    writer.U32(4, serial);
    writer.U32(8, static_cast<std::uint32_t>(pad->userIndex));
    bytesReturned = BusUserIndexSize;
    return 0;
}

std::uint32_t HandleNotification(BusState& state, std::unique_lock<std::mutex>& lock, DriverHandle device,
                                 const ByteReader& input, std::span<std::uint8_t> output, std::size_t& bytesReturned) {
    std::uint32_t serial = 0;
    if (!ReadHeader(input, BusNotificationSize, output.size(), BusNotificationSize, serial)) {
        return DriverErrorInvalidParameter;
    }
    PadSlot* pad = nullptr;
    if (std::uint32_t error = AccessPad(state, device, serial, pad)) return error;

    const std::uint64_t epoch = state.epoch;
    const std::uint64_t generation = pad->generation;
    auto gone = [&] { return state.epoch != epoch || pad->generation != generation || !FindDevice(state, device); };
    ++state.pendingNotifications;
    state.changed.notify_all();
    state.changed.wait(lock, [&] { return gone() || pad->rumbleSequence != pad->deliveredSequence; });
    --state.pendingNotifications;
    if (gone()) return DriverErrorOperationAborted;

    pad->deliveredSequence = pad->rumbleSequence;
    ByteWriter writer(output.data(), BusNotificationSize);
    writer.U32(0, BusNotificationSize);
    writer.U32(4, serial);
    writer.U8(8, pad->largeMotor);
    writer.U8(9, pad->smallMotor);
    writer.U8(10, pad->ledNumber);
    writer.U8(11, 0);
    bytesReturned = BusNotificationSize;
    return 0;
}

void Record(BusState& state, DriverHandle device, std::uint32_t code, std::span<const std::uint8_t> input,
            std::size_t outputSize) {
    std::size_t slot = CodeSlot(code);
    RecordedRequest& request = state.lastRequests[slot];
    request.code = code;
    request.device = device;
    request.input.fill(0);
    std::copy_n(input.begin(), std::min(input.size(), request.input.size()), request.input.begin());
    request.inputSize = input.size();
    request.outputSize = outputSize;
    ++state.requestCounts[slot];
    ++state.requestTotal;
}

} // namespace

std::vector<std::wstring> ListDriverDevicePaths() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::vector<std::wstring> paths;
    if (state.faults.noBus || state.removed) return paths;
    try {
        for (std::size_t index = 0; index < state.interfaces.size(); ++index) {
            paths.push_back(state.interfaces[index].detailsUnreadable ? std::wstring() : InterfacePath(index));
        }
    } catch (const std::bad_alloc&) {}
    return paths;
}

DriverHandle OpenDriverDevice(const std::wstring& path) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.faults.noBus || state.faults.openFails || state.removed) return InvalidDriverHandle;
    for (std::size_t index = 0; index < state.interfaces.size(); ++index) {
        const InterfaceBehaviour& behaviour = state.interfaces[index];
        if (behaviour.detailsUnreadable || behaviour.openFails || path != InterfacePath(index)) continue;
        try {
            state.devices.push_back(OpenDevice{state.nextHandle, index});
        } catch (const std::bad_alloc&) {
            return InvalidDriverHandle;
        }
        state.nextHandle += 4;
        return state.devices.back().handle;
    }
    return InvalidDriverHandle;
}

void CloseDriverDevice(DriverHandle device) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = std::find_if(state.devices.begin(), state.devices.end(),
                              [device](const OpenDevice& open) { return open.handle == device; });
    if (found == state.devices.end()) return;
    state.devices.erase(found);
    for (PadSlot& pad : state.pads) {
        if (pad.plugged && pad.owner == device) UnplugPad(state, pad);
    }
    state.changed.notify_all();
}

std::uint32_t DriverRequest(DriverHandle device, std::uint32_t code, std::span<const std::uint8_t> input,
                            std::span<std::uint8_t> output, std::size_t& bytesReturned) {
    bytesReturned = 0;
    BusState& state = State();
    std::unique_lock<std::mutex> lock(state.mutex);
    Record(state, device, code, input, output.size());
    const OpenDevice* open = FindDevice(state, device);
    if (!open) return ErrorInvalidHandle;
    if (open->stale) return ErrorRemoved;
    // No request is longer than a report; the output may be the input's own bytes, so every request is
    // read from a copy before any reply is written.
    std::array<std::uint8_t, BusSubmitReportSize> copy{};
    if (input.size() > copy.size()) return DriverErrorInvalidParameter;
    std::copy_n(input.begin(), input.size(), copy.begin());
    ByteReader reader(copy.data(), input.size());
    switch (code) {
    case BusRequestPlugIn:
        return HandlePlugIn(state, device, reader);
    case BusRequestUnplug:
        return HandleUnplug(state, device, reader);
    case BusRequestCheckVersion:
        return HandleCheckVersion(state, *open, reader);
    case BusRequestWaitReady:
        return HandleWaitReady(state, device, reader);
    case BusRequestSubmitReport:
        return HandleSubmitReport(state, device, reader);
    case BusRequestUserIndex:
        return HandleUserIndex(state, device, reader, output, bytesReturned);
    case BusRequestNotification:
        return HandleNotification(state, lock, device, reader, output, bytesReturned);
    default:
        return ErrorInvalidFunction;
    }
}

// Watchers are called under the bus's lock, so that once StopWatchingDriverInterfaces returns none
// is running.
DriverWatch WatchDriverInterfaces(DriverInterfaceCallback callback, void* context) {
    if (!callback) return InvalidDriverWatch;
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    try {
        state.watchers.push_back(Watcher{state.nextWatch, callback, context});
    } catch (const std::bad_alloc&) {
        return InvalidDriverWatch;
    }
    return state.nextWatch++;
}

void StopWatchingDriverInterfaces(DriverWatch watch) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::erase_if(state.watchers, [watch](const Watcher& watcher) { return watcher.id == watch; });
}

namespace SimulatedBus {

void Reset() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    ++state.epoch;
    state.faults = Faults{};
    state.interfaces.assign(1, InterfaceBehaviour{});
    state.readyReply = ReadyReply::Ready;
    state.taken.reset();
    state.userIndexDelay = 0;
    state.devices.clear();
    for (PadSlot& pad : state.pads) {
        std::uint64_t generation = pad.generation + 1;
        pad = PadSlot{};
        pad.generation = generation;
    }
    state.lastRequests.fill(RecordedRequest{});
    state.requestCounts.fill(0);
    state.requestTotal = 0;
    state.observer = nullptr;
    state.observerContext = nullptr;
    state.removed = false;
    state.changed.notify_all();
}

void SetFaults(const Faults& faults) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.faults = faults;
}

Faults CurrentFaults() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.faults;
}

void SetInterfaces(std::span<const InterfaceBehaviour> interfaces) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    try {
        state.interfaces.assign(interfaces.begin(), interfaces.end());
    } catch (const std::bad_alloc&) {}
}

void SetReadyReply(ReadyReply reply) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.readyReply = reply;
}

void MarkSerialsTaken(std::uint32_t first, std::uint32_t last, bool taken) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (std::uint32_t serial = std::max(first, 1u); serial <= std::min(last, HighestSerial); ++serial) {
        state.taken[serial] = taken;
    }
}

void SetUserIndexDelay(std::chrono::nanoseconds delay) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.userIndexDelay = delay.count();
}

void GiveUserIndexesNow() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const std::int64_t now = SteadyNow();
    for (PadSlot& pad : state.pads) {
        if (pad.plugged && pad.userIndexFrom > now) pad.userIndexFrom = now;
    }
}

bool SetRumble(std::uint32_t serial, std::uint8_t largeMotor, std::uint8_t smallMotor, std::uint8_t ledNumber) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    PadSlot* pad = FindPlugged(state, serial);
    if (!pad) return false;
    pad->largeMotor = largeMotor;
    pad->smallMotor = smallMotor;
    pad->ledNumber = ledNumber;
    ++pad->rumbleSequence;
    state.changed.notify_all();
    return true;
}

bool LastReport(std::uint32_t serial, ControllerReport& report) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    PadSlot* pad = FindRemembered(state, serial);
    if (!pad || pad->reportCount == 0) return false;
    report = pad->lastReport;
    return true;
}

std::uint64_t ReportCount(std::uint32_t serial) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    PadSlot* pad = FindRemembered(state, serial);
    return pad ? pad->reportCount : 0;
}

std::vector<std::uint32_t> PluggedSerials() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::vector<std::uint32_t> serials;
    try {
        for (const PadSlot& pad : state.pads) {
            if (pad.plugged) serials.push_back(pad.serial);
        }
    } catch (const std::bad_alloc&) {}
    std::sort(serials.begin(), serials.end());
    return serials;
}

int UserIndexOf(std::uint32_t serial) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    PadSlot* pad = FindPlugged(state, serial);
    return pad ? pad->userIndex : -1;
}

std::size_t OpenHandleCount() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.devices.size();
}

std::size_t PendingNotifications() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.pendingNotifications;
}

bool WaitForPendingNotifications(std::size_t count, std::chrono::milliseconds timeout) {
    BusState& state = State();
    std::unique_lock<std::mutex> lock(state.mutex);
    return state.changed.wait_for(lock, timeout, [&] { return state.pendingNotifications >= count; });
}

bool LastRequest(std::uint32_t code, RecordedRequest& request) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::size_t slot = CodeSlot(code);
    if (state.requestCounts[slot] == 0 || state.lastRequests[slot].code != code) return false;
    request = state.lastRequests[slot];
    return true;
}

std::uint64_t RequestCount(std::uint32_t code) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.requestCounts[CodeSlot(code)];
}

std::uint64_t RequestCount() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.requestTotal;
}

void SetObserver(Observer observer, void* context) {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.observer = observer;
    state.observerContext = context;
}

void RemoveBus() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.removed) return;
    state.removed = true;
    for (OpenDevice& device : state.devices) device.stale = true;
    // The pads go with the device; a new generation ends each one's pending requests.
    for (PadSlot& pad : state.pads) {
        if (pad.plugged) UnplugPad(state, pad);
        const std::uint64_t generation = pad.generation + 1;
        pad = PadSlot{};
        pad.generation = generation;
    }
    for (const Watcher& watcher : state.watchers) watcher.callback(DriverInterfaceChange::Removed, watcher.context);
    state.changed.notify_all();
}

void RestoreBus() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.removed) return;
    state.removed = false;
    for (const Watcher& watcher : state.watchers) watcher.callback(DriverInterfaceChange::Arrived, watcher.context);
}

std::size_t InterfaceWatchers() {
    BusState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.watchers.size();
}

} // namespace SimulatedBus
} // namespace Velotrix
