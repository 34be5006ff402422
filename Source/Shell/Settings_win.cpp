#include "Shell/Settings.h"

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "Platform/WinHandles.h"
#include "Shell/TextConversion.h"

namespace Velotrix {

namespace {

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

void ReadAllowed(HKEY key, std::set<std::string>& allowed) {
    DWORD size = 0;
    if (RegGetValueW(key, nullptr, L"Allowed", RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size == 0) {
        return;
    }
    // Two spare units beyond the data, left zero, end the walk even if the stored value lacks its
    // terminating NULs.
    std::vector<wchar_t> buffer;
    try {
        buffer.assign(size / 2 + 2, L'\0');
    } catch (const std::bad_alloc&) {
        return;
    }
    if (RegGetValueW(key, nullptr, L"Allowed", RRF_RT_REG_MULTI_SZ, nullptr, buffer.data(), &size) != ERROR_SUCCESS ||
        buffer[0] == L'\0') {
        return;
    }
    for (const wchar_t* entry = buffer.data(); *entry != L'\0';) {
        const std::wstring text(entry);
        allowed.insert(ToUtf8(text));
        entry += text.size() + 1;
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
    ReadAllowed(key.get(), settings.allowed);
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

    std::wstring multiString;
    for (const std::string& entry : settings.allowed) {
        multiString += ToUtf16(entry);
        multiString.push_back(L'\0');
    }
    multiString.push_back(L'\0');
    return RegSetValueExW(key.get(), L"Allowed", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multiString.data()),
                          static_cast<DWORD>(multiString.size() * sizeof(wchar_t))) == ERROR_SUCCESS &&
           written;
}

} // namespace Velotrix
