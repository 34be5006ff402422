// Where and how often the Feedback goes once a phone streams: to the address of its latest applied
// Input, and again only when the rumble changes or the repeat period is over.

#include "ServerFixture.h"

namespace Velotrix {
namespace {

using FeedbackRouteTest = ServerFixture;

TEST_F(FeedbackRouteTest, FeedbackFollowsThePhoneToTheAddressOfItsLatestInput) {
    MakeServer(false);
    TestPhone before("Phone", 1);
    const std::uint32_t session = Hello(before, 0).sessionId;
    // The same phone after a network change: same id, another socket.
    TestPhone after("Phone", 1);
    Input(after, session, 1, 1 * Second);
    server->Tick(1 * Second);
    EXPECT_EQ(Feedbacks(after).size(), 1u);
    EXPECT_EQ(Feedbacks(before).size(), 0u);
}

TEST_F(FeedbackRouteTest, ARumbleChangeSendsOneFeedbackNotOneEveryTick) {
    MakeServer(false);
    TestPhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 0).sessionId;
    Input(phone, session, 1, 1 * Second);
    server->Tick(1 * Second);
    ASSERT_EQ(Feedbacks(phone).size(), 1u);

    ASSERT_TRUE(SimulatedBus::SetRumble(SimulatedBus::PluggedSerials().at(0), 90, 0, 1));
    // The notification thread hands the rumble over on its own; wait for the pad to hold it.
    for (int i = 0; i < 200 && server->Snapshot()[0].rumbleLarge != 90; ++i) phone.ReceiveAll(5);
    Input(phone, session, 2, 1 * Second + 10 * Ms);
    server->Tick(1 * Second + 10 * Ms);
    EXPECT_EQ(Feedbacks(phone).size(), 1u);
    for (std::int64_t t = 20 * Ms; t <= 200 * Ms; t += 10 * Ms) {
        Input(phone, session, static_cast<std::uint16_t>(2 + t / Ms), 1 * Second + t);
        server->Tick(1 * Second + t);
    }
    EXPECT_EQ(Feedbacks(phone).size(), 0u);
}

} // namespace
} // namespace Velotrix
