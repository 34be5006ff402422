// The window's commands: what a click on the painted page changes and what it leaves alone. The server's
// rules are tested natively and Allow, Deny, Disconnect and the switches are clicked end to end; here
// the rest.

#include "Window/MainWindow.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CommandsHarness.h"
#include "SimulatedBus/SimulatedBus.h"
#include "RegistrySandbox.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/Settings.h"
#include "Shell/TextConversion.h"
#include "TestPhone.h"
#include "Common/Links.h"

namespace Velotrix {
namespace {

using namespace std::string_literals;

constexpr wchar_t SettingsKey[] = L"Software\\Quillon\\Velotrix";
constexpr wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class CommandsTest : public testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        ASSERT_TRUE(sandbox.Ready()) << "HKEY_CURRENT_USER could not be redirected";
        // Every Windows has the Run key; the registration only writes into it.
        ASSERT_TRUE(WriteRaw(sandbox.Root(), RunKey, L"Other program", Dword(0)));
        server = std::make_unique<Server>();
        server->SetHostName("RACING-PC");
        server->SetAskFirst(settings.askFirst);
        std::string error;
        ASSERT_TRUE(server->Start(0, error)) << error;
        window = std::make_unique<MainWindow>(MainWindowSetup{.server = *server, .settings = settings});
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
    }

    void TearDown() override {
        DropWindowAndServer(window, server);
        SimulatedBus::Reset();
    }

    // Clicks what the page draws for `action`, for the phone `session` when given.
    void Click(ClickAction action, std::optional<std::uint32_t> session = std::nullopt) {
        const auto arg = session ? std::optional<std::int32_t>(static_cast<std::int32_t>(*session)) : std::nullopt;
        EXPECT_TRUE(ClickOn(*window, action, arg)) << "the page shows no " << static_cast<int>(action);
    }

    StatusDatagram Hello(TestPhone& phone) { return SayHello(phone, *server); }

    std::optional<std::uint8_t> StateOf(std::uint32_t session) {
        for (const PhoneView& view : server->Snapshot())
            if (view.sessionId == session) return view.state;
        return std::nullopt;
    }

    // Everything the commands may write outside the process, byte for byte.
    std::map<std::wstring, RawValue> Stored() {
        std::map<std::wstring, RawValue> stored;
        for (const wchar_t* name : {L"AskFirst", L"KeepInTray", L"Allowed", L"Port"})
            ReadRaw(sandbox.Root(), SettingsKey, name, stored[name]);
        ReadRaw(sandbox.Root(), RunKey, L"Velotrix", stored[L"Run"]);
        return stored;
    }

    RegistrySandbox sandbox;
    LogCapture logs;
    Settings settings;
    std::unique_ptr<Server> server;
    std::unique_ptr<MainWindow> window;
};

TEST_F(CommandsTest, DenyKeepsTheAllowedListAndDisconnectTakesThePhoneOffIt) {
    // Deny is drawn for a phone that waits, Disconnect for one admitted because it was allowed before.
    struct Case {
        ClickAction action;
        bool allowedBefore;
        std::uint8_t stateBefore;
        std::optional<std::uint8_t> stateAfter; // none: no longer listed
    };
    const Case cases[] = {{ClickAction::DenyPhone, false, State(PhoneState::Waiting), State(PhoneState::Refused)},
                          {ClickAction::DisconnectPhone, true, State(PhoneState::Active), {}}};
    const std::string other = "0123456789abcdef0123456789abcdef";
    std::uint8_t seed = 10;
    for (const Case& c : cases) {
        TestPhone phone("Phone", ++seed);
        const std::set<std::string> allowedBefore = c.allowedBefore ? std::set{other, phone.IdText()} : std::set{other};
        server->SetAllowed(allowedBefore);
        settings.allowed = allowedBefore;
        // Stored values that differ from everything in memory, so that a save would show.
        EXPECT_TRUE(SaveSettings(Settings{!settings.askFirst, !settings.keepInTray, {"decoy"}, 4242, {}}));
        const auto before = Stored();
        const StatusDatagram hello = Hello(phone);
        ASSERT_EQ(hello.state, c.stateBefore);

        Click(c.action, hello.sessionId);

        EXPECT_EQ(StateOf(hello.sessionId), c.stateAfter);
        EXPECT_EQ(server->AllowedList(), std::set{other});
        EXPECT_EQ(settings.allowed, std::set{other});
        if (c.allowedBefore)
            EXPECT_EQ(Stored()[L"Allowed"], Utf16Value(REG_MULTI_SZ, ToUtf16(other) + L"\0\0"s)) << "saved without it";
        else
            EXPECT_EQ(Stored(), before) << "nothing is saved";
        server->Disconnect(hello.sessionId); // a refused phone stays listed, and would hide the next one's row
    }
}

// Flipping and storing each option is clicked for real end to end; here, a write that fails.
TEST_F(CommandsTest, AnOptionThatCannotBeStoredStaysAsItWasAndIsLogged) {
    // "Software" made volatile, under which the settings' lasting key cannot be made, and no Run key.
    ASSERT_EQ(RegDeleteTreeW(sandbox.Root(), L"Software"), ERROR_SUCCESS);
    HKEY software = nullptr;
    ASSERT_EQ(RegCreateKeyExW(sandbox.Root(), L"Software", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &software, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(software);
    ASSERT_FALSE(SaveSettings(Settings{})) << "a refused write is reported";
    // As the options card draws them.
    const auto shown = [this](ClickAction action) {
        PaintNow(*window);
        const PageInput& page = window->Page().lastPainted;
        return action == ClickAction::ToggleAskFirst     ? page.askFirst
               : action == ClickAction::ToggleKeepInTray ? page.keepInTray
                                                         : page.startWithWindows;
    };
    for (const ClickAction action :
         {ClickAction::ToggleAskFirst, ClickAction::ToggleKeepInTray, ClickAction::ToggleStartWithWindows}) {
        const bool before = shown(action);
        Click(action);
        EXPECT_EQ(shown(action), before) << static_cast<int>(action);
    }
    EXPECT_EQ(settings.askFirst, Settings{}.askFirst);
    EXPECT_EQ(settings.keepInTray, Settings{}.keepInTray);
    EXPECT_EQ(logs.Count("Settings: could not save AskFirst"), 1);
    EXPECT_EQ(logs.Count("Settings: could not save KeepInTray"), 1);
    EXPECT_EQ(logs.Count("Start with Windows: could not change the Run value"), 1);
}

TEST_F(CommandsTest, AskFirstReachesTheServerForTheNextPhone) {
    Click(ClickAction::ToggleAskFirst);
    TestPhone next("Next", 4);
    EXPECT_EQ(Hello(next).state, State(PhoneState::Active));
    Click(ClickAction::ToggleAskFirst);
    TestPhone third("Third", 5);
    EXPECT_EQ(Hello(third).state, State(PhoneState::Waiting));
}

TEST_F(CommandsTest, TheLinkButtonsOpenTheirPagesThroughTheShell) {
    BrowserSandbox browser;
    ASSERT_TRUE(browser.Ready());
    const std::pair<ClickAction, std::wstring> cases[] = {{ClickAction::OpenAppStore, StoreLinkWide},
                                                          {ClickAction::OpenWebPage, WebLinkWide}};
    for (const auto& [action, link] : cases) {
        InstallerLog opened;
        const auto before = Stored();
        Click(action);
        ASSERT_TRUE(PumpUntil([&] { return opened.Ends() >= 1; }, std::chrono::seconds(30)))
            << ToUtf8(link) << " was not opened";
        const auto starts = opened.Of(L"start");
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_TRUE(EndsWith(starts[0].commandLine, L"\"" + link + L"\"")) << ToUtf8(starts[0].commandLine);
        EXPECT_EQ(starts[0].show, SW_SHOWNORMAL);
        EXPECT_EQ(Stored(), before);
    }
}

} // namespace
} // namespace Velotrix
