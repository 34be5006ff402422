// The window's commands: what a click changes and what it leaves alone. The server's rules are tested
// natively and Allow, Deny, Disconnect and the switches are clicked end to end; here the rest.

#include "Window/MainWindow.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CommandsHarness.h"
#include "Platform/SimulatedBus.h"
#include "RegistrySandbox.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/Settings.h"
#include "TestPhone.h"
#include "Common/Links.h"

namespace Velotrix {
namespace {

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
        ASSERT_TRUE(server->OpenSocket(0, error)) << error;
        window = std::make_unique<MainWindow>(*server, settings);
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), true));
    }

    void TearDown() override {
        DropWindowAndServer(window, server);
        SimulatedBus::Reset();
    }

    void Click(ClickAction action, std::uint32_t session = 0) {
        window->OnClick(
            ClickRegion{{0, 0, 10, 10}, static_cast<std::int32_t>(action), static_cast<std::int32_t>(session)});
    }

    // The phone says Hello; answers the Status that came back (in no known state when none did).
    StatusDatagram Hello(TestPhone& phone) {
        const Bytes hello = phone.Hello();
        now += 1'000'000;
        server->HandleDatagram(hello.data(), static_cast<int>(hello.size()), phone.From(), now);
        const auto status = phone.ReceiveStatus(1000);
        EXPECT_TRUE(status) << "no Status for " << phone.Name();
        return status.value_or(StatusDatagram{.state = 0xFF, .hostName = {}});
    }

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
    std::int64_t now = 1'000'000'000;
};

TEST_F(CommandsTest, DenyAndDisconnectNeverTouchTheAllowedListOrTheRegistry) {
    struct Case {
        ClickAction action;
        std::optional<std::uint8_t> stateAfter; // none: no longer listed
    };
    const Case cases[] = {{ClickAction::DenyPhone, State(PhoneState::Refused)}, {ClickAction::DisconnectPhone, {}}};
    std::uint8_t seed = 10;
    for (const Case& c : cases) {
        TestPhone known("Known", ++seed);
        server->SetAllowed({known.IdText()});
        settings.allowed = {known.IdText()};
        // Stored values that differ from everything in memory, so that a save would show.
        EXPECT_TRUE(SaveSettings(Settings{!settings.askFirst, !settings.keepInTray, {"decoy"}, 4242}));
        const auto before = Stored();
        const StatusDatagram hello = Hello(known);
        ASSERT_EQ(hello.state, State(PhoneState::Active));

        Click(c.action, hello.sessionId);

        EXPECT_EQ(StateOf(hello.sessionId), c.stateAfter);
        EXPECT_EQ(server->AllowedList(), std::set<std::string>{known.IdText()});
        EXPECT_EQ(settings.allowed, std::set<std::string>{known.IdText()});
        EXPECT_EQ(Stored(), before) << "nothing is saved";
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
    const std::pair<ClickAction, const bool*> cases[] = {
        {ClickAction::ToggleAskFirst, &settings.askFirst},
        {ClickAction::ToggleKeepInTray, &settings.keepInTray},
        {ClickAction::ToggleStartWithWindows, &window->startWithWindows}};
    for (const auto& [action, option] : cases) {
        const bool before = *option;
        Click(action);
        EXPECT_EQ(*option, before) << static_cast<int>(action);
    }
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
