#pragma once

// Functions that older Windows lacks (DNS-SD before 1809, the title bar's attributes) or that no import
// library of the toolchain offers (the Windows Runtime's strings) are looked up at run time: a static
// import of a missing function would keep the whole program from starting. Windows only.

#include <windows.h>

namespace Velotrix {

// A DLL of Windows' own, from System32 only: never a file of that name that someone put in the
// program's folder or the current one. Null when it cannot be loaded, with GetLastError telling why.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// `name` in `module` as a `Function` (a function pointer type); null when `module` is null or does not
// export it, with GetLastError telling why.
template <typename Function>
Function LookupFunction(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    // Through void*: GetProcAddress's FARPROC has a signature of its own that no cast to another fits.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace Velotrix
