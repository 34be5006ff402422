// The receive loop around the core: the socket, the thread, the answers leaving in order, and the
// callbacks run after the lock.

#include "ServerFixture.h"
#include "SimulatedBus/SimulatedBus.h"

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Velotrix {
namespace {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { SimulatedBus::Reset(); }
    void TearDown() override { SimulatedBus::Reset(); }
};

// Starts `server` on a port the system chose; a failure names the error.
bool Started(Server& server) {
    std::string error;
    const bool started = server.Start(0, error);
    EXPECT_TRUE(started) << error;
    return started;
}

TEST_F(ServerTest, StartFailsWithTheUsersMessageWhenThePortIsTaken) {
    UdpSocket holder;
    ASSERT_EQ(holder.OpenServer(0), SocketResult::Ok);
    const std::uint16_t taken = holder.LocalPort();

    Server server;
    std::string error;
    EXPECT_FALSE(server.Start(taken, error));
    EXPECT_EQ(error, "Port " + std::to_string(taken) + " is in use. Is the server already running?");
    EXPECT_FALSE(server.Running());
    server.Stop();
}

TEST_F(ServerTest, AnotherVersionIsAnsweredWithOtherVersionAndTheFirstSequence) {
    Server server;
    server.SetHostName("RACING-PC");
    ASSERT_TRUE(Started(server));

    for (const bool ipv6 : {false, true}) {
        TestPhone phone("Anna’s iPhone", 1, ipv6);
        phone.SendTo(server.Port(), phone.Hello(2));
        auto reply = phone.Receive();
        ASSERT_TRUE(reply) << (ipv6 ? "IPv6" : "IPv4");
        EXPECT_EQ(reply->size(), 15u + 9u);
        StatusDatagram status;
        ASSERT_TRUE(ReadStatus(*reply, status));
        EXPECT_EQ(status.sequence, ipv6 ? 2 : 1);
        EXPECT_EQ(status.sessionId, 0u);
        EXPECT_EQ(status.player, 0);
        EXPECT_EQ(status.state, static_cast<std::uint8_t>(PhoneState::OtherVersion));
        EXPECT_EQ(status.hostName, "RACING-PC");
    }
    server.Stop();
}

TEST_F(ServerTest, MalformedDatagramsGetNoAnswer) {
    Server server;
    ASSERT_TRUE(Started(server));
    TestPhone phone("Phone");

    // Which datagrams are malformed is the protocol test's table; here, that the server stays silent.
    Bytes badNameLength = phone.Hello();
    badNameLength[24] = 64;
    phone.SendTo(server.Port(), badNameLength);
    EXPECT_TRUE(phone.ReceiveAll(100).empty());

    // The server still answers afterwards, and the ignored datagrams consumed no sequence number.
    phone.SendTo(server.Port(), phone.Hello(7));
    EXPECT_EQ(NextStatus(phone).sequence, 1);
    server.Stop();
}

TEST_F(ServerTest, StopTellsActivePhonesOnceAndIsSafeTwice) {
    Server server;
    ASSERT_TRUE(server.BusConnected());
    server.SetAskFirst(false);
    ASSERT_TRUE(Started(server));

    TestPhone active("Active", 1);
    active.SendTo(server.Port(), active.Hello());
    const StatusDatagram admitted = NextStatus(active);
    ASSERT_EQ(admitted.state, State(PhoneState::Active));

    server.SetAskFirst(true);
    TestPhone waiting("Waiting", 2);
    waiting.SendTo(server.Port(), waiting.Hello());
    ASSERT_EQ(NextStatus(waiting).state, State(PhoneState::Waiting));
    active.ReceiveAll(30); // Feedback from the running tick

    server.Stop();
    server.Stop();
    int refused = 0;
    for (const Bytes& datagram : active.ReceiveAll(100)) {
        StatusDatagram status;
        if (!ReadStatus(datagram, status)) continue;
        EXPECT_EQ(status.sessionId, admitted.sessionId);
        EXPECT_EQ(status.player, 0);
        EXPECT_EQ(status.state, State(PhoneState::Refused));
        ++refused;
    }
    EXPECT_EQ(refused, 1);
    EXPECT_TRUE(waiting.ReceiveAll(50).empty());
}

TEST_F(ServerTest, TheOsWordOfTheBusAndOfAResumeReachesTheCoreThroughTheLoop) {
    Server server;
    server.SetAskFirst(false);
    ASSERT_TRUE(Started(server));
    EXPECT_EQ(SimulatedBus::InterfaceWatchers(), 1u);
    TestPhone phone("Phone", 1);
    phone.SendTo(server.Port(), phone.Hello());
    ASSERT_EQ(NextStatus(phone).state, State(PhoneState::Active));

    // The watch's thread only leaves a note; the receive thread acts on it.
    SimulatedBus::RemoveBus();
    EXPECT_EQ(NextStatus(phone).state, State(PhoneState::NoDriver));
    EXPECT_EQ(server.Bus(), BusState::Lost);
    SimulatedBus::RestoreBus();
    const StatusDatagram back = NextStatus(phone);
    EXPECT_EQ(back.state, State(PhoneState::Active));
    EXPECT_EQ(back.player, 1);

    const std::uint64_t checks = SimulatedBus::RequestCount(BusRequestCheckVersion);
    server.NoteResume();
    for (int i = 0; i < 500 && SimulatedBus::RequestCount(BusRequestCheckVersion) == checks; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(SimulatedBus::RequestCount(BusRequestCheckVersion), checks + 1);
    server.Stop();
    EXPECT_EQ(SimulatedBus::InterfaceWatchers(), 0u);
}

TEST_F(ServerTest, CallbacksRunAfterTheLockInOrderAndMayCallBackIn) {
    Server server;
    ASSERT_TRUE(Started(server));
    std::mutex mutex;
    std::vector<std::string> order;
    const auto note = [&](const std::string& what) {
        std::lock_guard lock(mutex);
        order.push_back(what);
    };
    // The window's own reaction to a request may reach back into the server at once.
    server.SetOnRequest([&](const std::string& name) {
        note("request " + name);
        for (const PhoneView& view : server.Snapshot())
            if (view.name == "Dropped") server.Disconnect(view.sessionId);
    });
    server.SetOnChanged([&] { note("changed"); });
    server.SetOnAllowedChanged([&] { note("allowed"); });

    TestPhone dropped("Dropped", 1);
    dropped.SendTo(server.Port(), dropped.Hello());
    const StatusDatagram waiting = NextStatus(dropped);
    const StatusDatagram refused = NextStatus(dropped);
    EXPECT_EQ(waiting.state, State(PhoneState::Waiting));
    EXPECT_EQ(refused.state, State(PhoneState::Refused));
    EXPECT_EQ(refused.sequence, waiting.sequence + 1);

    TestPhone kept("Kept", 2);
    kept.SendTo(server.Port(), kept.Hello());
    const std::uint32_t session = NextStatus(kept).sessionId;
    // The receive thread tells of the Hello after its Status has left; wait for that before the click.
    const auto told = [&] {
        std::lock_guard lock(mutex);
        return order.size();
    };
    for (int i = 0; i < 1000 && told() < 4; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server.Allow(session);
    EXPECT_EQ(NextStatus(kept).state, State(PhoneState::Active));
    server.Stop();
    EXPECT_EQ(order, (std::vector<std::string>{"request Dropped", "changed", "request Kept", "changed", "allowed",
                                               "changed"}));
}

} // namespace
} // namespace Velotrix
