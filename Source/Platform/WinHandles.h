#pragma once

// Owners of the Windows handles the program keeps: kernel objects, files, registry keys, loaded
// modules, icons. Each is a UniqueResource; the traits only say what "none" is and how to give one back.

#include <windows.h>

#include "Common/UniqueResource.h"

namespace Velotrix {

// Events, threads, mutexes, processes: anything whose failure value is NULL.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return nullptr; }
    static void Release(Value handle) { CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// CreateFileW and its kin answer INVALID_HANDLE_VALUE, not NULL, on failure.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Release(Value handle) { CloseHandle(handle); }
};
using UniqueFileHandle = UniqueResource<FileHandleTraits>;

struct RegistryKeyTraits {
    using Value = HKEY;
    static Value Invalid() { return nullptr; }
    static void Release(Value key) { RegCloseKey(key); }
};
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;

struct ModuleTraits {
    using Value = HMODULE;
    static Value Invalid() { return nullptr; }
    static void Release(Value module) { FreeLibrary(module); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

// Icons loaded at a size of their own (LoadImageW); shared icons are never destroyed, so never owned.
struct IconTraits {
    using Value = HICON;
    static Value Invalid() { return nullptr; }
    static void Release(Value icon) { DestroyIcon(icon); }
};
using UniqueIcon = UniqueResource<IconTraits>;

} // namespace Velotrix
