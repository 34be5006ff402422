// The connection check in the window: what each answer of the firewall probe puts on the status card,
// what the log hears, and the button that asks for the rule. The probe and the rule request are the
// test's own, behind the window's seam; they run on the window's worker threads as the real ones do.

#include "Window/Firewall.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "CommandsHarness.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/CommandLine.h"
#include "Shell/Settings.h"
#include "TestPhone.h"
#include "Window/MainWindow.h"

namespace Velotrix {
namespace {

using namespace std::chrono_literals;

const std::string RuleMissingLine = "Firewall check: no inbound rule lets Velotrix receive UDP; phones may be blocked";
const std::string OpenLine = "Firewall check: nothing stops phones";

FirewallFacts HomeNetwork(bool ruleAllowsUdp) {
    FirewallFacts facts;
    facts.known = true;
    facts.currentProfiles = FirewallPrivate;
    facts.privateProfile.enabled = true;
    if (ruleAllowsUdp) {
        FirewallRule rule;
        rule.enabled = rule.allow = true;
        rule.protocol = FirewallProtocolUdp;
        rule.profiles = FirewallDomain | FirewallPrivate;
        facts.rules.push_back(rule);
    }
    return facts;
}

// What the probe answers and how often it and the rule request ran; shared with the worker threads,
// which may outlive a failed test.
struct FakeFirewall {
    std::mutex mutex;
    FirewallFacts facts;
    int probes = 0;
    int requests = 0;
};

class FirewallWindowTest : public testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<Server>();
        std::string error;
        ASSERT_TRUE(server->OpenSocket(0, error)) << error;
    }
    void TearDown() override {
        // Checks still out post to a window that is gone; that fails harmlessly.
        DropWindowAndServer(window, server);
    }

    void Open(const FirewallFacts& facts) {
        {
            std::lock_guard lock(fake->mutex);
            fake->facts = facts;
        }
        window = std::make_unique<MainWindow>(*server, settings);
        auto state = fake;
        window->firewall.probe = [state](std::uint16_t) {
            std::lock_guard lock(state->mutex);
            ++state->probes;
            return state->facts;
        };
        window->firewall.requestRule = [state](HWND) {
            std::lock_guard lock(state->mutex);
            ++state->requests;
            state->facts = HomeNetwork(true);
            return true;
        };
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
        ASSERT_TRUE(SettleChecks());
    }

    bool SettleChecks() {
        return PumpUntil([&] { return window->firewallChecksOut == 0; }, 10s);
    }

    // The actions of the status card's firewall button in a fresh paint (none or one).
    std::vector<ClickAction> FirewallButtons() {
        InvalidateRect(window->hwnd, nullptr, FALSE);
        UpdateWindow(window->hwnd);
        std::vector<ClickAction> found;
        for (const ClickRegion& region : window->page.regions) {
            const auto action = static_cast<ClickAction>(region.action);
            if (action == ClickAction::AddFirewallRule || action == ClickAction::OpenNetworkSettings)
                found.push_back(action);
        }
        return found;
    }

    int Count(int FakeFirewall::*counter) {
        std::lock_guard lock(fake->mutex);
        return fake.get()->*counter;
    }

    LogCapture logs;
    Settings settings;
    std::shared_ptr<FakeFirewall> fake = std::make_shared<FakeFirewall>();
    std::unique_ptr<Server> server;
    std::unique_ptr<MainWindow> window;
};

TEST_F(FirewallWindowTest, EachFindingShowsItsButtonOrNothing) {
    FirewallFacts off = HomeNetwork(false);
    off.privateProfile.enabled = false;
    FirewallFacts publicNetwork = HomeNetwork(true);
    publicNetwork.currentProfiles = FirewallPublic;
    publicNetwork.publicProfile.enabled = true;
    FirewallFacts failed;
    failed.failure = 0x80004001;
    struct Case {
        const char* name;
        FirewallFacts facts;
        std::vector<ClickAction> buttons;
        const char* logged;
    };
    const Case cases[] = {
        {"rule present", HomeNetwork(true), {}, "Firewall check: nothing stops phones"},
        {"rule missing", HomeNetwork(false), {ClickAction::AddFirewallRule}, RuleMissingLine.c_str()},
        {"firewall off", off, {}, "Firewall check: nothing stops phones"},
        {"Public network", publicNetwork, {ClickAction::OpenNetworkSettings},
         "Firewall check: the network is marked Public; phones may be blocked"},
        {"check failed", failed, {}, "Firewall check: cannot tell (0x80004001)"},
    };
    Open(HomeNetwork(false));
    // One window, re-checked by its timer: each answer replaces the last on the card.
    for (const Case& c : cases) {
        logs.Clear();
        {
            std::lock_guard lock(fake->mutex);
            fake->facts = c.facts;
        }
        SendMessageW(window->hwnd, WM_TIMER, FirewallTimerId, 0);
        ASSERT_TRUE(SettleChecks()) << c.name;
        EXPECT_EQ(FirewallButtons(), c.buttons) << c.name;
        EXPECT_EQ(logs.Count(c.logged), 1) << c.name;
    }
}

TEST_F(FirewallWindowTest, TheButtonRequestsTheRuleOnceAndTheRecheckRemovesTheWarning) {
    Open(HomeNetwork(false));
    ASSERT_EQ(FirewallButtons(), std::vector<ClickAction>{ClickAction::AddFirewallRule});

    const ClickRegion button{{0, 0, 10, 10}, static_cast<std::int32_t>(ClickAction::AddFirewallRule), 0};
    window->OnClick(button);
    window->OnClick(button); // while the first request is still out
    ASSERT_TRUE(SettleChecks());

    EXPECT_EQ(Count(&FakeFirewall::requests), 1);
    EXPECT_EQ(Count(&FakeFirewall::probes), 2) << "checked again after the request";
    EXPECT_TRUE(FirewallButtons().empty());
    EXPECT_EQ(logs.Count(RuleMissingLine), 1);
    EXPECT_EQ(logs.Count(OpenLine), 1);
}

TEST_F(FirewallWindowTest, PeriodicChecksLogAFindingOnceAndStopWhileAPhoneIsListed) {
    Open(HomeNetwork(false));
    for (int tick = 2; tick <= 4; ++tick) {
        SendMessageW(window->hwnd, WM_TIMER, FirewallTimerId, 0);
        ASSERT_TRUE(SettleChecks());
        EXPECT_EQ(Count(&FakeFirewall::probes), tick);
    }
    EXPECT_EQ(logs.Count(RuleMissingLine), 1);

    TestPhone phone("Phone", 3);
    const Bytes hello = phone.Hello();
    server->HandleDatagram(hello.data(), static_cast<int>(hello.size()), phone.From(), 1'000'000);
    ASSERT_EQ(server->Snapshot().size(), 1u);
    SendMessageW(window->hwnd, WM_TIMER, FirewallTimerId, 0);
    ASSERT_TRUE(SettleChecks()); // a check wrongly started would be counted once it ends
    EXPECT_EQ(Count(&FakeFirewall::probes), 4);
    EXPECT_TRUE(FirewallButtons().empty()) << "a listed phone got through";
}

// A copy that missed its option would only wake the running one and exit 0, as if the rule were added.
TEST(FirewallOptionTest, OnlyTheWholeOptionMakesTheRuleAddingCopy) {
    EXPECT_TRUE(ParseCommandLine({L"Velotrix.exe", AddFirewallRuleOption}).addFirewallRule);
    EXPECT_FALSE(ParseCommandLine({L"Velotrix.exe", L"--add-firewall"}).addFirewallRule);
    EXPECT_FALSE(ParseCommandLine({L"Velotrix.exe", L"--tray"}).addFirewallRule);
}

} // namespace
} // namespace Velotrix
