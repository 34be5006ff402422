#pragma once

// Points this process's HKEY_CURRENT_USER at a throwaway key, deleted afterwards, for the life of the
// object: the real registry calls run without touching the user's own values.

#include <windows.h>

#include <string>
#include <vector>

#include "Platform/WinHandles.h"

namespace Velotrix {

class RegistrySandbox {
public:
    RegistrySandbox() : path(std::wstring(parent) + L"\\Sandbox " + std::to_wstring(GetCurrentProcessId())) {
        HKEY created = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &created, nullptr) != ERROR_SUCCESS) {
            return;
        }
        root.Reset(created);
        // Wine keeps its own settings there, the stand-in for "Segoe UI" among them: without it a window
        // that paints under the sandbox measures and draws no text at all. Windows has no such key.
        HKEY wine = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Fonts", 0, KEY_READ, &wine) == ERROR_SUCCESS) {
            const UniqueRegistryKey fonts(wine);
            HKEY copy = nullptr;
            if (RegCreateKeyExW(root.get(), L"Software\\Wine\\Fonts", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &copy, nullptr) == ERROR_SUCCESS) {
                const UniqueRegistryKey target(copy);
                RegCopyTreeW(fonts.get(), nullptr, target.get());
            }
        }
        overridden = RegOverridePredefKey(HKEY_CURRENT_USER, root.get()) == ERROR_SUCCESS;
    }
    ~RegistrySandbox() {
        if (overridden) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        root.Reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        // Fails, as it should, while another test process still has its sandbox there.
        RegDeleteKeyW(HKEY_CURRENT_USER, parent);
    }
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    bool Ready() const { return overridden; }
    // What the code under test sees as HKEY_CURRENT_USER.
    HKEY Root() const { return root.get(); }

private:
    static constexpr const wchar_t* parent = L"Software\\Velotrix Tests";
    std::wstring path;
    UniqueRegistryKey root;
    bool overridden = false;
};

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<unsigned char> bytes;
    bool operator==(const RawValue&) const = default;
};

// Reads one value byte for byte, whatever its type; false when it is not there.
inline bool ReadRaw(HKEY parent, const wchar_t* subkey, const wchar_t* name, RawValue& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const UniqueRegistryKey owner(key);
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return false;
    value.bytes.assign(size, 0);
    return RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size) == ERROR_SUCCESS;
}

// Writes one value byte for byte, making its key when missing.
inline bool WriteRaw(HKEY parent, const wchar_t* subkey, const wchar_t* name, const RawValue& value) {
    return RegSetKeyValueW(parent, subkey, name, value.type, value.bytes.data(),
                           static_cast<DWORD>(value.bytes.size())) == ERROR_SUCCESS;
}

inline RawValue Dword(DWORD number) {
    return {REG_DWORD,
            {static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
             static_cast<unsigned char>(number >> 16), static_cast<unsigned char>(number >> 24)}};
}

// UTF-16LE bytes of `text` exactly as given (include the NULs you want stored).
inline RawValue Utf16Value(DWORD type, const std::wstring& text) {
    RawValue value{type, {}};
    for (wchar_t unit : text) {
        value.bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        value.bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return value;
}

} // namespace Velotrix
