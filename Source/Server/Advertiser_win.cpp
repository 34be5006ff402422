#include "Server/Advertiser.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <windns.h>

#include <new>
#include <utility>

#include "Platform/ProcAddress.h"
#include "Platform/WinHandles.h"
#include "Shell/TextConversion.h"
#include "Shell/Log.h"

// windns.h of mingw-w64 declares the DNS-SD calls but not the answer that says one is under way.
#ifndef DNS_REQUEST_PENDING
#define DNS_REQUEST_PENDING 9506
#endif

namespace Velotrix {

namespace {

using ConstructInstanceFunction = decltype(&DnsServiceConstructInstance);
using FreeInstanceFunction = decltype(&DnsServiceFreeInstance);
using RegisterFunction = decltype(&DnsServiceRegister);
using DeregisterFunction = decltype(&DnsServiceDeRegister);

} // namespace

// Looked up at run time rather than imported: a static import of functions that older Windows
// lacks would keep the whole program from starting there.
struct Advertiser::DnsSd {
    UniqueModule module;
    ConstructInstanceFunction constructInstance = nullptr;
    FreeInstanceFunction freeInstance = nullptr;
    RegisterFunction registerService = nullptr;
    DeregisterFunction deregisterService = nullptr;

    bool Complete() const {
        return constructInstance != nullptr && freeInstance != nullptr && registerService != nullptr &&
               deregisterService != nullptr;
    }
};

// The request must stay at one address from DnsServiceRegister to the end of the withdrawal, and
// Windows hands this block back to the completion callback as its context.
struct Advertiser::Registration {
    DNS_SERVICE_REGISTER_REQUEST request{};
    PDNS_SERVICE_INSTANCE instance = nullptr;
    FreeInstanceFunction freeInstance = nullptr;
    UniqueHandle completed; // manual-reset; set by the completion callback

    // Runs on a thread of the DNS client; it touches only the block.
    static VOID WINAPI Completed(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE answered) {
        (void)status;
        auto* block = static_cast<Registration*>(context);
        if (answered != nullptr) block->freeInstance(answered);
        SetEvent(block->completed.get());
    }
};

void Advertiser::LookUp(DnsSd& dnsSd, const std::wstring& library) {
    dnsSd.module.Reset(LoadSystemLibrary(library.c_str()));
    if (!dnsSd.module) return;
    const HMODULE module = dnsSd.module.get();
    dnsSd.constructInstance = LookupFunction<ConstructInstanceFunction>(module, "DnsServiceConstructInstance");
    dnsSd.freeInstance = LookupFunction<FreeInstanceFunction>(module, "DnsServiceFreeInstance");
    dnsSd.registerService = LookupFunction<RegisterFunction>(module, "DnsServiceRegister");
    dnsSd.deregisterService = LookupFunction<DeregisterFunction>(module, "DnsServiceDeRegister");
}

bool Advertiser::FindFunctions(const std::wstring& library, std::vector<std::string>& missing) {
    missing.clear();
    DnsSd dnsSd;
    LookUp(dnsSd, library);
    if (!dnsSd.module) return false;
    const std::pair<bool, const char*> found[] = {
        {dnsSd.constructInstance != nullptr, "DnsServiceConstructInstance"},
        {dnsSd.registerService != nullptr, "DnsServiceRegister"},
        {dnsSd.deregisterService != nullptr, "DnsServiceDeRegister"},
        {dnsSd.freeInstance != nullptr, "DnsServiceFreeInstance"},
    };
    for (const auto& [present, name] : found)
        if (!present) missing.emplace_back(name);
    return true;
}

Advertiser::Advertiser(std::wstring library, std::uint32_t completionWaitMs)
    : library(std::move(library)), completionWaitMs(completionWaitMs) {}

Advertiser::~Advertiser() { Deregister(); }

bool Advertiser::Register(const std::wstring& computerName, const std::string& address, std::uint16_t port) {
    Deregister();

    std::unique_ptr<Registration> block;
    try {
        if (!dnsSd) {
            dnsSd = std::make_unique<DnsSd>();
            LookUp(*dnsSd, library);
        }
        block = std::make_unique<Registration>();
    } catch (const std::bad_alloc&) {
        return false;
    }
    block->completed.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!block->completed) return false;

    IP4_ADDRESS ipv4 = 0;
    const bool hasIpv4 = !address.empty() && inet_pton(AF_INET, address.c_str(), &ipv4) == 1;

    const std::wstring instanceName = computerName + L"._velotrix._udp.local";
    const std::wstring hostName = computerName + L".local";
    PCWSTR keys[] = {L"v"};
    PCWSTR values[] = {L"1"};
    if (dnsSd->Complete()) {
        block->instance = dnsSd->constructInstance(instanceName.c_str(), hostName.c_str(), hasIpv4 ? &ipv4 : nullptr,
                                                   nullptr, port, 0, 0, 1, keys, values);
    }
    if (block->instance == nullptr) {
        Log("Bonjour: could not make the service instance");
        return false;
    }
    block->freeInstance = dnsSd->freeInstance;

    DNS_SERVICE_REGISTER_REQUEST& request = block->request;
    request.Version = DNS_QUERY_REQUEST_VERSION1;
    request.InterfaceIndex = 0;
    request.pServiceInstance = block->instance;
    request.pRegisterCompletionCallback = &Registration::Completed;
    request.pQueryContext = block.get();
    request.hCredentials = nullptr;
    request.unicastEnabled = FALSE;

    const DWORD result = dnsSd->registerService(&request, nullptr);
    if (result != DNS_REQUEST_PENDING) {
        Log("Bonjour: DnsServiceRegister failed (%lu)", result);
        dnsSd->freeInstance(block->instance);
        return false;
    }
    registration = std::move(block);
    Log("Bonjour: advertising %s on port %u (%s)", ToUtf8(instanceName).c_str(), static_cast<unsigned>(port),
        address.c_str());
    return true;
}

void Advertiser::Deregister() {
    if (!registration) return;

    const HANDLE completed = registration->completed.get();
    bool timedOut = WaitForSingleObject(completed, completionWaitMs) != WAIT_OBJECT_0;
    ResetEvent(completed);
    if (dnsSd->deregisterService(&registration->request, nullptr) == DNS_REQUEST_PENDING) {
        timedOut = WaitForSingleObject(completed, completionWaitMs) != WAIT_OBJECT_0 || timedOut;
    }

    if (timedOut) {
        // Windows may still call the completion later with this block as its context, and from
        // within the DNS library. The program is shutting down by now, so the block, its instance,
        // its event and the library are simply kept until the process ends.
        (void)registration.release();
        (void)dnsSd->module.Release();
        return;
    }
    dnsSd->freeInstance(registration->instance);
    registration.reset();
}

} // namespace Velotrix
