#include "Shell/Settings.h"

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "Platform/WinHandles.h"
#include "Shell/TextConversion.h"

namespace Velotrix {

namespace {

constexpr wchar_t companyKey[] = L"Software\\Quillon";
constexpr wchar_t settingsKey[] = L"Software\\Quillon\\Velotrix";

// RRF_RT_REG_DWORD alone, not RRF_RT_DWORD: a 4-byte REG_BINARY must count as missing too.
bool ReadDword(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD size = sizeof value;
    return RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

bool ReadFlag(HKEY key, const wchar_t* name) {
    DWORD value = 0;
    return ReadDword(key, name, value) ? value != 0 : true;
}

// The strings of a REG_MULTI_SZ value, up to the first empty one; none when it is missing or of
// another type.
std::vector<std::wstring> ReadMultiString(HKEY key, const wchar_t* name) {
    std::vector<std::wstring> strings;
    DWORD size = 0;
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return strings;
    // Two spare units beyond the data, left zero, end the walk even if the stored value lacks its
    // terminating NULs.
    std::vector<wchar_t> buffer;
    try {
        buffer.assign(size / 2 + 2, L'\0');
    } catch (const std::bad_alloc&) {
        return strings;
    }
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_MULTI_SZ, nullptr, buffer.data(), &size) != ERROR_SUCCESS)
        return strings;
    try {
        for (const wchar_t* entry = buffer.data(); *entry != L'\0';) {
            strings.emplace_back(entry);
            entry += strings.back().size() + 1;
        }
    } catch (const std::bad_alloc&) {
        strings.clear();
    }
    return strings;
}

bool WriteMultiString(HKEY key, const wchar_t* name, const std::vector<std::wstring>& strings) {
    std::wstring multiString;
    for (const std::wstring& entry : strings) {
        multiString += entry;
        multiString.push_back(L'\0');
    }
    multiString.push_back(L'\0');
    return RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multiString.data()),
                          static_cast<DWORD>(multiString.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// One remembered phone in "AllowedNames": its id, a tab, the seconds, a tab, the name (which the
// server cleaned of every control character, the tab among them).
std::wstring RememberedEntry(const std::string& id, const RememberedPhone& phone) {
    return ToUtf16(id) + L"\t" + std::to_wstring(phone.lastSeen) + L"\t" + ToUtf16(phone.name);
}

void ReadRemembered(HKEY key, const std::set<std::string>& allowed, std::map<std::string, RememberedPhone>& out) {
    for (const std::wstring& entry : ReadMultiString(key, L"AllowedNames")) {
        const std::size_t first = entry.find(L'\t');
        const std::size_t second = first == std::wstring::npos ? first : entry.find(L'\t', first + 1);
        if (second == std::wstring::npos) continue;
        const std::string id = ToUtf8(entry.substr(0, first));
        if (allowed.count(id) == 0) continue;
        RememberedPhone phone;
        phone.lastSeen = _wtoi64(entry.substr(first + 1, second - first - 1).c_str());
        phone.name = ToUtf8(entry.substr(second + 1));
        out[id] = phone;
    }
}

bool WriteDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

} // namespace

void LoadSettings(Settings& settings) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, settingsKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
    const UniqueRegistryKey key(opened);

    settings.askFirst = ReadFlag(key.get(), L"AskFirst");
    settings.keepInTray = ReadFlag(key.get(), L"KeepInTray");
    DWORD port = 0;
    settings.port = ReadDword(key.get(), L"Port", port) ? port : 0;
    for (const std::wstring& entry : ReadMultiString(key.get(), L"Allowed")) settings.allowed.insert(ToUtf8(entry));
    ReadRemembered(key.get(), settings.allowed, settings.remembered);
}

bool SaveSettings(const Settings& settings) {
    HKEY created = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, settingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &created, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueRegistryKey key(created);

    bool written = WriteDword(key.get(), L"AskFirst", settings.askFirst ? 1 : 0);
    written = WriteDword(key.get(), L"KeepInTray", settings.keepInTray ? 1 : 0) && written;
    written = WriteDword(key.get(), L"Port", settings.port) && written;

    std::vector<std::wstring> allowed, names;
    for (const std::string& id : settings.allowed) {
        allowed.push_back(ToUtf16(id));
        const auto found = settings.remembered.find(id);
        if (found != settings.remembered.end()) names.push_back(RememberedEntry(id, found->second));
    }
    written = WriteMultiString(key.get(), L"Allowed", allowed) && written;
    return WriteMultiString(key.get(), L"AllowedNames", names) && written;
}

bool RemoveSettings() {
    const LSTATUS removed = RegDeleteTreeW(HKEY_CURRENT_USER, settingsKey);
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) return false;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, companyKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return true;
    DWORD subkeys = 1, values = 1;
    {
        const UniqueRegistryKey company(opened);
        RegQueryInfoKeyW(company.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr);
    }
    // Another program of the company may keep its own settings there.
    if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, companyKey);
    return true;
}

} // namespace Velotrix
