// Who gets a controller, who waits and who is turned away, with time stepped by hand.

#include "ServerFixture.h"

namespace Velotrix {
namespace {

using AdmissionTest = ServerFixture;

TEST_F(AdmissionTest, UnknownPhoneWaitsAndIsAskedAboutOnce) {
    MakeServer(true);
    TestPhone phone("Anna’s iPhone", 1);
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
        MakeServer(c.askFirst);
        TestPhone phone("Phone", 3);
        if (c.allowed) server->SetAllowed({phone.IdText()});
        const StatusDatagram status = Hello(phone, 1 * Ms);
        EXPECT_EQ(status.state, State(c.expected)) << c.what;
        const bool plugged = c.expected == PhoneState::Active;
        EXPECT_EQ(SimulatedBus::PluggedSerials().size(), plugged ? 1u : 0u) << c.what;
        EXPECT_EQ(status.player, plugged ? 1 : 0) << c.what;
    }
}

TEST_F(AdmissionTest, FifthPhoneGetsNoRoomUntilOneLeaves) {
    MakeServer(false);
    std::vector<std::unique_ptr<TestPhone>> phones;
    std::vector<std::uint32_t> sessions;
    for (std::uint8_t i = 0; i < 4; ++i) {
        phones.push_back(std::make_unique<TestPhone>("Phone " + std::to_string(i), i));
        const StatusDatagram status = Hello(*phones.back(), 1 * Ms);
        ASSERT_EQ(status.state, State(PhoneState::Active));
        EXPECT_EQ(status.player, i + 1);
        sessions.push_back(status.sessionId);
    }
    TestPhone fifth("Fifth", 9);
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

TEST_F(AdmissionTest, NoRoomIsDecidedAgainAgainstActivePhonesOnly) {
    MakeServer(false);
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (std::uint8_t i = 0; i < 3; ++i) {
        phones.push_back(std::make_unique<TestPhone>("Active " + std::to_string(i), i));
        ASSERT_EQ(Hello(*phones.back(), 1 * Ms).state, State(PhoneState::Active));
    }
    server->SetAskFirst(true);
    TestPhone waiting("Waiting", 7);
    ASSERT_EQ(Hello(waiting, 1 * Ms).state, State(PhoneState::Waiting));
    TestPhone late("Late", 8);
    EXPECT_EQ(Hello(late, 2 * Ms).state, State(PhoneState::NoRoom));
    // Three Active phones leave room, so it is decided anew; ask-first is on, so it waits, silently.
    EXPECT_EQ(Hello(late, 3 * Ms).state, State(PhoneState::Waiting));
    EXPECT_EQ(requests, std::vector<std::string>{"Waiting"});
}

TEST_F(AdmissionTest, NoDriverPhoneIsAdmittedAfterTheDriverConnects) {
    SimulatedBus::SetFaults({.noBus = true});
    MakeServer(false);
    EXPECT_EQ(logs.Count("ViGEmBus: not available (0xE0000001)"), 1);
    TestPhone phone("Phone", 1);
    EXPECT_EQ(Hello(phone, 1 * Ms).state, State(PhoneState::NoDriver));
    EXPECT_EQ(Hello(phone, 2 * Ms).state, State(PhoneState::NoDriver));

    SimulatedBus::SetFaults({});
    EXPECT_TRUE(server->ConnectBus());
    EXPECT_EQ(logs.Count("ViGEmBus: connected"), 1);
    EXPECT_TRUE(server->ConnectBus());
    EXPECT_EQ(logs.Count("ViGEmBus: connected"), 1);
    EXPECT_EQ(Hello(phone, 3 * Ms).state, State(PhoneState::Active));
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 1u);
}

TEST_F(AdmissionTest, PlugFailureLeavesThePhoneWithoutDriverAndTriesAgain) {
    MakeServer(false);
    SimulatedBus::SetFaults({.plugRefused = true});
    TestPhone phone("Phone", 1);
    EXPECT_EQ(Hello(phone, 1 * Ms).state, State(PhoneState::NoDriver));
    EXPECT_EQ(logs.Count("ViGEmBus: could not plug a pad (0xE0000002)"), 1);
    SimulatedBus::SetFaults({});
    EXPECT_EQ(Hello(phone, 2 * Ms).state, State(PhoneState::Active));
}

TEST_F(AdmissionTest, AllowPlugsSavesAndNotifiesInOrder) {
    MakeServer(true);
    std::vector<std::string> order;
    server->SetOnAllowedChanged([&] { order.push_back("allowed"); });
    server->SetOnChanged([&] { order.push_back("changed"); });
    TestPhone phone("Phone", 1);
    const StatusDatagram waiting = Hello(phone, 1 * Ms);
    order.clear();

    server->Allow(waiting.sessionId);
    const StatusDatagram status = NextStatus(phone);
    EXPECT_EQ(status.state, State(PhoneState::Active));
    EXPECT_EQ(status.player, 1);
    EXPECT_EQ(order, (std::vector<std::string>{"allowed", "changed"}));
    EXPECT_EQ(server->AllowedList(), std::set<std::string>{phone.IdText()});

    // Allow on a phone that is not waiting does nothing at all.
    order.clear();
    server->Allow(waiting.sessionId);
    server->Deny(waiting.sessionId);
    (void)phone.ReceiveStatus(500);
    server->Allow(waiting.sessionId);
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(phone.ReceiveAll(30).empty());
}

TEST_F(AdmissionTest, AllowedPhoneComingBackIsAdmittedAtOnce) {
    MakeServer(true);
    TestPhone phone("Phone", 1);
    const std::uint32_t first = Hello(phone, 1 * Ms).sessionId;
    server->Allow(first);
    (void)phone.ReceiveStatus(500);
    server->Disconnect(first);
    EXPECT_EQ(NextStatus(phone).state, State(PhoneState::Refused));

    const StatusDatagram back = Hello(phone, 2 * Ms);
    EXPECT_EQ(back.state, State(PhoneState::Active));
    EXPECT_NE(back.sessionId, first);
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(server->AllowedList().count(phone.IdText()), 1u);
}

TEST_F(AdmissionTest, DenyKeepsThePhoneListedAsRefused) {
    MakeServer(false);
    TestPhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 1 * Ms).sessionId;
    server->Deny(session);
    const StatusDatagram status = NextStatus(phone);
    EXPECT_EQ(status.state, State(PhoneState::Refused));
    EXPECT_EQ(status.player, 0);
    EXPECT_EQ(logs.Count("Pad unplugged for \"Phone\""), 1);
    EXPECT_TRUE(SimulatedBus::PluggedSerials().empty());

    auto views = server->Snapshot();
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].state, State(PhoneState::Refused));
    EXPECT_EQ(Hello(phone, 2 * Ms).state, State(PhoneState::Refused));
    // Denying again unplugs nothing more.
    server->Deny(session);
    EXPECT_EQ(logs.Count("Pad unplugged for \"Phone\""), 1);
    EXPECT_TRUE(server->AllowedList().empty());
}

TEST_F(AdmissionTest, UnknownSessionNumbersChangeNothing) {
    MakeServer(true);
    TestPhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 1 * Ms).sessionId;
    const int before = changes;
    server->Allow(session + 1);
    server->Deny(session + 1);
    server->Disconnect(session + 1);
    EXPECT_TRUE(phone.ReceiveAll(30).empty());
    EXPECT_EQ(changes, before);
    EXPECT_EQ(server->Snapshot().size(), 1u);
}

TEST_F(AdmissionTest, NameChangesAreShownButRepeatsAreNot) {
    MakeServer(false);
    TestPhone phone("Old name", 1);
    TestPhone twin("Old name", 2);
    Hello(phone, 1 * Ms);
    Hello(twin, 1 * Ms);
    EXPECT_EQ(server->Snapshot().size(), 2u);
    const int before = changes;
    Hello(phone, 2 * Ms);
    EXPECT_EQ(changes, before);
    phone.Rename("New name");
    Hello(phone, 3 * Ms);
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(server->Snapshot()[0].name, "New name");
}

TEST_F(AdmissionTest, PhoneDisconnectedWhileTheUserIsAskedGetsNoStatus) {
    MakeServer(true);
    TestPhone phone("Phone", 1);
    // The window reacts to the request by dropping the phone before the server continues.
    server->SetOnRequest([&](const std::string&) {
        for (const PhoneView& view : server->Snapshot()) server->Disconnect(view.sessionId);
    });
    Send(phone, phone.Hello(), 1 * Ms);
    // Neither Disconnect's Status (no address stored yet) nor the Hello's own Status may follow.
    EXPECT_TRUE(phone.ReceiveAll(50).empty());
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(server->Snapshot().empty());
}

TEST_F(AdmissionTest, SnapshotCopiesWhatTheWindowShows) {
    MakeServer(false);
    TestPhone v4("IPv4 phone", 0, false);
    TestPhone v6("IPv6 phone", 1, true);
    Hello(v4, 1 * Ms);
    server->SetAskFirst(true);
    Hello(v6, 1 * Ms);
    const auto views = server->Snapshot();
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].name, "IPv4 phone");
    EXPECT_EQ(views[0].address, "127.0.0.1");
    EXPECT_EQ(views[0].idText, "000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(views[0].state, State(PhoneState::Active));
    EXPECT_EQ(views[0].player, 1);
    EXPECT_TRUE(views[0].idle);
    EXPECT_EQ(views[1].address, "::1");
    EXPECT_EQ(views[1].state, State(PhoneState::Waiting));
    EXPECT_EQ(views[1].rumbleLarge, 0);

    const auto serial = SimulatedBus::PluggedSerials().at(0);
    ASSERT_TRUE(SimulatedBus::SetRumble(serial, 200, 100, 2));
    for (int i = 0; i < 200 && server->Snapshot()[0].rumbleLarge == 0; ++i) v4.ReceiveAll(5);
    const auto after = server->Snapshot();
    EXPECT_EQ(after[0].rumbleLarge, 200);
    EXPECT_EQ(after[0].rumbleSmall, 100);
}

} // namespace
} // namespace Velotrix
