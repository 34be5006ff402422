// The connection check in the window: what each probe answer puts on the status card, and the button that
// asks for the rule. The probe, the rule request and the worker are the test's own: a check waits in a
// queue until the test runs it, so every count is exact without waiting for a thread.

#include "Window/Firewall.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>
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

// What the probe answers, how often it and the rule request ran, and the checks not yet run.
struct FakeFirewall {
    FirewallFacts facts = HomeNetwork(false);
    int probes = 0, requests = 0;
    std::vector<std::function<void()>> waiting;
};

class FirewallWindowTest : public testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<Server>();
        std::string error;
        ASSERT_TRUE(server->Start(0, error)) << error;
        FirewallSeam seam;
        seam.probe = [fake = fake](std::uint16_t) {
            ++fake->probes;
            return fake->facts;
        };
        seam.requestRule = [fake = fake](HWND) {
            ++fake->requests;
            fake->facts = HomeNetwork(true);
            return true;
        };
        seam.startWorker = [fake = fake](std::function<void()> check) {
            fake->waiting.push_back(std::move(check));
            return true;
        };
        window = std::make_unique<MainWindow>(
            MainWindowSetup{.server = *server, .settings = settings, .firewall = std::move(seam)});
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
        EXPECT_EQ(RunChecks(), 1u) << "the window checks once as it opens";
    }
    void TearDown() override { DropWindowAndServer(window, server); }

    // Runs the checks that were started, and hands the window their verdicts; answers how many ran.
    std::size_t RunChecks() {
        const std::vector<std::function<void()>> checks = std::move(fake->waiting);
        fake->waiting.clear();
        for (const auto& check : checks) check();
        for (MSG message{}; PeekMessageW(&message, window->Handle(), WM_APP_FIREWALL, WM_APP_FIREWALL, PM_REMOVE);)
            DispatchMessageW(&message);
        return checks.size();
    }
    // A timer tick, with the probe answering `facts` when given; answers how many checks it started.
    std::size_t Recheck(const FirewallFacts* facts = nullptr) {
        if (facts != nullptr) fake->facts = *facts;
        SendMessageW(window->Handle(), WM_TIMER, FirewallTimerId, 0);
        return RunChecks();
    }

    // The actions of the status card's firewall button in a fresh paint (none or one).
    std::vector<ClickAction> FirewallButtons() {
        PaintNow(*window);
        std::vector<ClickAction> found;
        for (const ClickRegion& region : window->Page().regions) {
            const auto action = static_cast<ClickAction>(region.action);
            if (action == ClickAction::AddFirewallRule || action == ClickAction::OpenNetworkSettings)
                found.push_back(action);
        }
        return found;
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
        ASSERT_EQ(Recheck(&cases[i].first), 1u) << i;
        EXPECT_EQ(FirewallButtons(), cases[i].second) << i;
    }
}

TEST_F(FirewallWindowTest, TheButtonRequestsTheRuleOnceAndTheRecheckRemovesTheWarning) {
    ASSERT_EQ(FirewallButtons(), std::vector<ClickAction>{ClickAction::AddFirewallRule});
    ASSERT_TRUE(ClickOn(*window, ClickAction::AddFirewallRule));
    ASSERT_TRUE(ClickOn(*window, ClickAction::AddFirewallRule)); // while the first request is still out
    EXPECT_EQ(RunChecks(), 1u);
    EXPECT_EQ(fake->requests, 1);
    EXPECT_EQ(fake->probes, 2) << "checked again after the request";
    EXPECT_TRUE(FirewallButtons().empty());
}

TEST_F(FirewallWindowTest, PeriodicChecksLogAFindingOnceAndStopWhileAPhoneIsListed) {
    for (int probes = 2; probes <= 4; ++probes) {
        ASSERT_EQ(Recheck(), 1u);
        EXPECT_EQ(fake->probes, probes);
    }
    EXPECT_EQ(logs.Count("Firewall check: no inbound rule lets Velotrix receive UDP; phones may be blocked"), 1);
    TestPhone phone("Phone", 3);
    SayHello(phone, *server);
    ASSERT_EQ(server->Snapshot().size(), 1u);
    EXPECT_EQ(Recheck(), 0u) << "a listed phone got through";
    EXPECT_TRUE(FirewallButtons().empty()) << "and the warning is gone";
}

TEST_F(FirewallWindowTest, TheTimerRunsOnlyWhileTheWindowIsShownAndShowingChecksAgain) {
    ShowWindow(window->Handle(), SW_HIDE);
    EXPECT_FALSE(KillTimer(window->Handle(), FirewallTimerId)) << "hidden";
    ShowWindow(window->Handle(), SW_SHOW);
    EXPECT_EQ(RunChecks(), 1u) << "the verdict may be old";
    EXPECT_TRUE(KillTimer(window->Handle(), FirewallTimerId)) << "shown";
}

TEST_F(FirewallWindowTest, AVerdictMessageFromElsewhereShowsNothingAndArmsNoSecondPrompt) {
    ASSERT_TRUE(ClickOn(*window, ClickAction::AddFirewallRule)); // the prompt's check is out
    // What another program could post: a Public network and the end of a rule request, as numbers.
    SendMessageW(window->Handle(), WM_APP_FIREWALL, static_cast<WPARAM>(FirewallVerdict::PublicNetwork) | 0x100, 1);
    EXPECT_EQ(FirewallButtons(), std::vector<ClickAction>{ClickAction::AddFirewallRule}) << "the card is as it was";
    ASSERT_TRUE(ClickOn(*window, ClickAction::AddFirewallRule));
    EXPECT_EQ(fake->waiting.size(), 1u) << "the first request is still out";
    EXPECT_EQ(RunChecks(), 1u);
    EXPECT_EQ(fake->requests, 1);
}

// The real worker: the check leaves the window's thread, leaves its finding and then tells the window.
TEST(FirewallWorkerTest, ACheckRunsOnAnotherThreadAndLeavesItsVerdictWithTheProbesFailure) {
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    const std::thread::id windowThread = std::this_thread::get_id();
    auto probedOn = std::make_shared<std::thread::id>(windowThread);
    auto findings = std::make_shared<FirewallFindings>();
    FirewallSeam seam;
    EXPECT_FALSE(StartFirewallCheck(window, seam, findings, 47821, false)) << "no probe, no check";
    seam.probe = [probedOn](std::uint16_t port) {
        *probedOn = std::this_thread::get_id();
        FirewallFacts facts;
        facts.failure = 0x80004000u + port % 2; // not known: CannotTell, with the failure
        return facts;
    };
    EXPECT_FALSE(StartFirewallCheck(window, seam, nullptr, 47821, false)) << "nowhere to leave the finding";
    ASSERT_TRUE(StartFirewallCheck(window, seam, findings, 47821, true));
    const std::vector<MSG> posted = TakePosted(window, WM_APP_FIREWALL, 1, std::chrono::seconds(10));
    ASSERT_EQ(posted.size(), 1u);
    const std::vector<FirewallFindings::Finding> found = findings->Take();
    ASSERT_EQ(found.size(), 1u) << "stored before the message";
    EXPECT_EQ(found.front().verdict, FirewallVerdict::CannotTell);
    EXPECT_EQ(found.front().failure, 0x80004001u);
    EXPECT_TRUE(found.front().afterRuleRequest);
    EXPECT_TRUE(findings->Take().empty()) << "taken once";
    EXPECT_NE(*probedOn, windowThread);
    DestroyWindow(window);
}

} // namespace
} // namespace Velotrix
