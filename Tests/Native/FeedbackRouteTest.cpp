// Where and how often the Feedback goes once a phone streams: to the address of its latest applied
// Input, and again only when the rumble changes or the repeat period is over.

#include "ServerFixture.h"

namespace Velotrix {
namespace {

class FeedbackRouteTest : public ServerFixture {
protected:
    int FeedbackCount(TestPhone& phone) {
        int count = 0;
        for (const Bytes& datagram : phone.ReceiveAll(30)) {
            FeedbackDatagram feedback;
            count += ReadFeedback(datagram, feedback) ? 1 : 0;
        }
        return count;
    }
};

TEST_F(FeedbackRouteTest, FeedbackFollowsThePhoneToTheAddressOfItsLatestInput) {
    MakeServer(false);
    TestPhone before("Phone", 1);
    const std::uint32_t session = Hello(before, 0).sessionId;
    // The same phone after a network change: same id, another socket.
    TestPhone after("Phone", 1);
    Input(after, session, 1, 1 * Second);
    server->Tick(1 * Second);
    EXPECT_EQ(FeedbackCount(after), 1);
    EXPECT_EQ(FeedbackCount(before), 0);
}

TEST_F(FeedbackRouteTest, ARumbleChangeSendsOneFeedbackNotOneEveryTick) {
    MakeServer(false);
    TestPhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 0).sessionId;
    Input(phone, session, 1, 1 * Second);
    server->Tick(1 * Second);
    ASSERT_EQ(FeedbackCount(phone), 1);

    ASSERT_TRUE(SimulatedBus::SetRumble(SimulatedBus::PluggedSerials().at(0), 90, 0, 1));
    // The notification thread hands the rumble over on its own; wait for the pad to hold it.
    for (int i = 0; i < 200 && server->Snapshot()[0].rumbleLarge != 90; ++i) phone.ReceiveAll(5);
    Input(phone, session, 2, 1 * Second + 10 * Ms);
    server->Tick(1 * Second + 10 * Ms);
    EXPECT_EQ(FeedbackCount(phone), 1);
    for (std::int64_t t = 20 * Ms; t <= 200 * Ms; t += 10 * Ms) {
        Input(phone, session, static_cast<std::uint16_t>(2 + t / Ms), 1 * Second + t);
        server->Tick(1 * Second + t);
    }
    EXPECT_EQ(FeedbackCount(phone), 0);
}

} // namespace
} // namespace Velotrix
