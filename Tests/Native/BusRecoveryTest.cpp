// The bus driver lost and back, step by step, with time stepped by hand.

#include "CoreFixture.h"

namespace Velotrix {
namespace {

class BusRecoveryTest : public CoreFixture {
protected:
    // An Active phone; answers its session number.
    std::uint32_t Admit(FakePhone& phone, std::int64_t now, int player) {
        const StatusDatagram status = Hello(phone, now);
        EXPECT_EQ(status.state, State(PhoneState::Active)) << phone.Name();
        EXPECT_EQ(status.player, player) << phone.Name();
        return status.sessionId;
    }
    // Every Status the phone was sent since the last look, as (state, player).
    std::vector<std::pair<int, int>> Statuses(FakePhone& phone) {
        std::vector<std::pair<int, int>> out;
        for (const Bytes& datagram : phone.ReceiveAll()) {
            StatusDatagram status;
            if (ReadStatus(datagram, status)) out.emplace_back(status.state, status.player);
        }
        return out;
    }
    using Told = std::vector<std::pair<int, int>>;
    static constexpr int NoDriver = static_cast<int>(PhoneState::NoDriver);
    static constexpr int Active = static_cast<int>(PhoneState::Active);
    static constexpr const char* LostLine =
        "ViGEmBus: the driver went away (0xE0000016); looking for it again every 500 ms";
};

TEST_F(BusRecoveryTest, AReportIntoARemovedBusLosesItAndEachActivePhoneHearsNoDriverOnce) {
    MakeCore(false);
    FakePhone anna("Anna", 1), ben("Ben", 2);
    const std::uint32_t session = Admit(anna, 1 * Ms, 1);
    Admit(ben, 2 * Ms, 2);
    SimulatedBus::RemoveBus();
    Input(anna, session, 1, 10 * Ms);
    EXPECT_EQ(core->Bus(), BusState::Lost);
    EXPECT_EQ(Statuses(anna), (Told{{NoDriver, 0}}));
    EXPECT_EQ(Statuses(ben), (Told{{NoDriver, 0}}));
    EXPECT_EQ(logs.Count(LostLine), 1);
    EXPECT_EQ(logs.Count("Pad unplugged for \"Anna\""), 0);

    // Nothing more reaches the old device, and the phones stay listed.
    const std::uint64_t requests = SimulatedBus::RequestCount();
    Input(anna, session, 2, 20 * Ms);
    Tick(30 * Ms);
    Tick(400 * Ms);
    EXPECT_EQ(SimulatedBus::RequestCount(), requests);
    EXPECT_TRUE(Statuses(anna).empty());
    ASSERT_EQ(core->Snapshot().size(), 2u);
    EXPECT_EQ(core->Snapshot()[1].state, State(PhoneState::NoDriver));
    EXPECT_EQ(logs.Count(LostLine), 1);
}

TEST_F(BusRecoveryTest, ALostBusIsLookedForAfterMoreThanItsPeriodAndPadsReturnInFormerPlayerOrder) {
    MakeCore(false);
    FakePhone leaver("Leaver", 1), ben("Ben", 2), cara("Cara", 3);
    const std::uint32_t leaverSession = Admit(leaver, 1 * Ms, 1);
    const std::uint32_t benSession = Admit(ben, 2 * Ms, 2);
    Send(leaver, leaver.Bye(leaverSession), 3 * Ms);
    // Listed after Ben, but player 1.
    Admit(cara, 4 * Ms, 1);
    SimulatedBus::RemoveBus();
    const std::int64_t lost = 1 * Second;
    Input(ben, benSession, 1, lost);
    ASSERT_EQ(core->Bus(), BusState::Lost);
    (void)Statuses(ben), (void)Statuses(cara);

    // Back without a word from the OS: only the retry finds it, and the receive loop wakes for it.
    SimulatedBus::RestoreBus();
    Tick(lost + BusRetryPeriod);
    EXPECT_EQ(core->Bus(), BusState::Lost);
    EXPECT_EQ(core->NextDeadline(lost + BusRetryPeriod), lost + BusRetryPeriod + 1);
    EXPECT_TRUE(SimulatedBus::PluggedSerials().empty());
    Tick(lost + BusRetryPeriod + 1);
    EXPECT_EQ(core->Bus(), BusState::Connected);
    EXPECT_EQ(Statuses(cara), (Told{{Active, 1}}));
    EXPECT_EQ(Statuses(ben), (Told{{Active, 2}}));
    EXPECT_EQ(logs.Count("ViGEmBus: the driver is back; plugging 2 pads again"), 1);

    // Reports reach the new bus.
    Input(ben, benSession, 2, lost + BusRetryPeriod + 2, {.state = {.leftX = 1234}});
    ControllerReport report;
    ASSERT_TRUE(SimulatedBus::LastReport(2, report));
    EXPECT_EQ(report.leftStickX, 1234);
}

TEST_F(BusRecoveryTest, WhileLostALeaverIsNotPluggedAgainAndANewcomerWaitsItsTurn) {
    MakeCore(false);
    FakePhone anna("Anna", 1), ben("Ben", 2), refused("Refused", 4), newcomer("Newcomer", 3);
    Admit(anna, 1 * Ms, 1);
    const std::uint32_t benSession = Admit(ben, 2 * Ms, 2);
    const std::uint32_t refusedSession = Admit(refused, 3 * Ms, 3);
    SimulatedBus::RemoveBus();
    core->BusInterfaceRemoved(10 * Ms);
    EXPECT_EQ(core->Bus(), BusState::Lost);
    Send(ben, ben.Bye(benSession), 20 * Ms);
    Deny(refusedSession);
    EXPECT_EQ(Hello(newcomer, 30 * Ms).state, State(PhoneState::NoDriver));
    (void)Statuses(anna);

    SimulatedBus::RestoreBus();
    core->BusInterfaceArrived(40 * Ms);
    Settle();
    EXPECT_EQ(Statuses(anna), (Told{{Active, 1}}));
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 1u);
    EXPECT_TRUE(Statuses(newcomer).empty());
    const StatusDatagram next = Hello(newcomer, 50 * Ms);
    EXPECT_EQ(next.state, State(PhoneState::Active));
    EXPECT_EQ(next.player, 2);
}

TEST_F(BusRecoveryTest, ANotificationThatFindsTheBusGoneLosesItAtTheNextTick) {
    MakeCore(false);
    FakePhone anna("Anna", 1);
    Admit(anna, 1 * Ms, 1);
    ASSERT_TRUE(SimulatedBus::WaitForPendingNotifications(1, std::chrono::milliseconds(5000)));
    const std::uint64_t asked = SimulatedBus::RequestCount(BusRequestNotification);
    SimulatedBus::RemoveBus();
    // Its pending request ends, and the one it sends after that tells it the device is gone.
    for (int i = 0; i < 5000 && SimulatedBus::RequestCount(BusRequestNotification) == asked; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(SimulatedBus::RequestCount(BusRequestNotification), asked);
    // The tick centres nothing (the phone sent no input), so only the thread's word can tell. The
    // thread leaves its word just after the failed request returns; once it has, it is due at once.
    for (int i = 0; i < 5000 && core->NextDeadline(2 * Ms) != 2 * Ms; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(core->NextDeadline(2 * Ms), 2 * Ms);
    Tick(2 * Ms);
    EXPECT_EQ(core->Bus(), BusState::Lost);
    EXPECT_EQ(Statuses(anna), (Told{{NoDriver, 0}}));
}

TEST_F(BusRecoveryTest, TheResumeCheckKeepsAWorkingBusAndLosesAGoneOne) {
    MakeCore(false);
    FakePhone anna("Anna", 1);
    Admit(anna, 1 * Ms, 1);
    const std::uint64_t checks = SimulatedBus::RequestCount(BusRequestCheckVersion);
    core->CheckBus(2 * Ms);
    Settle();
    EXPECT_EQ(SimulatedBus::RequestCount(BusRequestCheckVersion), checks + 1);
    EXPECT_EQ(core->Bus(), BusState::Connected);
    EXPECT_TRUE(Statuses(anna).empty());

    // Slept through a removal that nobody announced.
    SimulatedBus::RemoveBus();
    SimulatedBus::RestoreBus();
    core->CheckBus(3 * Ms);
    Settle();
    EXPECT_EQ(core->Bus(), BusState::Lost);
    EXPECT_EQ(Statuses(anna), (Told{{NoDriver, 0}}));
    core->CheckBus(4 * Ms);
    Settle();
    EXPECT_EQ(core->Bus(), BusState::Connected);
    EXPECT_EQ(Statuses(anna), (Told{{Active, 1}}));
}

} // namespace
} // namespace Velotrix
