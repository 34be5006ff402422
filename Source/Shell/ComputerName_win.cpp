#include "Shell/ComputerName.h"

#include <windows.h>

namespace Velotrix {

namespace {

constexpr DWORD nameBufferLength = 256;

} // namespace

std::wstring ComputerName() {
    wchar_t name[nameBufferLength];
    DWORD length = nameBufferLength;
    if (GetComputerNameExW(ComputerNameDnsHostname, name, &length) && length > 0) return {name, length};
    length = nameBufferLength;
    if (GetComputerNameW(name, &length) && length > 0) return {name, length};
    return L"PC";
}

} // namespace Velotrix
