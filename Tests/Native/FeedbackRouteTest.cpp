// Where and how often the Feedback goes once a phone streams: to the address of its latest applied
// Input, and again only when the rumble changes or the repeat period is over.

#include "CoreFixture.h"

namespace Velotrix {
namespace {

using FeedbackRouteTest = CoreFixture;

TEST_F(FeedbackRouteTest, FeedbackFollowsThePhoneToTheAddressOfItsLatestInput) {
    MakeCore(false);
    FakePhone before("Phone", 1);
    const std::uint32_t session = Hello(before, 0).sessionId;
    // The same phone after a network change: same id, another socket.
    FakePhone after("Phone", 1);
    Input(after, session, 1, 1 * Second);
    Tick(1 * Second);
    EXPECT_EQ(Feedbacks(after).size(), 1u);
    EXPECT_EQ(Feedbacks(before).size(), 0u);
}

TEST_F(FeedbackRouteTest, ARumbleChangeSendsOneFeedbackNotOneEveryTick) {
    MakeCore(false);
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 0).sessionId;
    Input(phone, session, 1, 1 * Second);
    Tick(1 * Second);
    ASSERT_EQ(Feedbacks(phone).size(), 1u);

    ASSERT_TRUE(SimulatedBus::SetRumble(SimulatedBus::PluggedSerials().at(0), 90, 0, 1));
    ASSERT_TRUE(WaitForRumble(0, 90));
    Input(phone, session, 2, 1 * Second + 10 * Ms);
    Tick(1 * Second + 10 * Ms);
    EXPECT_EQ(Feedbacks(phone).size(), 1u);
    for (std::int64_t t = 20 * Ms; t <= 200 * Ms; t += 10 * Ms) {
        Input(phone, session, static_cast<std::uint16_t>(2 + t / Ms), 1 * Second + t);
        Tick(1 * Second + t);
    }
    EXPECT_EQ(Feedbacks(phone).size(), 0u);
}

} // namespace
} // namespace Velotrix
