#include "Shell/StartWithWindows.h"

#include <gtest/gtest.h>

#include <string>

#include "RegistrySandbox.h"

namespace Velotrix {
namespace {

using namespace std::string_literals;

constexpr wchar_t runKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class StartWithWindowsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sandbox.Ready()) << "HKEY_CURRENT_USER could not be redirected";
        ASSERT_TRUE(WriteRaw(sandbox.Root(), runKey, L"Other program", Utf16Value(REG_SZ, L"other.exe\0"s)));
    }

    bool RunValue(RawValue& value) { return ReadRaw(sandbox.Root(), runKey, L"Velotrix", value); }

    RegistrySandbox sandbox;
};

TEST_F(StartWithWindowsTest, OnWritesTheQuotedPathWithTrayAndOffRemovesIt) {
    EXPECT_FALSE(IsStartWithWindows());

    EXPECT_TRUE(SetStartWithWindows(true));
    RawValue value;
    ASSERT_TRUE(RunValue(value));
    wchar_t program[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH * 2);
    EXPECT_EQ(value, Utf16Value(REG_SZ, L"\"" + std::wstring(program) + L"\" --tray\0"s));
    EXPECT_TRUE(IsStartWithWindows());

    EXPECT_TRUE(SetStartWithWindows(false));
    EXPECT_FALSE(RunValue(value));
    EXPECT_FALSE(IsStartWithWindows());
    EXPECT_TRUE(SetStartWithWindows(false)) << "turning off what is off succeeds";

    RawValue other;
    ASSERT_TRUE(ReadRaw(sandbox.Root(), runKey, L"Other program", other));
    EXPECT_EQ(other, Utf16Value(REG_SZ, L"other.exe\0"s));
}

TEST_F(StartWithWindowsTest, AnyStringValueCountsAsOnWithoutCheckingThePath) {
    const std::pair<RawValue, bool> cases[] = {
        {Utf16Value(REG_SZ, L"\"C:\\Old place\\Velotrix.exe\" --tray\0"s), true},
        {Dword(1), false},
        {Utf16Value(REG_MULTI_SZ, L"C:\\Velotrix.exe\0\0"s), false},
    };
    for (const auto& [stored, on] : cases) {
        ASSERT_TRUE(WriteRaw(sandbox.Root(), runKey, L"Velotrix", stored));
        EXPECT_EQ(IsStartWithWindows(), on) << stored.type;
    }
}

TEST_F(StartWithWindowsTest, AMissingRunKeyIsNotCreated) {
    ASSERT_EQ(RegDeleteTreeW(sandbox.Root(), runKey), ERROR_SUCCESS);
    EXPECT_FALSE(SetStartWithWindows(true)) << "the failure is reported";
    EXPECT_FALSE(IsStartWithWindows());
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(sandbox.Root(), runKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

} // namespace
} // namespace Velotrix
