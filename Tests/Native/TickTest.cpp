// The tick's timing rules, each checked on both sides of its boundary with a hand-stepped clock.

#include "CoreFixture.h"

#include <set>

namespace Velotrix {
namespace {

class TickTest : public CoreFixture {
protected:
    // An Active phone with a pad whose player number is known; answers its session number.
    std::uint32_t Admit(FakePhone& phone, std::int64_t now) {
        if (!core) MakeCore(false);
        const StatusDatagram status = Hello(phone, now);
        EXPECT_EQ(status.state, State(PhoneState::Active));
        return status.sessionId;
    }
};

// Hello and Input alike count as hearing from a phone, admitted or not, though a waiting phone's Input
// drives nothing and is not shown; silence drops a phone only once more than 15 s have passed, with
// one change and no word to the phone.
TEST_F(TickTest, PhoneHeardFromStaysListedAndIsDroppedOnlyAfterMoreThan15SecondsOfSilence) {
    FakePhone phone("Phone", 1);
    Admit(phone, 0);
    core->SetAskFirst(true);
    FakePhone waiting("Waiting", 2);
    const std::uint32_t waitingSession = Hello(waiting, 0).sessionId;
    for (std::int64_t t = 10 * Second; t <= 60 * Second; t += 10 * Second) {
        Hello(phone, t);
        Input(waiting, waitingSession, static_cast<std::uint16_t>(t / Second), t, {.state = {.leftX = 500}});
        Tick(t + 1);
    }
    const PhoneView waitingView = core->Snapshot().at(1);
    EXPECT_TRUE(waitingView.idle);
    EXPECT_EQ(waitingView.input.leftX, 0);
    EXPECT_EQ(SimulatedBus::RequestCount(BusRequestSubmitReport), 0u);
    const int before = changes;
    Tick(75 * Second);
    EXPECT_EQ(core->Snapshot().size(), 2u);
    EXPECT_EQ(changes, before);
    (void)phone.ReceiveAll(); // the Feedback repeat
    Tick(75 * Second + 1);
    EXPECT_TRUE(core->Snapshot().empty());
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(logs.Count("\"Phone\" went silent"), 1);
    EXPECT_EQ(logs.Count("\"Waiting\" went silent"), 1);
    EXPECT_EQ(logs.Count("Pad unplugged for \"Phone\""), 1);
    EXPECT_EQ(logs.Count("Pad unplugged for \"Waiting\""), 0);
    EXPECT_TRUE(phone.ReceiveAll().empty());
    EXPECT_TRUE(waiting.ReceiveAll().empty());
}

TEST_F(TickTest, IdlePadIsCentredAfterMoreThan250Milliseconds) {
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Admit(phone, 0);
    const std::uint32_t serial = SimulatedBus::PluggedSerials().at(0);
    Input(phone, session, 1, 1 * Second, {.state = {.leftX = -20000, .rightTrigger = 65535, .buttons = 1, .echo = 77}});
    const std::uint64_t reports = SimulatedBus::ReportCount(serial);

    Tick(1 * Second + 250 * Ms);
    EXPECT_EQ(SimulatedBus::ReportCount(serial), reports);
    EXPECT_FALSE(core->Snapshot()[0].idle);

    Tick(1 * Second + 250 * Ms + 1);
    EXPECT_EQ(SimulatedBus::ReportCount(serial), reports + 1);
    ControllerReport centred;
    ASSERT_TRUE(SimulatedBus::LastReport(serial, centred));
    EXPECT_EQ(centred.buttons, 0);
    EXPECT_EQ(centred.rightTrigger, 0);
    EXPECT_EQ(centred.leftStickX, 0);
    const PhoneView view = core->Snapshot()[0];
    EXPECT_TRUE(view.idle);
    EXPECT_EQ(view.input.sessionId, session);
    EXPECT_EQ(view.input.leftX, 0);
    EXPECT_EQ(view.input.echo, 0u);

    // Centred once only, and the Feedback now carries echo 0.
    Tick(2 * Second);
    EXPECT_EQ(SimulatedBus::ReportCount(serial), reports + 1);
    auto feedback = Feedbacks(phone);
    ASSERT_FALSE(feedback.empty());
    EXPECT_EQ(feedback.back().echo, 0u);
}

TEST_F(TickTest, PlayerNumberIsAskedEvery500MillisecondsUntilKnown) {
    MakeCore(false);
    SimulatedBus::SetUserIndexDelay(std::chrono::hours(1));
    FakePhone phone("Phone", 1);
    const StatusDatagram status = Hello(phone, 0);
    ASSERT_EQ(status.state, State(PhoneState::Active));
    EXPECT_EQ(status.player, 0);
    EXPECT_EQ(logs.Count("Pad plugged for \"Phone\", player 0"), 1);
    const std::uint32_t userIndexCode = 0x2AE81C;
    const std::uint64_t asked = SimulatedBus::RequestCount(userIndexCode);

    Tick(1 * Second); // first query: lastPlayerQuery was 0
    EXPECT_EQ(SimulatedBus::RequestCount(userIndexCode), asked + 1);
    Tick(1 * Second + 500 * Ms);
    EXPECT_EQ(SimulatedBus::RequestCount(userIndexCode), asked + 1);
    SimulatedBus::GiveUserIndexesNow();
    const int before = changes;
    Tick(1 * Second + 500 * Ms + 1);
    EXPECT_EQ(SimulatedBus::RequestCount(userIndexCode), asked + 2);
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(NextStatus(phone).player, 1);
    EXPECT_EQ(core->Snapshot()[0].player, 1);
    Tick(5 * Second);
    EXPECT_EQ(SimulatedBus::RequestCount(userIndexCode), asked + 2);
}

TEST_F(TickTest, FeedbackRepeatsAfterMoreThan200MillisecondsAndAtOnceOnRumble) {
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Admit(phone, 0);
    const std::uint32_t serial = SimulatedBus::PluggedSerials().at(0);
    Input(phone, session, 1, 1 * Second, {.state = {.echo = 0xCAFE}});

    Tick(1 * Second); // lastFeedback is 0: sent at once
    auto first = Feedbacks(phone);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].sessionId, session);
    EXPECT_EQ(first[0].echo, 0xCAFEu);
    EXPECT_EQ(first[0].largeMotor, 0);

    Tick(1 * Second + 200 * Ms);
    EXPECT_TRUE(Feedbacks(phone).empty());
    Tick(1 * Second + 200 * Ms + 1);
    EXPECT_EQ(Feedbacks(phone).size(), 1u);

    // Two rumble changes before one tick: one Feedback, the later values, and at once.
    ASSERT_TRUE(SimulatedBus::SetRumble(serial, 10, 20, 1));
    ASSERT_TRUE(SimulatedBus::SetRumble(serial, 255, 128, 2));
    ASSERT_TRUE(WaitForRumble(0, 255));
    // The change is due at once, whatever the repeat's deadline.
    EXPECT_EQ(core->NextDeadline(1 * Second + 210 * Ms), 1 * Second + 210 * Ms);
    Tick(1 * Second + 210 * Ms);
    auto rumble = Feedbacks(phone);
    ASSERT_EQ(rumble.size(), 1u);
    EXPECT_EQ(rumble[0].largeMotor, 255);
    EXPECT_EQ(rumble[0].smallMotor, 128);
    EXPECT_EQ(rumble[0].led, 2);
    EXPECT_EQ(rumble[0].echo, 0xCAFEu);
}

TEST_F(TickTest, RateCountsTheLastCompleteSecond) {
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Admit(phone, 0);
    // The window opened at the Hello (time 0); 40 inputs in it, one duplicate that does not count.
    for (std::uint16_t i = 1; i <= 40; ++i) Input(phone, session, i, i * 20 * Ms);
    Input(phone, session, 40, 900 * Ms);
    Tick(1 * Second - 1);
    EXPECT_EQ(core->Snapshot()[0].inputRate, 0);
    Tick(1 * Second);
    EXPECT_EQ(core->Snapshot()[0].inputRate, 40);
    Tick(2 * Second);
    EXPECT_EQ(core->Snapshot()[0].inputRate, 0);
}

// The receive loop sleeps until NextDeadline: walked from deadline to deadline over a phone's whole
// life, a tick one nanosecond before each does nothing at all and a tick at it has work, and every
// rule's own boundary is among them.
TEST_F(TickTest, NextDeadlineIsTheFirstNanosecondAtWhichTheTickActs) {
    MakeCore(false);
    EXPECT_EQ(core->NextDeadline(0), NoDeadline);
    // The player number stays unknown, so it is asked for every 500 ms.
    SimulatedBus::SetUserIndexDelay(std::chrono::hours(1));
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 0).sessionId;
    Input(phone, session, 1, 100 * Ms);
    // A Bye nobody said is refused, and the refusal summed up a second later.
    Send(phone, phone.Bye(session + 1), 150 * Ms);
    (void)phone.ReceiveAll();

    // The pad's notification thread sends its waits whenever it is scheduled: only the tick's own
    // requests are counted.
    const auto tickRequests = [] {
        return SimulatedBus::RequestCount() - SimulatedBus::RequestCount(BusRequestNotification);
    };
    std::set<std::int64_t> deadlines;
    std::int64_t now = 150 * Ms;
    while (!core->Snapshot().empty() && now < 20 * Second) {
        const std::int64_t due = core->NextDeadline(now);
        ASSERT_GT(due, now);
        const std::uint64_t requests = tickRequests();
        const std::size_t lines = logs.Lines().size();
        Tick(due - 1);
        ASSERT_EQ(core->NextDeadline(due - 1), due) << "at " << due;
        ASSERT_TRUE(phone.ReceiveAll().empty()) << "at " << due;
        ASSERT_EQ(tickRequests(), requests) << "at " << due;
        ASSERT_EQ(logs.Lines().size(), lines) << "at " << due;
        Tick(due);
        ASSERT_GT(core->NextDeadline(due), due) << "the tick at " << due << " left work due";
        (void)phone.ReceiveAll();
        deadlines.insert(due);
        now = due;
    }
    const std::int64_t lastHeard = 100 * Ms;
    for (const std::int64_t rule : {
             200 * Ms + 1,                // the first Feedback repeat
             lastHeard + 250 * Ms + 1,    // idle centring
             500 * Ms + 1,                // the first player query after the one at plugging
             1 * Second,                  // the rate's first second
             150 * Ms + 1 * Second,       // the refusal summary
             lastHeard + 15 * Second + 1, // silence
         })
        EXPECT_EQ(deadlines.count(rule), 1u) << rule;
    EXPECT_EQ(logs.Count("Refused 1 datagrams from 1 senders"), 1);
    EXPECT_EQ(logs.Count("\"Phone\" went silent"), 1);
    EXPECT_EQ(*deadlines.rbegin(), lastHeard + 15 * Second + 1);
    EXPECT_EQ(core->NextDeadline(now), NoDeadline);
}

} // namespace
} // namespace Velotrix
