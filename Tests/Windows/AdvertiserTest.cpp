#include "Server/Advertiser.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/ProcAddress.h"

// These tests need the test dnsapi.dll (Tests/Support/DnsApi) in system32, loaded before Wine's own
// (scripts/env.sh: use_test_dnsapi): Wine's DNS-SD calls abort the process.

namespace Velotrix {
namespace {

const std::string Completed = "instance=RACING-PC._velotrix._udp.local error=0";

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class AdvertiserTest : public testing::Test {
protected:
    void SetUp() override {
        const HMODULE dnsApi = LoadSystemLibrary(L"dnsapi.dll"); // kept loaded: a late completion may run in it
        calls = LookupFunction<DWORD(WINAPI*)(char*, DWORD)>(dnsApi, "VelotrixDnsTest_Calls");
        reset = LookupFunction<VOID(WINAPI*)()>(dnsApi, "VelotrixDnsTest_Reset");
        liveInstances = LookupFunction<LONG(WINAPI*)()>(dnsApi, "VelotrixDnsTest_LiveInstances");
        ASSERT_TRUE(calls && reset && liveInstances)
            << "the test dnsapi.dll is not in use (scripts/env.sh: use_test_dnsapi)";
        reset();
        SetMode(L"complete", 0);
        liveBefore = liveInstances();
    }

    void TearDown() override { SetMode(nullptr, 0); }

    static void SetMode(const wchar_t* mode, int delayMs) {
        SetEnvironmentVariableW(L"VELOTRIX_DNSAPI_MODE", mode);
        SetEnvironmentVariableW(L"VELOTRIX_DNSAPI_DELAY_MS", std::to_wstring(delayMs).c_str());
    }

    std::vector<std::string> Calls(const std::string& prefix = "") {
        std::string text(calls(nullptr, 0) + 1, '\0');
        calls(text.data(), static_cast<DWORD>(text.size()));
        std::vector<std::string> lines;
        std::istringstream stream(text.c_str());
        for (std::string line; std::getline(stream, line);)
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
        return lines;
    }

    // The record is written by completion threads: polled for a bounded time.
    bool WaitForCalls(const std::string& prefix, size_t count, milliseconds limit = milliseconds(1000)) {
        const auto end = Clock::now() + limit;
        while (Calls(prefix).size() < count) {
            if (Clock::now() > end) return false;
            std::this_thread::sleep_for(milliseconds(10));
        }
        return true;
    }

    long LiveDelta() { return liveInstances() - liveBefore; }

    static Clock::duration TimeDeregister(Advertiser& advertiser) {
        const auto started = Clock::now();
        advertiser.Deregister();
        return Clock::now() - started;
    }

    DWORD(WINAPI* calls)(char*, DWORD) = nullptr;
    VOID(WINAPI* reset)() = nullptr;
    LONG(WINAPI* liveInstances)() = nullptr;
    long liveBefore = 0;
};

TEST_F(AdvertiserTest, AnnouncesInstanceHostAddressPortAndVersion) {
    struct Case {
        std::wstring computer;
        std::string address;
        std::uint16_t port;
        std::string host, ip4; // UTF-8, and as announced
    };
    const std::vector<Case> cases = {
        {L"Caf\u00e9", "10.0.0.7", 65535, "Caf\xC3\xA9", "10.0.0.7"},
        {L"Desk", "192.168.1.256", 5000, "Desk", "none"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.host);
        reset();
        const std::string service = test.host + "._velotrix._udp.local";
        const long liveAtStart = liveInstances();
        {
            Advertiser advertiser;
            EXPECT_TRUE(advertiser.Register(test.computer, test.address, test.port));
            advertiser.Deregister();
        }
        const std::vector<std::string> recorded = Calls();
        ASSERT_FALSE(recorded.empty());
        EXPECT_EQ(recorded.front(), "construct instance=" + service + " host=" + test.host + ".local ip4=" + test.ip4 +
                                        " ip6=none port=" + std::to_string(test.port) +
                                        " priority=0 weight=0 properties=v=1");
        const std::string instance = "instance=" + service;
        const std::string request = " version=1 interface=0 " + instance +
                                    " callback=set context=set credentials=none unicast=0 cancel=none -> 9506";
        EXPECT_EQ(Calls("register "), std::vector<std::string>{"register" + request});
        // The destructor's second Deregister found nothing to withdraw.
        EXPECT_EQ(Calls("deregister "), std::vector<std::string>{"deregister" + request});
        ASSERT_TRUE(WaitForCalls("completed deregister ", 1));
        EXPECT_EQ(Calls("completed "), (std::vector<std::string>{"completed register " + instance + " error=0",
                                                                 "completed deregister " + instance + " error=0"}));
        // The registration's instance and both completions' answers are freed, once each.
        EXPECT_EQ(Calls("free instance=").size(), 3u);
        EXPECT_EQ(Calls("free of an instance not made here").size(), 0u);
        EXPECT_EQ(liveInstances(), liveAtStart);
    }
}

TEST_F(AdvertiserTest, RegisteringAgainWithdrawsTheEarlierRegistration) {
    Advertiser advertiser;
    ASSERT_TRUE(advertiser.Register(L"RACING-PC", "192.168.1.20", 47821));
    ASSERT_TRUE(advertiser.Register(L"RACING-PC", "192.168.1.21", 47822));
    advertiser.Deregister();
    advertiser.Deregister();

    std::string order;
    for (const std::string& line : Calls())
        if (line.rfind("completed ", 0) != 0 && line.rfind("free ", 0) != 0)
            order += line.substr(0, line.find(' ') + 1);
    EXPECT_EQ(order, "construct register deregister construct register deregister ");
    EXPECT_TRUE(WaitForCalls("completed deregister ", 2));
    EXPECT_EQ(LiveDelta(), 0);
}

TEST_F(AdvertiserTest, FailuresLeaveNothingToWithdraw) {
    struct Case {
        const char* name;
        std::wstring library;
        const wchar_t* mode;
        size_t constructCalls, registerCalls;
    };
    const std::vector<Case> cases = {
        {"Windows refuses the registration", L"dnsapi.dll", L"fail", 1, 1},
        {"no instance made", L"dnsapi.dll", L"noinstance", 1, 0},
        {"Windows without the DNS-SD functions", L"kernel32.dll", L"complete", 0, 0},
        {"no DNS library at all", L"velotrix-no-such-library.dll", L"complete", 0, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        reset();
        SetMode(test.mode, 0);
        const long liveAtStart = liveInstances();
        {
            Advertiser advertiser(test.library);
            EXPECT_FALSE(advertiser.Register(L"RACING-PC", "192.168.1.20", 47821));
            advertiser.Deregister();
        }
        EXPECT_EQ(Calls("construct ").size(), test.constructCalls);
        EXPECT_EQ(Calls("register ").size(), test.registerCalls);
        EXPECT_TRUE(Calls("deregister ").empty());
        EXPECT_EQ(liveInstances(), liveAtStart);
    }
}

TEST_F(AdvertiserTest, WithdrawalWaitsForItsOwnCompletionNotTheRegistrations) {
    Advertiser advertiser;
    ASSERT_TRUE(advertiser.Register(L"RACING-PC", "192.168.1.20", 47821));
    ASSERT_TRUE(WaitForCalls("completed register ", 1));
    SetMode(L"complete", 150);

    const auto waited = TimeDeregister(advertiser);
    EXPECT_GE(waited, milliseconds(140));
    EXPECT_LT(waited, milliseconds(1500));
    ASSERT_TRUE(WaitForCalls("completed deregister ", 1));
    EXPECT_EQ(Calls("completed deregister "), std::vector<std::string>{"completed deregister " + Completed});
    EXPECT_EQ(LiveDelta(), 0);
}

TEST_F(AdvertiserTest, ShutdownWaitsAtMostTwiceTheCompletionWaitForCompletionsThatNeverCome) {
    SetMode(L"never", 0);
    Advertiser advertiser(L"dnsapi.dll", 100);
    ASSERT_TRUE(advertiser.Register(L"RACING-PC", "192.168.1.20", 47821));

    const auto waited = TimeDeregister(advertiser);
    EXPECT_GE(waited, milliseconds(190));
    EXPECT_LT(waited, milliseconds(1000));
    // Windows might still answer, so the registration's instance is kept, not freed.
    EXPECT_TRUE(Calls("free instance=").empty());
    EXPECT_EQ(LiveDelta(), 1);

    EXPECT_LT(TimeDeregister(advertiser), milliseconds(100));
    EXPECT_EQ(Calls("deregister ").size(), 1u);
}

TEST_F(AdvertiserTest, ACompletionThatComesLateStillFindsItsRegistration) {
    // The registration completes only after Deregister stopped waiting for it.
    SetMode(L"complete", 400);
    Advertiser advertiser(L"dnsapi.dll", 100);
    ASSERT_TRUE(advertiser.Register(L"RACING-PC", "192.168.1.20", 47821));
    SetMode(L"complete", 0);

    const auto waited = TimeDeregister(advertiser);
    EXPECT_GE(waited, milliseconds(90));
    EXPECT_LT(waited, milliseconds(400));
    EXPECT_TRUE(Calls("completed register ").empty());

    // The late callback could still signal the registration's event: it was not closed.
    ASSERT_TRUE(WaitForCalls("completed register ", 1, milliseconds(2000)));
    EXPECT_EQ(Calls("completed "),
              (std::vector<std::string>{"completed deregister " + Completed, "completed register " + Completed}));
    EXPECT_EQ(LiveDelta(), 1) << "the registration's own instance stays with the block";

    // The library stays usable for a new registration.
    reset();
    ASSERT_TRUE(advertiser.Register(L"RACING-PC", "192.168.1.20", 47821));
    advertiser.Deregister();
    EXPECT_EQ(Calls("deregister ").size(), 1u);
    EXPECT_TRUE(WaitForCalls("completed deregister ", 1));
}

} // namespace
} // namespace Velotrix
