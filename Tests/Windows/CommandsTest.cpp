// The window's commands: what each click changes in the server, the settings, the registry and the
// Run key, and what it leaves alone. The registry is a sandbox; the server runs without its receive
// thread, fed datagrams directly, with the simulated bus.

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
#include "Shell/StartWithWindows.h"
#include "TestPhone.h"
#include "Window/Links.h"

namespace Velotrix {
namespace {

constexpr wchar_t SettingsKey[] = L"Software\\Quillon\\Velotrix";
constexpr wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string StrangerId = "00112233445566778899aabbccddeeff";

// Everything the commands may write outside the process, byte for byte.
struct StoredState {
    std::map<std::wstring, RawValue> settings;
    std::optional<RawValue> run;
    bool operator==(const StoredState&) const = default;
};

void PrintTo(const StoredState& state, std::ostream* out) {
    *out << "{";
    for (const auto& [name, value] : state.settings)
        *out << ToUtf8(name) << ": type " << value.type << ", " << value.bytes.size() << " bytes; ";
    *out << "Run value " << (state.run ? "present" : "absent") << "}";
}

class CommandsTest : public testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        ASSERT_TRUE(sandbox.Ready()) << "HKEY_CURRENT_USER could not be redirected";
        // Every Windows has the Run key; the registration only writes into it.
        HKEY run = nullptr;
        ASSERT_EQ(RegCreateKeyExW(sandbox.Root(), RunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &run, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(run);
        MakeServer();
        window = std::make_unique<MainWindow>(*server, settings);
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), true));
    }

    void TearDown() override {
        Drop();
        SimulatedBus::Reset();
    }

    // The window first: it holds the server by reference.
    void Drop() { DropWindowAndServer(window, server); }

    // A new server and window, as at the program's start; the registry stays.
    void Restart() {
        Drop();
        MakeServer();
        window = std::make_unique<MainWindow>(*server, settings);
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), true));
    }

    // The server as the program wires it: the allowed-list callback copies the list into the settings
    // and saves them.
    void MakeServer() {
        server = std::make_unique<Server>();
        server->SetHostName("RACING-PC");
        server->SetAskFirst(settings.askFirst);
        std::string error;
        ASSERT_TRUE(server->OpenSocket(0, error)) << error;
        server->SetOnAllowedChanged([this] {
            ++allowedChanges;
            settings.allowed = server->AllowedList();
            EXPECT_TRUE(SaveSettings(settings));
        });
    }

    void Click(ClickAction action, std::uint32_t session = 0) {
        window->OnClick(ClickRegion{{0, 0, 10, 10}, static_cast<std::int32_t>(action), static_cast<std::int32_t>(session)});
    }

    // The phone says Hello; answers the state of the Status that came back.
    std::uint8_t Hello(TestPhone& phone, std::uint32_t* session = nullptr) {
        const Bytes hello = phone.Hello();
        now += 1'000'000;
        server->HandleDatagram(hello.data(), static_cast<int>(hello.size()), phone.From(), now);
        const auto status = phone.ReceiveStatus(1000);
        EXPECT_TRUE(status) << "no Status for " << phone.Name();
        if (!status) return 0xFF;
        if (session != nullptr) *session = status->sessionId;
        return status->state;
    }

    const PhoneView* Find(const std::vector<PhoneView>& views, std::uint32_t session) {
        for (const PhoneView& view : views)
            if (view.sessionId == session) return &view;
        return nullptr;
    }

    StoredState Stored() {
        StoredState state;
        for (const wchar_t* name : {L"AskFirst", L"KeepInTray", L"Allowed", L"Port"}) {
            RawValue value;
            if (ReadRaw(sandbox.Root(), SettingsKey, name, value)) state.settings[name] = value;
        }
        RawValue run;
        if (ReadRaw(sandbox.Root(), RunKey, L"Velotrix", run)) state.run = run;
        return state;
    }

    Settings Loaded() {
        Settings loaded;
        LoadSettings(loaded);
        return loaded;
    }

    // Stores values that differ from everything in memory, so that a save shows in the registry.
    void StoreDecoy() {
        Settings decoy;
        decoy.askFirst = !settings.askFirst;
        decoy.keepInTray = !settings.keepInTray;
        decoy.allowed = {"decoy"};
        decoy.port = 4242;
        EXPECT_TRUE(SaveSettings(decoy));
    }

    RegistrySandbox sandbox;
    Settings settings;
    std::unique_ptr<Server> server;
    std::unique_ptr<MainWindow> window;
    int allowedChanges = 0;
    std::int64_t now = 1'000'000'000;
};

TEST_F(CommandsTest, AllowAdmitsTheWaitingPhoneAndStoresTheServersListAtOnce) {
    settings.allowed = {StrangerId}; // stale: the click replaces the list, it does not merge
    TestPhone phone("Anna", 7);
    std::uint32_t session = 0;
    ASSERT_EQ(Hello(phone, &session), State(PhoneState::Waiting));

    Click(ClickAction::AllowPhone, session);

    const auto views = server->Snapshot();
    const PhoneView* view = Find(views, session);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->state, State(PhoneState::Active));
    EXPECT_EQ(server->AllowedList(), std::set<std::string>{phone.IdText()});
    EXPECT_EQ(settings.allowed, std::set<std::string>{phone.IdText()});
    EXPECT_EQ(Loaded().allowed, std::set<std::string>{phone.IdText()});
    EXPECT_EQ(allowedChanges, 1);

}

TEST_F(CommandsTest, AllowSavesTheUnchangedListWhenThePhoneIsNoLongerWaiting) {
    // The click itself saves: with no allowed-list callback the list still reaches the registry.
    server->SetOnAllowedChanged(nullptr);
    TestPhone phone("Anna", 7);
    std::uint32_t session = 0;
    ASSERT_EQ(Hello(phone, &session), State(PhoneState::Waiting));
    Click(ClickAction::AllowPhone, session);
    ASSERT_EQ(Loaded().allowed, std::set<std::string>{phone.IdText()});

    struct Case {
        const char* what;
        std::uint32_t session;
    };
    const std::vector<Case> cases = {
        {"a second click on the admitted phone", session},
        {"a phone that left between the paint and the click", session + 12345},
    };
    for (const Case& c : cases) {
        StoreDecoy();
        settings.allowed = {StrangerId};
        Click(ClickAction::AllowPhone, c.session);
        EXPECT_EQ(server->AllowedList(), std::set<std::string>{phone.IdText()}) << c.what;
        EXPECT_EQ(settings.allowed, std::set<std::string>{phone.IdText()}) << c.what;
        const Settings stored = Loaded();
        EXPECT_EQ(stored.allowed, std::set<std::string>{phone.IdText()}) << c.what;
        EXPECT_EQ(stored.askFirst, settings.askFirst) << c.what << ": every setting is written";
        EXPECT_EQ(allowedChanges, 0) << c.what;
    }
    const auto views = server->Snapshot();
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].state, State(PhoneState::Active));
}

TEST_F(CommandsTest, DenyAndDisconnectNeverTouchTheAllowedListOrTheRegistry) {
    struct Case {
        const char* what;
        ClickAction action;
        bool knownPhone;        // the clicked phone is on the allowed list (admitted at once)
        bool listedAfterwards;  // still in the phone table
    };
    const std::vector<Case> cases = {
        {"deny a waiting phone", ClickAction::DenyPhone, false, true},
        {"deny an admitted, allowed phone", ClickAction::DenyPhone, true, true},
        {"disconnect a waiting phone", ClickAction::DisconnectPhone, false, false},
        {"disconnect an admitted, allowed phone", ClickAction::DisconnectPhone, true, false},
    };
    std::uint8_t seed = 10;
    for (const Case& c : cases) {
        Restart();
        TestPhone known("Known", ++seed);
        TestPhone stranger("Stranger", ++seed);
        server->SetAllowed({known.IdText()});
        settings.allowed = {known.IdText()};
        StoreDecoy();
        const StoredState before = Stored();

        std::uint32_t knownSession = 0;
        std::uint32_t strangerSession = 0;
        ASSERT_EQ(Hello(known, &knownSession), State(PhoneState::Active)) << c.what;
        ASSERT_EQ(Hello(stranger, &strangerSession), State(PhoneState::Waiting)) << c.what;
        const std::uint32_t clicked = c.knownPhone ? knownSession : strangerSession;

        Click(c.action, clicked);

        const auto views = server->Snapshot();
        const PhoneView* view = Find(views, clicked);
        EXPECT_EQ(view != nullptr, c.listedAfterwards) << c.what;
        if (view != nullptr) {
            EXPECT_EQ(view->state, State(PhoneState::Refused)) << c.what;
        }
        EXPECT_EQ(server->AllowedList(), std::set<std::string>{known.IdText()}) << c.what;
        EXPECT_EQ(settings.allowed, std::set<std::string>{known.IdText()}) << c.what;
        EXPECT_EQ(Stored(), before) << c.what << ": nothing is saved";
        EXPECT_EQ(allowedChanges, 0) << c.what;
    }
}

TEST_F(CommandsTest, EachOptionRowFlipsItsOptionAndStoresItWhereItLives) {
    struct Memory {
        bool askFirst;
        bool keepInTray;
        bool startWithWindows;
        bool operator==(const Memory&) const = default;
    };
    struct Case {
        const char* what;
        ClickAction action;
        Memory after;
        bool savesSettings;
        bool runValueAfter;
    };
    const Memory initial{true, true, false};
    const std::vector<Case> cases = {
        {"ask first", ClickAction::ToggleAskFirst, {false, true, false}, true, false},
        {"keep in tray", ClickAction::ToggleKeepInTray, {true, false, false}, true, false},
        {"start with Windows", ClickAction::ToggleStartWithWindows, {true, true, true}, false, true},
    };
    for (const Case& c : cases) {
        settings.askFirst = initial.askFirst;
        settings.keepInTray = initial.keepInTray;
        window->startWithWindows = initial.startWithWindows;
        EXPECT_TRUE(SetStartWithWindows(false));
        StoreDecoy();
        const StoredState decoy = Stored();
        ASSERT_FALSE(decoy.run) << c.what;

        Click(c.action);

        EXPECT_EQ((Memory{settings.askFirst, settings.keepInTray, window->startWithWindows}), c.after) << c.what;
        EXPECT_EQ(IsStartWithWindows(), c.runValueAfter) << c.what;
        const StoredState stored = Stored();
        if (c.savesSettings) {
            const Settings loaded = Loaded();
            EXPECT_EQ(loaded.askFirst, c.after.askFirst) << c.what;
            EXPECT_EQ(loaded.keepInTray, c.after.keepInTray) << c.what;
            EXPECT_EQ(loaded.allowed, settings.allowed) << c.what << ": every setting is written";
        } else {
            EXPECT_EQ(stored.settings, decoy.settings) << c.what << ": the settings are not saved";
        }
    }
}

TEST_F(CommandsTest, SwitchingAskFirstOffLeavesAWaitingPhoneWaitingAndAdmitsTheNextAtOnce) {
    TestPhone waiting("Waiting", 3);
    std::uint32_t session = 0;
    ASSERT_EQ(Hello(waiting, &session), State(PhoneState::Waiting));

    Click(ClickAction::ToggleAskFirst);
    ASSERT_FALSE(settings.askFirst);

    const auto views = server->Snapshot();
    const PhoneView* view = Find(views, session);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->state, State(PhoneState::Waiting));
    EXPECT_TRUE(server->AllowedList().empty());

    TestPhone next("Next", 4);
    EXPECT_EQ(Hello(next), State(PhoneState::Active));
    EXPECT_EQ(server->AllowedList(), std::set<std::string>{}) << "admitted, not remembered";

    Click(ClickAction::ToggleAskFirst);
    TestPhone third("Third", 5);
    EXPECT_EQ(Hello(third), State(PhoneState::Waiting));
}

TEST_F(CommandsTest, TheLinkButtonsOpenTheirPagesThroughTheShell) {
    BrowserSandbox browser;
    ASSERT_TRUE(browser.Ready());
    struct Case {
        ClickAction action;
        std::wstring link;
    };
    const std::vector<Case> cases = {
        {ClickAction::OpenAppStore, StoreLinkWide},
        {ClickAction::OpenWebPage, WebLinkWide},
    };
    for (const Case& c : cases) {
        InstallerLog opened;
        const StoredState before = Stored();
        Click(c.action);
        ASSERT_TRUE(PumpUntil([&] { return opened.Ends() >= 1; }, std::chrono::seconds(30)))
            << ToUtf8(c.link) << " was not opened";
        const auto starts = opened.Of(L"start");
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_TRUE(EndsWith(starts[0].commandLine, L"\"" + c.link + L"\"")) << ToUtf8(starts[0].commandLine);
        EXPECT_EQ(starts[0].show, SW_SHOWNORMAL);
        EXPECT_EQ(Stored(), before);
    }
}

} // namespace
} // namespace Velotrix
