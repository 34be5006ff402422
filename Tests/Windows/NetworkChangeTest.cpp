// A network change under the running window: the addresses are read again and shown, and the server is
// announced again (real advertiser, test dnsapi.dll) when the first address moved.

#include "Window/MainWindow.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CommandsHarness.h"
#include "Platform/ProcAddress.h"
#include "SimulatedBus/SimulatedBus.h"
#include "RegistrySandbox.h"
#include "Server/Advertiser.h"
#include "Server/Server.h"
#include "Shell/Settings.h"

namespace Velotrix {
namespace {

class NetworkChangeTest : public testing::Test {
protected:
    void SetUp() override {
        const HMODULE dnsApi = LoadSystemLibrary(L"dnsapi.dll"); // kept loaded: a late completion may run in it
        calls = LookupFunction<decltype(calls)>(dnsApi, "VelotrixDnsTest_Calls");
        reset = LookupFunction<decltype(reset)>(dnsApi, "VelotrixDnsTest_Reset");
        ASSERT_TRUE(calls && reset) << "the test dnsapi.dll is not in use (scripts/env.sh: use_test_dnsapi)";
        ASSERT_TRUE(sandbox.Ready());
        SimulatedBus::Reset();
    }

    void TearDown() override {
        if (window && IsWindow(window->Handle())) DestroyWindow(window->Handle());
        Pump(); // the WM_QUIT of its WM_DESTROY must not reach the next test
    }

    // The first address the status card shows in a fresh paint, "" for none.
    std::string ShownAddress() {
        PaintNow(*window);
        const auto& shown = window->Page().lastPainted.addresses;
        return shown.empty() ? std::string() : shown.front().address;
    }

    static void Pump() {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }

    DWORD(WINAPI* calls)(char*, DWORD) = nullptr;
    VOID(WINAPI* reset)() = nullptr;
    RegistrySandbox sandbox;
    Server server;
    Settings settings;
    std::optional<MainWindow> window;
};

TEST_F(NetworkChangeTest, ANewFirstAddressIsShownAndAnnouncedAgain) {
    std::vector<LocalAddress> current = {{"192.168.1.20", L"Wi-Fi", true}};
    Advertiser advertiser;
    window.emplace(MainWindowSetup{
        .server = server,
        .settings = settings,
        .readAddresses = [&current] { return current; },
        .onAddressChanged =
            [&advertiser](const std::string& address) { advertiser.Register(L"RACING-PC", address, 47821); }});
    ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
    ASSERT_EQ(ShownAddress(), "192.168.1.20");

    const LocalAddress wifi2{"10.0.0.7", L"Wi-Fi 2", true}, vpn{"172.16.0.5", L"VPN", true};
    // power: 0 for the network watch's post, else a WM_POWERBROADCAST event; shown: the first address the
    // window holds afterwards, "" for none; announced: the address of a new registration, nullptr for none.
    struct Case {
        const char* what;
        std::vector<LocalAddress> addresses;
        WPARAM power;
        const char *shown, *announced;
    };
    const Case cases[] = {
        {"Wi-Fi switched", {wifi2}, 0, "10.0.0.7", "10.0.0.7"},
        {"another adapter behind the same first address",
         {wifi2, {"192.168.56.1", L"Ethernet", false}},
         0,
         "10.0.0.7",
         nullptr},
        {"a VPN takes the route to the internet", {vpn, wifi2}, 0, "172.16.0.5", "172.16.0.5"},
        {"going to sleep is no change", {wifi2}, PBT_APMSUSPEND, "172.16.0.5", nullptr},
        {"back from sleep on another network", {wifi2}, PBT_APMRESUMEAUTOMATIC, "10.0.0.7", "10.0.0.7"},
        {"no network at all", {}, 0, "", "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        current = c.addresses;
        ValidateRect(window->Handle(), nullptr);
        if (c.power == 0) {
            window->PostNetworkChanged();
            // Only the posted message: a paint would take the invalidation away before it is seen.
            MSG message{};
            while (PeekMessageW(&message, nullptr, WM_APP_NETWORK_CHANGED, WM_APP_NETWORK_CHANGED, PM_REMOVE))
                DispatchMessageW(&message);
        } else {
            SendMessageW(window->Handle(), WM_POWERBROADCAST, c.power, 0);
        }
        EXPECT_EQ(GetUpdateRect(window->Handle(), nullptr, FALSE) != FALSE, c.power != PBT_APMSUSPEND)
            << "the status card is painted again";
        EXPECT_EQ(ShownAddress(), c.shown);
        // Line starts only: a completion of the case before may still be recorded late.
        std::string text(calls(nullptr, 0) + 1, '\0');
        text.resize(calls(text.data(), static_cast<DWORD>(text.size())));
        const std::string record = "\n" + text;
        const std::string registration =
            c.announced == nullptr ? std::string("\nregister ")
                                   : "\nconstruct instance=RACING-PC._velotrix._udp.local host=RACING-PC.local ip4=" +
                                         std::string(c.announced) + " ip6=none port=47821";
        EXPECT_EQ(record.find(registration) != std::string::npos, c.announced != nullptr) << record;
    }
}

TEST_F(NetworkChangeTest, DemoModeKeepsItsMadeUpAddress) {
    bool announced = false;
    window.emplace(MainWindowSetup{.server = server,
                                   .settings = settings,
                                   .demo = true,
                                   .readAddresses =
                                       [] {
                                           return std::vector<LocalAddress>{{"10.0.0.7", L"Wi-Fi", true}};
                                       },
                                   .onAddressChanged = [&announced](const std::string&) { announced = true; }});
    ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
    window->PostNetworkChanged();
    Pump();
    EXPECT_EQ(ShownAddress(), "192.168.1.20");
    EXPECT_EQ(window->Page().lastPainted.computerName, L"RACING-PC");
    EXPECT_FALSE(announced);
}

} // namespace
} // namespace Velotrix
