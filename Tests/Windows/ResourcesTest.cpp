// The resources built into Velotrix.exe: the icon group, the manifest and the version information,
// read back from the program file beside this test program's folder.

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

    std::vector<std::uint8_t> Resource(const wchar_t* type, int id) {
        HRSRC found = FindResourceW(program.get(), MAKEINTRESOURCEW(id), type);
        if (found == nullptr) return {};
        HGLOBAL loaded = LoadResource(program.get(), found);
        const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
        if (bytes == nullptr) return {};
        return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(program.get(), found));
    }

    UniqueModule program;
};

std::uint16_t Word(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}
std::uint32_t BigEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

TEST_F(WindowResourcesTest, IconGroupOneHoldsEightPngImagesFrom16To256) {
    const std::vector<std::uint8_t> group = Resource(RT_GROUP_ICON, 1);
    ASSERT_GE(group.size(), 6u);
    EXPECT_EQ(Word(group, 2), 1) << "an icon, not a cursor";
    const int count = Word(group, 4);
    ASSERT_EQ(count, 8);
    ASSERT_EQ(group.size(), 6u + 14u * 8u);

    const int sizes[] = {16, 20, 24, 32, 48, 64, 128, 256};
    for (int i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 14 * static_cast<std::size_t>(i);
        const int side = group[entry] == 0 ? 256 : group[entry];
        EXPECT_EQ(side, sizes[i]);
        EXPECT_EQ(Word(group, entry + 6), 32) << "bits per pixel of " << side;
        const std::vector<std::uint8_t> image = Resource(RT_ICON, Word(group, entry + 12));
        ASSERT_GE(image.size(), 26u) << side;
        const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), image.begin())) << side << " is not a PNG";
        // IHDR: width, height, bit depth 8, colour type 6 (RGBA).
        EXPECT_EQ(BigEndian32(image, 16), static_cast<std::uint32_t>(side));
        EXPECT_EQ(BigEndian32(image, 20), static_cast<std::uint32_t>(side));
        EXPECT_EQ(image[24], 8);
        EXPECT_EQ(image[25], 6);
    }

    // Windows can make icons of it: the one the window class and the notification area load.
    HICON icon = static_cast<HICON>(LoadImageW(program.get(), MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) DestroyIcon(icon);
}

TEST_F(WindowResourcesTest, ManifestAsksForPerMonitorDpiUtf8AndNoElevation) {
    const std::vector<std::uint8_t> bytes = Resource(RT_MANIFEST, 1);
    ASSERT_FALSE(bytes.empty());
    const std::string manifest(bytes.begin(), bytes.end());
    const char* expected[] = {
        R"(<assemblyIdentity type="win32" name="Quillon.Velotrix" version="1.0.0.0"/>)",
        R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
        R"(processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*")",
        R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
        R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)",
        ">true/pm</dpiAware>",
        ">PerMonitorV2</dpiAwareness>",
        ">UTF-8</activeCodePage>",
    };
    for (const char* text : expected) EXPECT_NE(manifest.find(text), std::string::npos) << text;

    // Exactly one manifest: the toolchain's default one would compete with it.
    int manifests = 0;
    EnumResourceNamesW(
        program.get(), RT_MANIFEST,
        [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) -> BOOL {
            ++*reinterpret_cast<int*>(count);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 1);
}

TEST_F(WindowResourcesTest, VersionInformationNamesTheProgramAndItsMaker) {
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
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));

    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translation = nullptr;
    ASSERT_TRUE(query(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation->language, 0x0409);
    EXPECT_EQ(translation->codePage, 1200);

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"FileVersion", L"1.0.0"},           {L"ProductVersion", L"1.0.0"},
        {L"FileDescription", L"Velotrix server"}, {L"InternalName", L"Velotrix"},
        {L"OriginalFilename", L"Velotrix.exe"},   {L"ProductName", L"Velotrix"},
        {L"CompanyName", L"Quillon"},
    };
    for (const auto& [name, value] : strings) {
        wchar_t* text = nullptr;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(query(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length)) << testing::PrintToString(key);
        EXPECT_EQ(std::wstring(text), value);
    }
}

} // namespace
} // namespace Velotrix
