// A second copy and "--quit" reach only a window whose process runs the same program file.

#include "Window/RunningCopy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "CommandsHarness.h"
#include "Window/Messages.h"

namespace Velotrix {
namespace {

TEST(RunningCopyTest, SameProgramFileComparesAsWindowsComparesFileNames) {
    const std::wstring installed = L"C:\\Program Files\\Velotrix\\Velotrix.exe";
    const struct {
        const char* what;
        std::wstring other;
        bool same;
    } cases[] = {
        {"the same path", installed, true},
        {"another letter case", L"c:\\PROGRAM FILES\\velotrix\\VELOTRIX.EXE", true},
        {"with the long-path prefix", L"\\\\?\\C:\\Program Files\\Velotrix\\Velotrix.exe", true},
        {"another folder", L"C:\\Users\\Sam\\Downloads\\Velotrix\\Velotrix.exe", false},
        {"a longer name", L"C:\\Program Files\\Velotrix\\Velotrix.exe.bak", false},
        {"a name cut short", L"C:\\Program Files\\Velotrix\\Velotrix.ex", false},
        {"nothing", L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameProgramFile(installed, c.other), c.same) << c.what;
        EXPECT_EQ(SameProgramFile(c.other, installed), c.same) << c.what << ", the other way round";
    }
    EXPECT_FALSE(SameProgramFile(L"", L"")) << "no file is not the same file";
}

// A top-level window of a class of the test's own, in this process.
class RunningCopyWindowTest : public testing::Test {
protected:
    static constexpr wchar_t ClassName[] = L"VelotrixRunningCopyTest";
    void SetUp() override {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = ClassName;
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, ClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        DestroyWindow(window);
        UnregisterClassW(ClassName, GetModuleHandleW(nullptr));
    }
    std::size_t Posted(UINT message) { return TakePosted(window, message, 1, std::chrono::milliseconds(200)).size(); }

    const std::wstring elsewhere = L"C:\\Users\\Sam\\Downloads\\Velotrix.exe";
    HWND window = nullptr;
};

TEST_F(RunningCopyWindowTest, ASecondCopyActivatesOnlyAWindowOfItsOwnProgramFile) {
    ASSERT_FALSE(ThisProgramFile().empty());
    EXPECT_FALSE(ActivateCopy(ClassName, elsewhere));
    EXPECT_EQ(Posted(WM_APP_ACTIVATE), 0u) << "a window of another program file";
    EXPECT_TRUE(ActivateCopy(ClassName, ThisProgramFile()));
    EXPECT_EQ(Posted(WM_APP_ACTIVATE), 1u);
}

TEST_F(RunningCopyWindowTest, QuitAsksOnlyAWindowOfTheNamedProgramFileAndSaysWhetherItEnded) {
    EXPECT_EQ(QuitCopy(ClassName, elsewhere, 0), 0) << "no copy of that file runs";
    EXPECT_EQ(Posted(WM_APP_QUIT), 0u);
    EXPECT_EQ(QuitCopy(ClassName, ThisProgramFile(), 0), 1) << "this process is still running";
    EXPECT_EQ(Posted(WM_APP_QUIT), 1u);
}

} // namespace
} // namespace Velotrix
