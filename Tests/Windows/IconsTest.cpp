// The program's icon at the sizes Windows shows it for a DPI: which sides are asked for, and that the
// icon file has a frame of its own for each small side, which Windows then picks.

#include "Window/Icons.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "Platform/WinHandles.h"
#include "Shell/ModulePath.h"

namespace Velotrix {
namespace {

std::vector<int> asked;

HICON RecordSide(HINSTANCE, int side) {
    asked.push_back(side);
    return nullptr;
}

TEST(IconsTest, SmallAndBigIconsAreAskedForAtTheSidesOfTheDpi) {
    for (const auto& [dpi, small, big] : {std::tuple{96u, 16, 32}, {120u, 20, 40}, {144u, 24, 48}}) {
        asked.clear();
        const ProgramIcons icons = LoadProgramIcons(nullptr, dpi, &RecordSide);
        EXPECT_EQ(asked, (std::vector<int>{small, big})) << dpi << " DPI";
        EXPECT_FALSE(icons.smallIcon);
    }
}

TEST(IconsTest, EachSmallSideIsDrawnFromAFrameOfItsOwn) {
    const UniqueModule program(LoadLibraryExW((ModuleFolder() + L"\\..\\Velotrix.exe").c_str(), nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(program) << "Velotrix.exe is not built beside the test program's folder";
    HRSRC groupResource = FindResourceW(program.get(), MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    auto* group = static_cast<BYTE*>(LockResource(LoadResource(program.get(), groupResource)));
    ASSERT_NE(group, nullptr) << "no icon group 1";

    for (int side : {16, 20, 24}) {
        // The frame Windows chooses for this side must be exactly that large, not a larger one shrunk.
        const int id = LookupIconIdFromDirectoryEx(group, TRUE, side, side, LR_DEFAULTCOLOR);
        HRSRC frame = FindResourceW(program.get(), MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_GE(SizeofResource(program.get(), frame), 24u) << side; // 0 for a frame not found
        const auto* png = static_cast<const std::uint8_t*>(LockResource(LoadResource(program.get(), frame)));
        // The PNG's IHDR width, big-endian at offset 16.
        const int width = png[16] << 24 | png[17] << 16 | png[18] << 8 | png[19];
        EXPECT_EQ(width, side);

        const UniqueIcon icon(LoadIconAtSide(program.get(), side));
        ASSERT_TRUE(icon) << side;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon.get(), &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, side);
        if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
        if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    }
}

} // namespace
} // namespace Velotrix
