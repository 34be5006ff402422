// The resources built into Velotrix.exe, read back from the program file.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

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

    // The version block Explorer reads: VS_VERSIONINFO's fixed part follows its header and key.
    const HRSRC version = FindResourceW(program.get(), MAKEINTRESOURCEW(1), RT_VERSION);
    ASSERT_NE(version, nullptr);
    const auto* block = static_cast<const std::uint8_t*>(LockResource(LoadResource(program.get(), version)));
    ASSERT_NE(block, nullptr);
    const auto* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(block + 40);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    const std::wstring_view text(reinterpret_cast<const wchar_t*>(block), SizeofResource(program.get(), version) / 2);
    EXPECT_NE(text.find(L"StringFileInfo"), std::wstring_view::npos);
    EXPECT_NE(text.find(L"FileDescription"), std::wstring_view::npos);
}

} // namespace
} // namespace Velotrix
