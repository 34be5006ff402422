#include "Shell/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace Velotrix {
namespace {

TEST(CommandLineTest, OptionsAreWholeCaseSensitiveArgumentsAfterTheProgramPath) {
    struct Expected {
        bool tray, demo;
        int port;
    };
    struct Case {
        const char* what;
        std::vector<std::wstring> arguments;
        Expected expected;
    };
    const std::vector<Case> cases = {
        {"no arguments at all", {}, {false, false, 0}},
        {"tray and demo", {L"Velotrix.exe", L"--demo", L"--tray"}, {true, true, 0}},
        {"the program path is not an option", {L"--tray"}, {false, false, 0}},
        {"other spellings do nothing",
         {L"Velotrix.exe", L"--Tray", L"-tray", L"--tray=1", L"--DEMO"},
         {false, false, 0}},
        {"port", {L"Velotrix.exe", L"--port", L"5000"}, {false, false, 5000}},
        {"a later port wins", {L"Velotrix.exe", L"--port", L"5000", L"--port", L"6000"}, {false, false, 6000}},
        {"port as the last argument is ignored",
         {L"Velotrix.exe", L"--port", L"5000", L"--port"},
         {false, false, 5000}},
        {"port's value is consumed, even if it looks like an option",
         {L"Velotrix.exe", L"--port", L"--tray"},
         {false, false, 0}},
        {"leading blanks, sign, digits up to the first non-digit",
         {L"Velotrix.exe", L"--port", L"  +123abc"},
         {false, false, 123}},
        {"not a number", {L"Velotrix.exe", L"--port", L"abc", L"--demo"}, {false, true, 0}},
        {"unknown arguments are skipped", {L"Velotrix.exe", L"hello", L"--tray", L"world"}, {true, false, 0}},
    };
    for (const Case& c : cases) {
        const CommandLineOptions options = ParseCommandLine(c.arguments);
        EXPECT_EQ(std::tie(options.tray, options.demo, options.port),
                  std::tie(c.expected.tray, c.expected.demo, c.expected.port))
            << c.what;
    }
}

TEST(CommandLineTest, QuitTakesTheProgramPathThatFollowsItButNoOption) {
    const struct {
        std::vector<std::wstring> arguments;
        std::wstring program;
        int port;
    } cases[] = {
        {{L"Velotrix.exe", L"--quit"}, L"", 0},
        {{L"Velotrix.exe", L"--quit", L"D:\\Games\\Velotrix\\Velotrix.exe"}, L"D:\\Games\\Velotrix\\Velotrix.exe", 0},
        {{L"Velotrix.exe", L"--quit", L"--port", L"5000"}, L"", 5000},
    };
    for (const auto& c : cases) {
        const CommandLineOptions options = ParseCommandLine(c.arguments);
        EXPECT_TRUE(options.quit);
        EXPECT_EQ(options.quitProgram, c.program);
        EXPECT_EQ(options.port, c.port);
    }
}

TEST(CommandLineTest, PortComesFromTheCommandLineThenTheSettingsThenTheDefaultAsItsLow16Bits) {
    // command line, stored, chosen
    const std::tuple<int, std::uint32_t, std::uint16_t> cases[] = {
        {0, 0, 47821},    {5000, 0, 5000},  {5000, 6000, 5000}, {0, 6000, 6000},
        {70000, 0, 4464}, {0, 70000, 4464}, {65536, 0, 0},      {-5, 0, 65531},
    };
    for (const auto& [commandLine, stored, chosen] : cases)
        EXPECT_EQ(ChoosePort(commandLine, stored), chosen) << commandLine << " " << stored;
}

} // namespace
} // namespace Velotrix
