// The connection check in the window: what each probe answer puts on the status card, and the button that
// asks for the rule. The probe and rule request are the test's own, run on the window's worker threads.

#include "Window/Firewall.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "CommandsHarness.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/Settings.h"
#include "TestPhone.h"
#include "Window/MainWindow.h"

// The made-up facts name only the fields that matter; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace Velotrix {
namespace {

// A Private network with the firewall on, and when asked an allow rule for UDP there.
FirewallFacts HomeNetwork(bool ruleAllowsUdp) {
    FirewallFacts facts{.known = true, .currentProfiles = FirewallPrivate, .privateProfile = {.enabled = true}};
    if (ruleAllowsUdp)
        facts.rules.push_back({.enabled = true,
                               .allow = true,
                               .protocol = FirewallProtocolUdp,
                               .profiles = FirewallDomain | FirewallPrivate});
    return facts;
}

// What the probe answers and how often it and the rule request ran; shared with worker threads that
// may outlive a failed test.
struct FakeFirewall {
    std::mutex mutex;
    FirewallFacts facts = HomeNetwork(false);
    int probes = 0, requests = 0;
};

class FirewallWindowTest : public testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<Server>();
        std::string error;
        ASSERT_TRUE(server->OpenSocket(0, error)) << error;
        window = std::make_unique<MainWindow>(*server, settings);
        auto state = fake;
        window->firewall.seam.probe = [state](std::uint16_t) {
            std::lock_guard lock(state->mutex);
            ++state->probes;
            return state->facts;
        };
        window->firewall.seam.requestRule = [state](HWND) {
            std::lock_guard lock(state->mutex);
            ++state->requests;
            state->facts = HomeNetwork(true);
            return true;
        };
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
        ASSERT_TRUE(SettleChecks());
    }
    // Checks still out post to a window that is gone, harmlessly.
    void TearDown() override { DropWindowAndServer(window, server); }

    bool SettleChecks() {
        return PumpUntil([&] { return window->firewall.checksOut == 0; }, std::chrono::seconds(10));
    }
    // A timer tick's check, with the probe answering `facts` when given.
    bool Recheck(const FirewallFacts* facts = nullptr) {
        if (facts != nullptr) {
            std::lock_guard lock(fake->mutex);
            fake->facts = *facts;
        }
        SendMessageW(window->hwnd, WM_TIMER, FirewallTimerId, 0);
        return SettleChecks();
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
    FirewallFacts publicNetwork = HomeNetwork(true), failed;
    publicNetwork.currentProfiles = FirewallPublic;
    publicNetwork.publicProfile.enabled = true;
    failed.failure = 0x80004001;
    const std::pair<FirewallFacts, std::vector<ClickAction>> cases[] = {
        {HomeNetwork(true), {}},
        {HomeNetwork(false), {ClickAction::AddFirewallRule}},
        {publicNetwork, {ClickAction::OpenNetworkSettings}},
        {failed, {}},
    };
    // One window, re-checked by its timer: each answer replaces the last on the card.
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_TRUE(Recheck(&cases[i].first)) << i;
        EXPECT_EQ(FirewallButtons(), cases[i].second) << i;
    }
}

TEST_F(FirewallWindowTest, TheButtonRequestsTheRuleOnceAndTheRecheckRemovesTheWarning) {
    ASSERT_EQ(FirewallButtons(), std::vector<ClickAction>{ClickAction::AddFirewallRule});
    const ClickRegion button{{0, 0, 10, 10}, static_cast<std::int32_t>(ClickAction::AddFirewallRule), 0};
    window->OnClick(button);
    window->OnClick(button); // while the first request is still out
    ASSERT_TRUE(SettleChecks());
    EXPECT_EQ(Count(&FakeFirewall::requests), 1);
    EXPECT_EQ(Count(&FakeFirewall::probes), 2) << "checked again after the request";
    EXPECT_TRUE(FirewallButtons().empty());
}

TEST_F(FirewallWindowTest, PeriodicChecksLogAFindingOnceAndStopWhileAPhoneIsListed) {
    for (int probes = 2; probes <= 4; ++probes) {
        ASSERT_TRUE(Recheck());
        EXPECT_EQ(Count(&FakeFirewall::probes), probes);
    }
    EXPECT_EQ(logs.Count("Firewall check: no inbound rule lets Velotrix receive UDP; phones may be blocked"), 1);
    TestPhone phone("Phone", 3);
    const Bytes hello = phone.Hello();
    server->HandleDatagram(hello.data(), static_cast<int>(hello.size()), phone.From(), 1'000'000);
    ASSERT_EQ(server->Snapshot().size(), 1u);
    ASSERT_TRUE(Recheck()); // a check wrongly started would be counted once it ends
    EXPECT_EQ(Count(&FakeFirewall::probes), 4);
    EXPECT_TRUE(FirewallButtons().empty()) << "a listed phone got through";
}

} // namespace
} // namespace Velotrix
