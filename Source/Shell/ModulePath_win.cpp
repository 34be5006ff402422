#include "Shell/ModulePath.h"

#include <windows.h>

namespace Velotrix {

namespace {

constexpr DWORD modulePathLength = 520;

} // namespace

std::wstring ModulePath() {
    wchar_t path[modulePathLength];
    const DWORD length = GetModuleFileNameW(nullptr, path, modulePathLength);
    // A path that does not fit comes back cut, NUL-terminated, with the whole buffer's length.
    return {path, length < modulePathLength ? length : modulePathLength - 1};
}

std::wstring ModuleFolder() {
    std::wstring path = ModulePath();
    const size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos) path.resize(slash);
    return path;
}

} // namespace Velotrix
