// The test dnsapi.dll: the DNS-SD calls of the Windows DNS API answering as Windows does (register
// and deregister answer DNS_REQUEST_PENDING and call back later from another thread), recording each
// call as one line. VELOTRIX_DNSAPI_MODE (read at every call): complete (default), never (stay
// pending), fail (answer 87), noinstance (construction answers null); VELOTRIX_DNSAPI_DELAY_MS: how
// long a completion waits; VELOTRIX_DNSAPI_LOG: a file each line is also appended to. Lines:
//   construct instance=N host=H ip4=A|none ip6=set|none port=P priority=P weight=W properties=K=V;..|none
//   register|deregister version=V interface=I instance=N callback=.. context=.. credentials=.. unicast=U
//             cancel=.. -> ANSWER
//   completed register|deregister instance=N error=E   (E: the callback's last error)
//   free instance=N | free of an instance not made here

#include <windows.h>
#include <windns.h>

#include "../StandInText.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {

using StandIn::Environment;

constexpr DWORD requestPending = 9506;

// Never destroyed: a late completion thread may still record while the process ends.
struct State {
    std::mutex mutex;
    std::string calls;
    std::set<const void*> liveInstances;
};
State& Shared() {
    static State* state = new State;
    return *state;
}

std::string Narrow(PCWSTR text) { return text == nullptr ? "(null)" : StandIn::Utf8(text); }

std::string Mode() {
    const std::wstring mode = Environment(L"VELOTRIX_DNSAPI_MODE");
    return mode.empty() ? "complete" : Narrow(mode.c_str());
}

void Record(const std::string& line) {
    std::lock_guard lock(Shared().mutex);
    Shared().calls += line + '\n';
    const std::wstring path = Environment(L"VELOTRIX_DNSAPI_LOG");
    if (path.empty()) return;
    if (std::FILE* file = _wfopen(path.c_str(), L"ab")) {
        std::fputs((line + '\n').c_str(), file);
        std::fclose(file);
    }
}

std::string Ipv4Text(const IP4_ADDRESS* address) {
    if (address == nullptr) return "none";
    unsigned char bytes[4];
    std::memcpy(bytes, address, 4);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

// The caller only hands an instance back (to register, withdraw or free it), so only its name is kept.
PDNS_SERVICE_INSTANCE MakeInstance(PCWSTR name) {
    auto* instance = new DNS_SERVICE_INSTANCE{};
    instance->pszInstanceName = new wchar_t[wcslen(name) + 1];
    wcscpy(instance->pszInstanceName, name);
    std::lock_guard lock(Shared().mutex);
    Shared().liveInstances.insert(instance);
    return instance;
}

struct Completion {
    std::string kind;
    std::string instanceName;
    PDNS_SERVICE_REGISTER_COMPLETE callback;
    PVOID context;
    PDNS_SERVICE_INSTANCE answer;
    DWORD delayMs;
};

DWORD WINAPI RunCompletion(LPVOID parameter) {
    auto* completion = static_cast<Completion*>(parameter);
    Sleep(completion->delayMs);
    // What the callback leaves in the thread's last error tells whether its own calls (signalling
    // its event) succeeded: a handle closed too early shows as 6.
    SetLastError(ERROR_SUCCESS);
    completion->callback(ERROR_SUCCESS, completion->context, completion->answer);
    const DWORD error = GetLastError();
    Record("completed " + completion->kind + " instance=" + completion->instanceName +
           " error=" + std::to_string(error));
    delete completion;
    return 0;
}

// Windows copies what it needs from the request when it accepts it; the callback and context are
// taken here, as the real client does, and the caller's request is only read again at withdrawal.
DWORD Request(const char* kind, PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
    const std::string mode = Mode();
    const DWORD answer = mode == "fail" ? ERROR_INVALID_PARAMETER : requestPending;
    const std::string instanceName =
        request->pServiceInstance != nullptr ? Narrow(request->pServiceInstance->pszInstanceName) : "(null)";
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s version=%lu interface=%lu instance=%s callback=%s context=%s credentials=%s unicast=%d "
                  "cancel=%s -> %lu",
                  kind, request->Version, request->InterfaceIndex, instanceName.c_str(),
                  request->pRegisterCompletionCallback != nullptr ? "set" : "none",
                  request->pQueryContext != nullptr ? "set" : "none", request->hCredentials != nullptr ? "set" : "none",
                  request->unicastEnabled, cancel != nullptr ? "set" : "none", answer);
    Record(line);
    if (answer != requestPending || mode == "never" || request->pRegisterCompletionCallback == nullptr ||
        request->pServiceInstance == nullptr) {
        return answer;
    }
    const std::wstring delay = Environment(L"VELOTRIX_DNSAPI_DELAY_MS");
    auto* completion = new Completion{kind,
                                      instanceName,
                                      request->pRegisterCompletionCallback,
                                      request->pQueryContext,
                                      MakeInstance(request->pServiceInstance->pszInstanceName),
                                      static_cast<DWORD>(_wtoi(delay.c_str()))};
    if (HANDLE thread = CreateThread(nullptr, 0, &RunCompletion, completion, 0, nullptr)) CloseHandle(thread);
    return answer;
}

} // namespace

#undef DnsRecordListFree

extern "C" {

// The rest of dnsapi.dll that Wine's own libraries import from whatever dnsapi.dll the process
// has: iphlpapi asks for the DNS configuration while listing adapters, netapi32 resolves names.
// Passing these on to Wine's library is no option, as a second module named dnsapi.dll would make
// LoadLibrary("dnsapi.dll") answer either one. Answered as on a PC without DNS servers.
DNS_STATUS WINAPI DnsQueryConfig(DNS_CONFIG_TYPE, DWORD, PWSTR, PVOID, PVOID, PDWORD) {
    return DNS_ERROR_NO_DNS_SERVERS;
}

DNS_STATUS WINAPI DnsQuery_W(PCWSTR, WORD, DWORD, PIP4_ARRAY, PDNS_RECORD* results, PVOID*) {
    if (results != nullptr) *results = nullptr;
    return DNS_ERROR_NO_DNS_SERVERS;
}

VOID WINAPI DnsRecordListFree(PDNS_RECORD, DNS_FREE_TYPE) {}

PDNS_SERVICE_INSTANCE WINAPI DnsServiceConstructInstance(PCWSTR pServiceName, PCWSTR pHostName, PIP4_ADDRESS pIp4,
                                                         PIP6_ADDRESS pIp6, WORD wPort, WORD wPriority, WORD wWeight,
                                                         DWORD dwPropertiesCount, PCWSTR* keys, PCWSTR* values) {
    std::string properties;
    for (DWORD i = 0; i < dwPropertiesCount; ++i) {
        if (!properties.empty()) properties += ';';
        properties += Narrow(keys[i]) + "=" + Narrow(values[i]);
    }
    char line[1024];
    std::snprintf(line, sizeof line,
                  "construct instance=%s host=%s ip4=%s ip6=%s port=%u priority=%u weight=%u "
                  "properties=%s",
                  Narrow(pServiceName).c_str(), Narrow(pHostName).c_str(), Ipv4Text(pIp4).c_str(),
                  pIp6 != nullptr ? "set" : "none", wPort, wPriority, wWeight,
                  properties.empty() ? "none" : properties.c_str());
    Record(line);
    return Mode() == "noinstance" ? nullptr : MakeInstance(pServiceName);
}

VOID WINAPI DnsServiceFreeInstance(PDNS_SERVICE_INSTANCE pInstance) {
    if (pInstance == nullptr) return;
    // Like the real call, leaves the caller's last error alone (Record's environment look-up sets it).
    const DWORD lastError = GetLastError();
    {
        std::lock_guard lock(Shared().mutex);
        if (Shared().liveInstances.erase(pInstance) == 0) {
            // A double free, or a pointer that never came from here: recorded, not crashed on.
            Shared().calls += "free of an instance not made here\n";
            return;
        }
    }
    Record("free instance=" + Narrow(pInstance->pszInstanceName));
    SetLastError(lastError);
    delete[] pInstance->pszInstanceName;
    delete pInstance;
}

DWORD WINAPI DnsServiceRegister(PDNS_SERVICE_REGISTER_REQUEST pRequest, PDNS_SERVICE_CANCEL pCancel) {
    return Request("register", pRequest, pCancel);
}

DWORD WINAPI DnsServiceDeRegister(PDNS_SERVICE_REGISTER_REQUEST pRequest, PDNS_SERVICE_CANCEL pCancel) {
    return Request("deregister", pRequest, pCancel);
}

// Copies the record so far into `buffer` (NUL-terminated, cut to fit) and answers its full length.
DWORD WINAPI VelotrixDnsTest_Calls(char* buffer, DWORD size) {
    std::lock_guard lock(Shared().mutex);
    const std::string& calls = Shared().calls;
    if (buffer != nullptr && size > 0) {
        const size_t copied = calls.size() < size - 1 ? calls.size() : size - 1;
        std::memcpy(buffer, calls.data(), copied);
        buffer[copied] = '\0';
    }
    return static_cast<DWORD>(calls.size());
}

VOID WINAPI VelotrixDnsTest_Reset() {
    std::lock_guard lock(Shared().mutex);
    Shared().calls.clear();
}

// Instances made (by construction, or as answers to completions) and not yet freed.
LONG WINAPI VelotrixDnsTest_LiveInstances() {
    std::lock_guard lock(Shared().mutex);
    return static_cast<LONG>(Shared().liveInstances.size());
}

} // extern "C"
