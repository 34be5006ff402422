#pragma once

// Tells when this PC's IPv4 addresses or interfaces change under the running program: Wi-Fi switched,
// a cable plugged in, a VPN up or down. Windows only.

#include <functional>

namespace Velotrix {

class NetworkWatch {
public:
    // Watches from here until destruction. `onChange` runs on a thread of Windows' choosing, often
    // several times for one change, so it should do no more than post a message. When Windows offers
    // no notifications the watch stays silent.
    explicit NetworkWatch(std::function<void()> onChange);
    // Waits for a call of `onChange` that is under way.
    ~NetworkWatch();
    NetworkWatch(const NetworkWatch&) = delete;
    NetworkWatch& operator=(const NetworkWatch&) = delete;

private:
    std::function<void()> onChange;
    void* addressNotification = nullptr;   // from NotifyUnicastIpAddressChange
    void* interfaceNotification = nullptr; // from NotifyIpInterfaceChange
};

} // namespace Velotrix
