// The self-check's lines from the facts its Windows side gathers: which facts fail a check, which
// only inform, and what each line names.

#include "Shell/SelfCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velotrix {
namespace {

struct LineCase {
    const char* what;
    CheckLine line;
    CheckOutcome outcome;
    std::vector<std::string> says;    // each must appear in the formatted line
    std::vector<std::string> notSays; // none may
};

void ExpectLines(const std::vector<LineCase>& cases) {
    for (const LineCase& c : cases) {
        const std::string text = FormatCheckLine(c.line);
        EXPECT_EQ(c.line.outcome, c.outcome) << c.what << ": " << text;
        for (const std::string& part : c.says) EXPECT_NE(text.find(part), std::string::npos) << c.what << ": " << text;
        for (const std::string& part : c.notSays)
            EXPECT_EQ(text.find(part), std::string::npos) << c.what << ": " << text;
    }
}

DriverStepResult Step(DriverStep step, BusResult result = ResultOk, std::uint32_t value = 0) {
    return {step, result, value, 1.25};
}

std::vector<DriverStepResult> AllStepsWell() {
    return {Step(DriverStep::Find, ResultOk, 1),      Step(DriverStep::Open),   Step(DriverStep::Plug, ResultOk, 3),
            Step(DriverStep::UserIndex, ResultOk, 2), Step(DriverStep::Report), Step(DriverStep::Unplug)};
}

TEST(SelfCheckTest, DriverLineStopsAtTheFirstFailingStepAndNamesIt) {
    std::vector<DriverStepResult> versionRefused = {Step(DriverStep::Find, ResultOk, 2),
                                                    Step(DriverStep::Open, ErrBusVersion)};
    std::vector<DriverStepResult> noIndex = AllStepsWell();
    noIndex[3] = Step(DriverStep::UserIndex, ErrUserIndexRange);
    noIndex.resize(4);
    ExpectLines({
        {"every step went well",
         DriverCheck(AllStepsWell()),
         CheckOutcome::Pass,
         {"PASS driver: found (1 interface) 1.2 ms", "serial 3 and ready", "user index 2", "neutral report",
          "; unplugged 1.2 ms"},
         {}},
        {"no interface listed",
         DriverCheck({Step(DriverStep::Find, ResultOk, 0)}),
         CheckOutcome::Fail,
         {"FAIL driver: ViGEmBus not found"},
         {" ms"}},
        {"the version check refused",
         DriverCheck(versionRefused),
         CheckOutcome::Fail,
         {"found (2 interfaces)", "refused the version check (0xE0000008)"},
         {"opened, version accepted"}},
        {"no user index: the pad is not unplugged by the line's account",
         DriverCheck(noIndex),
         CheckOutcome::Fail,
         {"serial 3 and ready", "no user index (0xE0000014)"},
         {"unplugged"}},
        {"nothing tried", DriverCheck({}), CheckOutcome::Skip, {"SKIP driver:"}, {}},
        {"the server lost the bus", DriverStateCheck(BusState::Lost, 0), CheckOutcome::Fail, {"went away"}, {}},
        {"the server holds the bus",
         DriverStateCheck(BusState::Connected, 1),
         CheckOutcome::Pass,
         {"1 interface listed"},
         {}},
    });
}

TEST(SelfCheckTest, SocketFirewallAndDnsSdFailOnlyForWhatKeepsPhonesOut) {
    const SocketFacts both{true, 50123, true, 0.3, true, 0.2};
    SocketFacts noIpv6 = both;
    noIpv6.ipv6Back = false;
    ExpectLines({
        {"both loopbacks came back", SocketCheck(both), CheckOutcome::Pass, {"UDP 50123", "IPv4", "IPv6"}, {}},
        {"IPv6 stayed silent", SocketCheck(noIpv6), CheckOutcome::Fail, {"nothing came back over IPv6"}, {}},
        {"not bound", SocketCheck(SocketFacts{}), CheckOutcome::Fail, {"no UDP socket"}, {}},
        {"firewall open",
         FirewallCheckOf(FirewallVerdict::Open, 0, 47821),
         CheckOutcome::Pass,
         {"nothing stops phones (UDP 47821)"},
         {"Firewall check"}},
        {"firewall without a rule",
         FirewallCheckOf(FirewallVerdict::RuleMissing, 0, 47821),
         CheckOutcome::Fail,
         {"phones may be blocked"},
         {}},
        {"public network",
         FirewallCheckOf(FirewallVerdict::PublicNetwork, 0, 47821),
         CheckOutcome::Fail,
         {"Public"},
         {}},
        {"no firewall to ask (Wine)",
         FirewallCheckOf(FirewallVerdict::CannotTell, 0x80004001, 47821),
         CheckOutcome::Skip,
         {"SKIP firewall: cannot tell (0x80004001)"},
         {}},
        {"DNS-SD complete", DnsSdCheck("dnsapi.dll", true, {}), CheckOutcome::Pass, {"nothing was registered"}, {}},
        {"DNS-SD of an old Windows",
         DnsSdCheck("dnsapi.dll", true, {"DnsServiceRegister", "DnsServiceDeRegister"}),
         CheckOutcome::Fail,
         {"lacks DnsServiceRegister, DnsServiceDeRegister"},
         {}},
        {"no share sheet: the clipboard stands in",
         ShareCheck(0x80040154),
         CheckOutcome::Pass,
         {"not offered here (0x80040154)", "clipboard"},
         {}},
    });
}

NetworkAdapter Adapter(std::string name, std::string description, std::uint32_t type, bool up = true,
                       std::vector<std::string> addresses = {}, std::vector<std::string> gateways = {}) {
    return {std::move(name), std::move(description), type, up, type == 24, std::move(addresses), std::move(gateways)};
}

TEST(SelfCheckTest, NetworkLineNamesKindsAndWhatTheWindowShows) {
    struct KindCase {
        NetworkAdapter adapter;
        const char* kind;
    };
    const std::vector<KindCase> kinds = {
        {Adapter("Wi-Fi", "Intel(R) Wi-Fi 6 AX201 160MHz", 71), "Wi-Fi"},
        {Adapter("Ethernet", "Realtek PCIe GbE Family Controller", 6), "Ethernet"},
        {Adapter("vEthernet (WSL)", "Hyper-V Virtual Ethernet Adapter", 6), "Ethernet, virtual or VPN"},
        {Adapter("Ethernet 3", "TAP-Windows Adapter V9", 6), "Ethernet, virtual or VPN"},
        {Adapter("ProtonVPN", "WireGuard Tunnel", 131), "VPN"},
        {Adapter("Cellular", "Mobile Broadband", 243), "mobile broadband"},
        {Adapter("Odd one", "", 53), "type 53"},
    };
    for (const KindCase& c : kinds) EXPECT_EQ(AdapterKind(c.adapter), c.kind) << c.adapter.name;

    const std::vector<NetworkAdapter> adapters = {
        Adapter("Wi-Fi", "Intel(R) Wi-Fi 6", 71, true, {"192.168.1.20"}, {"192.168.1.1"}),
        Adapter("Bluetooth", "Bluetooth Device", 6, false),
        Adapter("vEthernet (WSL)", "Hyper-V Virtual Ethernet Adapter", 6, true, {"172.20.1.5"}),
        Adapter("Loopback Pseudo-Interface 1", "", 24, true, {"127.0.0.1"}),
    };
    ExpectLines({
        {"an address to show",
         NetworkCheck(adapters, "192.168.1.20", "Wi-Fi"),
         CheckOutcome::Pass,
         {"the window shows 192.168.1.20", "Wi-Fi\xE2\x80\x9D Wi-Fi, gateway 192.168.1.1, 192.168.1.20",
          "virtual or VPN, no gateway, 172.20.1.5"},
         {"Bluetooth", "127.0.0.1"}},
        {"nothing to show", NetworkCheck({}, "", ""), CheckOutcome::Fail, {"No network", "no adapter is up"}, {}},
    });
}

TEST(SelfCheckTest, PaintLineGivesMedianAndTailAndFailsOnlyWithoutATarget) {
    PaintFacts fast{"a Direct3D 11 texture (hardware)", "", 460, 700, {}, 31};
    for (int i = 1; i <= 60; ++i) fast.milliseconds.push_back(i * 0.1);
    PaintFacts slow = fast;
    slow.milliseconds.assign(60, 850);
    PaintFacts broken = fast;
    broken.failure = "EndDraw failed (0x8899000C)";
    ExpectLines({
        {"within budget",
         PaintCheck(fast),
         CheckOutcome::Pass,
         {"painted 60 times", "460 \xC3\x97 700", "median 3.0 ms", "95th percentile 5.7 ms", "within"},
         {}},
        {"over budget paints less often but works",
         PaintCheck(slow),
         CheckOutcome::Pass,
         {"median 850.0 ms", "over the window's 31.0 ms budget"},
         {}},
        {"no target",
         PaintCheck(PaintFacts{"", "no Direct3D device", 0, 0, {}, 31}),
         CheckOutcome::Fail,
         {"no offscreen render target: no Direct3D device"},
         {}},
        {"a paint failed", PaintCheck(broken), CheckOutcome::Fail, {"EndDraw failed"}, {}},
    });

    struct PercentileCase {
        std::vector<double> samples;
        double p;
        double expected;
    };
    for (const PercentileCase& c : std::vector<PercentileCase>{
             {{5, 1, 3, 2, 4}, 50, 3}, {{5, 1, 3, 2, 4}, 100, 5}, {{7}, 95, 7}, {{}, 50, 0}, {{1, 2}, 50, 1}})
        EXPECT_EQ(Percentile(c.samples, c.p), c.expected) << c.p;
}

TEST(SelfCheckTest, OneFailedLineFailsTheRun) {
    const CheckLine pass{CheckOutcome::Pass, "socket", "fine"};
    const CheckLine skip{CheckOutcome::Skip, "firewall", "cannot tell"};
    const CheckLine fail{CheckOutcome::Fail, "driver", "ViGEmBus not found"};
    EXPECT_EQ(SelfCheckExitCode({pass, skip}), 0);
    EXPECT_EQ(SelfCheckExitCode({pass, fail, skip}), 1);
    EXPECT_EQ(FormatCheckLines({pass, skip}), "PASS socket: fine\nSKIP firewall: cannot tell\n");
}

} // namespace
} // namespace Velotrix
