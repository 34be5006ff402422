#pragma once

// Announces the server on the local network by DNS-SD (multicast DNS), so the phone app can list
// this PC by name: instance "<computer>._velotrix._udp.local" on host "<computer>.local", the UDP
// port, and the TXT property v=1. Its log lines begin with "Bonjour: ".

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Velotrix {

class Advertiser {
public:
    // `library` is the DLL to take the DNS-SD functions from. Windows 10 1809 and older lack them;
    // the advertiser then runs unannounced. Tests name another library to see that happen, and a
    // shorter `completionWaitMs` so as not to sit out Windows's silence.
    explicit Advertiser(std::wstring library = L"dnsapi.dll", std::uint32_t completionWaitMs = 2000);
    ~Advertiser(); // Deregisters.

    Advertiser(const Advertiser&) = delete;
    Advertiser& operator=(const Advertiser&) = delete;

    // Withdraws any earlier registration, then asks Windows to announce the service. `address` is
    // dotted decimal, or empty (or unparsable) for none. Answers true when Windows accepted the
    // request; false when the DNS-SD functions are missing, no instance could be made, or Windows
    // refused it. Failures are logged; the caller need not act on the result.
    bool Register(const std::wstring& computerName, const std::string& address, std::uint16_t port);

    // Looks the DNS-SD functions up in `library` as Register does, registering nothing: false when the
    // library does not load; otherwise true, with the names of those it lacks in `missing`.
    [[nodiscard]] static bool FindFunctions(const std::wstring& library, std::vector<std::string>& missing);

    // Withdraws the registration, waiting at most `completionWaitMs` for the registration to complete
    // and as long again for the withdrawal. Safe to call without a registration, and more than once.
    void Deregister();

private:
    struct DnsSd;
    static void LookUp(DnsSd& dnsSd, const std::wstring& library);
    struct Registration;

    std::wstring library;
    std::uint32_t completionWaitMs;
    std::unique_ptr<DnsSd> dnsSd;               // looked up at the first Register
    std::unique_ptr<Registration> registration; // present while a request is accepted
};

} // namespace Velotrix
