// The resources built into Velotrix.exe, read back from the program file.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Platform/WinHandles.h"
#include "Shell/ModulePath.h"

namespace Velotrix {
namespace {

// What a missing or mislinked resource would break: the icons Windows loads and one manifest (the
// toolchain's default would compete with it).
TEST(WindowResourcesTest, IconsAndOneManifestAreThereForWindowsToLoad) {
    const UniqueModule program(LoadLibraryExW((ModuleFolder() + L"\\..\\Velotrix.exe").c_str(), nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(program) << "Velotrix.exe is not built beside the test program's folder";
    for (const int side : {16, 32, 256}) {
        HICON icon = static_cast<HICON>(LoadImageW(program.get(), MAKEINTRESOURCEW(1), IMAGE_ICON, side, side, 0));
        EXPECT_NE(icon, nullptr) << side;
        if (icon != nullptr) DestroyIcon(icon);
    }

    int manifests = 0;
    EnumResourceNamesW(
        program.get(), RT_MANIFEST,
        [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) -> BOOL {
            ++*reinterpret_cast<int*>(count);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 1);
    // The version block is read from the installed program end to end.
}

} // namespace
} // namespace Velotrix
