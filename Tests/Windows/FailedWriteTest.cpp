// An option whose value cannot be written keeps its old position and says why in the log, so the
// window never shows a choice the next start would not find.

#include <gtest/gtest.h>

#include <memory>

#include "CommandsHarness.h"
#include "Platform/SimulatedBus.h"
#include "RegistrySandbox.h"
#include "ServerFixture.h"
#include "Shell/Settings.h"

namespace Velotrix {
namespace {

TEST(FailedWriteTest, AnOptionThatCannotBeStoredStaysAsItWasAndIsLogged) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    // "Software" made volatile, under which the settings' lasting key cannot be made, and no Run key:
    // both writes are refused.
    HKEY software = nullptr;
    ASSERT_EQ(RegCreateKeyExW(sandbox.Root(), L"Software", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &software, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(software);
    ASSERT_FALSE(SaveSettings(Settings{})) << "a refused write is reported";

    SimulatedBus::Reset();
    LogCapture logs;
    Settings settings;
    auto server = std::make_unique<Server>();
    auto window = std::make_unique<MainWindow>(*server, settings);
    ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), true));
    struct Case {
        ClickAction action;
        const bool* option;
        const char* logLine;
    };
    const Case cases[] = {
        {ClickAction::ToggleAskFirst, &settings.askFirst, "Settings: could not save AskFirst"},
        {ClickAction::ToggleKeepInTray, &settings.keepInTray, "Settings: could not save KeepInTray"},
        {ClickAction::ToggleStartWithWindows, &window->startWithWindows,
         "Start with Windows: could not change the Run value"},
    };
    for (const Case& c : cases) {
        const bool before = *c.option;
        window->OnClick(ClickRegion{{0, 0, 10, 10}, static_cast<std::int32_t>(c.action), 0});
        EXPECT_EQ(*c.option, before) << c.logLine;
        EXPECT_EQ(logs.Count(c.logLine), 1) << c.logLine;
    }
    DropWindowAndServer(window, server);
}

} // namespace
} // namespace Velotrix
