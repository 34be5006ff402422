#include "Shell/StartWithWindows.h"

#include <windows.h>

#include <string>

#include "Platform/WinHandles.h"
#include "Shell/ModulePath.h"

namespace Velotrix {

namespace {

constexpr wchar_t runKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t valueName[] = L"Velotrix";

} // namespace

bool IsStartWithWindows() {
    return RegGetValueW(HKEY_CURRENT_USER, runKey, valueName, RRF_RT_REG_SZ, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool SetStartWithWindows(bool enabled) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, runKey, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) return false;
    const UniqueRegistryKey key(opened);

    if (!enabled) {
        const LSTATUS deleted = RegDeleteValueW(key.get(), valueName);
        return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
    }
    // Quoted, so that a path with spaces still starts the program and not its first word.
    const std::wstring command = L"\"" + ModulePath() + L"\" --tray";
    return RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                          static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

} // namespace Velotrix
