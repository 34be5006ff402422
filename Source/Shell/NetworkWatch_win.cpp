#include "Shell/NetworkWatch.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>

namespace Velotrix {

namespace {

void Call(PVOID context, MIB_NOTIFICATION_TYPE type) {
    // The initial notification only confirms the registration; nothing has changed yet.
    if (type == MibInitialNotification) return;
    const auto& onChange = *static_cast<const std::function<void()>*>(context);
    if (onChange) onChange();
}

void WINAPI OnAddressChange(PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE type) {
    Call(context, type);
}

void WINAPI OnInterfaceChange(PVOID context, PMIB_IPINTERFACE_ROW, MIB_NOTIFICATION_TYPE type) { Call(context, type); }

} // namespace

NetworkWatch::NetworkWatch(std::function<void()> callback) : onChange(std::move(callback)) {
    // The context is this object's own member, which stays where it is: the class neither copies nor
    // moves. Addresses cover a new network or a VPN; interfaces cover a route's metric changing which
    // adapter faces the internet without any address changing.
    HANDLE handle = nullptr;
    if (NotifyUnicastIpAddressChange(AF_INET, &OnAddressChange, &onChange, FALSE, &handle) == NO_ERROR)
        addressNotification = handle;
    handle = nullptr;
    if (NotifyIpInterfaceChange(AF_INET, &OnInterfaceChange, &onChange, FALSE, &handle) == NO_ERROR)
        interfaceNotification = handle;
}

NetworkWatch::~NetworkWatch() {
    // Each cancel returns only once a callback under way has finished, so `onChange` outlives them.
    if (addressNotification != nullptr) CancelMibChangeNotify2(static_cast<HANDLE>(addressNotification));
    if (interfaceNotification != nullptr) CancelMibChangeNotify2(static_cast<HANDLE>(interfaceNotification));
}

} // namespace Velotrix
