// The resources built into Velotrix.exe, read back from the program file beside this test program's
// folder.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Platform/WinHandles.h"
#include "Shell/HostIdentity.h"

namespace Velotrix {
namespace {

std::wstring ProgramPath() { return ModuleFolder() + L"\\..\\Velotrix.exe"; }

class WindowResourcesTest : public testing::Test {
protected:
    void SetUp() override {
        program.Reset(LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(program) << "Velotrix.exe is not built beside the test program's folder";
    }

    UniqueModule program;
};

// What a missing or mislinked resource would break: the icons Windows loads, one manifest (the
// toolchain's default would compete with it), and a version block Explorer can read.
TEST_F(WindowResourcesTest, IconsManifestAndVersionBlockAreThereForWindowsToLoad) {
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

    // version.dll is looked up at run time so that the test program needs no extra import library.
    using SizeFunction = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFunction = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFunction = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    const UniqueModule versionDll(LoadLibraryW(L"version.dll"));
    ASSERT_TRUE(versionDll);
    const auto infoSize = reinterpret_cast<SizeFunction>(
        reinterpret_cast<void*>(GetProcAddress(versionDll.get(), "GetFileVersionInfoSizeW")));
    const auto info =
        reinterpret_cast<InfoFunction>(reinterpret_cast<void*>(GetProcAddress(versionDll.get(), "GetFileVersionInfoW")));
    const auto query =
        reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(GetProcAddress(versionDll.get(), "VerQueryValueW")));
    ASSERT_TRUE(infoSize && info && query);
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    std::vector<std::uint8_t> block(infoSize(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(info(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    wchar_t* text = nullptr;
    EXPECT_TRUE(query(block.data(), L"\\StringFileInfo\\040904B0\\FileDescription", reinterpret_cast<void**>(&text),
                      &length));
}

} // namespace
} // namespace Velotrix
