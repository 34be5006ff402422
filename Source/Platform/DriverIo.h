#pragma once

// The bus driver as the bus client sees it: find its device interfaces, open one, and send requests
// that each wait for their completion. No Windows type appears here. Velotrix.exe links the real
// implementation (DriverIo_win.cpp: SetupAPI, CreateFileW, DeviceIoControl); tests, the dev server
// and the Windows test program link the simulated bus (Source/SimulatedBus).

#include "Common/UniqueResource.h"
#include "Platform/BusInterface.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Velotrix {

// The value of a Windows file handle; INVALID_HANDLE_VALUE is -1.
using DriverHandle = std::intptr_t;
inline constexpr DriverHandle InvalidDriverHandle = -1;

// Windows error numbers that the bus client tells apart.
inline constexpr std::uint32_t DriverErrorAccessDenied = 5;
inline constexpr std::uint32_t DriverErrorInvalidHandle = 6;
inline constexpr std::uint32_t DriverErrorGenFailure = 31;
inline constexpr std::uint32_t DriverErrorBadCommand = 22;
inline constexpr std::uint32_t DriverErrorInvalidParameter = 87;
inline constexpr std::uint32_t DriverErrorInvalidDeviceObjectParameter = 650;
inline constexpr std::uint32_t DriverErrorOperationAborted = 995;
inline constexpr std::uint32_t DriverErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t DriverErrorDeviceRemoved = 1617;

// The bus's request codes and buffer sizes, typed, from the header the simulated driver shares.
inline constexpr std::uint32_t BusRequestPlugIn = BUS_REQUEST_PLUG_IN;
inline constexpr std::uint32_t BusRequestUnplug = BUS_REQUEST_UNPLUG;
inline constexpr std::uint32_t BusRequestCheckVersion = BUS_REQUEST_CHECK_VERSION;
inline constexpr std::uint32_t BusRequestWaitReady = BUS_REQUEST_WAIT_READY;
inline constexpr std::uint32_t BusRequestSubmitReport = BUS_REQUEST_SUBMIT_REPORT;
inline constexpr std::uint32_t BusRequestNotification = BUS_REQUEST_NOTIFICATION;
inline constexpr std::uint32_t BusRequestUserIndex = BUS_REQUEST_USER_INDEX;

// The codes as the driver defines them; a slip in the shared header would reach both sides at once.
static_assert(BusRequestPlugIn == 0x2AA004 && BusRequestUnplug == 0x2AA008 && BusRequestCheckVersion == 0x2AA00C &&
              BusRequestWaitReady == 0x2AA010 && BusRequestSubmitReport == 0x2AA808 &&
              BusRequestNotification == 0x2AE804 && BusRequestUserIndex == 0x2AE81C);

inline constexpr std::size_t BusPlugInSize = BUS_PLUG_IN_SIZE;
inline constexpr std::size_t BusSerialRequestSize = BUS_SERIAL_REQUEST_SIZE;
inline constexpr std::size_t BusCheckVersionSize = BUS_CHECK_VERSION_SIZE;
inline constexpr std::size_t BusSubmitReportSize = BUS_SUBMIT_REPORT_SIZE;
inline constexpr std::size_t BusNotificationSize = BUS_NOTIFICATION_SIZE;
inline constexpr std::size_t BusUserIndexSize = BUS_USER_INDEX_SIZE;
inline constexpr std::uint32_t BusInterfaceVersion = BUS_INTERFACE_VERSION;

// The device path of every present interface of the bus class {96E42B22-F5E9-42F8-B043-ED0F932F014F},
// in the order Windows enumerates them. An interface whose details could not be read is listed with an
// empty path, so the caller still sees that it was there. Empty when no bus is installed (or memory
// ran out).
std::vector<std::wstring> ListDriverDevicePaths();

// Opens a listed path for overlapped reading and writing; InvalidDriverHandle when it cannot.
DriverHandle OpenDriverDevice(const std::wstring& path);

// Closing a handle aborts the requests still pending on it (they end with error 995).
void CloseDriverDevice(DriverHandle device);

// Sends one request and waits, without a time limit, until it completes. `output` may be the very
// bytes of `input`. Answers 0 on success or the Windows error number; `bytesReturned` is how much of
// `output` the driver wrote (0 on failure). Safe to call from several threads on one handle at once.
[[nodiscard]] std::uint32_t DriverRequest(DriverHandle device, std::uint32_t code, std::span<const std::uint8_t> input,
                                          std::span<std::uint8_t> output, std::size_t& bytesReturned);

// The bus's interfaces come and go: a removed (or disabled, or updated) device's interface leaves the
// list and a new one arrives. The callback runs on a thread of the OS (of the simulated bus in tests),
// so it must be quick and only set flags; it is never called once StopWatchingDriverInterfaces returned.
enum class DriverInterfaceChange { Arrived, Removed };
using DriverInterfaceCallback = void (*)(DriverInterfaceChange change, void* context);
using DriverWatch = std::intptr_t;
inline constexpr DriverWatch InvalidDriverWatch = 0;

// Starts watching the bus's interface class; InvalidDriverWatch when the OS offers no such watch
// (Windows before 8 and Wine 8 lack CM_Register_Notification), and the caller then looks by itself.
DriverWatch WatchDriverInterfaces(DriverInterfaceCallback callback, void* context);
// Waits for a callback that is running, and stops the watch.
void StopWatchingDriverInterfaces(DriverWatch watch);

struct DriverWatchTraits {
    using Value = DriverWatch;
    static Value Invalid() { return InvalidDriverWatch; }
    static void Release(Value watch) { StopWatchingDriverInterfaces(watch); }
};
using UniqueDriverWatch = UniqueResource<DriverWatchTraits>;

struct DriverDeviceTraits {
    using Value = DriverHandle;
    static Value Invalid() { return InvalidDriverHandle; }
    static void Release(Value device) { CloseDriverDevice(device); }
};
using UniqueDriverDevice = UniqueResource<DriverDeviceTraits>;

} // namespace Velotrix
