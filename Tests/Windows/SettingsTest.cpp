#include "Shell/Settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "RegistrySandbox.h"

namespace Velotrix {
namespace {

using namespace std::string_literals;

constexpr wchar_t settingsKey[] = L"Software\\Quillon\\Velotrix";
const std::string phoneA = "0a112233445566778899aabbccddeeff";
const std::string phoneB = "f000112233445566778899aabbccddee";

class SettingsTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sandbox.Ready()) << "HKEY_CURRENT_USER could not be redirected"; }

    RawValue Stored(const wchar_t* name) {
        RawValue value;
        EXPECT_TRUE(ReadRaw(sandbox.Root(), settingsKey, name, value)) << "no value " << testing::PrintToString(name);
        return value;
    }

    RegistrySandbox sandbox;
};

void ExpectSettings(const Settings& actual, const Settings& expected) {
    EXPECT_EQ(std::tie(actual.askFirst, actual.keepInTray, actual.allowed, actual.port),
              std::tie(expected.askFirst, expected.keepInTray, expected.allowed, expected.port));
}

TEST_F(SettingsTest, FirstRunKeepsTheDefaultsAndCreatesNothing) {
    Settings settings;
    LoadSettings(settings);
    ExpectSettings(settings, Settings{true, true, {}, 0, {}});
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(sandbox.Root(), settingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(SettingsTest, ReadsStoredValuesAndTreatsOtherTypesAsMissing) {
    struct Case {
        const char* name;
        std::vector<std::pair<const wchar_t*, RawValue>> stored;
        Settings expected;
    };
    const std::vector<Case> cases = {
        {"both flags off", {{L"AskFirst", Dword(0)}, {L"KeepInTray", Dword(0)}}, {false, false, {}, 0, {}}},
        {"any non-zero flag is on",
         {{L"AskFirst", Dword(2)}, {L"KeepInTray", Dword(0xFFFFFFFF)}},
         {true, true, {}, 0, {}}},
        {"a flag stored as 4 binary bytes is missing",
         {{L"AskFirst", RawValue{REG_BINARY, {0, 0, 0, 0}}}},
         {true, true, {}, 0, {}}},
        {"port stored as a string is missing", {{L"Port", Utf16Value(REG_SZ, L"5000\0"s)}}, {true, true, {}, 0, {}}},
        {"allowed phones",
         {{L"Allowed", Utf16Value(REG_MULTI_SZ, L"f000112233445566778899aabbccddee\0"
                                                L"0a112233445566778899aabbccddeeff\0\0"s)}},
         {true, true, {phoneA, phoneB}, 0, {}}},
        {"the walk stops at an empty string",
         {{L"Allowed", Utf16Value(REG_MULTI_SZ, L"ab\0\0cd\0\0"s)}},
         {true, true, {"ab"}, 0, {}}},
        {"an empty multi-string holds no entries", {{L"Allowed", RawValue{REG_MULTI_SZ, {}}}}, {true, true, {}, 0, {}}},
        {"entries without their terminating NULs",
         {{L"Allowed", Utf16Value(REG_MULTI_SZ, L"ab\0cd"s)}},
         {true, true, {"ab", "cd"}, 0, {}}},
        {"allowed stored as a plain string is missing",
         {{L"Allowed", Utf16Value(REG_SZ, L"ab\0"s)}},
         {true, true, {}, 0, {}}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        RegDeleteTreeW(sandbox.Root(), settingsKey);
        for (const auto& [name, value] : test.stored) ASSERT_TRUE(WriteRaw(sandbox.Root(), settingsKey, name, value));
        Settings settings;
        LoadSettings(settings);
        ExpectSettings(settings, test.expected);
    }
}

TEST_F(SettingsTest, RememberedNamesAreStoredBesideTheIdsAndOnlyForThem) {
    Settings settings;
    settings.allowed = {phoneA, phoneB};
    settings.remembered = {{phoneA, {"Anna\xE2\x80\x99s iPhone", 1796650000}},
                           {"0123456789abcdef0123456789abcdef", {"Forgotten", 5}}};
    ASSERT_TRUE(SaveSettings(settings));
    // Older versions read "Allowed" alone, which stays as it was.
    EXPECT_EQ(Stored(L"Allowed"), Utf16Value(REG_MULTI_SZ, L"0a112233445566778899aabbccddeeff\0"
                                                           L"f000112233445566778899aabbccddee\0\0"s));
    EXPECT_EQ(Stored(L"AllowedNames"),
              Utf16Value(REG_MULTI_SZ, L"0a112233445566778899aabbccddeeff\t1796650000\tAnna\u2019s iPhone\0\0"s));
    Settings loaded;
    LoadSettings(loaded);
    EXPECT_EQ(loaded.remembered, (std::map<std::string, RememberedPhone>{{phoneA, settings.remembered[phoneA]}}));

    // An entry without its fields, or of an id no longer allowed, is left out.
    ASSERT_TRUE(WriteRaw(sandbox.Root(), settingsKey, L"AllowedNames",
                         Utf16Value(REG_MULTI_SZ, L"0a112233445566778899aabbccddeeff\0"
                                                  L"0123456789abcdef0123456789abcdef\t7\tX\0"
                                                  L"f000112233445566778899aabbccddee\t8\t\0\0"s)));
    Settings again;
    LoadSettings(again);
    EXPECT_EQ(again.remembered, (std::map<std::string, RememberedPhone>{{phoneB, {"", 8}}}));
}

TEST_F(SettingsTest, SavesEveryValueByteForByte) {
    struct Case {
        const char* name;
        Settings settings;
        RawValue askFirst, keepInTray, port, allowed;
    };
    const std::vector<Case> cases = {
        {"defaults: port written as 0, allowed as one NUL (2 bytes)", Settings{true, true, {}, 0, {}}, Dword(1),
         Dword(1), Dword(0), RawValue{REG_MULTI_SZ, {0, 0}}},
        {"two phones in ascending order, whatever order they were added in",
         Settings{false, true, {phoneB, phoneA}, 5000, {}}, Dword(0), Dword(1), Dword(5000),
         Utf16Value(REG_MULTI_SZ, L"0a112233445566778899aabbccddeeff\0f000112233445566778899aabbccddee\0\0"s)},
        {"non-ASCII entry stored as UTF-16", Settings{true, false, {"caf\xC3\xA9"}, 47821, {}}, Dword(1), Dword(0),
         Dword(47821), Utf16Value(REG_MULTI_SZ, L"caf\u00e9\0\0"s)},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        RegDeleteTreeW(sandbox.Root(), settingsKey);
        EXPECT_TRUE(SaveSettings(test.settings));
        EXPECT_EQ(Stored(L"AskFirst"), test.askFirst);
        EXPECT_EQ(Stored(L"KeepInTray"), test.keepInTray);
        EXPECT_EQ(Stored(L"Port"), test.port);
        EXPECT_EQ(Stored(L"Allowed"), test.allowed);

        Settings loaded;
        LoadSettings(loaded);
        ExpectSettings(loaded, test.settings);
    }
}

TEST_F(SettingsTest, RemovingTheSettingsTakesTheCompanyKeyOnlyWhenNothingElseIsThere) {
    const wchar_t companyKey[] = L"Software\\Quillon";
    const auto exists = [&](const wchar_t* key) {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(sandbox.Root(), key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
        RegCloseKey(opened);
        return true;
    };
    EXPECT_TRUE(RemoveSettings()) << "nothing there to remove";
    for (const bool otherProgram : {false, true}) {
        SCOPED_TRACE(otherProgram ? "another program of the company keeps its settings" : "Velotrix alone");
        ASSERT_TRUE(SaveSettings(Settings{true, true, {phoneA}, 5000, {}}));
        if (otherProgram) {
            ASSERT_TRUE(WriteRaw(sandbox.Root(), L"Software\\Quillon\\Other", L"Kept", Dword(1)));
        }
        EXPECT_TRUE(RemoveSettings());
        EXPECT_FALSE(exists(settingsKey));
        EXPECT_EQ(exists(companyKey), otherProgram);
        Settings loaded;
        LoadSettings(loaded);
        EXPECT_TRUE(loaded.allowed.empty());
    }
}

} // namespace
} // namespace Velotrix
