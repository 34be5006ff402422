#include "Platform/DriverIo.h"

#include "Platform/ProcAddress.h"
#include "Platform/WinHandles.h"

#include <cstdlib>
#include <memory>
#include <new>

#include <cfgmgr32.h>
#include <setupapi.h>

namespace Velotrix {
namespace {

// {96E42B22-F5E9-42F8-B043-ED0F932F014F}
const GUID busInterfaceClass = {BUS_INTERFACE_CLASS_DATA1, BUS_INTERFACE_CLASS_DATA2, BUS_INTERFACE_CLASS_DATA3,
                                BUS_INTERFACE_CLASS_DATA4};

struct DeviceInfoListTraits {
    using Value = HDEVINFO;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Release(Value list) { SetupDiDestroyDeviceInfoList(list); }
};
using UniqueDeviceInfoList = UniqueResource<DeviceInfoListTraits>;

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

// The path of one interface, or empty when its details cannot be read.
std::wstring InterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& interfaceData) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return {};
    std::unique_ptr<void, FreeDeleter> block(std::malloc(required));
    if (!block) return {};
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.get());
    // The size of the fixed part, not of the block: 8 in 64-bit programs, 6 in 32-bit ones, which is
    // what sizeof gives for the build's own packing.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, detail, required, nullptr, nullptr)) return {};
    return detail->DevicePath;
}

HANDLE AsHandle(DriverHandle device) { return reinterpret_cast<HANDLE>(device); }

using RegisterNotification = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
using UnregisterNotification = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

// Looked up at run time: Wine 8's cfgmgr32 has no CM_Register_Notification, and a static import would
// keep the program from starting there.
template <typename Function>
Function CfgMgrFunction(const char* name) {
    HMODULE module = GetModuleHandleW(L"cfgmgr32.dll");
    if (!module) module = LoadSystemLibrary(L"cfgmgr32.dll");
    if (!module) return nullptr;
    // Through void*, as GetProcAddress's FARPROC has a signature of its own that no cast fits.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct Watch {
    DriverInterfaceCallback callback = nullptr;
    void* context = nullptr;
    HCMNOTIFICATION notification = nullptr;
};

DWORD CALLBACK OnInterfaceChange(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action, PCM_NOTIFY_EVENT_DATA,
                                 DWORD) {
    const Watch* watch = static_cast<const Watch*>(context);
    if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL)
        watch->callback(DriverInterfaceChange::Arrived, watch->context);
    else if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL)
        watch->callback(DriverInterfaceChange::Removed, watch->context);
    return ERROR_SUCCESS;
}

} // namespace

DriverWatch WatchDriverInterfaces(DriverInterfaceCallback callback, void* context) {
    const auto registerNotification = CfgMgrFunction<RegisterNotification>("CM_Register_Notification");
    if (!callback || !registerNotification) return InvalidDriverWatch;
    std::unique_ptr<Watch> watch(new (std::nothrow) Watch{callback, context, nullptr});
    if (!watch) return InvalidDriverWatch;
    CM_NOTIFY_FILTER filter = {};
    filter.cbSize = sizeof(filter);
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    filter.u.DeviceInterface.ClassGuid = busInterfaceClass;
    if (registerNotification(&filter, watch.get(), &OnInterfaceChange, &watch->notification) != CR_SUCCESS)
        return InvalidDriverWatch;
    return reinterpret_cast<DriverWatch>(watch.release());
}

void StopWatchingDriverInterfaces(DriverWatch handle) {
    if (handle == InvalidDriverWatch) return;
    std::unique_ptr<Watch> watch(reinterpret_cast<Watch*>(handle));
    // It waits for a callback under way, so the record may go right after.
    if (const auto unregister = CfgMgrFunction<UnregisterNotification>("CM_Unregister_Notification"))
        unregister(watch->notification);
}

std::vector<std::wstring> ListDriverDevicePaths() {
    std::vector<std::wstring> paths;
    UniqueDeviceInfoList list(
        SetupDiGetClassDevsW(&busInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list) return paths;
    try {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(interfaceData);
        for (DWORD index = 0;
             SetupDiEnumDeviceInterfaces(list.get(), nullptr, &busInterfaceClass, index, &interfaceData); ++index) {
            paths.push_back(InterfacePath(list.get(), interfaceData));
        }
    } catch (const std::bad_alloc&) {}
    return paths;
}

DriverHandle OpenDriverDevice(const std::wstring& path) {
    if (path.empty()) return InvalidDriverHandle;
    HANDLE device = CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) return InvalidDriverHandle;
    return reinterpret_cast<DriverHandle>(device);
}

void CloseDriverDevice(DriverHandle device) {
    if (device != InvalidDriverHandle) CloseHandle(AsHandle(device));
}

std::uint32_t DriverRequest(DriverHandle device, std::uint32_t code, std::span<const std::uint8_t> input,
                            std::span<std::uint8_t> output, std::size_t& bytesReturned) {
    bytesReturned = 0;
    // A fresh event per request: several requests are outstanding on the one handle at once (a
    // notification per pad plus the caller's), and each must wake only its own waiter.
    UniqueHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event) return GetLastError();
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.get();
    DWORD transferred = 0;
    BOOL issued = DeviceIoControl(AsHandle(device), code, const_cast<std::uint8_t*>(input.data()),
                                  static_cast<DWORD>(input.size()), output.data(), static_cast<DWORD>(output.size()),
                                  nullptr, &overlapped);
    if (!issued) {
        DWORD error = GetLastError();
        // A request refused before it was pending (a bad handle, or a driver failing it on the spot)
        // never signals the event; waiting for it would hang forever.
        if (error != ERROR_IO_PENDING) return error;
    }
    // Pending, or completed on the spot (TRUE): either way the record and its event are filled in by
    // the end, so one wait reads the outcome and the byte count of both.
    if (!GetOverlappedResult(AsHandle(device), &overlapped, &transferred, TRUE)) return GetLastError();
    bytesReturned = transferred;
    return 0;
}

} // namespace Velotrix
