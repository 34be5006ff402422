// Who gets a controller, who waits and who is turned away, with time stepped by hand.

#include "CoreFixture.h"

#include <algorithm>

namespace Velotrix {
namespace {

class AdmissionTest : public CoreFixture {
protected:
    // Three Active phones, then asking first is turned on.
    void ThreeActiveThenAskFirst() {
        MakeCore(false);
        for (std::uint8_t i = 0; i < 3; ++i) {
            phones.push_back(std::make_unique<FakePhone>("Active " + std::to_string(i), i));
            ASSERT_EQ(Hello(*phones.back(), 1 * Ms).state, State(PhoneState::Active));
        }
        core->SetAskFirst(true);
    }
    std::vector<std::unique_ptr<FakePhone>> phones;
};

TEST_F(AdmissionTest, UnknownPhoneWaitsAndIsAskedAboutOnce) {
    MakeCore(true);
    FakePhone phone("Anna’s iPhone", 1);
    const StatusDatagram first = Hello(phone, 1 * Ms);
    EXPECT_EQ(first.state, State(PhoneState::Waiting));
    EXPECT_NE(first.sessionId, 0u);
    EXPECT_EQ(first.player, 0);
    EXPECT_EQ(first.hostName, "RACING-PC");
    EXPECT_EQ(requests, std::vector<std::string>{"Anna’s iPhone"});
    EXPECT_EQ(changes, 1);

    const StatusDatagram again = Hello(phone, 2 * Ms);
    EXPECT_EQ(again.state, State(PhoneState::Waiting));
    EXPECT_EQ(again.sessionId, first.sessionId);
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(SimulatedBus::PluggedSerials().empty());
}

TEST_F(AdmissionTest, NewPhoneStateFollowsRoomDriverAndApproval) {
    struct Case {
        const char* what;
        bool busMissing, askFirst, allowed;
        PhoneState expected;
    };
    const Case cases[] = {
        {"ask first, unknown", false, true, false, PhoneState::Waiting},
        {"ask first, allowed", false, true, true, PhoneState::Active},
        {"no asking", false, false, false, PhoneState::Active},
        {"no driver beats approval", true, false, true, PhoneState::NoDriver},
    };
    for (const Case& c : cases) {
        SimulatedBus::Reset();
        SimulatedBus::SetFaults({.noBus = c.busMissing});
        MakeCore(c.askFirst);
        FakePhone phone("Phone", 3);
        if (c.allowed) core->SetAllowed({phone.IdText()});
        const StatusDatagram status = Hello(phone, 1 * Ms);
        EXPECT_EQ(status.state, State(c.expected)) << c.what;
        const bool plugged = c.expected == PhoneState::Active;
        EXPECT_EQ(SimulatedBus::PluggedSerials().size(), plugged ? 1u : 0u) << c.what;
        EXPECT_EQ(status.player, plugged ? 1 : 0) << c.what;
    }
}

TEST_F(AdmissionTest, FifthPhoneGetsNoRoomUntilOneLeaves) {
    MakeCore(false);
    std::vector<std::uint32_t> sessions;
    for (std::uint8_t i = 0; i < 4; ++i) {
        phones.push_back(std::make_unique<FakePhone>("Phone " + std::to_string(i), i));
        const StatusDatagram status = Hello(*phones.back(), 1 * Ms);
        ASSERT_EQ(status.state, State(PhoneState::Active));
        EXPECT_EQ(status.player, i + 1);
        sessions.push_back(status.sessionId);
    }
    FakePhone fifth("Fifth", 9);
    EXPECT_EQ(Hello(fifth, 2 * Ms).state, State(PhoneState::NoRoom));
    EXPECT_EQ(Hello(fifth, 3 * Ms).state, State(PhoneState::NoRoom));

    Send(*phones[0], phones[0]->Bye(sessions[0]), 4 * Ms);
    EXPECT_EQ(logs.Count("Bye from \"Phone 0\""), 1);
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 3u) << "its pad leaves with it";
    const int before = changes;
    // Four pads were plugged at once; the fifth waits for the plug rate's next token.
    EXPECT_EQ(Hello(fifth, 1 * Ms + PadPlugs.period).state, State(PhoneState::Active));
    EXPECT_EQ(changes, before + 1);
}

TEST_F(AdmissionTest, NeverMoreThanFourActiveWhateverTheUserAllows) {
    ThreeActiveThenAskFirst();
    FakePhone waiting("Waiting", 7);
    const std::uint32_t waitingSession = Hello(waiting, 1 * Ms).sessionId;
    FakePhone refused("Refused", 6);
    const std::uint32_t refusedSession = Hello(refused, 1 * Ms).sessionId;
    Deny(refusedSession);
    (void)NextStatus(refused);
    FakePhone late("Late", 8);
    EXPECT_EQ(Hello(late, 2 * Ms).state, State(PhoneState::NoRoom));
    // Three Active and one Waiting leave no room to wait in.
    EXPECT_EQ(Hello(late, 3 * Ms).state, State(PhoneState::NoRoom));

    Allow(waitingSession);
    EXPECT_EQ(NextStatus(waiting).state, State(PhoneState::Active));
    // A fourth is Active: allowing the refused phone too is told there is no room, and it asks again.
    Allow(refusedSession);
    EXPECT_EQ(NextStatus(refused).state, State(PhoneState::NoRoom));
    EXPECT_EQ(Hello(refused, 4 * Ms).state, State(PhoneState::NoRoom));
    EXPECT_EQ(Hello(late, 4 * Ms).state, State(PhoneState::NoRoom));
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 4u);

    // One leaves: the allowed phone gets the slot at its next Hello, the other one then waits no more.
    Send(*phones[0], phones[0]->Bye(Hello(*phones[0], 5 * Ms).sessionId), 5 * Ms);
    EXPECT_EQ(Hello(refused, Second).state, State(PhoneState::Active));
    EXPECT_EQ(Hello(late, Second).state, State(PhoneState::NoRoom));
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 4u);
    EXPECT_EQ(requests, (std::vector<std::string>{"Waiting"}));
}

TEST_F(AdmissionTest, NoRoomPhoneWaitsOnlyOnceActiveAndWaitingLeaveRoom) {
    ThreeActiveThenAskFirst();
    FakePhone waiting("Waiting", 7);
    const std::uint32_t session = Hello(waiting, 1 * Ms).sessionId;
    FakePhone late("Late", 8);
    EXPECT_EQ(Hello(late, 2 * Ms).state, State(PhoneState::NoRoom));
    EXPECT_EQ(Hello(late, 3 * Ms).state, State(PhoneState::NoRoom));
    Send(waiting, waiting.Bye(session), 4 * Ms);
    // Decided anew; ask-first is on, so it waits, silently.
    EXPECT_EQ(Hello(late, 5 * Ms).state, State(PhoneState::Waiting));
    EXPECT_EQ(requests, std::vector<std::string>{"Waiting"});
}

TEST_F(AdmissionTest, NoDriverPhoneIsAdmittedAfterTheDriverConnects) {
    SimulatedBus::SetFaults({.noBus = true});
    MakeCore(false);
    EXPECT_EQ(logs.Count("ViGEmBus: not available (0xE0000001)"), 1);
    FakePhone phone("Phone", 1);
    const StatusDatagram first = Hello(phone, 1 * Ms);
    EXPECT_EQ(first.state, State(PhoneState::NoDriver));
    EXPECT_NE(first.sessionId, 0u) << "it is listed, to be admitted later";
    EXPECT_EQ(first.player, 0);
    EXPECT_EQ(Hello(phone, 2 * Ms).state, State(PhoneState::NoDriver));

    SimulatedBus::SetFaults({});
    EXPECT_TRUE(core->ConnectBus());
    EXPECT_EQ(logs.Count("ViGEmBus: connected"), 1);
    EXPECT_TRUE(core->ConnectBus());
    EXPECT_EQ(logs.Count("ViGEmBus: connected"), 1);
    EXPECT_EQ(Hello(phone, 3 * Ms).state, State(PhoneState::Active));
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 1u);
}

TEST_F(AdmissionTest, PlugFailureLeavesThePhoneWithoutDriverAndTriesAgain) {
    MakeCore(false);
    SimulatedBus::SetFaults({.plugRefused = true});
    FakePhone phone("Phone", 1);
    EXPECT_EQ(Hello(phone, 1 * Ms).state, State(PhoneState::NoDriver));
    EXPECT_EQ(logs.Count("ViGEmBus: could not plug a pad (0xE0000002)"), 1);
    SimulatedBus::SetFaults({});
    EXPECT_EQ(Hello(phone, 2 * Ms).state, State(PhoneState::Active));
}

TEST_F(AdmissionTest, AllowPlugsAndAsksForTheListToBeSaved) {
    MakeCore(true);
    FakePhone phone("Phone", 1);
    const StatusDatagram waiting = Hello(phone, 1 * Ms);
    const int before = changes;

    Allow(waiting.sessionId);
    const StatusDatagram status = NextStatus(phone);
    EXPECT_EQ(status.state, State(PhoneState::Active));
    EXPECT_EQ(status.player, 1);
    EXPECT_EQ(allowedChanges, 1);
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(core->Allowed(), std::set<std::string>{phone.IdText()});

    // Allow on a phone that is Active does nothing at all.
    Allow(waiting.sessionId);
    EXPECT_EQ(allowedChanges, 1);
    EXPECT_EQ(changes, before + 1);
    EXPECT_TRUE(phone.ReceiveAll().empty());

    // Coming back, it is admitted at once, under a new session, without asking the user again.
    Send(phone, phone.Bye(waiting.sessionId), 2 * Ms);
    const StatusDatagram back = Hello(phone, 3 * Ms);
    EXPECT_EQ(back.state, State(PhoneState::Active));
    EXPECT_NE(back.sessionId, waiting.sessionId);
    EXPECT_EQ(requests.size(), 1u);
}

TEST_F(AdmissionTest, TheUsersNoHoldsUntilTheyAllowAgain) {
    MakeCore(true);
    FakePhone phone("Phone", 1);
    const std::uint32_t first = Hello(phone, 1 * Ms).sessionId;
    Allow(first);
    (void)NextStatus(phone);
    ASSERT_EQ(allowedChanges, 1);

    // Disconnect refuses it for the run and takes it off the remembered phones.
    Disconnect(first);
    EXPECT_EQ(NextStatus(phone).state, State(PhoneState::Refused));
    EXPECT_EQ(allowedChanges, 2);
    EXPECT_TRUE(core->Allowed().empty());
    // It keeps asking: a record again, Refused, listed, never announced.
    const StatusDatagram back = Hello(phone, 2 * Ms);
    EXPECT_EQ(back.state, State(PhoneState::Refused));
    EXPECT_NE(back.sessionId, 0u);
    EXPECT_EQ(Hello(phone, 3 * Ms).state, State(PhoneState::Refused));
    ASSERT_EQ(core->Snapshot().size(), 1u);
    EXPECT_EQ(core->Snapshot()[0].state, State(PhoneState::Refused));
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_TRUE(SimulatedBus::PluggedSerials().empty());

    // The user changes their mind on the Refused row.
    Allow(back.sessionId);
    EXPECT_EQ(NextStatus(phone).state, State(PhoneState::Active));
    EXPECT_EQ(core->Allowed().count(phone.IdText()), 1u);
    Send(phone, phone.Bye(back.sessionId), 4 * Ms);
    EXPECT_EQ(Hello(phone, 5 * Ms).state, State(PhoneState::Active));
}

TEST_F(AdmissionTest, RefusedListKeepsTheLatestPhonesOnly) {
    MakeCore(true);
    std::vector<std::unique_ptr<FakePhone>> phones;
    // A second apart, so that the overall new-id rate is not what turns one away.
    std::int64_t now = 0;
    for (std::size_t i = 0; i <= RefusedIds::Capacity; ++i) {
        phones.push_back(std::make_unique<FakePhone>("Phone", static_cast<std::uint8_t>(i + 1)));
        now += Second;
        const std::uint32_t session = Hello(*phones.back(), now).sessionId;
        Deny(session);
        Send(*phones.back(), phones.back()->Bye(session), now);
    }
    phones[0]->inbox.clear();
    phones[1]->inbox.clear();
    // The first was pushed out by the last: it asks as an unknown phone; the second is still refused.
    EXPECT_EQ(Hello(*phones[0], now + Second).state, State(PhoneState::Waiting));
    EXPECT_EQ(Hello(*phones[1], now + 2 * Second).state, State(PhoneState::Refused));
}

TEST_F(AdmissionTest, NamesAreCleanedBeforeTheLogTheRowsAndTheRequest) {
    MakeCore(true);
    FakePhone phone("Mum\n12:00:00.000 Pad plugged for \"Mum\"\xE2\x80\xAE", 1);
    Hello(phone, 1 * Ms);
    const std::string clean = "Mum\xEF\xBF\xBD"
                              "12:00:00.000 Pad plugged for \"Mum\"\xEF\xBF\xBD";
    EXPECT_EQ(requests, std::vector<std::string>{clean});
    EXPECT_EQ(core->Snapshot().at(0).name, clean);
    const auto lines = logs.Lines();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [&](const std::string& line) { return line.starts_with("Hello from \"" + clean + "\" ("); }),
        1);
    // The same raw name again is no change.
    const int before = changes;
    Hello(phone, 2 * Ms);
    EXPECT_EQ(changes, before);
}

TEST_F(AdmissionTest, DenyKeepsThePhoneListedAsRefused) {
    MakeCore(false);
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 1 * Ms).sessionId;
    Deny(session);
    const StatusDatagram status = NextStatus(phone);
    EXPECT_EQ(status.state, State(PhoneState::Refused));
    EXPECT_EQ(status.player, 0);
    EXPECT_EQ(logs.Count("Pad unplugged for \"Phone\""), 1);
    EXPECT_TRUE(SimulatedBus::PluggedSerials().empty());

    auto views = core->Snapshot();
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].state, State(PhoneState::Refused));
    EXPECT_EQ(Hello(phone, 2 * Ms).state, State(PhoneState::Refused));
    // Denying again unplugs nothing more.
    Deny(session);
    EXPECT_EQ(logs.Count("Pad unplugged for \"Phone\""), 1);
    EXPECT_TRUE(core->Allowed().empty());
}

TEST_F(AdmissionTest, UnknownSessionNumbersChangeNothingAndAreNotAnswered) {
    MakeCore(true);
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 1 * Ms).sessionId;
    const int before = changes;
    Allow(session + 1);
    Deny(session + 1);
    Disconnect(session + 1);
    Send(phone, phone.Bye(session + 1), 2 * Ms);
    EXPECT_TRUE(phone.ReceiveAll().empty());
    EXPECT_EQ(changes, before);
    EXPECT_EQ(core->Snapshot().size(), 1u);
}

TEST_F(AdmissionTest, NameChangesAreShownButRepeatsAreNot) {
    MakeCore(false);
    FakePhone phone("Old name", 1);
    FakePhone twin("Old name", 2);
    Hello(phone, 1 * Ms);
    Hello(twin, 1 * Ms);
    EXPECT_EQ(core->Snapshot().size(), 2u);
    const int before = changes;
    Hello(phone, 2 * Ms);
    EXPECT_EQ(changes, before);
    phone.Rename("New name");
    Hello(phone, 3 * Ms);
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(core->Snapshot()[0].name, "New name");
}

TEST_F(AdmissionTest, SnapshotCopiesWhatTheWindowShows) {
    MakeCore(false);
    FakePhone v4("IPv4 phone", 0, false);
    FakePhone v6("IPv6 phone", 1, true);
    Hello(v4, 1 * Ms);
    core->SetAskFirst(true);
    Hello(v6, 1 * Ms);
    const auto views = core->Snapshot();
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].name, "IPv4 phone");
    EXPECT_EQ(views[0].address, v4.HostText()) << "without its port, IPv4 as IPv4";
    EXPECT_EQ(views[0].idText, "000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(views[0].state, State(PhoneState::Active));
    EXPECT_EQ(views[0].player, 1);
    EXPECT_TRUE(views[0].idle);
    EXPECT_EQ(views[1].address, v6.HostText());
    EXPECT_EQ(views[1].state, State(PhoneState::Waiting));
    EXPECT_EQ(views[1].rumbleLarge, 0);

    const auto serial = SimulatedBus::PluggedSerials().at(0);
    ASSERT_TRUE(SimulatedBus::SetRumble(serial, 200, 100, 2));
    ASSERT_TRUE(WaitForRumble(0, 200));
    const auto after = core->Snapshot();
    EXPECT_EQ(after[0].rumbleLarge, 200);
    EXPECT_EQ(after[0].rumbleSmall, 100);
}

} // namespace
} // namespace Velotrix
