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

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {

constexpr DWORD requestPending = 9506;
constexpr DWORD invalidParameter = ERROR_INVALID_PARAMETER;

std::mutex& Mutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}
std::string& Calls() {
    static std::string* calls = new std::string;
    return *calls;
}
std::set<const void*>& LiveInstances() {
    static std::set<const void*>* live = new std::set<const void*>;
    return *live;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[512];
    const DWORD length = GetEnvironmentVariableW(name, value, 512);
    if (length == 0 || length >= 512) return {};
    return {value, length};
}

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) return "(null)";
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.resize(static_cast<size_t>(length - 1));
    return result;
}

std::string Mode() {
    const std::wstring mode = Environment(L"VELOTRIX_DNSAPI_MODE");
    return mode.empty() ? "complete" : Narrow(mode.c_str());
}

DWORD DelayMs() {
    const std::wstring delay = Environment(L"VELOTRIX_DNSAPI_DELAY_MS");
    return delay.empty() ? 0 : static_cast<DWORD>(_wtoi(delay.c_str()));
}

void Record(const std::string& line) {
    std::lock_guard lock(Mutex());
    Calls() += line;
    Calls() += '\n';
    const std::wstring path = Environment(L"VELOTRIX_DNSAPI_LOG");
    if (path.empty()) return;
    if (std::FILE* file = _wfopen(path.c_str(), L"ab")) {
        std::fputs(line.c_str(), file);
        std::fputs("\n", file);
        std::fclose(file);
    }
}

wchar_t* CopyText(PCWSTR text) {
    if (text == nullptr) return nullptr;
    const size_t length = wcslen(text) + 1;
    auto* copy = new wchar_t[length];
    std::memcpy(copy, text, length * sizeof(wchar_t));
    return copy;
}

std::string Ipv4Text(const IP4_ADDRESS* address) {
    if (address == nullptr) return "none";
    unsigned char bytes[4];
    std::memcpy(bytes, address, 4);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

PDNS_SERVICE_INSTANCE MakeInstance(PCWSTR name, PCWSTR host, const IP4_ADDRESS* ipv4, const IP6_ADDRESS* ipv6,
                                   WORD port, WORD priority, WORD weight, DWORD count, PCWSTR* keys,
                                   PCWSTR* values) {
    auto* instance = new DNS_SERVICE_INSTANCE{};
    instance->pszInstanceName = CopyText(name);
    instance->pszHostName = CopyText(host);
    if (ipv4 != nullptr) instance->ip4Address = new IP4_ADDRESS(*ipv4);
    if (ipv6 != nullptr) instance->ip6Address = new IP6_ADDRESS(*ipv6);
    instance->wPort = port;
    instance->wPriority = priority;
    instance->wWeight = weight;
    instance->dwPropertyCount = count;
    if (count > 0) {
        instance->keys = new PWSTR[count];
        instance->values = new PWSTR[count];
        for (DWORD i = 0; i < count; ++i) {
            instance->keys[i] = CopyText(keys[i]);
            instance->values[i] = CopyText(values[i]);
        }
    }
    std::lock_guard lock(Mutex());
    LiveInstances().insert(instance);
    return instance;
}

PDNS_SERVICE_INSTANCE CopyInstance(const DNS_SERVICE_INSTANCE* original) {
    return MakeInstance(original->pszInstanceName, original->pszHostName, original->ip4Address,
                        original->ip6Address, original->wPort, original->wPriority, original->wWeight,
                        original->dwPropertyCount, const_cast<PCWSTR*>(original->keys),
                        const_cast<PCWSTR*>(original->values));
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
    const DWORD answer = mode == "fail" ? invalidParameter : requestPending;
    const std::string instanceName =
        request->pServiceInstance != nullptr ? Narrow(request->pServiceInstance->pszInstanceName) : "(null)";
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s version=%lu interface=%lu instance=%s callback=%s context=%s credentials=%s unicast=%d "
                  "cancel=%s -> %lu",
                  kind, request->Version, request->InterfaceIndex, instanceName.c_str(),
                  request->pRegisterCompletionCallback != nullptr ? "set" : "none",
                  request->pQueryContext != nullptr ? "set" : "none",
                  request->hCredentials != nullptr ? "set" : "none", request->unicastEnabled,
                  cancel != nullptr ? "set" : "none", answer);
    Record(line);
    if (answer != requestPending || mode == "never" || request->pRegisterCompletionCallback == nullptr) {
        return answer;
    }
    auto* completion = new Completion{kind,
                                      instanceName,
                                      request->pRegisterCompletionCallback,
                                      request->pQueryContext,
                                      request->pServiceInstance != nullptr ? CopyInstance(request->pServiceInstance)
                                                                           : nullptr,
                                      DelayMs()};
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
    std::snprintf(line, sizeof line, "construct instance=%s host=%s ip4=%s ip6=%s port=%u priority=%u weight=%u "
                  "properties=%s",
                  Narrow(pServiceName).c_str(), Narrow(pHostName).c_str(), Ipv4Text(pIp4).c_str(),
                  pIp6 != nullptr ? "set" : "none", wPort, wPriority, wWeight,
                  properties.empty() ? "none" : properties.c_str());
    Record(line);
    if (Mode() == "noinstance") return nullptr;
    return MakeInstance(pServiceName, pHostName, pIp4, pIp6, wPort, wPriority, wWeight, dwPropertiesCount, keys,
                        values);
}

VOID WINAPI DnsServiceFreeInstance(PDNS_SERVICE_INSTANCE pInstance) {
    if (pInstance == nullptr) return;
    // Like the real call, leaves the caller's last error alone (the environment look-ups of Record
    // would set it).
    const DWORD lastError = GetLastError();
    struct Restore {
        DWORD error;
        ~Restore() { SetLastError(error); }
    } restore{lastError};
    {
        std::lock_guard lock(Mutex());
        if (LiveInstances().erase(pInstance) == 0) {
            // A double free, or a pointer that never came from here: recorded, not crashed on.
            Calls() += "free of an instance not made here\n";
            return;
        }
    }
    Record("free instance=" + Narrow(pInstance->pszInstanceName));
    delete[] pInstance->pszInstanceName;
    delete[] pInstance->pszHostName;
    delete pInstance->ip4Address;
    delete pInstance->ip6Address;
    for (DWORD i = 0; i < pInstance->dwPropertyCount; ++i) {
        delete[] pInstance->keys[i];
        delete[] pInstance->values[i];
    }
    delete[] pInstance->keys;
    delete[] pInstance->values;
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
    std::lock_guard lock(Mutex());
    const std::string& calls = Calls();
    if (buffer != nullptr && size > 0) {
        const size_t copied = calls.size() < size - 1 ? calls.size() : size - 1;
        std::memcpy(buffer, calls.data(), copied);
        buffer[copied] = '\0';
    }
    return static_cast<DWORD>(calls.size());
}

VOID WINAPI VelotrixDnsTest_Reset() {
    std::lock_guard lock(Mutex());
    Calls().clear();
}

// Instances made (by construction, or as answers to completions) and not yet freed.
LONG WINAPI VelotrixDnsTest_LiveInstances() {
    std::lock_guard lock(Mutex());
    return static_cast<LONG>(LiveInstances().size());
}

} // extern "C"
